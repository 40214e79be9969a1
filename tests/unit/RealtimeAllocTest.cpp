// The audio path allocates nothing: process, processReplacing and
// effProcessEvents run with every allocation of this program counted.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "instrument/uPlugin.h"
#include "support/CountedAllocations.h"

namespace {

// A host that answers without allocating.
VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? 2400 : opcode == audioMasterTempoAt ? 1200000 : 0;
}

TEST(Realtime, TheAudioPathAllocatesNothing) {
  AEffect* e = createEffectInstance(quietHost);
  ASSERT_NE(e, nullptr);
  e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);

  const int frames = 512;
  std::vector<float> inL(frames), inR(frames), outL(frames), outR(frames);
  for (int i = 0; i < frames; ++i) inL[i] = inR[i] = (i % 97) / 97.0f - 0.5f;
  float* ins[2] = {inL.data(), inR.data()};
  float* outs[2] = {outL.data(), outR.data()};

  std::vector<VstMidiEvent> midi(5);
  std::memset(midi.data(), 0, midi.size() * sizeof(VstMidiEvent));
  const unsigned char bytes[5][3] = {{0x90, 60, 100}, {0xB0, 1, 64}, {0xE0, 0, 64}, {0xB0, 7, 20}, {0x80, 60, 0}};
  for (int i = 0; i < 5; ++i) {
    midi[i].type = kVstMidiType;
    midi[i].byteSize = sizeof(VstMidiEvent);
    std::memcpy(midi[i].midiData, bytes[i], 3);
  }
  std::vector<unsigned char> block(offsetof(VstEvents, events) + 5 * sizeof(VstEvent*));
  auto* list = reinterpret_cast<VstEvents*>(block.data());
  list->numEvents = 5;
  auto** slots = reinterpret_cast<VstEvent**>(block.data() + offsetof(VstEvents, events));
  for (int i = 0; i < 5; ++i) slots[i] = reinterpret_cast<VstEvent*>(&midi[i]);

  vtest::startCountingAllocations();
  for (int round = 0; round < 200; ++round) {
    // Record, then loop (the first loop block searches the loop start).
    e->setParameter(e, 0, round % 20 < 10 ? 1.0f : 0.3f);
    e->dispatcher(e, effProcessEvents, 0, 0, list, 0.0f);
    e->processReplacing(e, ins, outs, frames);
    e->process(e, ins, outs, frames);
    e->processReplacing(e, ins, outs, 0);
    (void)e->getParameter(e, round % 3);
  }
  EXPECT_EQ(vtest::stopCountingAllocations(), 0);

  // The counter itself works.
  vtest::startCountingAllocations();
  int* volatile probe = new int(3);
  delete probe;
  EXPECT_EQ(vtest::stopCountingAllocations(), 1);

  EXPECT_EQ(e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f), 1);
}

}  // namespace
