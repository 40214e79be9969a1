// Watching the audio thread on Linux. After the plug-in is loaded and
// started, the relocation slots (GOT) through which its module, every
// module that came with it and the libraries those need (vstrun's own
// excepted) call the watched functions are pointed at hooks here. A hook counts the call when it comes from the audio thread while that
// thread is inside an audio call, and hands over to the C library. Nothing is
// interposed process-wide: only the validator's real-time child, which asks
// for it, ever runs through a hook; render, info and editor call the C
// library directly.
#include "validate/Groups.h"

#if defined(VSTRUN_RT_INTERCEPT)

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum Kind { kAllocation, kLock, kSystemCall };

// Written by the audio thread only, while the watch is on.
long gCounts[3] = {0, 0, 0};
const char* gFirst = "";
void* gFirstCaller = nullptr;
volatile bool gWatching = false;
pthread_t gAudioThread;

inline void note(Kind kind, const char* name, void* caller) {
  if (!gWatching || !pthread_equal(pthread_self(), gAudioThread)) return;
  if (!gCounts[0] && !gCounts[1] && !gCounts[2]) {
    gFirst = name;
    gFirstCaller = caller;
  }
  ++gCounts[kind];
}

// The watched functions: an identifier, the symbol, what a call counts as,
// and the signature. operator new and delete by their mangled names, for
// 64-bit (m) and 32-bit (j) size_t.
#define VSTRUN_WATCHED(X)                                                                                       \
  X(malloc, "malloc", kAllocation, void*, (size_t n), (n))                                                      \
  X(calloc, "calloc", kAllocation, void*, (size_t n, size_t s), (n, s))                                         \
  X(realloc, "realloc", kAllocation, void*, (void* p, size_t n), (p, n))                                        \
  X(free, "free", kAllocation, void, (void* p), (p))                                                            \
  X(posixMemalign, "posix_memalign", kAllocation, int, (void** p, size_t a, size_t n), (p, a, n))               \
  X(alignedAlloc, "aligned_alloc", kAllocation, void*, (size_t a, size_t n), (a, n))                            \
  X(memalign, "memalign", kAllocation, void*, (size_t a, size_t n), (a, n))                                     \
  X(new64, "_Znwm", kAllocation, void*, (size_t n), (n))                                                        \
  X(newArray64, "_Znam", kAllocation, void*, (size_t n), (n))                                                   \
  X(new32, "_Znwj", kAllocation, void*, (size_t n), (n))                                                        \
  X(newArray32, "_Znaj", kAllocation, void*, (size_t n), (n))                                                   \
  X(deletePlain, "_ZdlPv", kAllocation, void, (void* p), (p))                                                   \
  X(deleteArray, "_ZdaPv", kAllocation, void, (void* p), (p))                                                   \
  X(deleteSized64, "_ZdlPvm", kAllocation, void, (void* p, size_t n), (p, n))                                   \
  X(deleteSized32, "_ZdlPvj", kAllocation, void, (void* p, size_t n), (p, n))                                   \
  X(mutexLock, "pthread_mutex_lock", kLock, int, (pthread_mutex_t * m), (m))                                    \
  X(rwlockRead, "pthread_rwlock_rdlock", kLock, int, (pthread_rwlock_t * l), (l))                               \
  X(rwlockWrite, "pthread_rwlock_wrlock", kLock, int, (pthread_rwlock_t * l), (l))                              \
  X(condWait, "pthread_cond_wait", kLock, int, (pthread_cond_t * c, pthread_mutex_t * m), (c, m))               \
  X(semWait, "sem_wait", kLock, int, (sem_t * s), (s))                                                          \
  X(write, "write", kSystemCall, ssize_t, (int fd, const void* p, size_t n), (fd, p, n))                        \
  X(read, "read", kSystemCall, ssize_t, (int fd, void* p, size_t n), (fd, p, n))                                \
  X(nanosleep, "nanosleep", kSystemCall, int, (const struct timespec* t, struct timespec* r), (t, r))           \
  X(usleep, "usleep", kSystemCall, int, (useconds_t us), (us))                                                  \
  X(schedYield, "sched_yield", kSystemCall, int, (), ())                                                        \
  X(fopen, "fopen", kSystemCall, FILE*, (const char* f, const char* m), (f, m))                                 \
  X(fopen64, "fopen64", kSystemCall, FILE*, (const char* f, const char* m), (f, m))                             \
  X(fwrite, "fwrite", kSystemCall, size_t, (const void* p, size_t s, size_t n, FILE* f), (p, s, n, f))          \
  X(fputs, "fputs", kSystemCall, int, (const char* s, FILE* f), (s, f))                                         \
  X(fputc, "fputc", kSystemCall, int, (int c, FILE* f), (c, f))                                                 \
  X(puts, "puts", kSystemCall, int, (const char* s), (s))                                                       \
  X(putchar, "putchar", kSystemCall, int, (int c), (c))                                                         \
  X(vprintf, "vprintf", kSystemCall, int, (const char* f, va_list a), (f, a))                                   \
  X(vfprintf, "vfprintf", kSystemCall, int, (FILE* s, const char* f, va_list a), (s, f, a))

// printf and friends take variable arguments: their hooks hand over to the
// va_list form.
#define VSTRUN_VARIADIC(X) X(printf) X(fprintf) X(printfChk) X(fprintfChk)

enum Function {
#define VSTRUN_ENUM(id, ...) k_##id,
  VSTRUN_WATCHED(VSTRUN_ENUM)
#undef VSTRUN_ENUM
#define VSTRUN_ENUM(id) k_##id,
  VSTRUN_VARIADIC(VSTRUN_ENUM)
#undef VSTRUN_ENUM
  kFunctions
};

void* gReal[kFunctions];

#define VSTRUN_HOOK(id, name, kind, ret, params, args)                  \
  ret hook_##id params {                                                \
    note(kind, name, __builtin_return_address(0));                      \
    return reinterpret_cast<ret(*) params>(gReal[k_##id]) args;         \
  }
VSTRUN_WATCHED(VSTRUN_HOOK)
#undef VSTRUN_HOOK

int hook_printf(const char* f, ...) {
  note(kSystemCall, "printf", __builtin_return_address(0));
  va_list a;
  va_start(a, f);
  const int r = reinterpret_cast<int (*)(const char*, va_list)>(gReal[k_printf])(f, a);
  va_end(a);
  return r;
}
int hook_fprintf(FILE* s, const char* f, ...) {
  note(kSystemCall, "fprintf", __builtin_return_address(0));
  va_list a;
  va_start(a, f);
  const int r = reinterpret_cast<int (*)(FILE*, const char*, va_list)>(gReal[k_fprintf])(s, f, a);
  va_end(a);
  return r;
}
int hook_printfChk(int flag, const char* f, ...) {
  note(kSystemCall, "__printf_chk", __builtin_return_address(0));
  va_list a;
  va_start(a, f);
  const int r = reinterpret_cast<int (*)(int, const char*, va_list)>(gReal[k_printfChk])(flag, f, a);
  va_end(a);
  return r;
}
int hook_fprintfChk(FILE* s, int flag, const char* f, ...) {
  note(kSystemCall, "__fprintf_chk", __builtin_return_address(0));
  va_list a;
  va_start(a, f);
  const int r = reinterpret_cast<int (*)(FILE*, int, const char*, va_list)>(gReal[k_fprintfChk])(s, flag, f, a);
  va_end(a);
  return r;
}

struct Watched {
  const char* name;
  const char* forwardTo;  // the function the hook calls, when not name
  void* hook;
};

const Watched kWatched[kFunctions] = {
#define VSTRUN_ENTRY(id, name, ...) {name, nullptr, reinterpret_cast<void*>(&hook_##id)},
    VSTRUN_WATCHED(VSTRUN_ENTRY)
#undef VSTRUN_ENTRY
    {"printf", "vprintf", reinterpret_cast<void*>(&hook_printf)},
    {"fprintf", "vfprintf", reinterpret_cast<void*>(&hook_fprintf)},
    {"__printf_chk", "__vprintf_chk", reinterpret_cast<void*>(&hook_printfChk)},
    {"__fprintf_chk", "__vfprintf_chk", reinterpret_cast<void*>(&hook_fprintfChk)},
};

int watchedIndex(const char* name) {
  for (int f = 0; f < kFunctions; ++f)
    if (std::strcmp(kWatched[f].name, name) == 0) return f;
  return -1;
}

// The hook for a slot of the module, with the function it stands for found
// as the module would find it; null when it cannot be found.
void* hookFor(int f, void* module) {
  const char* target = kWatched[f].forwardTo ? kWatched[f].forwardTo : kWatched[f].name;
  void* real = dlsym(RTLD_DEFAULT, target);
  if (!real && module) real = dlsym(module, target);
  if (!real || (gReal[f] && gReal[f] != real)) return nullptr;
  gReal[f] = real;
  return kWatched[f].hook;
}

void writeSlot(void** slot, void* value) {
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t start = reinterpret_cast<uintptr_t>(slot) & ~(page - 1);
  // The slot may lie in the read-only part after relocation; this process
  // ends with the check, so the page stays writable.
  if (mprotect(reinterpret_cast<void*>(start), page, PROT_READ | PROT_WRITE) != 0) return;
  *slot = value;
}

#if defined(__x86_64__)
using Reloc = ElfW(Rela);
constexpr ElfW(Sxword) kRelocTable = DT_RELA, kRelocSize = DT_RELASZ;
inline unsigned relocType(const Reloc& r) { return ELF64_R_TYPE(r.r_info); }
inline unsigned relocSymbol(const Reloc& r) { return ELF64_R_SYM(r.r_info); }
constexpr unsigned kJumpSlot = R_X86_64_JUMP_SLOT, kGlobalData = R_X86_64_GLOB_DAT;
#else
using Reloc = ElfW(Rel);
constexpr ElfW(Sxword) kRelocTable = DT_REL, kRelocSize = DT_RELSZ;
inline unsigned relocType(const Reloc& r) { return ELF32_R_TYPE(r.r_info); }
inline unsigned relocSymbol(const Reloc& r) { return ELF32_R_SYM(r.r_info); }
constexpr unsigned kJumpSlot = R_386_JMP_SLOT, kGlobalData = R_386_GLOB_DAT;
#endif

// The libraries modules named as needed, from patchModule.
std::vector<std::string> gNeeded;

// Points the module's slots of watched functions at the hooks; notes the
// libraries it needs.
void patchModule(const dl_phdr_info& info) {
  const ElfW(Addr) base = info.dlpi_addr;
  const ElfW(Dyn)* dynamic = nullptr;
  for (int i = 0; i < info.dlpi_phnum; ++i)
    if (info.dlpi_phdr[i].p_type == PT_DYNAMIC)
      dynamic = reinterpret_cast<const ElfW(Dyn)*>(base + info.dlpi_phdr[i].p_vaddr);
  if (!dynamic) return;
  // The loader has made these addresses absolute, where it may; an offset
  // below the base is still relative.
  auto address = [base](ElfW(Addr) a) { return a < base ? base + a : a; };
  const ElfW(Sym)* symbols = nullptr;
  const char* strings = nullptr;
  const Reloc *plt = nullptr, *data = nullptr;
  size_t pltSize = 0, dataSize = 0;
  for (const ElfW(Dyn)* d = dynamic; d->d_tag != DT_NULL; ++d) {
    if (d->d_tag == DT_SYMTAB) symbols = reinterpret_cast<const ElfW(Sym)*>(address(d->d_un.d_ptr));
    else if (d->d_tag == DT_STRTAB) strings = reinterpret_cast<const char*>(address(d->d_un.d_ptr));
    else if (d->d_tag == DT_JMPREL) plt = reinterpret_cast<const Reloc*>(address(d->d_un.d_ptr));
    else if (d->d_tag == DT_PLTRELSZ) pltSize = d->d_un.d_val;
    else if (d->d_tag == kRelocTable) data = reinterpret_cast<const Reloc*>(address(d->d_un.d_ptr));
    else if (d->d_tag == kRelocSize) dataSize = d->d_un.d_val;
  }
  if (!symbols || !strings) return;
  for (const ElfW(Dyn)* d = dynamic; d->d_tag != DT_NULL; ++d)
    if (d->d_tag == DT_NEEDED) gNeeded.push_back(strings + d->d_un.d_val);
  void* handle = info.dlpi_name && *info.dlpi_name ? dlopen(info.dlpi_name, RTLD_LAZY | RTLD_NOLOAD) : nullptr;
  auto patch = [&](const Reloc* table, size_t bytes) {
    for (size_t i = 0; table && i < bytes / sizeof(Reloc); ++i) {
      const Reloc& r = table[i];
      if (relocType(r) != kJumpSlot && relocType(r) != kGlobalData) continue;
      const ElfW(Sym)& s = symbols[relocSymbol(r)];
      if (s.st_shndx != SHN_UNDEF) continue;  // the module's own definition
      const int f = watchedIndex(strings + s.st_name);
      if (f < 0) continue;
      if (void* hook = hookFor(f, handle)) writeSlot(reinterpret_cast<void**>(base + r.r_offset), hook);
    }
  };
  patch(plt, pltSize);
  patch(data, dataSize);
  if (handle) dlclose(handle);
}

std::vector<std::string> gBefore, gPatched;
bool gBegun = false;

std::vector<std::string> loadedModules() {
  std::vector<std::string> names;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        static_cast<std::vector<std::string>*>(out)->push_back(info->dlpi_name ? info->dlpi_name : "");
        return 0;
      },
      &names);
  return names;
}

bool contains(const std::vector<std::string>& list, const std::string& s) {
  for (const std::string& x : list)
    if (x == s) return true;
  return false;
}

// Whether a module is to be watched: one that came with the plug-in, or a
// library that one of those needs (the C++ runtime, the C library) though
// vstrun had it loaded already; never vstrun itself nor the loader.
bool wanted(const std::string& path) {
  if (path.empty() || contains(gPatched, path)) return false;
  if (!contains(gBefore, path)) return true;
  const std::string base = path.substr(path.rfind('/') + 1);
  return base.rfind("ld-linux", 0) != 0 && base.rfind("linux-vdso", 0) != 0 && contains(gNeeded, base);
}

// Patches the wanted modules; true when it patched one.
bool patchWanted() {
  bool any = false;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* any) {
        const std::string path = info->dlpi_name ? info->dlpi_name : "";
        if (!wanted(path)) return 0;
        gPatched.push_back(path);
        patchModule(*info);
        *static_cast<bool*>(any) = true;
        return 0;
      },
      &any);
  return any;
}

}  // namespace

namespace validate::rt {
bool available() { return true; }
void begin() {
  gBefore = loadedModules();
  gBegun = true;
}
void watch() {
  if (!gBegun) return;
  while (patchWanted()) {
  }
}
void setAudioThread(bool on) {
  gAudioThread = pthread_self();
  gWatching = on;
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
  Dl_info info{};
  if (gFirstCaller && dladdr(gFirstCaller, &info) && info.dli_fname)
    return std::string(gFirst) + " called from " + info.dli_fname +
           (info.dli_sname ? std::string(" (") + info.dli_sname + ")" : std::string());
  return gFirst;
}
}  // namespace validate::rt

#elif !defined(_WIN32)

namespace validate::rt {
bool available() { return false; }
void begin() {}
void watch() {}
void setAudioThread(bool) {}
void reset() {}
long allocations() { return 0; }
long locks() { return 0; }
long systemCalls() { return 0; }
std::string first() { return ""; }
}  // namespace validate::rt

#endif
