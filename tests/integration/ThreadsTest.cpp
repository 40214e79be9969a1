// A host's threads at once: audio blocks on one thread, parameter changes
// from another, dispatcher queries from a third. Run under ThreadSanitizer
// (label "threads"), this proves the shared values are race-free.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

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

// A change made on another thread while the audio thread runs block after
// block lands, in full, no later than the block after the one during which
// it was made. The audio thread says which block it starts before it starts
// it; right after each change the writer reads that number, s: the change
// was made before block s + 1 began, so block s + 1 must play it, and so must
// every later block until the writer could have made the next change.
TEST(Threads, AChangeFromAnotherThreadLandsByTheNextBlock) {
  vtest::RecordingHost host;
  vtest::PluginInstance plugin(host);
  ASSERT_TRUE(plugin.ok()) << plugin.error();
  plugin.dispatch(effMainsChanged, 0, 1);

  constexpr int kChanges = 100, kAhead = 16, kMostBlocks = kChanges * (kAhead + 4);
  const float volumes[] = {1.0f, 0.0f, 0.5f, 0.25f};  // each differs from the one before
  auto played = [](float volume) { return static_cast<float>((1.0 - volume) * 0.5); };  // input 0.5
  std::vector<float> output(kMostBlocks);
  std::vector<char> whole(kMostBlocks);
  std::vector<int> landsBy(kChanges), quietUntil(kChanges);
  std::atomic<int> started{-1}, finished{0}, seen{-1};
  std::atomic<bool> writing{true}, stopped{false};
  int blocks = 0;

  std::thread audioThread([&] {
    vtest::AudioBuffers audio(2, 2, 64);
    audio.fillInput(0, 0.5f);
    audio.fillInput(1, 0.5f);
    for (; blocks < kMostBlocks && writing.load(); ++blocks) {
      // Never more than kAhead blocks past the writer, however the two are scheduled.
      while (blocks > seen.load() + kAhead && writing.load()) std::this_thread::yield();
      started.store(blocks);
      std::atomic_thread_fence(std::memory_order_seq_cst);
      audio.fillOutput(0, 7.0f);
      audio.fillOutput(1, 7.0f);
      plugin.processReplacing(audio);
      output[blocks] = audio.output(0)[0];
      whole[blocks] = 1;
      for (int i = 0; i < 64; ++i)
        if (audio.output(0)[i] != output[blocks] || audio.output(1)[i] != output[blocks]) whole[blocks] = 0;
      finished.store(blocks + 1);
    }
    stopped = true;
  });
  for (int i = 0; i < kChanges; ++i) {
    plugin.setParameter(1, volumes[i % 4]);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    const int s = started.load();
    seen = s;
    landsBy[i] = s + 1;
    // The next change waits for block s + 1 to end, and 0 to 2 blocks more.
    quietUntil[i] = s + 2 + i % 3;
    while (finished.load() < quietUntil[i] && !stopped.load()) std::this_thread::yield();
  }
  writing = false;
  audioThread.join();

  ASSERT_GE(blocks, landsBy[kChanges - 1] + 1) << "the audio thread stopped early";
  for (int b = 0; b < blocks; ++b) ASSERT_TRUE(whole[b]) << "block " << b << " changed within itself";
  for (int i = 0; i < kChanges; ++i) {
    const float now = played(volumes[i % 4]), next = played(volumes[(i + 1) % 4]);
    const int end = i + 1 < kChanges ? landsBy[i + 1] : blocks;
    for (int b = landsBy[i]; b < end; ++b) {
      if (b < quietUntil[i] || i + 1 == kChanges) ASSERT_EQ(output[b], now) << "change " << i << " in block " << b;
      else ASSERT_TRUE(output[b] == now || output[b] == next) << "change " << i << " in block " << b;
    }
  }
}

}  // namespace
