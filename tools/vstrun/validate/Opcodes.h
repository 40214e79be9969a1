// Facts about the dispatcher's opcodes the checks need: names for the
// report, the conventional text lengths, and the opcodes past those the
// plug-in framework names.
#pragma once

#include <cstddef>

#include "host/DAEffectX.h"

namespace validate {

enum : VstInt32 {
  effGetSpeakerArrangement = 69,
  effShellGetNextPlugin = 70,
  effSetTotalSampleToProcess = 73,
  effSetPanLaw = 74,
  effBeginLoadBank = 75,
  effBeginLoadProgram = 76,
  effSetProcessPrecision = 77,
  effGetNumMidiInputChannels = 78,
  effGetNumMidiOutputChannels = 79,
  kFirstUndefinedOpcode = 80,
};

// Conventional text lengths (without the terminator) by opcode; 0 for
// opcodes that write no text.
size_t conventionalTextLength(VstInt32 opcode);

const char* opcodeName(VstInt32 opcode);

}  // namespace validate
