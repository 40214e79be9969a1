// update() from an audio thread while the UI thread opens, idles, closes
// and destroys the editor: nothing may race (ThreadSanitizer watches), the
// updates really meet the window's comings and goings, and update never
// waits for the UI.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "editor/EditorTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(EditorThreads, UpdatesFromTheAudioThreadWhileTheWindowComesAndGoes) {
  etest::OffscreenWindows offscreen;
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
      const auto t0 = Clock::now();
      effect->setParameter(effect, kParamVolume, v);  // -> update()
      effect->dispatcher(effect, effProcessEvents, 0, 0, midi.events(), 0.0f);
      const long us =
          static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count());
      if (us > slowest.load()) slowest.store(us);
      v = v > 1.0f ? 0.0f : v + 0.01f;
      ++updates;
    }
  });
  // Windows come and go until the audio thread has updated through many of
  // their lifetimes (a loaded machine may hold it back for a while).
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  const long before = updates.load();
  int round = 0;
  for (; round < 60 || (updates.load() - before < 500 && Clock::now() < deadline); ++round) {
    ASSERT_EQ(effect->dispatcher(effect, effEditOpen, 0, 0, nullptr, 0.0f), 1);
    effect->dispatcher(effect, effEditIdle, 0, 0, nullptr, 0.0f);
    if (round % 3 == 0) effect->dispatcher(effect, effEditOpen, 0, 0, nullptr, 0.0f);
    effect->dispatcher(effect, effEditClose, 0, 0, nullptr, 0.0f);
    if (round % 3 == 0) effect->dispatcher(effect, effEditClose, 0, 0, nullptr, 0.0f);
  }
  EXPECT_GE(updates.load() - before, 500) << "the updates met " << round << " windows";
  EXPECT_EQ(etest::OffscreenWindows::live(), 0);

  // Last, a window that stays open: the updates arrive in it, and closing
  // the instance destroys it with the bridge.
  ASSERT_EQ(effect->dispatcher(effect, effEditOpen, 0, 0, nullptr, 0.0f), 1);
  TPluginEditorWindow* window = in->bridge()->window();
  ASSERT_NE(window, nullptr);
  const float opened = window->paramValues[kParamVolume].load();
  bool arrived = false;
  while (!arrived && Clock::now() < deadline + std::chrono::seconds(10)) {
    arrived = window->paramValues[kParamVolume].load() != opened;
    std::this_thread::yield();
  }
  EXPECT_TRUE(arrived) << "an update reaches the open window";
  stop.store(true);
  audio.join();
  in.reset();
  EXPECT_EQ(etest::OffscreenWindows::live(), 0);
  // Only a sanity bound: update takes no lock, so it should never stall.
  EXPECT_LT(slowest.load(), 2000000L);
}

}  // namespace
