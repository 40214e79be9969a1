// The instrument's parameters by the index that hosts, MIDI and the editor
// use for them.
#pragma once

#include "host/DVstTypes.h"

enum PluginParameter : VstInt32 {
  kParamBuffSize = 0,          // "Buff Size": 1.0 records, anything below loops
  kParamVolume = 1,            // "Volume": the output gain is 1.0 - value
  kParamReadThroughSpeed = 2,  // "Read Through Speed": loop read step per sample
  kParamCount = 3
};
