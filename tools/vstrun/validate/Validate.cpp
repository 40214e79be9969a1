#include "validate/Validate.h"

#include <chrono>
#include <cstring>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "validate/Groups.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace validate {

const std::vector<Group>& groups() {
  static const std::vector<Group> list = {
      {"identity", checkIdentity, 30},   {"texts", checkTexts, 30},           {"parameters", checkParameters, 60},
      {"programs", checkPrograms, 60},   {"processing", checkProcessing, 90}, {"realtime", checkRealtime, 30},
      {"floatstate", checkFloatState, 60}, {"threads", checkThreads, 30},    {"midi", checkMidi, 60},
      {"editor", checkEditor, 60},       {"lifecycle", checkLifecycle, 90},   {"fuzz", checkFuzz, 90},
  };
  return list;
}

namespace {

// Whether the module loads at all: a file that is no plug-in is the
// caller's mistake, told once, not a FAIL in every group.
void checkLoads(const Options& o, Report& report) {
  Instance inst(o.module);
  report.pass("load: the module loads and gives an instance");
}
const Group kLoadGroup{"load", checkLoads, 60};

struct Result {
  char kind;  // 'P', 'W', 'F'
  std::string text;
};

struct GroupRun {
  std::string name;
  std::vector<Result> results;
  double seconds = 0.0;
};

// What a child said, line by line; remembers the last step.
struct ChildOutput {
  std::string pending, lastStep;
  bool finished = false;
  std::vector<Result> results;
  std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();
  void feed(const char* data, size_t n) {
    lastActivity = std::chrono::steady_clock::now();
    pending.append(data, n);
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (line.size() < 2 || line[1] != '\t') continue;
      const std::string text = line.substr(2);
      switch (line[0]) {
        case 'S': lastStep = text; break;
        case 'E': finished = true; break;
        case 'P':
        case 'W':
        case 'F': results.push_back({line[0], text}); break;
        default: break;
      }
    }
  }
};

// How a child ended.
struct Ending {
  bool timedOut = false;
  bool crashed = false;
  long code = 0;  // exit status, signal or exception code
};

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

void runGroupHere(const Group& g, const Options& o, std::FILE* out) {
  Report report(out);
  Options mine = o;
  mine.seed = groupSeed(o.seed, g.name);
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
                           L" --level " + std::to_wstring(o.level) + L" --seed " + std::to_wstring(o.seed);
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

LONG WINAPI onCrash(EXCEPTION_POINTERS* info) {
  std::fflush(nullptr);
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

bool isTerminal(std::FILE* f) {
#ifdef _WIN32
  return _isatty(_fileno(f)) != 0;
#else
  return isatty(fileno(f)) != 0;
#endif
}

const char* word(char kind) { return kind == 'P' ? "PASS" : kind == 'W' ? "WARN" : "FAIL"; }

}  // namespace

int runChild(const Arguments& args, std::FILE* out) {
#ifdef _WIN32
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(onCrash);
#endif
  if (args.childGroup == kLoadGroup.name) {
    runGroupHere(kLoadGroup, args.options, out);
    return 0;
  }
  for (const Group& g : groups())
    if (args.childGroup == g.name) {
      runGroupHere(g, args.options, out);
      return 0;
    }
  throw std::runtime_error("unknown group " + args.childGroup);
}

int run(Arguments args, std::FILE* out) {
  Options& o = args.options;
  if (o.level < 1 || o.level > 10) throw std::runtime_error("--level must be from 1 to 10");
  if (!args.seedGiven) {
    std::random_device rd;
    o.seed = (static_cast<uint64_t>(rd()) << 20) ^ static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    o.seed %= 1000000000ull;
  }
  std::vector<const Group*> chosen;
  std::stringstream names(args.only);
  std::string name;
  if (args.only.empty()) {
    for (const Group& g : groups()) chosen.push_back(&g);
  } else {
    while (std::getline(names, name, ',')) {
      const Group* found = nullptr;
      for (const Group& g : groups())
        if (name == g.name) found = &g;
      if (!found) {
        std::string all;
        for (const Group& g : groups()) all += std::string(all.empty() ? "" : ", ") + g.name;
        throw std::runtime_error("--only: no group \"" + name + "\" (groups: " + all + ")");
      }
      chosen.push_back(found);
    }
  }

  {
    ChildOutput loaded;
    const Ending ending = runChildProcess(kLoadGroup, o, kLoadGroup.timeLimitSeconds, loaded);
    const std::string prefix = "load: could not run: ";
    for (const Result& r : loaded.results)
      if (r.kind == 'F' && !ending.crashed && r.text.rfind(prefix, 0) == 0) throw std::runtime_error(r.text.substr(prefix.size()));
  }

  const bool progress = !args.json && isTerminal(out);
  if (!args.json) std::fprintf(out, "validating %s at level %d with seed %llu\n", o.module.c_str(), o.level,
                               static_cast<unsigned long long>(o.seed));
  std::vector<GroupRun> runs;
  int passed = 0, failed = 0, warned = 0;
  std::string failedGroups;
  for (size_t i = 0; i < chosen.size(); ++i) {
    const Group& g = *chosen[i];
    if (progress) {
      std::fprintf(out, "\r\033[K[%zu/%zu] %s ...", i + 1, chosen.size(), g.name);
      std::fflush(out);
    }
    const int limit = static_cast<int>(g.timeLimitSeconds * (o.level > 5 ? o.level / 5.0 : 1.0));
    ChildOutput output;
    const auto t0 = std::chrono::steady_clock::now();
    const Ending ending = runChildProcess(g, o, limit, output);
    GroupRun run{g.name, output.results,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count()};
    const std::string during = output.lastStep.empty() ? "" : " during: " + output.lastStep;
    if (ending.timedOut)
      run.results.push_back({'F', format("%s: hung: no progress for %d s, or not done in %d s%s", g.name, limit,
                                         10 * limit, during.c_str())});
    else if (ending.crashed || ending.code != 0 || !output.finished)
      run.results.push_back({'F', format("%s: %s%s", g.name, describeEnding(ending).c_str(), during.c_str())});
    if (progress) std::fprintf(out, "\r\033[K");
    bool groupFailed = false;
    for (Result& r : run.results) {
      if (r.kind == 'F') {
        r.text += format(" (seed %llu)", static_cast<unsigned long long>(o.seed));
        groupFailed = true;
      }
      (r.kind == 'P' ? passed : r.kind == 'W' ? warned : failed)++;
      if (!args.json) std::fprintf(out, "%s %s\n", word(r.kind), r.text.c_str());
    }
    if (groupFailed) failedGroups += std::string(failedGroups.empty() ? "" : ",") + g.name;
    std::fflush(out);
    runs.push_back(std::move(run));
  }

  if (args.json) {
    nlohmann::json j;
    j["module"] = o.module;
    j["level"] = o.level;
    j["seed"] = o.seed;
    j["groups"] = nlohmann::json::array();
    for (const GroupRun& r : runs) {
      nlohmann::json checks = nlohmann::json::array();
      for (const Result& x : r.results) checks.push_back({{"result", word(x.kind)}, {"text", x.text}});
      j["groups"].push_back({{"name", r.name}, {"seconds", r.seconds}, {"checks", checks}});
    }
    j["passed"] = passed;
    j["failed"] = failed;
    j["warnings"] = warned;
    std::fprintf(out, "%s\n", j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else {
    if (failed)
      std::fprintf(out, "to reproduce: vstrun validate %s --level %d --seed %llu --only %s\n", o.module.c_str(), o.level,
                   static_cast<unsigned long long>(o.seed), failedGroups.c_str());
    std::fprintf(out, "%d passed, %d failed, %d warnings\n", passed, failed, warned);
  }
  return failed ? 1 : 0;
}

}  // namespace validate
