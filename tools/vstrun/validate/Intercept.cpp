// The audio-thread watch on Linux: the relocation slots (GOT) through which
// the plug-in's module, every module that came with it and the libraries
// those need (vstrun's own excepted) call the watched functions are pointed
// at the hooks, each slot keeping the symbol version it was bound to.
// Libraries the plug-in opens later with dlopen are watched as they come.
#include "validate/Intercept.h"

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

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace validate::rt::detail;

// The watched functions: an identifier, the symbol, what a call counts as,
// and the signature. operator new and delete by their mangled names, for
// 64-bit (m) and 32-bit (j) size_t.
#define VSTRUN_WATCHED(X)                                                                                         \
  X(malloc, "malloc", kAllocation, void*, , (size_t n), (n))                                                      \
  X(calloc, "calloc", kAllocation, void*, , (size_t n, size_t s), (n, s))                                         \
  X(realloc, "realloc", kAllocation, void*, , (void* p, size_t n), (p, n))                                        \
  X(free, "free", kAllocation, void, , (void* p), (p))                                                            \
  X(posixMemalign, "posix_memalign", kAllocation, int, , (void** p, size_t a, size_t n), (p, a, n))               \
  X(alignedAlloc, "aligned_alloc", kAllocation, void*, , (size_t a, size_t n), (a, n))                            \
  X(memalign, "memalign", kAllocation, void*, , (size_t a, size_t n), (a, n))                                     \
  X(new64, "_Znwm", kAllocation, void*, , (size_t n), (n))                                                        \
  X(newArray64, "_Znam", kAllocation, void*, , (size_t n), (n))                                                   \
  X(new32, "_Znwj", kAllocation, void*, , (size_t n), (n))                                                        \
  X(newArray32, "_Znaj", kAllocation, void*, , (size_t n), (n))                                                   \
  X(deletePlain, "_ZdlPv", kAllocation, void, , (void* p), (p))                                                   \
  X(deleteArray, "_ZdaPv", kAllocation, void, , (void* p), (p))                                                   \
  X(deleteSized64, "_ZdlPvm", kAllocation, void, , (void* p, size_t n), (p, n))                                   \
  X(deleteSized32, "_ZdlPvj", kAllocation, void, , (void* p, size_t n), (p, n))                                   \
  X(mutexLock, "pthread_mutex_lock", kLock, int, , (pthread_mutex_t * m), (m))                                    \
  X(mutexTimedLock, "pthread_mutex_timedlock", kLock, int, , (pthread_mutex_t * m, const timespec* t), (m, t))     \
  X(rwlockRead, "pthread_rwlock_rdlock", kLock, int, , (pthread_rwlock_t * l), (l))                               \
  X(rwlockWrite, "pthread_rwlock_wrlock", kLock, int, , (pthread_rwlock_t * l), (l))                              \
  X(condWait, "pthread_cond_wait", kLock, int, , (pthread_cond_t * c, pthread_mutex_t * m), (c, m))               \
  X(condTimedWait, "pthread_cond_timedwait", kLock, int, , (pthread_cond_t * c, pthread_mutex_t * m,              \
    const timespec* t), (c, m, t))                                                                                \
  X(semWait, "sem_wait", kLock, int, , (sem_t * s), (s))                                                          \
  X(semTimedWait, "sem_timedwait", kLock, int, , (sem_t * s, const timespec* t), (s, t))                          \
  X(join, "pthread_join", kLock, int, , (pthread_t t, void** r), (t, r))                                          \
  X(write, "write", kSystemCall, ssize_t, , (int fd, const void* p, size_t n), (fd, p, n))                        \
  X(read, "read", kSystemCall, ssize_t, , (int fd, void* p, size_t n), (fd, p, n))                                \
  X(nanosleep, "nanosleep", kSystemCall, int, , (const timespec* t, timespec* r), (t, r))                         \
  X(usleep, "usleep", kSystemCall, int, , (useconds_t us), (us))                                                  \
  X(schedYield, "sched_yield", kSystemCall, int, , (), ())                                                        \
  X(fopen, "fopen", kSystemCall, FILE*, , (const char* f, const char* m), (f, m))                                 \
  X(fopen64, "fopen64", kSystemCall, FILE*, , (const char* f, const char* m), (f, m))                             \
  X(fwrite, "fwrite", kSystemCall, size_t, , (const void* p, size_t s, size_t n, FILE* f), (p, s, n, f))          \
  X(fputs, "fputs", kSystemCall, int, , (const char* s, FILE* f), (s, f))                                         \
  X(fputc, "fputc", kSystemCall, int, , (int c, FILE* f), (c, f))                                                 \
  X(puts, "puts", kSystemCall, int, , (const char* s), (s))                                                       \
  X(putchar, "putchar", kSystemCall, int, , (int c), (c))                                                         \
  X(vprintf, "vprintf", kSystemCall, int, , (const char* f, va_list a), (f, a))                                   \
  X(vfprintf, "vfprintf", kSystemCall, int, , (FILE* s, const char* f, va_list a), (s, f, a))

#define VSTRUN_LOADERS(X) X(dlopen, "dlopen", kSystemCall, void*, , (const char* f, int flags), (f, flags))

// printf and friends take variable arguments: their hooks hand over to the
// va_list form.
#define VSTRUN_VARIADIC(X) X(printf) X(fprintf) X(printfChk) X(fprintfChk)

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

#define VSTRUN_FORWARD(S, id, ...) reinterpret_cast<int (*)(__VA_ARGS__)>(gForward[S][k_##id])
template <int S>
int hook_printf(const char* f, ...) {
  count(kSystemCall, "printf", gNote[S][k_printf], __builtin_return_address(0));
  va_list a;
  va_start(a, f);
  const int r = VSTRUN_FORWARD(S, printf, const char*, va_list)(f, a);
  va_end(a);
  return r;
}
template <int S>
int hook_fprintf(FILE* s, const char* f, ...) {
  count(kSystemCall, "fprintf", gNote[S][k_fprintf], __builtin_return_address(0));
  va_list a;
  va_start(a, f);
  const int r = VSTRUN_FORWARD(S, fprintf, FILE*, const char*, va_list)(s, f, a);
  va_end(a);
  return r;
}
template <int S>
int hook_printfChk(int flag, const char* f, ...) {
  count(kSystemCall, "__printf_chk", gNote[S][k_printfChk], __builtin_return_address(0));
  va_list a;
  va_start(a, f);
  const int r = VSTRUN_FORWARD(S, printfChk, int, const char*, va_list)(flag, f, a);
  va_end(a);
  return r;
}
template <int S>
int hook_fprintfChk(FILE* s, int flag, const char* f, ...) {
  count(kSystemCall, "__fprintf_chk", gNote[S][k_fprintfChk], __builtin_return_address(0));
  va_list a;
  va_start(a, f);
  const int r = VSTRUN_FORWARD(S, fprintfChk, FILE*, int, const char*, va_list)(s, flag, f, a);
  va_end(a);
  return r;
}
#undef VSTRUN_FORWARD

struct Watched {
  const char* name;
  const char* forwardTo;  // the function the hook calls, when not name
  void* hooks[kCopies];
};

const Watched kWatched[kFunctions] = {
#define VSTRUN_ENTRY(id, name, ...) {name, nullptr, VSTRUN_HOOK_COPIES(hook_##id)},
    VSTRUN_WATCHED(VSTRUN_ENTRY) VSTRUN_LOADERS(VSTRUN_ENTRY)
#undef VSTRUN_ENTRY
    {"printf", "vprintf", VSTRUN_HOOK_COPIES(hook_printf)},
    {"fprintf", "vfprintf", VSTRUN_HOOK_COPIES(hook_fprintf)},
    {"__printf_chk", "__vprintf_chk", VSTRUN_HOOK_COPIES(hook_printfChk)},
    {"__fprintf_chk", "__vfprintf_chk", VSTRUN_HOOK_COPIES(hook_fprintfChk)},
};

int watchedIndex(const char* name) {
  for (int f = 0; f < kFunctions; ++f)
    if (std::strcmp(kWatched[f].name, name) == 0) return f;
  return -1;
}

// A symbol as the module finds it: in the global scope first, then in the
// module's own; of the given version, or the default one.
void* lookup(const char* name, const char* version, void* handle) {
  void* found = version ? dlvsym(RTLD_DEFAULT, name, version) : dlsym(RTLD_DEFAULT, name);
  if (!found && handle) found = version ? dlvsym(handle, name, version) : dlsym(handle, name);
  return found;
}

// The hook for a slot bound to function f of the given version; null (and
// why) when it cannot have one.
void* hookFor(int f, const char* version, void* handle, const char** why) {
  const char* name = kWatched[f].name;
  void* real = lookup(name, version, handle);
  if (!real) {
    *why = "the function it names is not found";
    return nullptr;
  }
  void* forward = real;
  if (kWatched[f].forwardTo) {
    forward = lookup(kWatched[f].forwardTo, version, handle);
    if (!forward) forward = lookup(kWatched[f].forwardTo, nullptr, handle);
    if (!forward) {
      *why = "no va_list form to hand over to";
      return nullptr;
    }
  }
  // Told only when the slot is bound to another version than the default.
  const char* note = version && real != lookup(name, nullptr, handle) ? version : nullptr;
  const int copy = copyFor(f, real, forward, note);
  if (copy < 0) {
    *why = "every copy of its hook serves another function";
    return nullptr;
  }
  return kWatched[f].hooks[copy];
}

// The protection of every mapping of this process, for putting a page back
// as it was after a slot in it is written.
struct Mapping {
  uintptr_t from, to;
  int protection;
};

std::vector<Mapping> readMappings() {
  std::vector<Mapping> maps;
  std::FILE* f = std::fopen("/proc/self/maps", "r");
  if (!f) return maps;
  char line[512];
  while (std::fgets(line, sizeof line, f)) {
    unsigned long long from = 0, to = 0;
    char perms[8] = "";
    if (std::sscanf(line, "%llx-%llx %7s", &from, &to, perms) != 3) continue;
    const int p = (perms[0] == 'r' ? PROT_READ : 0) | (perms[1] == 'w' ? PROT_WRITE : 0) |
                  (perms[2] == 'x' ? PROT_EXEC : 0);
    maps.push_back({static_cast<uintptr_t>(from), static_cast<uintptr_t>(to), p});
  }
  std::fclose(f);
  return maps;
}

// Writes a slot; its page keeps its protection (execute rights too) but
// for the moment of the write. An empty answer when it worked, else why not.
std::string writeSlot(void** slot, void* value, const std::vector<Mapping>& maps) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(slot);
  int protection = -1;
  for (const Mapping& m : maps)
    if (at >= m.from && at < m.to) protection = m.protection;
  if (protection < 0) return "its page is not mapped";
  const uintptr_t size = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  void* page = reinterpret_cast<void*>(at & ~(size - 1));
  if (!(protection & PROT_WRITE) && mprotect(page, size, protection | PROT_WRITE) != 0)
    return std::string("its page cannot be made writable: ") + std::strerror(errno);
  __atomic_store_n(slot, value, __ATOMIC_SEQ_CST);
  if (!(protection & PROT_WRITE)) mprotect(page, size, protection);
  return "";
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

// What a module's dynamic section says about its imports.
struct Imports {
  const ElfW(Sym)* symbols = nullptr;
  const char* strings = nullptr;
  const Reloc *plt = nullptr, *data = nullptr;
  size_t pltSize = 0, dataSize = 0;
  const ElfW(Half)* versions = nullptr;  // per symbol, an index into the needed versions
  const ElfW(Verneed)* needed = nullptr;
  size_t neededCount = 0;

  // The version a symbol was bound to ("GLIBC_2.2.5"), or null.
  const char* versionOf(size_t symbol) const {
    if (!versions || !needed) return nullptr;
    const ElfW(Half) index = versions[symbol] & 0x7fff;
    if (index < 2) return nullptr;  // local or unversioned
    const ElfW(Verneed)* n = needed;
    for (size_t i = 0; i < neededCount; ++i) {
      auto* a = reinterpret_cast<const ElfW(Vernaux)*>(reinterpret_cast<const char*>(n) + n->vn_aux);
      for (unsigned j = 0; j < n->vn_cnt; ++j) {
        if (a->vna_other == index) return strings + a->vna_name;
        a = reinterpret_cast<const ElfW(Vernaux)*>(reinterpret_cast<const char*>(a) + a->vna_next);
      }
      n = reinterpret_cast<const ElfW(Verneed)*>(reinterpret_cast<const char*>(n) + n->vn_next);
    }
    return nullptr;
  }
};

// The libraries modules named as needed, from patchModule.
std::vector<std::string> gNeeded;

// Points the module's slots of watched functions at the hooks; notes the
// libraries it needs.
void patchModule(const dl_phdr_info& info, const std::vector<Mapping>& maps) {
  const ElfW(Addr) base = info.dlpi_addr;
  const ElfW(Dyn)* dynamic = nullptr;
  for (int i = 0; i < info.dlpi_phnum; ++i)
    if (info.dlpi_phdr[i].p_type == PT_DYNAMIC)
      dynamic = reinterpret_cast<const ElfW(Dyn)*>(base + info.dlpi_phdr[i].p_vaddr);
  if (!dynamic) return;
  // The loader has made these addresses absolute, where it may; an offset
  // below the base is still relative.
  auto address = [base](ElfW(Addr) a) { return a < base ? base + a : a; };
  Imports m;
  for (const ElfW(Dyn)* d = dynamic; d->d_tag != DT_NULL; ++d) {
    if (d->d_tag == DT_SYMTAB) m.symbols = reinterpret_cast<const ElfW(Sym)*>(address(d->d_un.d_ptr));
    else if (d->d_tag == DT_STRTAB) m.strings = reinterpret_cast<const char*>(address(d->d_un.d_ptr));
    else if (d->d_tag == DT_JMPREL) m.plt = reinterpret_cast<const Reloc*>(address(d->d_un.d_ptr));
    else if (d->d_tag == DT_PLTRELSZ) m.pltSize = d->d_un.d_val;
    else if (d->d_tag == kRelocTable) m.data = reinterpret_cast<const Reloc*>(address(d->d_un.d_ptr));
    else if (d->d_tag == kRelocSize) m.dataSize = d->d_un.d_val;
    else if (d->d_tag == DT_VERSYM) m.versions = reinterpret_cast<const ElfW(Half)*>(address(d->d_un.d_ptr));
    else if (d->d_tag == DT_VERNEED) m.needed = reinterpret_cast<const ElfW(Verneed)*>(address(d->d_un.d_ptr));
    else if (d->d_tag == DT_VERNEEDNUM) m.neededCount = d->d_un.d_val;
  }
  if (!m.symbols || !m.strings) return;
  for (const ElfW(Dyn)* d = dynamic; d->d_tag != DT_NULL; ++d)
    if (d->d_tag == DT_NEEDED) gNeeded.push_back(m.strings + d->d_un.d_val);
  const std::string file = info.dlpi_name ? info.dlpi_name : "";
  void* handle = file.empty() ? nullptr : dlopen(file.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  auto patch = [&](const Reloc* table, size_t bytes) {
    for (size_t i = 0; table && i < bytes / sizeof(Reloc); ++i) {
      const Reloc& r = table[i];
      if (relocType(r) != kJumpSlot && relocType(r) != kGlobalData) continue;
      const ElfW(Sym)& s = m.symbols[relocSymbol(r)];
      if (s.st_shndx != SHN_UNDEF) continue;  // the module's own definition
      const int f = watchedIndex(m.strings + s.st_name);
      if (f < 0) continue;
      const char* why = "";
      void* hook = hookFor(f, m.versionOf(relocSymbol(r)), handle, &why);
      const std::string failed = hook ? writeSlot(reinterpret_cast<void**>(base + r.r_offset), hook, maps) : why;
      if (!failed.empty()) unwatched(file, kWatched[f].name, failed);
    }
  };
  patch(m.plt, m.pltSize);
  patch(m.data, m.dataSize);
  if (handle) dlclose(handle);
}

std::mutex gPatching;  // watch() and libraries loaded on other threads
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
  struct Pass {
    std::vector<Mapping> maps = readMappings();
    bool any = false;
  } pass;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        Pass& pass = *static_cast<Pass*>(data);
        const std::string path = info->dlpi_name ? info->dlpi_name : "";
        if (!wanted(path)) return 0;
        gPatched.push_back(path);
        patchModule(*info, pass.maps);
        pass.any = true;
        return 0;
      },
      &pass);
  return pass.any;
}

}  // namespace

namespace validate::rt {
bool available() { return true; }
void begin() {
  gBefore = loadedModules();
  gBegun = true;
}
void watch() {
  detail::watchNewcomers();
}
void detail::watchNewcomers() {
  Paused paused;
  std::lock_guard<std::mutex> lock(gPatching);
  if (!gBegun) return;
  while (patchWanted()) {
  }
}
}  // namespace validate::rt

#elif !defined(_WIN32)

namespace validate::rt {
bool available() { return false; }
void begin() {}
void watch() {}
void detail::watchNewcomers() {}
}  // namespace validate::rt

#endif
