// Loading a VST 2 module (.dll or .so) and finding its entry function.
// Used by vstrun and by the integration tests; knows nothing of Vantorel.
#pragma once

#include <memory>
#include <string>

#include "host/DAEffect.h"

namespace vsthost {

// What a module exports: takes the host's callback, returns a new instance's
// record (or null when the plug-in declines, e.g. for a host too old).
typedef AEffect*(VSTCALLBACK* PluginEntryProc)(audioMasterCallback host);

class Module {
 public:
  // Loads the module at path. Forward slashes are fine on Windows too.
  // Returns null when the file does not load or exports neither
  // VSTPluginMain nor main, with the reason in *error when given.
  static std::unique_ptr<Module> load(const std::string& path, std::string* error = nullptr);

  // Unloads the module: close every instance (effClose) before.
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  const std::string& path() const { return path_; }

  // The entry a host calls: VSTPluginMain when exported, else main.
  PluginEntryProc entry() const { return entry_; }
  const char* entryName() const { return entryName_; }

  // Any exported symbol by name, or null.
  void* symbol(const char* name) const;

  // Calls the entry function once: one new instance, or null.
  AEffect* instantiate(audioMasterCallback host) const { return entry_(host); }

 private:
  Module(std::string path, void* handle);

  std::string path_;
  void* handle_ = nullptr;
  PluginEntryProc entry_ = nullptr;
  const char* entryName_ = "";
};

}  // namespace vsthost
