// Watching the audio thread: vstrun itself defines malloc and friends, the
// mutex lock and the common system-call wrappers, so that the plug-ins it
// loads call these. Each counts when the calling thread's flag says it is
// inside an audio call, then hands over to the C library. Built only where
// that works (glibc, no sanitizer that owns malloc itself).
#include "validate/Groups.h"

#if defined(VSTRUN_RT_INTERCEPT)

#include <dlfcn.h>
#include <pthread.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstddef>
#include <string>

extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {

thread_local bool tInAudio = false;
// Plain counters: only the audio thread of the realtime group writes them.
long gAllocations = 0, gLocks = 0, gSystemCalls = 0;
const char* gFirst = "";
void* gFirstCaller = nullptr;

#define count(counter, name) countFrom(counter, name, __builtin_return_address(0))
// vstrun's own code: the host side the plug-in calls back into, whose locks
// and allocations are not the plug-in's.
extern "C" char __executable_start, etext;

inline void countFrom(long& counter, const char* name, void* caller) {
  if (!tInAudio) return;
  const char* c = static_cast<const char*>(caller);
  if (c >= &__executable_start && c < &etext) return;
  if (!gAllocations && !gLocks && !gSystemCalls) {
    gFirst = name;
    gFirstCaller = caller;
  }
  ++counter;
}

// The C library's functions, found on first use (no function-local statics:
// their guard could itself lock).
template <typename F>
F next(F& slot, const char* name) {
  if (!slot) slot = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
  return slot;
}

}  // namespace

extern "C" {

void* malloc(size_t n) {
  count(gAllocations, "malloc");
  return __libc_malloc(n);
}
void free(void* p) {
  if (p) count(gAllocations, "free");
  __libc_free(p);
}
void* calloc(size_t n, size_t size) {
  count(gAllocations, "calloc");
  return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
  count(gAllocations, "realloc");
  return __libc_realloc(p, n);
}
int posix_memalign(void** out, size_t alignment, size_t n) {
  count(gAllocations, "posix_memalign");
  if (alignment < sizeof(void*) || (alignment & (alignment - 1))) return 22;  // EINVAL
  void* p = __libc_memalign(alignment, n);
  if (!p) return 12;  // ENOMEM
  *out = p;
  return 0;
}
void* aligned_alloc(size_t alignment, size_t n) {
  count(gAllocations, "aligned_alloc");
  return __libc_memalign(alignment, n);
}
void* memalign(size_t alignment, size_t n) {
  count(gAllocations, "memalign");
  return __libc_memalign(alignment, n);
}

int pthread_mutex_lock(pthread_mutex_t* m) {
  using Fn = int (*)(pthread_mutex_t*);
  static Fn slot = nullptr;  // constant-initialised: no guard
  auto real = next(slot, "pthread_mutex_lock");
  count(gLocks, "pthread_mutex_lock");
  return real(m);
}

ssize_t write(int fd, const void* p, size_t n) {
  using Fn = ssize_t (*)(int, const void*, size_t);
  static Fn slot = nullptr;  // constant-initialised: no guard
  auto real = next(slot, "write");
  count(gSystemCalls, "write");
  return real(fd, p, n);
}
ssize_t read(int fd, void* p, size_t n) {
  using Fn = ssize_t (*)(int, void*, size_t);
  static Fn slot = nullptr;  // constant-initialised: no guard
  auto real = next(slot, "read");
  count(gSystemCalls, "read");
  return real(fd, p, n);
}
int nanosleep(const struct timespec* t, struct timespec* rem) {
  using Fn = int (*)(const struct timespec*, struct timespec*);
  static Fn slot = nullptr;  // constant-initialised: no guard
  auto real = next(slot, "nanosleep");
  count(gSystemCalls, "nanosleep");
  return real(t, rem);
}
int usleep(useconds_t us) {
  using Fn = int (*)(useconds_t);
  static Fn slot = nullptr;  // constant-initialised: no guard
  auto real = next(slot, "usleep");
  count(gSystemCalls, "usleep");
  return real(us);
}
int sched_yield() {
  using Fn = int (*)();
  static Fn slot = nullptr;  // constant-initialised: no guard
  auto real = next(slot, "sched_yield");
  count(gSystemCalls, "sched_yield");
  return real();
}

}  // extern "C"

namespace validate::rt {
bool available() { return true; }
void setAudioThread(bool on) { tInAudio = on; }
void reset() {
  gAllocations = gLocks = gSystemCalls = 0;
  gFirst = "";
}
long allocations() { return gAllocations; }
long locks() { return gLocks; }
long systemCalls() { return gSystemCalls; }
std::string first() {
  Dl_info info{};
  if (gFirstCaller && dladdr(gFirstCaller, &info) && info.dli_fname)
    return std::string(gFirst) + " called from " + info.dli_fname +
           (info.dli_sname ? std::string(" (") + info.dli_sname + ")" : std::string());
  return gFirst;
}
}  // namespace validate::rt

#else

namespace validate::rt {
bool available() { return false; }
void setAudioThread(bool) {}
void reset() {}
long allocations() { return 0; }
long locks() { return 0; }
long systemCalls() { return 0; }
std::string first() { return ""; }
}  // namespace validate::rt

#endif
