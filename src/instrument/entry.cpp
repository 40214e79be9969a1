// The module's one door: hosts call it (as "main", or "VSTPluginMain" on
// newer hosts) once for every instance they want.
#include "host/DFloatEnv.h"
#include "instrument/uPlugin.h"

extern "C" {

#if defined(_WIN32)
// Exported through the module definition file only.
VST_ENTRY_ALIGN AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster) {
  return createEffectInstance(audioMaster);
}
#else
__attribute__((visibility("default"))) VST_ENTRY_ALIGN AEffect* VSTPluginMain(audioMasterCallback audioMaster) {
  return createEffectInstance(audioMaster);
}
// C++ reserves the name main for the program entry, so the symbol gets it by label.
__attribute__((visibility("default"))) AEffect* vstMainEntry(audioMasterCallback audioMaster) __asm__("main")
    __attribute__((alias("VSTPluginMain")));
#endif

}  // extern "C"
