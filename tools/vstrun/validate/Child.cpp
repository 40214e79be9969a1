#include "validate/Child.h"

#include <cstring>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace validate {

namespace {

// A child's own time since the watch last looked: on Linux the CPU time its
// threads used (utime + stime), or all the wall time when none of its
// threads could run (blocked in a wait, a pause or a lock) at this look and
// the one before; on Windows the
// CPU time it used plus the time the machine had a processor idle that it
// could have used. A child kept waiting for a processor, or stopped by a
// debugger, is not counted.
#ifdef _WIN32
double fileTimeSeconds(const FILETIME& t) {
  return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
}

struct ChildClock {
  HANDLE process;
  double cpu = -1, idle = -1;
  double credit(double wall) {
    FILETIME created, exited, kernel, user, sysIdle, sysKernel, sysUser;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user) ||
        !GetSystemTimes(&sysIdle, &sysKernel, &sysUser))
      return wall;
    const double c = fileTimeSeconds(kernel) + fileTimeSeconds(user), i = fileTimeSeconds(sysIdle);
    const double got = cpu < 0 ? wall : (c - cpu) + (i - idle);
    cpu = c;
    idle = i;
    return got < wall ? got : wall;
  }
};
#else
// The state letter and utime + stime (in clock ticks) from a /proc stat file.
bool readStat(const std::string& path, char& state, double& ticks) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  char buf[1024];
  const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  const char* p = std::strrchr(buf, ')');  // the name may hold spaces and parentheses
  unsigned long long utime = 0, stime = 0;
  if (!p || std::sscanf(p + 1, " %c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu", &state, &utime, &stime) != 3)
    return false;
  ticks = static_cast<double>(utime + stime);
  return true;
}

struct ChildClock {
  pid_t pid;
  double cpu = -1;
  double credit(double wall) {
    char state = 0;
    double ticks = 0;
    const std::string dir = "/proc/" + std::to_string(pid);
    if (!readStat(dir + "/stat", state, ticks)) return wall;
    const double c = ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
    const double used = cpu < 0 ? 0 : c - cpu;
    cpu = c;
    bool blocked = true, stopped = state == 'T' || state == 't';
    if (DIR* d = opendir((dir + "/task").c_str())) {
      while (dirent* t = readdir(d)) {
        char s = 0;
        double ignored = 0;
        if (t->d_name[0] != '.' && readStat(dir + "/task/" + t->d_name + "/stat", s, ignored)) {
          if (s == 'R') blocked = false;
          if (s == 'T' || s == 't') stopped = true;
        }
      }
      closedir(d);
    }
    // A child blocked now may have been stopped, or waiting for a
    // processor, for most of the interval: the wall time counts only when
    // it was blocked at the last look too.
    const bool blockedThrough = blocked && wasBlocked;
    wasBlocked = blocked && !stopped;
    if (stopped) return 0;
    if (blockedThrough) return wall;
    return used < wall ? used : wall;
  }
  bool wasBlocked = false;
};
#endif

// Fed every few hundred milliseconds by the loops below; a step stops the
// silence count.
bool overdue(HangWatch& watch, ChildClock& clock, const ChildOutput& output,
             std::chrono::steady_clock::time_point& last) {
  const auto now = std::chrono::steady_clock::now();
  const double wall = std::chrono::duration<double>(now - last).count();
  if (wall < 0.05) return watch.overdue();
  last = now;
  watch.advance(wall, clock.credit(wall), output.lastActivity);
  return watch.overdue();
}
}  // namespace

void HangWatch::advance(double wall, double credited, std::chrono::steady_clock::time_point lastLine) {
  if (lastLine != lastLine_) {
    lastLine_ = lastLine;
    silentOwn_ = silentWall_ = 0;
  }
  silentOwn_ += credited;
  silentWall_ += wall;
  totalOwn_ += credited;
  totalWall_ += wall;
}

bool HangWatch::overdue() const {
  return silentOwn_ > limit_ || totalOwn_ > 10.0 * limit_ || silentWall_ > 10.0 * limit_ ||
         totalWall_ > 40.0 * limit_;
}

void runGroupHere(const Group& g, const Options& o, std::FILE* out) {
  Options mine = o;
  mine.seed = derivedSeed(o.seed, g.name);
  Report report(out, mine);
  try {
    g.run(mine, report);
  } catch (const std::exception& e) {
    report.fail(std::string(g.name) + ": could not run: " + e.what());
  }
  std::fprintf(out, "E\tdone\n");
  std::fflush(out);
}

#ifdef _WIN32

std::wstring widen(const std::string& s) {
  if (s.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, &w[0], n);
  w.resize(static_cast<size_t>(n - 1));
  return w;
}

std::wstring quoted(const std::wstring& s) {
  std::wstring q = L"\"";
  for (wchar_t c : s) {
    if (c == L'"') q += L'\\';
    q += c;
  }
  return q + L"\"";
}

// Re-runs this vstrun as a child for one group, reading its stdout.
Ending runChildProcess(const Group& g, const Options& o, int limitSeconds, ChildOutput& output) {
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring cmd = quoted(exe) + L" validate " + quoted(widen(o.module)) + L" --child " + widen(g.name) +
                           L" --level " + std::to_wstring(o.level) + L" --seed " + std::to_wstring(o.seed) +
                           (o.only.empty() ? L"" : L" --only " + quoted(widen(o.only))) +
                           (o.skip.empty() ? L"" : L" --skip " + quoted(widen(o.skip)));
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) throw std::runtime_error("cannot create a pipe");
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  si.hStdInput = nullptr;
  PROCESS_INFORMATION pi{};
  std::wstring mutableCmd = cmd;
  if (!CreateProcessW(exe, &mutableCmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    throw std::runtime_error("cannot start a child process");
  }
  CloseHandle(writeEnd);
  CloseHandle(pi.hThread);
  Ending ending;
  auto last = std::chrono::steady_clock::now();
  output.lastActivity = last;
  HangWatch watch(limitSeconds);
  ChildClock clock{pi.hProcess};
  char buf[4096];
  auto drain = [&] {
    DWORD avail = 0, got = 0;
    while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &avail, nullptr) && avail > 0 &&
           ReadFile(readEnd, buf, avail < sizeof buf ? avail : sizeof buf, &got, nullptr) && got > 0)
      output.feed(buf, got);
  };
  for (;;) {
    drain();
    if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0) break;
    if (overdue(watch, clock, output, last)) {
      TerminateProcess(pi.hProcess, 1);
      WaitForSingleObject(pi.hProcess, INFINITE);
      ending.timedOut = true;
      break;
    }
  }
  drain();
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(readEnd);
  ending.code = static_cast<long>(code);
  ending.crashed = !ending.timedOut && (code & 0xC0000000u) == 0xC0000000u;
  return ending;
}

// Every result line is flushed as it is written, so the handler need not
// touch stdio, whose lock the crashed thread may hold.
LONG WINAPI onCrash(EXCEPTION_POINTERS* info) {
  TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

#else

Ending runChildProcess(const Group& g, const Options& o, int limitSeconds, ChildOutput& output) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("cannot create a pipe");
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot fork");
  if (pid == 0) {
    close(fds[0]);
    std::FILE* out = fdopen(fds[1], "w");
    if (out) runGroupHere(g, o, out);
    _exit(0);
  }
  close(fds[1]);
  Ending ending;
  auto last = std::chrono::steady_clock::now();
  output.lastActivity = last;
  HangWatch watch(limitSeconds);
  ChildClock clock{pid};
  char buf[4096];
  for (;;) {
    if (overdue(watch, clock, output, last)) {
      kill(pid, SIGKILL);
      ending.timedOut = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    const int r = poll(&p, 1, 200);
    if (r < 0) continue;
    if (r == 0) continue;
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    output.feed(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  // A child that closed its output but lingers still gets the time limit.
  for (;;) {
    const pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (!ending.timedOut && overdue(watch, clock, output, last)) {
      kill(pid, SIGKILL);
      ending.timedOut = true;
    }
    usleep(10000);
  }
  if (WIFSIGNALED(status) && !ending.timedOut) {
    ending.crashed = true;
    ending.code = WTERMSIG(status);
  } else if (WIFEXITED(status)) {
    ending.code = WEXITSTATUS(status);
  }
  return ending;
}

#endif

std::string describeEnding(const Ending& e) {
#ifdef _WIN32
  if (e.crashed) return format("crashed (exception 0x%08lX)", static_cast<unsigned long>(e.code));
#else
  if (e.crashed) return format("crashed (signal %ld, %s)", e.code, strsignal(static_cast<int>(e.code)));
#endif
  return format("ended early with status %ld", e.code);
}

void prepareChild() {
#ifdef _WIN32
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(onCrash);
#endif
}

}  // namespace validate
