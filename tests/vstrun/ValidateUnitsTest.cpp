// The validator's building blocks: if a guard, a comparison or an event
// record were wrong, every check built on it would pass or fail falsely.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "validate/Checks.h"
#include "validate/Child.h"
#include "validate/Buffers.h"
#include "validate/EventList.h"
#include "validate/FloatState.h"
#include "validate/Growth.h"
#include "validate/Opcodes.h"
#include "validate/Samples.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using namespace validate;

TEST(ValidateParts, GuardedBufferCountsEveryByteWrittenOutsideIt) {
  GuardedBuffer b(16);
  EXPECT_EQ(b.overrun(), 0u);
  EXPECT_FALSE(b.underrun());
  EXPECT_TRUE(b.terminated());
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(b.data()[i], 0) << "handed over zeroed, as hosts do";
  std::memset(b.data(), 'x', 15);
  EXPECT_EQ(b.textLength(), 15u);
  EXPECT_TRUE(b.terminated());
  b.data()[15] = 'x';
  EXPECT_FALSE(b.terminated());
  EXPECT_EQ(b.overrun(), 0u);
  b.data()[18] = 0;  // the third byte past the end, the two before untouched
  EXPECT_EQ(b.overrun(), 3u);
  b.data()[-1] = 0;
  EXPECT_TRUE(b.underrun());
  GuardedBuffer far(4);
  far.data()[4 + GuardedBuffer::kGuard - 1] = 1;
  EXPECT_EQ(far.overrun(), GuardedBuffer::kGuard);
}

TEST(ValidateParts, AudioChecksFindTheChannelAndSample) {
  AudioBuffers a(2, 8), b(2, 8);
  EXPECT_EQ(a.overrunChannel(), -1);
  a.channel(1)[8] = 0.0f;
  EXPECT_EQ(a.overrunChannel(), 1);
  AudioBuffers c(3, 8);
  c.channel(2)[-1] = 0.0f;
  EXPECT_EQ(c.overrunChannel(), 2);

  a.fill(0.5f);
  b.fill(0.75f);
  EXPECT_FLOAT_EQ(compare(a, b, 8, 0.25f).max, 0.0f);
  b.channel(1)[5] = 1.75f;
  const Difference d = compare(a, b, 8, 0.25f);
  EXPECT_FLOAT_EQ(d.max, 1.0f);
  EXPECT_EQ(d.channel, 1);
  EXPECT_EQ(d.frame, 5);
  b.channel(0)[2] = NAN;
  EXPECT_TRUE(std::isinf(compare(a, b, 8).max)) << "a NaN is the largest difference";

  EXPECT_EQ(firstNonFinite(a, 8), "");
  a.channel(1)[6] = INFINITY;
  EXPECT_EQ(firstNonFinite(a, 8), "channel 1 sample 6 (inf)");
  EXPECT_EQ(firstNonFinite(a, 6), "") << "only the block counts";
  EXPECT_EQ(firstDenormal(a, 8), "");
  a.channel(0)[3] = 1e-40f;
  EXPECT_EQ(firstDenormal(a, 8).rfind("channel 0 sample 3 ", 0), 0u);
}

TEST(ValidateParts, EventListKeepsOrderAndTheRecordsLayout) {
  EventList list;
  list.addMidi(5, 0x90, 60, 100);
  list.addSysex(7, {0xF0, 0x01, 0xF7});
  list.addMidi(-3, 0xB0, 7, 1);
  VstEvents* e = list.events();
  ASSERT_EQ(e->numEvents, 3);
  // The array runs past the declared two entries.
  VstEvent* const* events = reinterpret_cast<VstEvent* const*>(reinterpret_cast<const char*>(e) + offsetof(VstEvents, events));
  const auto* first = reinterpret_cast<const VstMidiEvent*>(events[0]);
  EXPECT_EQ(first->type, kVstMidiType);
  EXPECT_EQ(first->byteSize, 32);
  EXPECT_EQ(first->deltaFrames, 5);
  EXPECT_EQ(static_cast<unsigned char>(first->midiData[0]), 0x90);
  EXPECT_EQ(first->midiData[1], 60);
  EXPECT_EQ(reinterpret_cast<const VstMidiEvent*>(events[2])->deltaFrames, -3);
  // The SysEx record: type, byteSize, deltaFrames, flags, dumpBytes, a
  // pointer-sized reserve, then the dump's address.
  const char* raw = reinterpret_cast<const char*>(events[1]);
  VstInt32 header[5];
  std::memcpy(header, raw, sizeof header);
  EXPECT_EQ(header[0], kVstSysExType);
  EXPECT_EQ(header[2], 7);
  EXPECT_EQ(header[4], 3);
  const unsigned char* dump = nullptr;
  std::memcpy(&dump, raw + (sizeof(void*) == 8 ? 32 : 24), sizeof dump);
  ASSERT_NE(dump, nullptr);
  EXPECT_EQ(dump[0], 0xF0);
  EXPECT_EQ(dump[2], 0xF7);
  list.clear();
  EXPECT_EQ(list.events()->numEvents, 0);
}

TEST(ValidateParts, FloatStateAndOpcodeFacts) {
  const FpState normal = readFpState();
  setMxcsr((normal.mxcsr & kMxcsrControlMask) | 0x8040);
  const FpState flushed = readFpState();
  setMxcsr(normal.mxcsr);
#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
  EXPECT_EQ(flushed.mxcsr & 0x8040u, 0x8040u);
  EXPECT_EQ(readFpState().mxcsr & kMxcsrControlMask, normal.mxcsr & kMxcsrControlMask);
  EXPECT_NE(normal.x87, 0u);
#endif
  EXPECT_EQ(conventionalTextLength(effGetParamName), 8u);
  EXPECT_EQ(conventionalTextLength(effGetProgramNameIndexed), 24u);
  EXPECT_EQ(conventionalTextLength(effGetEffectName), 32u);
  EXPECT_EQ(conventionalTextLength(effGetVendorString), 64u);
  EXPECT_EQ(conventionalTextLength(effCanDo), 0u);
  EXPECT_STREQ(opcodeName(effProcessEvents), "effProcessEvents");
  EXPECT_STREQ(opcodeName(effEndSetProgram), "effEndSetProgram");
  EXPECT_STREQ(opcodeName(effStopProcess), "effStopProcess");
}

TEST(ValidateParts, GrowthCountsOnlyWhenItKeepsOnOverTheLastHalf) {
  std::vector<long> leak, jump, settles;
  for (long c = 0; c < 20; ++c) {
    leak.push_back(40000 + 8192 * c);
    jump.push_back(c < 15 ? 40000 : 90000);   // one big allocation, kept
    settles.push_back(c < 10 ? 40000 + 8192 * c : 120000);
  }
  EXPECT_TRUE(judgeGrowth(leak, 256).sustained);
  EXPECT_NEAR(judgeGrowth(leak, 256).perCycle, 8192, 1e-9);
  EXPECT_FALSE(judgeGrowth(leak, 9000).sustained) << "below the bound";
  EXPECT_FALSE(judgeGrowth(jump, 256).sustained) << "a single step is not a leak";
  EXPECT_FALSE(judgeGrowth(settles, 256).sustained) << "growth while warming up is not a leak";
}

TEST(ValidateParts, ChildLinesBelongToTheCheckAnnouncedBeforeThem) {
  ChildOutput out;
  const std::string lines = "P\tbefore any\nC\tmidi.long\r\nS\tstep\r\nF\tbad\r\nE\tdone\n";  // CR LF from Windows
  out.feed(lines.data(), lines.size());
  ASSERT_EQ(out.results.size(), 2u);
  EXPECT_EQ(out.results[0].check, "");
  EXPECT_EQ(out.results[1].check, "midi.long");
  EXPECT_EQ(out.results[1].text, "bad");
  EXPECT_EQ(out.lastStep, "step");
  EXPECT_TRUE(out.finished);
}

TEST(ValidateParts, OnlyAndSkipTakeGroupAndCheckNames) {
  EXPECT_TRUE(selected("processing.in-place", "", ""));
  EXPECT_TRUE(selected("processing.in-place", "identity,processing", ""));
  EXPECT_TRUE(selected("processing.in-place", "processing.in-place", ""));
  EXPECT_FALSE(selected("processing.in-place", "processing.in", "")) << "whole names only";
  EXPECT_FALSE(selected("processing.in-place", "identity", ""));
  EXPECT_FALSE(selected("processing.in-place", "processing", "processing.in-place"));
  EXPECT_FALSE(selected("processing.in-place", "", "processing"));
  EXPECT_EQ(groupOf("lifecycle.memory"), "lifecycle");
}

#ifndef _WIN32  // on Windows the child is vstrun itself, tested end to end
void passes(const Options&, Report& r) { r.pass("fine"); }
void aborts(const Options&, Report& r) {
  r.step("about to abort");
  std::abort();
}
void hangs(const Options&, Report& r) {
  r.step("about to hang");
  for (;;) pause();
}
void spins(const Options&, Report& r) {
  r.step("about to spin");
  for (volatile unsigned i = 0;; i = i + 1) {
  }
}
// Stopped for 2 s (as a child the machine gives no processor to): slow, not hung.
void starves(const Options&, Report& r) {
  r.step("stopped");
  const pid_t self = getpid();
  if (fork() == 0) {
    sleep(2);
    kill(self, SIGCONT);
    _exit(0);
  }
  raise(SIGSTOP);
  r.pass("resumed");
}
void leaves(const Options&, Report& r) {
  r.pass("half done");
  _exit(0);
}

TEST(ValidateParts, AHangIsCountedInTheChildsOwnTimeWithACeilingOnTheClock) {
  const auto t0 = std::chrono::steady_clock::now(), t1 = t0 + std::chrono::seconds(1);
  HangWatch starved(30), spinning(30), group(30);
  for (int i = 0; i < 290; ++i) starved.advance(1.0, 0.09, t0);  // a step 290 s ago, a tenth of a core since
  EXPECT_FALSE(starved.overdue());
  starved.advance(11.0, 1.0, t0);
  EXPECT_TRUE(starved.overdue()) << "over 10 x the limit on the clock without a step";
  spinning.advance(20.0, 20.0, t0);
  spinning.advance(5.0, 5.0, t1);  // a step: the count starts again
  EXPECT_FALSE(spinning.overdue());
  spinning.advance(31.0, 31.0, t1);
  EXPECT_TRUE(spinning.overdue());
  for (int i = 0; i < 299; ++i) group.advance(3.0, 1.0, t0 + std::chrono::seconds(i));  // a step every 3 s
  EXPECT_FALSE(group.overdue());
  group.advance(3.0, 2.0, t1);
  EXPECT_TRUE(group.overdue()) << "the group's own time above 10 x the limit";
}

TEST(ValidateParts, AChildThatCrashesHangsOrLeavesEarlyIsToldApart) {
  Options o;
  // Children that end by themselves get a limit they never reach. The one
  // that hangs gets ten times what a whole child took here (at least a
  // second), so a busy machine, slow to start a process, still shows its
  // step before the limit runs out.
  auto run = [&](void (*fn)(const Options&, Report&), ChildOutput& out, int limit = 300) {
    return runChildProcess(Group{"g", fn, limit}, o, limit, out);
  };
  ChildOutput ok, crashed, hung, left;
  const auto t0 = std::chrono::steady_clock::now();
  Ending e = run(passes, ok);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const int hangLimit = std::max(1, static_cast<int>(std::ceil(10.0 * took)));
  EXPECT_TRUE(ok.finished);
  EXPECT_FALSE(e.crashed || e.timedOut || e.code);
  ASSERT_EQ(ok.results.size(), 1u);
  EXPECT_EQ(ok.results[0].kind, 'P');

  e = run(aborts, crashed);
  EXPECT_TRUE(e.crashed);
  EXPECT_EQ(describeEnding(e).rfind("crashed (signal 6", 0), 0u) << describeEnding(e);
  EXPECT_EQ(crashed.lastStep, "about to abort");

  e = run(hangs, hung, hangLimit);
  EXPECT_TRUE(e.timedOut);
  EXPECT_EQ(hung.lastStep, "about to hang");

  ChildOutput spun, starved;
  e = run(spins, spun, 1);
  EXPECT_TRUE(e.timedOut);
  EXPECT_EQ(spun.lastStep, "about to spin");
  e = run(starves, starved, 1);
  EXPECT_FALSE(e.timedOut) << "2 s without a processor is not 1 s of its own time";
  EXPECT_TRUE(starved.finished);

  e = run(leaves, left);
  EXPECT_FALSE(left.finished) << "a group that exits on its own never said it was done";
  EXPECT_EQ(left.results.size(), 1u);
}
#endif

}  // namespace
