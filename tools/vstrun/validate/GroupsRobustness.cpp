// robustness: calls no host sends. Out-of-range indices, values and program
// numbers, a block larger than announced, process to a plug-in that can
// replace, MIDI out of time order, outside the block or of bytes no MIDI
// message has, calls out of their order, and a fuzzer that sends all of it
// at random. A plug-in may do anything with them, so whatever it does (a
// crash or a hang too, which the parent tells) is a WARN that names the
// call; each check runs in a child process of its own.
#include <cmath>

#include "validate/Groups.h"

namespace validate {

namespace {

constexpr int kMaxIndices = 512;  // per kind, so huge plug-ins stay quick

void parameterIndices(const Options& o, Report& report) {
  Instance inst(o.module);
  AEffect* e = inst.effect();
  TextTallies tally;
  for (VstInt32 i : {e->numParams, e->numParams + 1, e->numParams + 1000, -1, -1000}) {
    report.step(format("setParameter(%d, 0.5) and getParameter(%d), outside the %d parameters", i, i, e->numParams));
    e->setParameter(e, i, 0.5f);
    (void)e->getParameter(e, i);
    report.step(format("effCanBeAutomated index %d, outside the %d parameters", i, e->numParams));
    inst.dispatch(effCanBeAutomated, i);
    for (VstInt32 op : {effGetParamName, effGetParamLabel, effGetParamDisplay})
      askText("robustness", inst, report, tally, op, i, 0, false);
  }
  reportTexts(report, "robustness", tally);
  finiteAfterwards(inst, report, "robustness", "parameter indices out of range", false);
}

void parameterValues(const Options& o, Report& report) {
  Instance inst(o.module);
  AEffect* e = inst.effect();
  const int n = e->numParams < kMaxIndices ? e->numParams : kMaxIndices;
  int nonFinite = 0;
  for (int i = 0; i < n; ++i) {
    const float original = e->getParameter(e, i);
    for (float v : {-0.5f, 1.5f}) {
      report.step(format("setParameter(%d, %g), outside 0..1", i, static_cast<double>(v)));
      e->setParameter(e, i, v);
      const float got = e->getParameter(e, i);
      if (!std::isfinite(got) && nonFinite++ == 0)
        report.warn(format("robustness: getParameter(%d) gives %g after setParameter(%d, %g)", i,
                           static_cast<double>(got), i, static_cast<double>(v)));
    }
    e->setParameter(e, i, original);
  }
  if (!nonFinite) report.pass(format("robustness: %d parameters set to -0.5 and 1.5 read back finite", n));
  finiteAfterwards(inst, report, "robustness", "parameter values outside 0..1", false);
}

void programNumbers(const Options& o, Report& report) {
  Instance inst(o.module);
  AEffect* e = inst.effect();
  TextTallies tally;
  const VstIntPtr before = inst.dispatch(effGetProgram);
  for (VstIntPtr p : {static_cast<VstIntPtr>(e->numPrograms), static_cast<VstIntPtr>(e->numPrograms) + 1000,
                      static_cast<VstIntPtr>(-1), static_cast<VstIntPtr>(0x7fffffff)}) {
    report.step(format("effSetProgram %lld, outside the %d programs", static_cast<long long>(p), e->numPrograms));
    inst.dispatch(effSetProgram, 0, p);
    askText("robustness", inst, report, tally, effGetProgramName, 0, 0, false);
    askText("robustness", inst, report, tally, effGetProgramNameIndexed, static_cast<VstInt32>(p), 0, false);
  }
  reportTexts(report, "robustness", tally);
  const VstIntPtr after = inst.dispatch(effGetProgram);
  if (after != before && (after < 0 || after >= e->numPrograms))
    report.warn(format("robustness: an out-of-range effSetProgram left the current program at %lld",
                       static_cast<long long>(after)));
  else report.pass("robustness: out-of-range program numbers were harmless");
  finiteAfterwards(inst, report, "robustness", "program numbers out of range", false);
}

void fallingTimes(EventList& list, std::mt19937& rng) {
  for (int i = 0; i < 32; ++i)
    list.addMidi(511 - i * 16, static_cast<unsigned char>(0x80 + rng() % 0x70), static_cast<unsigned char>(rng() % 128),
                 static_cast<unsigned char>(rng() % 128));
}
void outsideTheBlock(EventList& list, std::mt19937& rng) {
  for (int d : {-1, -100000, 512, 513, 100000, 0x7fffffff})
    list.addMidi(d, 0x90, static_cast<unsigned char>(rng() % 128), 64);
}
void randomBytes(EventList& list, std::mt19937& rng) {
  list.addSysex(static_cast<int>(rng() % 512), {});
  for (int i = 0; i < 64; ++i)
    list.addMidi(static_cast<int>(rng() % 512), static_cast<unsigned char>(rng() % 256),
                 static_cast<unsigned char>(rng() % 256), static_cast<unsigned char>(rng() % 256));
}

// effOpen again to an open instance, and the editor idled without an open
// editor.
void callOrder(const Options& o, Report& report) {
  Instance inst(o.module);
  for (int i = 0; i < 2; ++i) {
    report.step("effOpen to an instance already open");
    inst.dispatch(effOpen);
  }
  report.step("effEditIdle without an open editor");
  inst.dispatch(effEditIdle);
  finiteAfterwards(inst, report, "robustness", "effOpen twice more and effEditIdle without an editor", false);
}

}  // namespace

void checkRobustness(const Options& o, Report& report) {
  report.check("robustness.parameter-indices", [&] { parameterIndices(o, report); });
  report.check("robustness.parameter-values", [&] { parameterValues(o, report); });
  report.check("robustness.program-numbers", [&] { programNumbers(o, report); });
  report.check("robustness.oversized-block", [&] { oversizedBlock(o, report); });
  report.check("robustness.accumulating", [&] { accumulating(o, report, false); });
  static const MidiKind kinds[] = {
      {"robustness.midi-order", "of 32 events with falling deltaFrames", fallingTimes},
      {"robustness.midi-outside-block", "with deltaFrames outside the block (-1, -100000, 512, 513, 100000, 2^31-1)",
       outsideTheBlock},
      {"robustness.midi-bytes", "of an empty SysEx and 64 events of random bytes", randomBytes},
  };
  midiLists(o, report, kinds, sizeof kinds / sizeof kinds[0], false);
  report.check("robustness.call-order", [&] { callOrder(o, report); });
  report.check("robustness.fuzz", [&] { fuzz(o, report, true); });
}

}  // namespace validate
