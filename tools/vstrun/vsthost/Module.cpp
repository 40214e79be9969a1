#include "vsthost/Module.h"

#include "vsthost/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vsthost {

namespace {

#ifdef _WIN32
std::string lastErrorText() {
  const DWORD code = GetLastError();
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = n && text ? std::string(text, n) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
    result.pop_back();
  return result;
}

void* openLibrary(const std::string& path, std::string* error) {
  std::string native = path;
  std::replace(native.begin(), native.end(), '/', '\\');
  const std::wstring wide = widen(native);
  // A full path, so that LoadLibrary never searches PATH for a bare name.
  std::wstring full(32768, L'\0');
  const DWORD len = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
  if (len > 0 && len < full.size()) full.resize(len); else full = wide;
  // No error boxes from the loader: a bad file is reported on stderr.
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE h = LoadLibraryW(full.c_str());
  if (!h && error)
    *error = path + ": not a module this program can load (" + lastErrorText() + ")";
  SetErrorMode(oldMode);
  return reinterpret_cast<void*>(h);
}

void* findSymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void closeLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* openLibrary(const std::string& path, std::string* error) {
  // A name without a slash would be searched for in the library path.
  const std::string name = path.find('/') == std::string::npos ? "./" + path : path;
  void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h && error) {
    const char* why = dlerror();
    std::string reason = why ? why : "unknown reason";
    // dlerror repeats the path; keep only what follows it.
    const std::string prefix = name + ": ";
    if (reason.compare(0, prefix.size(), prefix) == 0) reason.erase(0, prefix.size());
    *error = path + ": not a module this program can load (" + reason + ")";
  }
  return h;
}

// dlsym on the module's own handle searches the module and its dependencies,
// never the host program, so "main" cannot find the host's own main.
void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }

void closeLibrary(void* handle) { dlclose(handle); }
#endif

}  // namespace

std::unique_ptr<Module> Module::load(const std::string& path, std::string* error) {
  // The loaders' own messages for a missing file are vague; say it plainly.
  if (std::FILE* f = openFile(path, "rb")) {
    std::fclose(f);
  } else {
    if (error) *error = path + ": " + (errno == ENOENT ? std::string("no such file") : std::strerror(errno));
    return nullptr;
  }
  void* handle = openLibrary(path, error);
  if (!handle) return nullptr;
  std::unique_ptr<Module> module(new Module(path, handle));
  for (const char* name : {"VSTPluginMain", "main"}) {
    if (void* fn = module->symbol(name)) {
      module->entry_ = reinterpret_cast<PluginEntryProc>(fn);
      module->entryName_ = name;
      return module;
    }
  }
  if (error) *error = path + ": not a VST 2 plug-in (exports neither VSTPluginMain nor main)";
  return nullptr;
}

Module::Module(std::string path, void* handle) : path_(std::move(path)), handle_(handle) {}

Module::~Module() {
  if (handle_) closeLibrary(handle_);
}

void* Module::symbol(const char* name) const { return findSymbol(handle_, name); }

}  // namespace vsthost
