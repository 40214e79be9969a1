// Watching the audio thread on Windows. After the plug-in is loaded and
// started, the import address tables of its module, and of every module that
// came with it (outside the Windows directory), are patched: each watched
// import then goes through a hook here that counts the call when it comes
// from the audio thread while that thread is inside an audio call, and hands
// over to the function it replaced. vstrun's own tables and the system's stay
// untouched, so only the validator's real-time child, which asks for it,
// ever runs through a hook.
//
// One hook forwards to exactly the function it replaced: a module that takes
// malloc from ucrtbase.dll must get ucrtbase's free too. Each hook exists in
// kSets copies; a slot gets the copy whose original is the slot's, or the
// first free copy.
#include "validate/Groups.h"

#ifdef _WIN32

#include <windows.h>
#include <psapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum Kind { kAllocation, kLock, kSystemCall };

constexpr int kSets = 4;

// Written by the audio thread only, while the watch is on.
long gCounts[3] = {0, 0, 0};
const char* gFirst = "";
void* gFirstCaller = nullptr;
volatile LONG gWatching = 0;
volatile DWORD gAudioThread = 0;

inline void note(Kind kind, const char* name, void* caller) {
  if (!gWatching || GetCurrentThreadId() != gAudioThread) return;
  if (!gCounts[0] && !gCounts[1] && !gCounts[2]) {
    gFirst = name;
    gFirstCaller = caller;
  }
  ++gCounts[kind];
}

// The watched imports: an identifier, the name in the import table, what a
// call counts as, and the signature. The C runtime's (msvcrt.dll, ucrtbase.dll
// through api-ms-win-crt-*, libstdc++'s and MSVC's operator new and delete as
// exported) first, then the system's.
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

// printf and fprintf take variable arguments: their hooks hand over to the
// va_list form exported by the same module as the function they replace.
#define VSTRUN_VARIADIC(X)                                                  \
  X(printf, "printf", kSystemCall, int, __cdecl, (const char* f, ...), ())  \
  X(fprintf, "fprintf", kSystemCall, int, __cdecl, (FILE* s, const char* f, ...), ())

enum Function {
#define VSTRUN_ENUM(id, name, kind, ret, cc, params, args) k_##id,
  VSTRUN_WATCHED(VSTRUN_ENUM) VSTRUN_VARIADIC(VSTRUN_ENUM)
#undef VSTRUN_ENUM
  kFunctions
};

// The functions the hooks replaced, per copy; for printf and fprintf the
// va_list form.
void* gReal[kSets][kFunctions];
void* gReplaced[kSets][kFunctions];

#define VSTRUN_HOOK(id, name, kind, ret, cc, params, args)                      \
  template <int S>                                                              \
  ret cc hook_##id params {                                                     \
    note(kind, name, __builtin_return_address(0));                              \
    return reinterpret_cast<ret(cc*) params>(gReal[S][k_##id]) args;            \
  }
VSTRUN_WATCHED(VSTRUN_HOOK)
#undef VSTRUN_HOOK

template <int S>
int __cdecl hook_printf(const char* f, ...) {
  note(kSystemCall, "printf", __builtin_return_address(0));
  va_list a;
  va_start(a, f);
  const int r = reinterpret_cast<int(__cdecl*)(const char*, va_list)>(gReal[S][k_printf])(f, a);
  va_end(a);
  return r;
}
template <int S>
int __cdecl hook_fprintf(FILE* s, const char* f, ...) {
  note(kSystemCall, "fprintf", __builtin_return_address(0));
  va_list a;
  va_start(a, f);
  const int r = reinterpret_cast<int(__cdecl*)(FILE*, const char*, va_list)>(gReal[S][k_fprintf])(s, f, a);
  va_end(a);
  return r;
}

struct Watched {
  const char* name;
  const char* forwardTo;  // the export the hooks call instead, or null
  void* hooks[kSets];
};

const Watched kWatched[kFunctions] = {
#define VSTRUN_ENTRY(id, name, kind, ret, cc, params, args) \
  {name, nullptr, {(void*)&hook_##id<0>, (void*)&hook_##id<1>, (void*)&hook_##id<2>, (void*)&hook_##id<3>}},
    VSTRUN_WATCHED(VSTRUN_ENTRY)
#undef VSTRUN_ENTRY
    {"printf", "vprintf", {(void*)&hook_printf<0>, (void*)&hook_printf<1>, (void*)&hook_printf<2>, (void*)&hook_printf<3>}},
    {"fprintf", "vfprintf",
     {(void*)&hook_fprintf<0>, (void*)&hook_fprintf<1>, (void*)&hook_fprintf<2>, (void*)&hook_fprintf<3>}},
};

// The watched function an import names, or -1.
int watchedIndex(const char* name) {
  for (int f = 0; f < kFunctions; ++f)
    if (std::strcmp(kWatched[f].name, name) == 0) return f;
  return -1;
}

// The hook copy to put into a slot that holds original, or null when all
// copies are taken by other originals.
void* hookFor(int f, void* original) {
  for (int s = 0; s < kSets; ++s) {
    if (gReplaced[s][f] == original) return kWatched[f].hooks[s];
    if (gReplaced[s][f]) continue;
    void* real = original;
    if (kWatched[f].forwardTo) {
      HMODULE owner = nullptr;
      if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(original), &owner))
        return nullptr;
      real = reinterpret_cast<void*>(GetProcAddress(owner, kWatched[f].forwardTo));
      if (!real) return nullptr;
    }
    gReplaced[s][f] = original;
    gReal[s][f] = real;
    return kWatched[f].hooks[s];
  }
  return nullptr;
}

bool isHook(void* p) {
  for (const Watched& w : kWatched)
    for (void* h : w.hooks)
      if (h == p) return true;
  return false;
}

void writeSlot(void** slot, void* value) {
  DWORD old = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return;
  *slot = value;
  VirtualProtect(slot, sizeof *slot, old, &old);
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
      if (void* hook = hookFor(f, original)) writeSlot(slot, hook);
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

std::string moduleFile(HMODULE m) {
  char path[MAX_PATH] = {0};
  GetModuleFileNameA(m, path, MAX_PATH);
  return path;
}

bool underWindowsDirectory(const std::string& path) {
  char dir[MAX_PATH] = {0};
  const UINT n = GetWindowsDirectoryA(dir, MAX_PATH);
  return n > 0 && n < MAX_PATH && path.size() > n && _strnicmp(path.c_str(), dir, n) == 0 &&
         (path[n] == '\\' || path[n] == '/');
}

std::vector<HMODULE> gBefore;
bool gBegun = false;

}  // namespace

namespace validate::rt {
bool available() { return true; }
void begin() {
  gBefore = loadedModules();
  gBegun = true;
}
void watch() {
  if (!gBegun) return;
  for (HMODULE m : loadedModules()) {
    bool old = false;
    for (HMODULE b : gBefore) old = old || b == m;
    if (!old && !underWindowsDirectory(moduleFile(m))) patchImports(m);
  }
}
void setAudioThread(bool on) {
  gAudioThread = GetCurrentThreadId();
  gWatching = on ? 1 : 0;
}
void reset() {
  gCounts[0] = gCounts[1] = gCounts[2] = 0;
  gFirst = "";
  gFirstCaller = nullptr;
}
long allocations() { return gCounts[kAllocation]; }
long locks() { return gCounts[kLock]; }
long systemCalls() { return gCounts[kSystemCall]; }
std::string first() {
  HMODULE caller = nullptr;
  if (gFirstCaller && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                         static_cast<LPCSTR>(gFirstCaller), &caller))
    return std::string(gFirst) + " called from " + moduleFile(caller);
  return gFirst;
}
}  // namespace validate::rt

#endif
