#include "validate/Opcodes.h"

namespace validate {

size_t conventionalTextLength(VstInt32 opcode) {
  switch (opcode) {
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
      return 8;
    case effGetProgramName:
    case effGetProgramNameIndexed:
      return 24;
    case effGetEffectName:
      return 32;
    case effGetVendorString:
    case effGetProductString:
    case effShellGetNextPlugin:
      return 64;
    case effGetErrorText:
      return 256;
    default:
      return 0;
  }
}

const char* opcodeName(VstInt32 op) {
  static const char* const names[] = {
      "effOpen", "effClose", "effSetProgram", "effGetProgram", "effSetProgramName", "effGetProgramName",
      "effGetParamLabel", "effGetParamDisplay", "effGetParamName", "effGetVu", "effSetSampleRate",
      "effSetBlockSize", "effMainsChanged", "effEditGetRect", "effEditOpen", "effEditClose", "effEditDraw",
      "effEditMouse", "effEditKey", "effEditIdle", "effEditTop", "effEditSleep", "effIdentify", "effGetChunk",
      "effSetChunk", "effProcessEvents", "effCanBeAutomated", "effString2Parameter",
      "effGetNumProgramCategories", "effGetProgramNameIndexed", "effCopyProgram", "effConnectInput",
      "effConnectOutput", "effGetInputProperties", "effGetOutputProperties", "effGetPlugCategory",
      "effGetCurrentPosition", "effGetDestinationBuffer", "effOfflineNotify", "effOfflinePrepare",
      "effOfflineRun", "effProcessVarIo", "effSetSpeakerArrangement", "effSetBlockSizeAndSampleRate",
      "effSetBypass", "effGetEffectName", "effGetErrorText", "effGetVendorString", "effGetProductString",
      "effGetVendorVersion", "effVendorSpecific", "effCanDo", "effGetTailSize", "effIdle", "effGetIcon",
      "effSetViewPosition", "effGetParameterProperties", "effKeysRequired", "effGetVstVersion",
      "effEditKeyDown", "effEditKeyUp", "effSetEditKnobMode", "effGetMidiProgramName",
      "effGetCurrentMidiProgram", "effGetMidiProgramCategory", "effHasMidiProgramsChanged",
      "effGetMidiKeyName", "effBeginSetProgram", "effEndSetProgram", "effGetSpeakerArrangement",
      "effShellGetNextPlugin", "effStartProcess", "effStopProcess", "effSetTotalSampleToProcess",
      "effSetPanLaw", "effBeginLoadBank", "effBeginLoadProgram", "effSetProcessPrecision",
      "effGetNumMidiInputChannels", "effGetNumMidiOutputChannels"};
  if (op >= 0 && op < static_cast<VstInt32>(sizeof names / sizeof names[0])) return names[op];
  return "opcode";
}

}  // namespace validate
