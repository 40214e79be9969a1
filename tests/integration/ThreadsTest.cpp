// A host's threads at once: audio blocks on one thread, parameter changes
// from another, dispatcher queries from a third. Run under ThreadSanitizer
// (label "threads"), this proves the shared values are race-free.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "support/TestHost.h"

namespace {

TEST(Threads, AudioParametersAndQueriesRunConcurrently) {
  vtest::RecordingHost host;
  host.answer(audioMasterGetSampleRate, 44100);
  vtest::PluginInstance plugin(host);
  ASSERT_TRUE(plugin.ok()) << plugin.error();
  plugin.dispatch(effOpen);
  plugin.dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
  plugin.dispatch(effSetBlockSize, 0, 64);
  plugin.dispatch(effMainsChanged, 0, 1);

  std::atomic<bool> finite{true};
  std::thread audio([&] {
    vtest::AudioBuffers audio(2, 2, 64);
    for (int block = 0; block < 400; ++block) {
      for (int i = 0; i < 64; ++i) {
        audio.input(0)[i] = std::sin(0.05f * static_cast<float>(block * 64 + i));
        audio.input(1)[i] = audio.input(0)[i];
      }
      vtest::MidiEvents midi;
      if (block % 50 == 0) midi.noteOn(0, 48 + block / 50, 100);
      if (block % 70 == 0) midi.controller(0, 7, block % 128);
      if (midi.size()) plugin.processEvents(midi);
      plugin.processReplacing(audio);
      for (int i = 0; i < 64; ++i)
        if (!std::isfinite(audio.output(0)[i]) || !std::isfinite(audio.output(1)[i])) finite = false;
    }
  });
  std::thread automation([&] {
    for (int i = 0; i < 2000; ++i) {
      plugin.setParameter(i % 3, static_cast<float>(i % 101) / 100.0f);
      if (i % 7 == 0) std::this_thread::yield();
    }
  });
  for (int i = 0; i < 500; ++i) {
    (void)plugin.getParameter(i % 3);
    (void)plugin.text(effGetParamDisplay, i % 3);
  }
  audio.join();
  automation.join();
  plugin.dispatch(effMainsChanged, 0, 0);
  EXPECT_TRUE(finite);
}

// A change made on another thread while the audio thread runs blocks shows
// in full from the next block on: the audio thread waits for the writer
// between two blocks (a host's hand-over), then the whole block obeys it.
TEST(Threads, AChangeFromAnotherThreadLandsByTheNextBlock) {
  vtest::RecordingHost host;
  vtest::PluginInstance plugin(host);
  ASSERT_TRUE(plugin.ok()) << plugin.error();
  plugin.dispatch(effMainsChanged, 0, 1);
  vtest::AudioBuffers audio(2, 2, 64);
  audio.fillInput(0, 0.5f);
  audio.fillInput(1, 0.5f);
  const struct {
    int index;
    float value;
    float input;     // on both inputs
    float expected;  // every output sample of the next block
  } changes[] = {
      {1, 1.0f, 0.5f, 0.0f},   {1, 0.0f, 0.5f, 0.5f}, {1, 0.5f, 0.5f, 0.25f}, {1, 0.0f, 0.5f, 0.5f},
      {0, 0.0f, 0.25f, 0.5f},  // looping what was recorded (0.5), not the input
  };
  for (const auto& c : changes) {
    plugin.processReplacing(audio);
    std::thread writer([&] { plugin.setParameter(c.index, c.value); });
    writer.join();
    audio.fillInput(0, c.input);
    audio.fillInput(1, c.input);
    audio.fillOutput(0, 7.0f);
    audio.fillOutput(1, 7.0f);
    plugin.processReplacing(audio);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(audio.output(0)[i], c.expected) << "frame " << i;
  }
}

}  // namespace
