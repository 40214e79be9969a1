// The binary record a VST 2 host drives, the base opcodes, flag bits and the
// editor rectangle. 32-bit builds lay the record out in exactly 144 bytes;
// 64-bit builds follow the 64-bit interface (192 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/DVstTypes.h"

#if defined(_WIN32) && !defined(_WIN64)
#define VSTCALLBACK __cdecl
#else
#define VSTCALLBACK
#endif

// Hosts built with other compilers call 32-bit entry points with a stack
// aligned to only 4 bytes; realign on entry so SSE spills stay safe.
#if defined(__i386__)
#define VST_ENTRY_ALIGN __attribute__((force_align_arg_pointer))
#else
#define VST_ENTRY_ALIGN
#endif

struct AEffect;

typedef VstIntPtr(VSTCALLBACK* audioMasterCallback)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                    VstIntPtr value, void* ptr, float opt);
typedef VstIntPtr(VSTCALLBACK* AEffectDispatcherProc)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                      VstIntPtr value, void* ptr, float opt);
typedef void(VSTCALLBACK* AEffectProcessProc)(AEffect* effect, float** inputs, float** outputs,
                                              VstInt32 sampleFrames);
typedef void(VSTCALLBACK* AEffectSetParameterProc)(AEffect* effect, VstInt32 index, float parameter);
typedef float(VSTCALLBACK* AEffectGetParameterProc)(AEffect* effect, VstInt32 index);

constexpr VstInt32 kEffectMagic = fourCharCode('V', 's', 't', 'P');

struct AEffect {
  VstInt32 magic;
  AEffectDispatcherProc dispatcher;
  AEffectProcessProc process;
  AEffectSetParameterProc setParameter;
  AEffectGetParameterProc getParameter;
  VstInt32 numPrograms;
  VstInt32 numParams;
  VstInt32 numInputs;
  VstInt32 numOutputs;
  VstInt32 flags;
  VstIntPtr resvd1;
  VstIntPtr resvd2;
  VstInt32 initialDelay;
  VstInt32 realQualities;
  VstInt32 offQualities;
  VstInt32 ioRatio;  // the integer 1, not a float
  void* object;
  void* user;
  VstInt32 uniqueID;
  VstInt32 version;
  AEffectProcessProc processReplacing;
  char future[sizeof(void*) == 4 ? 60 : 64];
};

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(AEffect) == 0x90, "32-bit record is 144 bytes");
static_assert(offsetof(AEffect, magic) == 0x00, "");
static_assert(offsetof(AEffect, dispatcher) == 0x04, "");
static_assert(offsetof(AEffect, process) == 0x08, "");
static_assert(offsetof(AEffect, setParameter) == 0x0C, "");
static_assert(offsetof(AEffect, getParameter) == 0x10, "");
static_assert(offsetof(AEffect, numPrograms) == 0x14, "");
static_assert(offsetof(AEffect, numParams) == 0x18, "");
static_assert(offsetof(AEffect, numInputs) == 0x1C, "");
static_assert(offsetof(AEffect, numOutputs) == 0x20, "");
static_assert(offsetof(AEffect, flags) == 0x24, "");
static_assert(offsetof(AEffect, resvd1) == 0x28, "");
static_assert(offsetof(AEffect, resvd2) == 0x2C, "");
static_assert(offsetof(AEffect, initialDelay) == 0x30, "");
static_assert(offsetof(AEffect, realQualities) == 0x34, "");
static_assert(offsetof(AEffect, offQualities) == 0x38, "");
static_assert(offsetof(AEffect, ioRatio) == 0x3C, "");
static_assert(offsetof(AEffect, object) == 0x40, "");
static_assert(offsetof(AEffect, user) == 0x44, "");
static_assert(offsetof(AEffect, uniqueID) == 0x48, "");
static_assert(offsetof(AEffect, version) == 0x4C, "");
static_assert(offsetof(AEffect, processReplacing) == 0x50, "");
static_assert(offsetof(AEffect, future) == 0x54, "");
#else
static_assert(sizeof(AEffect) == 192, "64-bit record is 192 bytes");
static_assert(offsetof(AEffect, dispatcher) == 8, "");
static_assert(offsetof(AEffect, numPrograms) == 40, "");
static_assert(offsetof(AEffect, flags) == 56, "");
static_assert(offsetof(AEffect, resvd1) == 64, "");
static_assert(offsetof(AEffect, resvd2) == 72, "");
static_assert(offsetof(AEffect, initialDelay) == 80, "");
static_assert(offsetof(AEffect, ioRatio) == 92, "");
static_assert(offsetof(AEffect, object) == 96, "");
static_assert(offsetof(AEffect, user) == 104, "");
static_assert(offsetof(AEffect, uniqueID) == 112, "");
static_assert(offsetof(AEffect, version) == 116, "");
static_assert(offsetof(AEffect, processReplacing) == 120, "");
static_assert(offsetof(AEffect, future) == 128, "");
#endif

enum : VstInt32 {
  effFlagsHasEditor = 1,
  effFlagsHasClip = 2,
  effFlagsHasVu = 4,
  effFlagsCanMono = 8,
  effFlagsCanReplacing = 16,
  effFlagsProgramChunks = 32,
};

enum : VstInt32 {
  effOpen = 0,
  effClose,
  effSetProgram,
  effGetProgram,
  effSetProgramName,
  effGetProgramName,
  effGetParamLabel,
  effGetParamDisplay,
  effGetParamName,
  effGetVu,
  effSetSampleRate,
  effSetBlockSize,
  effMainsChanged,
  effEditGetRect,
  effEditOpen,
  effEditClose,
  effEditDraw,
  effEditMouse,
  effEditKey,
  effEditIdle,
  effEditTop,
  effEditSleep,
  effIdentify,
  effGetChunk,
  effSetChunk,
  effNumOpcodes
};

enum : VstInt32 {
  audioMasterAutomate = 0,
  audioMasterVersion,
  audioMasterCurrentId,
  audioMasterIdle,
  audioMasterPinConnected,
};

// Editor rectangle: four 16-bit signed integers.
struct ERect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};
static_assert(sizeof(ERect) == 8, "ERect is 8 bytes");
