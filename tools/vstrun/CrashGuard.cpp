#include "CrashGuard.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>

#include "render/CallSite.h"
#include "vsthost/Files.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vstrun {

// The handler reads where the render is; on Linux it runs as a signal
// handler, where only lock-free atomics may be read.
static_assert(std::atomic<const char*>::is_always_lock_free && std::atomic<int64_t>::is_always_lock_free,
              "the crash handler reads the call site without locks");

namespace {

// Copied in when armed: the handler can use neither std::string nor the heap.
char gTemporary[4096];
#ifdef _WIN32
wchar_t gTemporaryWide[4096];  // what Windows deletes: any name
#endif
char gOutput[1024];
std::function<void()> gCloseOutput;
std::atomic<bool> gArmed{false};

void copyText(char* dst, size_t capacity, const std::string& text) {
  const size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  std::memcpy(dst, text.data(), n);
  dst[n] = '\0';
}

// Appends to a fixed buffer; what does not fit is dropped.
struct Line {
  char* data;
  size_t capacity;
  size_t used = 0;
  void add(const char* text) {
    while (text && *text && used + 1 < capacity) data[used++] = *text++;
    data[used] = '\0';
  }
  void add(int64_t n) {
    char digits[24];
    int count = 0;
    uint64_t u = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    do {
      digits[count++] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u);
    if (n < 0) add("-");
    char text[2] = {0, 0};
    while (count) {
      text[0] = digits[--count];
      add(text);
    }
  }
};

[[noreturn]] void reportAndExit(const char* cause) {
  char line[1536];
  formatCrashLine(line, sizeof line, cause);
#ifdef _WIN32
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  if (gCloseOutput) gCloseOutput();
  if (gTemporaryWide[0]) DeleteFileW(gTemporaryWide);
  TerminateProcess(GetCurrentProcess(), kCrashStatus);
  for (;;) {
  }
#else
  ssize_t ignored = write(STDERR_FILENO, line, std::strlen(line));
  (void)ignored;
  if (gTemporary[0]) unlink(gTemporary);
  _exit(kCrashStatus);
#endif
}

#ifdef _WIN32

const char* exceptionName(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "access violation";
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return "array bounds exceeded";
    case EXCEPTION_DATATYPE_MISALIGNMENT: return "misaligned data";
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "division by zero";
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION: return "illegal instruction";
    case EXCEPTION_IN_PAGE_ERROR: return "page error";
    case EXCEPTION_STACK_OVERFLOW: return "stack overflow";
    default: return "unhandled exception";
  }
}

LPTOP_LEVEL_EXCEPTION_FILTER gPreviousFilter = nullptr;

LONG WINAPI onException(EXCEPTION_POINTERS* info) {
  if (!gArmed.load()) return gPreviousFilter ? gPreviousFilter(info) : EXCEPTION_CONTINUE_SEARCH;
  reportAndExit(exceptionName(info->ExceptionRecord->ExceptionCode));
}

extern "C" void onAbort(int) {
  if (gArmed.load()) reportAndExit("abort");
}

void install() {
  gPreviousFilter = SetUnhandledExceptionFilter(onException);
  std::signal(SIGABRT, onAbort);
}

void uninstall() {
  SetUnhandledExceptionFilter(gPreviousFilter);
  std::signal(SIGABRT, SIG_DFL);
}

#else

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction gPrevious[sizeof kSignals / sizeof kSignals[0]];
// Its own stack, so that a plug-in that overflows the stack is reported too.
alignas(16) char gSignalStack[1 << 16];

const char* signalName(int sig) {
  switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
  }
}

extern "C" void onSignal(int sig, siginfo_t*, void*) { reportAndExit(signalName(sig)); }

void install() {
  stack_t stack{};
  stack.ss_sp = gSignalStack;
  stack.ss_size = sizeof gSignalStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_sigaction = onSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) sigaction(kSignals[i], &action, &gPrevious[i]);
}

void uninstall() {
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) sigaction(kSignals[i], &gPrevious[i], nullptr);
}

#endif

}  // namespace

void formatCrashLine(char* text, size_t capacity, const char* cause) {
  if (!text || capacity == 0) return;
  const CallSite& site = currentCall();
  const char* call = site.call.load();
  const int64_t frame = site.frame.load();
  Line line{text, capacity};
  line.add("vstrun: the plug-in crashed (");
  line.add(cause);
  line.add(") in ");
  line.add(call ? call : "the plug-in");
  if (frame >= 0) {
    line.add(", block ");
    line.add(site.block.load());
    line.add(" (frames ");
    line.add(frame);
    line.add(" to ");
    line.add(frame + site.frames.load() - 1);
    line.add(" of ");
    line.add(site.total.load());
    line.add(")");
  } else if (site.block.load() > 0) {
    line.add(", after block ");
    line.add(site.block.load());
  } else {
    line.add(", before the first block");
  }
  if (gOutput[0]) {
    line.add("; ");
    line.add(gOutput);
    line.add(" was not written");
  }
  line.add("\n");
}

void armCrashGuard(const std::string& temporaryPath, const std::string& output, std::function<void()> closeOutput) {
  copyText(gTemporary, sizeof gTemporary, temporaryPath);
#ifdef _WIN32
  const std::wstring wide = vsthost::widen(temporaryPath);
  const size_t n = wide.size() < 4095 ? wide.size() : 0;  // a name cut short would name another file
  wide.copy(gTemporaryWide, n);
  gTemporaryWide[n] = L'\0';
#endif
  copyText(gOutput, sizeof gOutput, output);
  gCloseOutput = std::move(closeOutput);
  if (!gArmed.exchange(true)) install();
}

void disarmCrashGuard() {
  if (gArmed.exchange(false)) uninstall();
  gTemporary[0] = gOutput[0] = '\0';
#ifdef _WIN32
  gTemporaryWide[0] = L'\0';
#endif
  gCloseOutput = nullptr;
}

}  // namespace vstrun
