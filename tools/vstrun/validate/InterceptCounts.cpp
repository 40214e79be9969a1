// What the audio-thread watch shares between the systems: counting the
// calls the hooks see, handing out hook copies, and telling the findings.
#include "validate/Intercept.h"

#include <atomic>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <pthread.h>
#endif

namespace validate::rt {

namespace detail {

void* gForward[kCopies][kMaxFunctions];
const char* gNote[kCopies][kMaxFunctions];

namespace {

#ifdef _WIN32
using ThreadId = DWORD;
ThreadId thisThread() { return GetCurrentThreadId(); }
bool sameThread(ThreadId a, ThreadId b) { return a == b; }
#else
using ThreadId = pthread_t;
ThreadId thisThread() { return pthread_self(); }
bool sameThread(ThreadId a, ThreadId b) { return pthread_equal(a, b) != 0; }
#endif

// Written by the audio thread only, while the watch is on; read by it
// after the audio calls.
std::atomic<bool> gWatching{false};
ThreadId gAudioThread{};
long gCounts[3] = {0, 0, 0};
const char* gFirst = "";
const char* gFirstNote = nullptr;
void* gFirstCaller = nullptr;

const void* gOriginal[kCopies][kMaxFunctions];
std::mutex gUnwatchedMutex;
std::vector<std::string> gUnwatched;

bool onAudioThread() { return gWatching.load(std::memory_order_relaxed) && sameThread(thisThread(), gAudioThread); }

// The file of the module that holds an address.
std::string moduleOf(void* address) {
#ifdef _WIN32
  HMODULE m = nullptr;
  char path[MAX_PATH] = {0};
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCSTR>(address), &m))
    GetModuleFileNameA(m, path, MAX_PATH);
  return path;
#else
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname) return "";
  return std::string(info.dli_fname) + (info.dli_sname ? std::string(" (") + info.dli_sname + ")" : std::string());
#endif
}

}  // namespace

void count(Kind kind, const char* name, const char* note, void* caller) {
  if (!onAudioThread()) return;
  if (!gCounts[0] && !gCounts[1] && !gCounts[2]) {
    gFirst = name;
    gFirstNote = note;
    gFirstCaller = caller;
  }
  ++gCounts[kind];
}

int copyFor(int f, const void* original, void* forward, const char* note) {
  for (int s = 0; s < kCopies; ++s) {
    if (gOriginal[s][f] == original) return s;
    if (gOriginal[s][f]) continue;
    gOriginal[s][f] = original;
    gForward[s][f] = forward;
    gNote[s][f] = note;
    return s;
  }
  return -1;
}

void unwatched(const std::string& module, const char* function, const std::string& why) {
  std::lock_guard<std::mutex> lock(gUnwatchedMutex);
  gUnwatched.push_back(module + "'s import of " + function + " (" + why + ")");
}

Paused::Paused() : was_(onAudioThread()) {
  if (was_) gWatching.store(false);
}

Paused::~Paused() {
  if (was_) gWatching.store(true);
}

}  // namespace detail

void setAudioThread(bool on) {
  detail::gAudioThread = detail::thisThread();
  detail::gWatching.store(on);
}

void reset() {
  detail::gCounts[0] = detail::gCounts[1] = detail::gCounts[2] = 0;
  detail::gFirst = "";
  detail::gFirstNote = nullptr;
  detail::gFirstCaller = nullptr;
}

long allocations() { return detail::gCounts[detail::kAllocation]; }
long locks() { return detail::gCounts[detail::kLock]; }
long systemCalls() { return detail::gCounts[detail::kSystemCall]; }

std::string first() {
  std::string text = detail::gFirst;
  if (detail::gFirstNote) text += std::string("@") + detail::gFirstNote;
  const std::string from = detail::gFirstCaller ? detail::moduleOf(detail::gFirstCaller) : "";
  return from.empty() ? text : text + " called from " + from;
}

std::vector<std::string> notWatched() {
  std::lock_guard<std::mutex> lock(detail::gUnwatchedMutex);
  return detail::gUnwatched;
}

}  // namespace validate::rt
