// update() from an audio thread while the UI thread opens, idles, closes
// and destroys the editor: nothing may race (ThreadSanitizer watches) and
// update never waits for the UI.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "editor/EditorTestSupport.h"

namespace {

TEST(EditorThreads, UpdatesFromTheAudioThreadWhileTheWindowComesAndGoes) {
#if defined(_WIN32)
  GTEST_SKIP() << "opening needs a host window here";
#endif
  vtest::RecordingHost host;
  auto in = std::make_unique<etest::Instrument>(host);
  ASSERT_NE(in->effect(), nullptr);
  AEffect* effect = in->effect();
  std::atomic<bool> stop{false};
  std::atomic<long> updates{0};
  std::atomic<long> slowest{0};
  vtest::MidiEvents midi;
  midi.controller(0, 7, 64).controller(0, 1, 20);
  std::thread audio([&] {
    float v = 0.0f;
    while (!stop.load()) {
      const auto t0 = std::chrono::steady_clock::now();
      effect->setParameter(effect, 1, v);  // -> update()
      effect->dispatcher(effect, effProcessEvents, 0, 0, midi.events(), 0.0f);
      const long us = static_cast<long>(
          std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count());
      if (us > slowest.load()) slowest.store(us);
      v = v > 1.0f ? 0.0f : v + 0.01f;
      ++updates;
    }
  });
  for (int round = 0; round < 60; ++round) {
    ASSERT_EQ(effect->dispatcher(effect, effEditOpen, 0, 0, nullptr, 0.0f), 1);
    effect->dispatcher(effect, effEditIdle, 0, 0, nullptr, 0.0f);
    if (round % 3 == 0) effect->dispatcher(effect, effEditOpen, 0, 0, nullptr, 0.0f);
    effect->dispatcher(effect, effEditClose, 0, 0, nullptr, 0.0f);
    if (round % 3 == 0) effect->dispatcher(effect, effEditClose, 0, 0, nullptr, 0.0f);
  }
  // Last, destroy the bridge with its window open while updates go on.
  effect->dispatcher(effect, effEditOpen, 0, 0, nullptr, 0.0f);
  while (updates.load() < 1000) std::this_thread::yield();
  APluginEditor* bridge = in->bridge();
  EXPECT_NE(bridge->window(), nullptr);
  stop.store(true);
  audio.join();
  in.reset();
  EXPECT_GE(updates.load(), 1000);
  // Only a sanity bound: update takes no lock, so it should never stall.
  EXPECT_LT(slowest.load(), 2000000L);
}

}  // namespace
