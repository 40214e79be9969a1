// The audio-thread watch on Windows: the import address tables of the
// plug-in's module and of every module that came with it (outside the
// Windows directory) are patched, and modules the plug-in loads later
// (LoadLibrary*) are patched as they come. vstrun's own tables and the
// system's stay untouched. Each slot's hook copy forwards to exactly the
// function the slot held.
#include "validate/Intercept.h"

#ifdef _WIN32

#include <windows.h>
#include <psapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace validate::rt::detail;

// The watched imports: an identifier, the name in the import table, what a
// call counts as, and the signature. The C runtime's (msvcrt.dll, ucrtbase.dll
// through api-ms-win-crt-*, libstdc++'s and MSVC's operator new and delete as
// exported), the C++ runtimes' locks (MSVC's msvcp140.dll, MinGW's
// libwinpthread-1.dll), then the system's.
#define VSTRUN_WATCHED(X)                                                                                        \
  X(malloc, "malloc", kAllocation, void*, __cdecl, (size_t n), (n))                                              \
  X(calloc, "calloc", kAllocation, void*, __cdecl, (size_t n, size_t s), (n, s))                                 \
  X(realloc, "realloc", kAllocation, void*, __cdecl, (void* p, size_t n), (p, n))                                \
  X(free, "free", kAllocation, void, __cdecl, (void* p), (p))                                                    \
  X(alignedMalloc, "_aligned_malloc", kAllocation, void*, __cdecl, (size_t n, size_t a), (n, a))                 \
  X(alignedRealloc, "_aligned_realloc", kAllocation, void*, __cdecl, (void* p, size_t n, size_t a), (p, n, a))   \
  X(alignedFree, "_aligned_free", kAllocation, void, __cdecl, (void* p), (p))                                    \
  X(newGnu32, "_Znwj", kAllocation, void*, __cdecl, (size_t n), (n))                                             \
  X(newArrayGnu32, "_Znaj", kAllocation, void*, __cdecl, (size_t n), (n))                                        \
  X(newGnu64, "_Znwy", kAllocation, void*, __cdecl, (size_t n), (n))                                             \
  X(newArrayGnu64, "_Znay", kAllocation, void*, __cdecl, (size_t n), (n))                                        \
  X(deleteGnu, "_ZdlPv", kAllocation, void, __cdecl, (void* p), (p))                                             \
  X(deleteArrayGnu, "_ZdaPv", kAllocation, void, __cdecl, (void* p), (p))                                        \
  X(deleteSizedGnu32, "_ZdlPvj", kAllocation, void, __cdecl, (void* p, size_t n), (p, n))                        \
  X(deleteSizedGnu64, "_ZdlPvy", kAllocation, void, __cdecl, (void* p, size_t n), (p, n))                        \
  X(newMsvc32, "??2@YAPAXI@Z", kAllocation, void*, __cdecl, (size_t n), (n))                                     \
  X(newArrayMsvc32, "??_U@YAPAXI@Z", kAllocation, void*, __cdecl, (size_t n), (n))                               \
  X(deleteMsvc32, "??3@YAXPAX@Z", kAllocation, void, __cdecl, (void* p), (p))                                    \
  X(deleteArrayMsvc32, "??_V@YAXPAX@Z", kAllocation, void, __cdecl, (void* p), (p))                              \
  X(newMsvc64, "??2@YAPEAX_K@Z", kAllocation, void*, __cdecl, (size_t n), (n))                                   \
  X(newArrayMsvc64, "??_U@YAPEAX_K@Z", kAllocation, void*, __cdecl, (size_t n), (n))                             \
  X(deleteMsvc64, "??3@YAXPEAX@Z", kAllocation, void, __cdecl, (void* p), (p))                                   \
  X(deleteArrayMsvc64, "??_V@YAXPEAX@Z", kAllocation, void, __cdecl, (void* p), (p))                             \
  X(fopen, "fopen", kSystemCall, FILE*, __cdecl, (const char* f, const char* m), (f, m))                         \
  X(wfopen, "_wfopen", kSystemCall, FILE*, __cdecl, (const wchar_t* f, const wchar_t* m), (f, m))                \
  X(fwrite, "fwrite", kSystemCall, size_t, __cdecl, (const void* p, size_t s, size_t n, FILE* f), (p, s, n, f))  \
  X(fputs, "fputs", kSystemCall, int, __cdecl, (const char* s, FILE* f), (s, f))                                 \
  X(fputc, "fputc", kSystemCall, int, __cdecl, (int c, FILE* f), (c, f))                                         \
  X(puts, "puts", kSystemCall, int, __cdecl, (const char* s), (s))                                               \
  X(putchar, "putchar", kSystemCall, int, __cdecl, (int c), (c))                                                 \
  X(vprintf, "vprintf", kSystemCall, int, __cdecl, (const char* f, va_list a), (f, a))                           \
  X(vfprintf, "vfprintf", kSystemCall, int, __cdecl, (FILE* s, const char* f, va_list a), (s, f, a))            \
  X(crtWrite, "_write", kSystemCall, int, __cdecl, (int fd, const void* p, unsigned n), (fd, p, n))              \
  X(ucrtPrintf, "__stdio_common_vfprintf", kSystemCall, int, __cdecl,                                            \
    (unsigned long long o, FILE* s, const char* f, _locale_t l, va_list a), (o, s, f, l, a))                     \
  X(ucrtWprintf, "__stdio_common_vfwprintf", kSystemCall, int, __cdecl,                                          \
    (unsigned long long o, FILE* s, const wchar_t* f, _locale_t l, va_list a), (o, s, f, l, a))                  \
  X(HeapAlloc, "HeapAlloc", kAllocation, LPVOID, WINAPI, (HANDLE h, DWORD f, SIZE_T n), (h, f, n))               \
  X(HeapReAlloc, "HeapReAlloc", kAllocation, LPVOID, WINAPI, (HANDLE h, DWORD f, LPVOID p, SIZE_T n),            \
    (h, f, p, n))                                                                                                \
  X(HeapFree, "HeapFree", kAllocation, BOOL, WINAPI, (HANDLE h, DWORD f, LPVOID p), (h, f, p))                   \
  X(LocalAlloc, "LocalAlloc", kAllocation, HLOCAL, WINAPI, (UINT f, SIZE_T n), (f, n))                           \
  X(LocalFree, "LocalFree", kAllocation, HLOCAL, WINAPI, (HLOCAL p), (p))                                        \
  X(GlobalAlloc, "GlobalAlloc", kAllocation, HGLOBAL, WINAPI, (UINT f, SIZE_T n), (f, n))                        \
  X(GlobalFree, "GlobalFree", kAllocation, HGLOBAL, WINAPI, (HGLOBAL p), (p))                                    \
  X(VirtualAlloc, "VirtualAlloc", kAllocation, LPVOID, WINAPI, (LPVOID p, SIZE_T n, DWORD t, DWORD pr),          \
    (p, n, t, pr))                                                                                               \
  X(VirtualFree, "VirtualFree", kAllocation, BOOL, WINAPI, (LPVOID p, SIZE_T n, DWORD t), (p, n, t))             \
  X(mtxLock, "_Mtx_lock", kLock, int, __cdecl, (void* m), (m))                                                   \
  X(mtxTimedLock, "_Mtx_timedlock", kLock, int, __cdecl, (void* m, const void* t), (m, t))                       \
  X(cndWait, "_Cnd_wait", kLock, int, __cdecl, (void* c, void* m), (c, m))                                        \
  X(cndTimedWait, "_Cnd_timedwait", kLock, int, __cdecl, (void* c, void* m, const void* t), (c, m, t))           \
  X(smtxLockExclusive, "_Smtx_lock_exclusive", kLock, void, __cdecl, (void* s), (s))                             \
  X(smtxLockShared, "_Smtx_lock_shared", kLock, void, __cdecl, (void* s), (s))                                   \
  X(thrdSleep, "_Thrd_sleep", kLock, void, __cdecl, (const void* t), (t))                                        \
  X(thrdSleepFor, "_Thrd_sleep_for", kLock, void, __cdecl, (unsigned long ms), (ms))                             \
  X(thrdYield, "_Thrd_yield", kLock, void, __cdecl, (), ())                                                      \
  X(pthreadMutexLock, "pthread_mutex_lock", kLock, int, __cdecl, (void* m), (m))                                 \
  X(pthreadMutexTimedLock, "pthread_mutex_timedlock", kLock, int, __cdecl, (void* m, const void* t), (m, t))     \
  X(pthreadCondWait, "pthread_cond_wait", kLock, int, __cdecl, (void* c, void* m), (c, m))                       \
  X(pthreadCondTimedWait, "pthread_cond_timedwait", kLock, int, __cdecl, (void* c, void* m, const void* t),      \
    (c, m, t))                                                                                                   \
  X(pthreadRwlockRead, "pthread_rwlock_rdlock", kLock, int, __cdecl, (void* l), (l))                             \
  X(pthreadRwlockWrite, "pthread_rwlock_wrlock", kLock, int, __cdecl, (void* l), (l))                            \
  X(semWait, "sem_wait", kLock, int, __cdecl, (void* s), (s))                                                    \
  X(pthreadNanosleep, "nanosleep", kSystemCall, int, __cdecl, (const void* t, void* r), (t, r))                        \
  X(schedYield, "sched_yield", kSystemCall, int, __cdecl, (), ())                                                      \
  X(WaitOnAddress, "WaitOnAddress", kLock, BOOL, WINAPI, (volatile void* a, void* c, SIZE_T n, DWORD t),         \
    (a, c, n, t))                                                                                                \
  X(EnterCriticalSection, "EnterCriticalSection", kLock, void, WINAPI, (LPCRITICAL_SECTION c), (c))              \
  X(TryEnterCriticalSection, "TryEnterCriticalSection", kLock, BOOL, WINAPI, (LPCRITICAL_SECTION c), (c))        \
  X(AcquireSRWLockExclusive, "AcquireSRWLockExclusive", kLock, void, WINAPI, (PSRWLOCK l), (l))                  \
  X(AcquireSRWLockShared, "AcquireSRWLockShared", kLock, void, WINAPI, (PSRWLOCK l), (l))                        \
  X(WaitForSingleObject, "WaitForSingleObject", kLock, DWORD, WINAPI, (HANDLE h, DWORD t), (h, t))               \
  X(WaitForSingleObjectEx, "WaitForSingleObjectEx", kLock, DWORD, WINAPI, (HANDLE h, DWORD t, BOOL a),           \
    (h, t, a))                                                                                                   \
  X(WaitForMultipleObjects, "WaitForMultipleObjects", kLock, DWORD, WINAPI,                                      \
    (DWORD n, const HANDLE* h, BOOL all, DWORD t), (n, h, all, t))                                               \
  X(WaitForMultipleObjectsEx, "WaitForMultipleObjectsEx", kLock, DWORD, WINAPI,                                  \
    (DWORD n, const HANDLE* h, BOOL all, DWORD t, BOOL a), (n, h, all, t, a))                                    \
  X(Sleep, "Sleep", kLock, void, WINAPI, (DWORD t), (t))                                                         \
  X(SleepEx, "SleepEx", kLock, DWORD, WINAPI, (DWORD t, BOOL a), (t, a))                                         \
  X(SleepConditionVariableCS, "SleepConditionVariableCS", kLock, BOOL, WINAPI,                                   \
    (PCONDITION_VARIABLE v, PCRITICAL_SECTION c, DWORD t), (v, c, t))                                            \
  X(SleepConditionVariableSRW, "SleepConditionVariableSRW", kLock, BOOL, WINAPI,                                 \
    (PCONDITION_VARIABLE v, PSRWLOCK l, DWORD t, ULONG f), (v, l, t, f))                                         \
  X(CreateFileA, "CreateFileA", kSystemCall, HANDLE, WINAPI,                                                     \
    (LPCSTR n, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f, HANDLE t), (n, a, s, sa, c, f, t))  \
  X(CreateFileW, "CreateFileW", kSystemCall, HANDLE, WINAPI,                                                     \
    (LPCWSTR n, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f, HANDLE t), (n, a, s, sa, c, f, t)) \
  X(WriteFile, "WriteFile", kSystemCall, BOOL, WINAPI, (HANDLE h, LPCVOID p, DWORD n, LPDWORD w, LPOVERLAPPED o), \
    (h, p, n, w, o))                                                                                             \
  X(WriteConsoleA, "WriteConsoleA", kSystemCall, BOOL, WINAPI,                                                   \
    (HANDLE h, const VOID* p, DWORD n, LPDWORD w, LPVOID r), (h, p, n, w, r))                                    \
  X(WriteConsoleW, "WriteConsoleW", kSystemCall, BOOL, WINAPI,                                                   \
    (HANDLE h, const VOID* p, DWORD n, LPDWORD w, LPVOID r), (h, p, n, w, r))                                    \
  X(OutputDebugStringA, "OutputDebugStringA", kSystemCall, void, WINAPI, (LPCSTR s), (s))                        \
  X(OutputDebugStringW, "OutputDebugStringW", kSystemCall, void, WINAPI, (LPCWSTR s), (s))

#define VSTRUN_LOADERS(X)                                                                                        \
  X(LoadLibraryA, "LoadLibraryA", kSystemCall, HMODULE, WINAPI, (LPCSTR f), (f))                                 \
  X(LoadLibraryW, "LoadLibraryW", kSystemCall, HMODULE, WINAPI, (LPCWSTR f), (f))                                \
  X(LoadLibraryExA, "LoadLibraryExA", kSystemCall, HMODULE, WINAPI, (LPCSTR f, HANDLE h, DWORD flags), (f, h, flags)) \
  X(LoadLibraryExW, "LoadLibraryExW", kSystemCall, HMODULE, WINAPI, (LPCWSTR f, HANDLE h, DWORD flags), (f, h, flags))

// printf and fprintf take variable arguments: their hooks hand over to the
// va_list form exported by the same module as the function they replace.
#define VSTRUN_VARIADIC(X) X(printf) X(fprintf)

enum Function {
#define VSTRUN_ENUM(id, ...) k_##id,
  VSTRUN_WATCHED(VSTRUN_ENUM) VSTRUN_LOADERS(VSTRUN_ENUM)
#undef VSTRUN_ENUM
#define VSTRUN_ENUM(id) k_##id,
  VSTRUN_VARIADIC(VSTRUN_ENUM)
#undef VSTRUN_ENUM
  kFunctions
};
static_assert(kFunctions <= kMaxFunctions, "more watched functions than hook slots");

VSTRUN_WATCHED(VSTRUN_HOOK)
VSTRUN_LOADERS(VSTRUN_LOADER_HOOK)

template <int S>
int __cdecl hook_printf(const char* f, ...) {
  count(kSystemCall, "printf", gNote[S][k_printf], __builtin_return_address(0));
  va_list a;
  va_start(a, f);
  const int r = reinterpret_cast<int(__cdecl*)(const char*, va_list)>(gForward[S][k_printf])(f, a);
  va_end(a);
  return r;
}
template <int S>
int __cdecl hook_fprintf(FILE* s, const char* f, ...) {
  count(kSystemCall, "fprintf", gNote[S][k_fprintf], __builtin_return_address(0));
  va_list a;
  va_start(a, f);
  const int r = reinterpret_cast<int(__cdecl*)(FILE*, const char*, va_list)>(gForward[S][k_fprintf])(s, f, a);
  va_end(a);
  return r;
}

struct Watched {
  const char* name;
  const char* forwardTo;  // the export the hooks call instead, or null
  void* hooks[kCopies];
};

const Watched kWatched[kFunctions] = {
#define VSTRUN_ENTRY(id, name, ...) {name, nullptr, VSTRUN_HOOK_COPIES(hook_##id)},
    VSTRUN_WATCHED(VSTRUN_ENTRY) VSTRUN_LOADERS(VSTRUN_ENTRY)
#undef VSTRUN_ENTRY
    {"printf", "vprintf", VSTRUN_HOOK_COPIES(hook_printf)},
    {"fprintf", "vfprintf", VSTRUN_HOOK_COPIES(hook_fprintf)},
};

// The watched function an import names, or -1.
int watchedIndex(const char* name) {
  for (int f = 0; f < kFunctions; ++f)
    if (std::strcmp(kWatched[f].name, name) == 0) return f;
  return -1;
}

std::string moduleFile(HMODULE m) {
  char path[MAX_PATH] = {0};
  GetModuleFileNameA(m, path, MAX_PATH);
  return path;
}

// The hook copy for a slot that holds original; null (and why) when there
// is none to give.
void* hookFor(int f, void* original, const char** why) {
  void* forward = original;
  if (kWatched[f].forwardTo) {
    HMODULE owner = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(original), &owner))
      forward = reinterpret_cast<void*>(GetProcAddress(owner, kWatched[f].forwardTo));
    else forward = nullptr;
    if (!forward) {
      *why = "no va_list form beside it to hand over to";
      return nullptr;
    }
  }
  const int copy = copyFor(f, original, forward, nullptr);
  if (copy < 0) {
    *why = "every copy of its hook serves another function";
    return nullptr;
  }
  return kWatched[f].hooks[copy];
}

bool isHook(void* p) {
  for (const Watched& w : kWatched)
    for (void* h : w.hooks)
      if (h == p) return true;
  return false;
}

// Writes a slot; its page keeps its protection (execute rights too) but for
// the moment of the write. An empty answer when it worked, else why not.
std::string writeSlot(void** slot, void* value) {
  MEMORY_BASIC_INFORMATION page{};
  if (!VirtualQuery(slot, &page, sizeof page)) return "its page cannot be queried";
  const DWORD executable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  const DWORD original = page.Protect;
  const bool change = !(original & writable);
  DWORD was = 0;
  if (change && !VirtualProtect(slot, sizeof *slot, (original & executable) ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE,
                                &was)) {
    char why[64];
    std::snprintf(why, sizeof why, "VirtualProtect failed with error %lu", GetLastError());
    return why;
  }
  InterlockedExchangePointer(slot, value);
  if (change) VirtualProtect(slot, sizeof *slot, was, &was);
  return "";
}

// Points the module's imports of watched functions at the hooks.
void patchImports(HMODULE module) {
  auto* base = reinterpret_cast<unsigned char*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return;
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress || !dir.Size) return;
  const std::string file = moduleFile(module);
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    // Without the name table (an old linker's bound imports) the slots are
    // told by address.
    auto* names = d->OriginalFirstThunk ? reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk) : nullptr;
    HMODULE from = GetModuleHandleA(reinterpret_cast<const char*>(base + d->Name));
    for (size_t i = 0; slots[i].u1.Function; ++i) {
      void** slot = reinterpret_cast<void**>(&slots[i].u1.Function);
      void* original = *slot;
      if (isHook(original)) continue;
      int f = -1;
      if (names) {
        if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)) continue;
        f = watchedIndex(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names[i].u1.AddressOfData)->Name);
      } else if (from) {
        for (int g = 0; g < kFunctions && f < 0; ++g)
          if (reinterpret_cast<void*>(GetProcAddress(from, kWatched[g].name)) == original) f = g;
      }
      if (f < 0) continue;
      const char* why = "";
      void* hook = hookFor(f, original, &why);
      const std::string failed = hook ? writeSlot(slot, hook) : why;
      if (!failed.empty()) unwatched(file, kWatched[f].name, failed);
    }
  }
}

std::vector<HMODULE> loadedModules() {
  std::vector<HMODULE> modules(256);
  DWORD needed = 0;
  for (;;) {
    if (!EnumProcessModules(GetCurrentProcess(), modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)),
                            &needed))
      return {};
    if (needed <= modules.size() * sizeof(HMODULE)) break;
    modules.resize(needed / sizeof(HMODULE) + 16);
  }
  modules.resize(needed / sizeof(HMODULE));
  return modules;
}

bool underWindowsDirectory(const std::string& path) {
  char dir[MAX_PATH] = {0};
  const UINT n = GetWindowsDirectoryA(dir, MAX_PATH);
  return n > 0 && n < MAX_PATH && path.size() > n && _strnicmp(path.c_str(), dir, n) == 0 &&
         (path[n] == '\\' || path[n] == '/');
}

bool contains(const std::vector<HMODULE>& list, HMODULE m) {
  for (HMODULE x : list)
    if (x == m) return true;
  return false;
}

std::mutex gPatching;  // watch() and libraries loaded on other threads
std::vector<HMODULE> gBefore, gSeen;
bool gBegun = false;

}  // namespace

namespace validate::rt {
bool available() { return true; }
void begin() {
  gBefore = loadedModules();
  gBegun = true;
}
void watch() { detail::watchNewcomers(); }
void detail::watchNewcomers() {
  Paused paused;
  std::lock_guard<std::mutex> lock(gPatching);
  if (!gBegun) return;
  for (HMODULE m : loadedModules()) {
    if (contains(gBefore, m) || contains(gSeen, m)) continue;
    gSeen.push_back(m);
    if (!underWindowsDirectory(moduleFile(m))) patchImports(m);
  }
}
}  // namespace validate::rt

#endif
