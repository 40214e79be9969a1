// Watching the audio thread for the real-time group. Once the plug-in is
// loaded and started, the import slots through which its module (and what
// came with it) calls the watched functions are pointed at counting hooks.
// Each system patches in its own way (Intercept.cpp: ELF relocation slots
// on Linux; InterceptWin.cpp: import address tables on Windows); what a hook
// counts, how its copies are handed out, and how the findings are told are
// shared here (InterceptCounts.cpp).
//
// A hook counts a call only when it comes from the audio thread while that
// thread is inside an audio call, and hands over to the function it
// replaced; nothing else in vstrun ever runs through a hook. What the
// watch does itself (noting a call) allocates nothing and takes no lock.
#pragma once

#include <string>
#include <vector>

namespace validate::rt {

// Whether the watch works in this build (not in the sanitizer builds).
bool available();
void begin();  // before the plug-in loads: the modules already there stay unwatched
void watch();  // after it started: watches its module and those that came with it
void setAudioThread(bool on);  // this thread is the audio thread, inside (or out of) an audio call
void reset();
long allocations();
long locks();
long systemCalls();
std::string first();  // the first call counted and where it came from, or ""
// The slots that could not be pointed at a hook, each "MODULE's import of
// FUNCTION (why)"; calls through them are not seen.
std::vector<std::string> notWatched();

namespace detail {

enum Kind { kAllocation, kLock, kSystemCall };

// Called by every hook before it hands over: counts the call when it is the
// audio thread's, inside an audio call. note is a detail of the slot the
// hook copy serves (a symbol version), or null.
void count(Kind kind, const char* name, const char* note, void* caller);

// Each hook exists in kCopies copies, so that one slot's hook forwards to
// exactly the function the slot called (a module that takes malloc from one
// C runtime must get that runtime's free too; a module bound to an old
// symbol version keeps it). gForward[copy][function] is what a copy calls.
constexpr int kCopies = 4;
constexpr int kMaxFunctions = 128;
extern void* gForward[kCopies][kMaxFunctions];
extern const char* gNote[kCopies][kMaxFunctions];
// The copy of function f's hook for a slot that called original: the copy
// already serving original, else the first free one (forwarding to forward,
// noted with note); -1 when all copies serve other functions.
int copyFor(int f, const void* original, void* forward, const char* note);

// A slot left unwatched, for notWatched().
void unwatched(const std::string& module, const char* function, const std::string& why);

// Patches the modules loaded since the last look (each system's own);
// called after the plug-in loaded a library from a watched module.
void watchNewcomers();

// While the watch patches on the audio thread (a library loaded there), its
// own work is not the plug-in's: counting pauses.
class Paused {
 public:
  Paused();
  ~Paused();
  Paused(const Paused&) = delete;
  Paused& operator=(const Paused&) = delete;

 private:
  bool was_;
};

}  // namespace detail
}  // namespace validate::rt

// A counting hook: a template over the copy, for each watched function.
// X(id, name, kind, return type, calling convention, (parameters), (arguments))
#define VSTRUN_HOOK(id, name, kind, ret, cc, params, args)                                                  \
  template <int S>                                                                                            \
  ret cc hook_##id params {                                                                                   \
    ::validate::rt::detail::count(::validate::rt::detail::kind, name, ::validate::rt::detail::gNote[S][k_##id], \
                                  __builtin_return_address(0));                                               \
    return reinterpret_cast<ret(cc*) params>(::validate::rt::detail::gForward[S][k_##id]) args;               \
  }

// A hook for a function that loads a library: counted as a system call, and
// the library (with what it needs) is watched as soon as it is loaded.
#define VSTRUN_LOADER_HOOK(id, name, kind, ret, cc, params, args)                                           \
  template <int S>                                                                                            \
  ret cc hook_##id params {                                                                                   \
    ::validate::rt::detail::count(::validate::rt::detail::kind, name, ::validate::rt::detail::gNote[S][k_##id], \
                                  __builtin_return_address(0));                                               \
    ret loaded = reinterpret_cast<ret(cc*) params>(::validate::rt::detail::gForward[S][k_##id]) args;   \
    ::validate::rt::detail::watchNewcomers();                                                                 \
    return loaded;                                                                                            \
  }

// The copies of a hook, in copy order.
#define VSTRUN_HOOK_COPIES(hook) \
  { reinterpret_cast<void*>(&hook<0>), reinterpret_cast<void*>(&hook<1>), reinterpret_cast<void*>(&hook<2>), \
    reinterpret_cast<void*>(&hook<3>) }
