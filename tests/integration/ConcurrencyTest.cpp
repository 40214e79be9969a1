// A host's threads at once on one instance: audio blocks on one thread,
// parameters, programs and program names from a second, MIDI from a third.
// Under ThreadSanitizer (label "threads") any unsynchronised shared value
// fails the test; in every build the results must stay sane.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "support/TestHost.h"

namespace {

TEST(Concurrency, AudioParametersProgramsNamesAndMidiAtOnce) {
  vtest::RecordingHost host;
  vtest::PluginInstance plugin(host);
  ASSERT_TRUE(plugin.ok()) << plugin.error();
  plugin.dispatch(effMainsChanged, 0, 1);

  std::atomic<bool> done{false};
  std::atomic<int> badSamples{0}, badNames{0};

  std::thread audio([&] {
    vtest::AudioBuffers audio(2, 2, 128);
    for (int block = 0; block < 600; ++block) {
      for (int i = 0; i < 128; ++i) {
        audio.input(0)[i] = std::sin(0.01f * static_cast<float>(block * 128 + i));
        audio.input(1)[i] = (i % 50 == 0) ? 0.0f : audio.input(0)[i];
      }
      if (block % 2) plugin.processReplacing(audio);
      else plugin.process(audio);
      for (int i = 0; i < 128; ++i)
        if (!std::isfinite(audio.output(0)[i]) || audio.output(0)[i] != audio.output(1)[i]) ++badSamples;
    }
    done = true;
  });

  std::thread control([&] {
    char name[64];
    for (int i = 0; !done; ++i) {
      plugin.setParameter(i % 3, static_cast<float>(i % 13) / 12.0f);
      if (i % 5 == 0) plugin.dispatch(effSetProgram, 0, 0);
      if (i % 7 == 0) {
        std::string text = (i % 2) ? "Alpha" : "Beta Long Program Name";
        plugin.dispatch(effSetProgramName, 0, 0, &text[0]);
      }
      std::memset(name, 'x', sizeof name);
      plugin.dispatch(effGetProgramName, 0, 0, name);
      if (std::memchr(name, '\0', 24) == nullptr) ++badNames;
      (void)plugin.text(effGetParamDisplay, i % 3);
      if (i % 11 == 0) std::this_thread::yield();
    }
  });

  std::thread midi([&] {
    for (int i = 0; !done; ++i) {
      vtest::MidiEvents events;
      events.noteOn(i % 16, 36 + i % 60, 1 + i % 127).controller(0, (i % 2) ? 1 : 7, i % 128);
      if (i % 3 == 0) events.add(0xE0, static_cast<unsigned char>(i % 128), 64);
      EXPECT_EQ(plugin.processEvents(events), 1);
      if (i % 4 == 0) std::this_thread::yield();
    }
  });

  audio.join();
  control.join();
  midi.join();
  EXPECT_EQ(badSamples.load(), 0);
  EXPECT_EQ(badNames.load(), 0);

  // Quiet again, the program still mirrors the parameters.
  plugin.setParameter(0, 0.5f);
  plugin.setParameter(1, 0.25f);
  plugin.setParameter(2, 0.75f);
  plugin.dispatch(effSetProgram, 0, 0);
  EXPECT_EQ(plugin.getParameter(0), 0.5f);
  EXPECT_EQ(plugin.getParameter(1), 0.25f);
  EXPECT_EQ(plugin.getParameter(2), 0.75f);
}

}  // namespace
