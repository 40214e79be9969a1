// The host callback answers every request, the audio thread's too, without
// allocating: with every allocation of this program counted on the thread
// that stands in for the audio thread, as the validator's real-time watch
// would see a plug-in that reports automation there. The log's lines are
// made later, on the thread that prints them.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "support/CountedAllocations.h"
#include "vsthost/Host.h"

namespace {

// What a plug-in asks on its audio thread, each request once.
void askEverything(audioMasterCallback host, AEffect* e) {
  char text[64] = {};
  char unknown[] = "aQuestionNoHostKnows", known[] = "sendVstEvents";
  host(e, audioMasterBeginEdit, 1, 0, nullptr, 0.0f);
  host(e, audioMasterAutomate, 1, 0, nullptr, 0.25f);
  host(e, audioMasterEndEdit, 1, 0, nullptr, 0.0f);
  host(e, audioMasterGetTime, 0, 0xFF00, nullptr, 0.0f);
  for (VstInt32 op : std::initializer_list<VstInt32>{audioMasterVersion, audioMasterCurrentId, audioMasterIdle,
                                                    audioMasterTempoAt,
                      audioMasterGetSampleRate, audioMasterGetBlockSize, audioMasterGetCurrentProcessLevel,
                      audioMasterWillReplaceOrAccumulate, audioMasterGetAutomationState, audioMasterWantMidi,
                      audioMasterGetNumAutomatableParameters, audioMasterUpdateDisplay, audioMasterGetVendorVersion,
                      audioMasterGetLanguage, audioMasterIOChanged, 99})
    host(e, op, 0, 0, nullptr, 0.0f);
  host(e, audioMasterPinConnected, 1, 1, nullptr, 0.0f);
  host(e, audioMasterGetVendorString, 0, 0, text, 0.0f);
  host(e, audioMasterGetProductString, 0, 0, text, 0.0f);
  host(e, audioMasterCanDo, 0, 0, known, 0.0f);
  host(e, audioMasterCanDo, 0, 0, unknown, 0.0f);
  host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f);  // no record: the newest host answers
}

TEST(AudioThreadHostCallback, AnswersTheAudioThreadWithoutAllocatingAndLogsLater) {
  vsthost::Host host;
  std::vector<std::string> lines;
  host.onLog([&](const std::string& line) { lines.push_back(line); });
  AEffect effect{};
  effect.magic = kEffectMagic;
  effect.numInputs = effect.numOutputs = 2;
  effect.numParams = 3;
  host.attach(&effect);

  int allocations = -1;
  std::thread audio([&] {
    vtest::startCountingAllocations(true);
    for (int round = 0; round < 3; ++round) askEverything(vsthost::Host::callback(), &effect);
    allocations = vtest::stopCountingAllocations();
  });
  audio.join();
  EXPECT_EQ(allocations, 0);

  EXPECT_TRUE(lines.empty()) << "nothing is formatted before flushLog";
  host.flushLog();
  const std::vector<std::string> round = {"begin edit parameter 1",
                                          "automate parameter 1 = 0.25",
                                          "end edit parameter 1",
                                          "the plug-in changed its inputs or outputs (not followed)",
                                          "request 99 not served",
                                          "can-do question not known: aQuestionNoHostKnows"};
  ASSERT_EQ(lines.size(), 3 * round.size());
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], round[i % round.size()]) << i;
  host.detach();
}

TEST(AudioThreadHostCallback, TheRequestLogKeepsOrderAcrossThreadsAndCountsWhatDoesNotFit) {
  vsthost::RequestLog log;
  std::vector<std::thread> writers;
  for (VstInt32 t = 0; t < 4; ++t)
    writers.emplace_back([&log, t] {
      for (VstInt32 i = 0; i < 50; ++i) log.add(audioMasterAutomate, t * 1000 + i, 0.0f, "question");
    });
  for (std::thread& w : writers) w.join();
  vsthost::Request r;
  VstInt32 next[4] = {0, 0, 0, 0};
  int taken = 0;
  while (log.take(r)) {
    const VstInt32 t = r.index / 1000;
    ASSERT_TRUE(t >= 0 && t < 4);
    EXPECT_EQ(r.index % 1000, next[t]++) << "each writer's requests in its order";
    EXPECT_STREQ(r.text, "question");
    ++taken;
  }
  EXPECT_EQ(taken, 200);
  EXPECT_EQ(log.takeDropped(), 0);

  std::string longText(200, 'q');
  for (size_t i = 0; i < vsthost::RequestLog::kCapacity + 44; ++i) log.add(audioMasterCanDo, 0, 0.0f, longText.c_str());
  EXPECT_EQ(log.takeDropped(), 44) << "a full queue drops, never waits";
  ASSERT_TRUE(log.take(r));
  EXPECT_EQ(std::string(r.text), std::string(sizeof r.text - 1, 'q')) << "a long text is cut to fit, terminated";
}

}  // namespace
