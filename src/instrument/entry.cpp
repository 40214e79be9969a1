// The module's one door: hosts call it (as "main", or "VSTPluginMain" on
// newer hosts) once for every instance they want. What the module does when
// it is loaded lives here too, so it belongs to the module alone and not to
// every program linked with the framework.
#include "host/DFloatEnv.h"
#include "instrument/uPlugin.h"

namespace {

AEffect* makeInstance(audioMasterCallback audioMaster) noexcept {
  try {
    return createEffectInstance(audioMaster);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

extern "C" {

#if defined(_WIN32)
int __stdcall DllMain(void* instance, unsigned long reason, void* reserved) {
  (void)instance;
  (void)reserved;
  if (reason == 1 /* process attach */) applyModuleControlWord();
  return 1;
}

// Exported through the module definition file only.
VST_ENTRY_ALIGN AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster) {
  return makeInstance(audioMaster);
}
#else
__attribute__((constructor)) static void vantorelModuleLoad() { applyModuleControlWord(); }

__attribute__((visibility("default"))) VST_ENTRY_ALIGN AEffect* VSTPluginMain(audioMasterCallback audioMaster) {
  return makeInstance(audioMaster);
}
// C++ reserves the name main for the program entry, so the symbol gets it by label.
__attribute__((visibility("default"))) AEffect* vstMainEntry(audioMasterCallback audioMaster) __asm__("main")
    __attribute__((alias("VSTPluginMain")));
#endif

}  // extern "C"
