#include "validate/Child.h"

#include <cstring>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace validate {

namespace {

// A group may take long (heavy editors open slowly) but must keep moving:
// no new line for limit seconds is a hang; the whole group gets ten times
// that.
bool overdue(const ChildOutput& output, std::chrono::steady_clock::time_point start, int limitSeconds) {
  const auto now = std::chrono::steady_clock::now();
  return now - output.lastActivity > std::chrono::seconds(limitSeconds) ||
         now - start > std::chrono::seconds(10 * limitSeconds);
}

uint64_t groupSeed(uint64_t seed, const std::string& name) {
  uint64_t h = seed ^ 0x9E3779B97F4A7C15ull;
  for (char c : name) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return h;
}
}  // namespace

void runGroupHere(const Group& g, const Options& o, std::FILE* out) {
  Options mine = o;
  mine.seed = groupSeed(o.seed, g.name);
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
  const auto start = std::chrono::steady_clock::now();
  output.lastActivity = start;
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
    if (overdue(output, start, limitSeconds)) {
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
  const auto start = std::chrono::steady_clock::now();
  output.lastActivity = start;
  char buf[4096];
  for (;;) {
    if (overdue(output, start, limitSeconds)) {
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
    if (overdue(output, start, limitSeconds) && !ending.timedOut) {
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
