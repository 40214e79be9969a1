// One instance of the instrument driven by any sequence of host calls: the
// dispatcher with any opcode and arguments a host could pass, event lists
// of any kind, parameter changes with any float, audio blocks of 0 to 4096 frames
// through either entry, and a host whose tempo answer changes. Besides the
// sanitizers, every text must be terminated inside the buffer and every
// output sample finite. The editor's window is left to the editor's tests.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "host/DAEffectX.h"
#include "instrument/uPlugin.h"

namespace {

VstIntPtr gTempoAnswer = 1200000;

VstIntPtr VSTCALLBACK host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void* ptr, float) {
  switch (opcode) {
    case audioMasterVersion: return 2400;
    case audioMasterTempoAt: return gTempoAnswer;
    case audioMasterGetVendorString:
    case audioMasterGetProductString:
      if (ptr) std::strcpy(static_cast<char*>(ptr), "fuzz");
      return 1;
    default: return 0;
  }
}

constexpr size_t kTextBuffer = 256;  // larger than any text a host expects

bool writesText(VstInt32 op) {
  switch (op) {
    case effGetProgramName: case effGetParamLabel: case effGetParamDisplay: case effGetParamName:
    case effGetProgramNameIndexed: case effGetEffectName: case effGetErrorText: case effGetVendorString:
    case effGetProductString:
      return true;
    default:
      return false;
  }
}

void checkTerminated(const std::vector<char>& buffer) {
  FUZZ_CHECK(std::memchr(buffer.data(), 0, buffer.size()) != nullptr);
}

void dispatcherCall(AEffect* e, FuzzInput& in) {
  VstInt32 op = in.byte();
  if (op == effClose || op == effEditOpen) op = effGetVstVersion;  // the end, and a real window
  const VstInt32 index = static_cast<int8_t>(in.byte());
  const VstIntPtr value = in.byte() & 1 ? in.value<VstInt32>() : static_cast<int8_t>(in.byte());
  const float opt = in.value<float>();
  switch (op) {
    case effSetProgramName:
    case effString2Parameter:
    case effCanDo: {
      const std::string text = in.bytes(200);
      std::vector<char> arg(text.begin(), text.end());
      arg.push_back('\0');
      e->dispatcher(e, op, index, value, arg.data(), opt);
      return;
    }
    case effGetInputProperties:
    case effGetOutputProperties: {
      auto pin = std::make_unique<VstPinProperties>();
      e->dispatcher(e, op, index, value, pin.get(), opt);
      FUZZ_CHECK(std::memchr(pin->label, 0, sizeof pin->label) && std::memchr(pin->shortLabel, 0, sizeof pin->shortLabel));
      return;
    }
    case effEditGetRect: {
      ERect* rect = nullptr;
      e->dispatcher(e, op, index, value, &rect, opt);
      if (rect) FUZZ_CHECK(rect->right >= rect->left && rect->bottom >= rect->top);
      return;
    }
    case effGetChunk: {
      void* chunk = nullptr;
      const VstIntPtr size = e->dispatcher(e, op, index, value, &chunk, opt);
      FUZZ_CHECK(size >= 0);
      if (chunk && size > 0) {
        std::vector<char> copy(static_cast<size_t>(size));
        std::memcpy(copy.data(), chunk, copy.size());
      }
      return;
    }
    case effSetChunk: {
      const std::string data = in.bytes(200);
      std::vector<char> arg(data.begin(), data.end());
      e->dispatcher(e, op, index, static_cast<VstIntPtr>(arg.size()), arg.empty() ? nullptr : arg.data(), opt);
      return;
    }
    case effProcessEvents:
      op = effGetTailSize;  // lists come from their own step
      break;
    default:
      break;
  }
  // Everything else gets a zeroed buffer, also where the value is a pointer.
  std::vector<char> buffer(writesText(op) ? kTextBuffer : 4096, 0);
  const VstIntPtr v = op == effSetSpeakerArrangement ? reinterpret_cast<VstIntPtr>(buffer.data() + 2048) : value;
  e->dispatcher(e, op, index, v, buffer.data(), opt);
  if (writesText(op)) checkTerminated(buffer);
}

void eventList(AEffect* e, FuzzInput& in) {
  const size_t count = in.byte() % 24;
  std::vector<VstMidiEvent> midi(count);
  std::vector<unsigned char> block(offsetof(VstEvents, events) + (count + 1) * sizeof(VstEvent*), 0);
  VstEvents* list = reinterpret_cast<VstEvents*>(block.data());
  VstEvent** slots = reinterpret_cast<VstEvent**>(block.data() + offsetof(VstEvents, events));
  list->numEvents = static_cast<VstInt32>(count);
  for (size_t i = 0; i < count; ++i) {
    // MIDI mostly; now and then a SysEx or another type, whose body (32
    // bytes here) the instrument must not read as MIDI.
    const uint8_t kind = in.byte();
    VstMidiEvent& m = midi[i];
    m.type = kind % 8 == 7 ? kVstSysExType : kind % 8 == 6 ? in.value<VstInt32>() : kVstMidiType;
    m.byteSize = sizeof m;
    m.deltaFrames = kind & 0x80 ? in.value<VstInt32>() : in.byte();
    for (char& b : m.midiData) b = static_cast<char>(in.byte());
    slots[i] = reinterpret_cast<VstEvent*>(&m);
  }
  e->dispatcher(e, effProcessEvents, 0, 0, list, 0.0f);
}

void audioBlock(AEffect* e, FuzzInput& in, bool accumulate) {
  // Mostly short blocks, which keep the run fast; now and then a long one.
  const uint8_t size = in.byte();
  const VstInt32 frames = size & 0x80 ? in.value<uint16_t>() % 4097 : size;
  const float level = static_cast<float>(in.byte()) / 255.0f;
  std::vector<float> inL(frames), inR(frames), outL(frames, 0.0f), outR(frames, 0.0f);
  for (VstInt32 i = 0; i < frames; ++i) {
    inL[static_cast<size_t>(i)] = level * std::sin(0.05f * static_cast<float>(i));
    inR[static_cast<size_t>(i)] = -inL[static_cast<size_t>(i)];
  }
  float* ins[2] = {inL.data(), inR.data()};
  float* outs[2] = {outL.data(), outR.data()};
  if (accumulate) e->process(e, ins, outs, frames);
  else e->processReplacing(e, ins, outs, frames);
  for (VstInt32 i = 0; i < frames; ++i)
    FUZZ_CHECK(std::isfinite(outL[static_cast<size_t>(i)]) && std::isfinite(outR[static_cast<size_t>(i)]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  gTempoAnswer = 1200000;
  AEffect* e = createEffectInstance(host);
  FUZZ_CHECK(e != nullptr);
  e->dispatcher(e, effOpen, 0, 0, nullptr, 0.0f);
  for (int step = 0; step < 32 && !in.empty(); ++step) {
    switch (in.byte() % 7) {
      case 0: dispatcherCall(e, in); break;
      case 1: eventList(e, in); break;
      case 2: e->setParameter(e, static_cast<int8_t>(in.byte()), in.value<float>()); break;
      case 3: {
        // A note sets the read speed (parameter 2) from the note table, past 1.
        const int index = static_cast<int8_t>(in.byte());
        const float v = e->getParameter(e, index);
        FUZZ_CHECK(std::isfinite(v) && v >= 0.0f && (index == 2 || v <= 1.0f));
        break;
      }
      case 4: audioBlock(e, in, false); break;
      case 5: audioBlock(e, in, true); break;
      case 6: gTempoAnswer = in.byte() & 1 ? in.value<VstInt32>() : 0; break;
    }
  }
  e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
  return 0;
}
