// identity, texts, parameters, programs: what a host asks outside audio.
#include <cmath>
#include <cstring>

#include "validate/Groups.h"

namespace validate {

namespace {

constexpr VstInt32 kVstMagic = 0x56737450;  // "VstP"
constexpr VstInt32 kKnownFlags = 1 | 2 | 4 | 8 | 16 | 32 | 256 | 512 | 1024 | 2048;
constexpr int kMaxIndices = 512;  // per kind, so huge plug-ins stay quick

int capped(int n) { return n < kMaxIndices ? n : kMaxIndices; }

}  // namespace

void askText(const char* group, Instance& inst, Report& report, TextTallies& tallies, VstInt32 op, VstInt32 index,
             VstIntPtr value, bool fault) {
  GuardedBuffer buf;
  report.step(format("%s index %d", opcodeName(op), index));
  inst.dispatch(op, index, value, buf.data());
  TextTally& t = tallies[op];
  ++t.asked;
  if (t.failed) return;
  auto tell = [&](const std::string& text) {
    fault ? report.fail(text) : report.warn(text);
    t.failed = true;
  };
  if (!buf.fault().empty()) tell(format("%s: %s index %d %s", group, opcodeName(op), index, buf.fault().c_str()));
  else if (!buf.terminated())
    tell(format("%s: %s index %d left the text unterminated", group, opcodeName(op), index));
  else if (buf.textLength() > conventionalTextLength(op)) {
    ++t.long_;
    if (buf.textLength() > t.longest) {
      t.longest = buf.textLength();
      t.longestIndex = index;
    }
  }
}

void reportTexts(Report& report, const char* group, const TextTallies& tallies) {
  for (const auto& [op, t] : tallies) {
    if (t.failed) continue;
    if (t.long_)
      report.warn(format("%s: %s: %d of %d texts longer than the conventional %zu characters (longest %zu bytes "
                         "written plus terminator, index %d)",
                         group, opcodeName(op), t.long_, t.asked, conventionalTextLength(op), t.longest, t.longestIndex));
    else
      report.pass(format("%s: %s: %d texts terminated, within %zu characters", group, opcodeName(op), t.asked,
                         conventionalTextLength(op)));
  }
}

void finiteAfterwards(Instance& inst, Report& report, const char* group, const char* after, bool fault) {
  AEffect* e = inst.effect();
  inst.plugin->start(44100.0, 64);
  AudioBuffers in(e->numInputs, 64), out(e->numOutputs, 64);
  in.fill(0.1f);
  report.step(format("%s of 64 frames after %s", hostsEntryName(e), after));
  inst.process(in, out, 64);
  const std::string nf = firstNonFinite(out, 64);
  const std::string text = format("%s: non-finite output after %s at %s", group, after, nf.c_str());
  if (nf.empty()) report.pass(format("%s: finite output after %s", group, after));
  else if (fault) report.fail(text);
  else report.warn(text);
}

namespace {

// A pin record (128 bytes) followed by guard bytes.
void askPin(Instance& inst, Report& report, VstInt32 op, VstInt32 index, int* answered) {
  GuardedBuffer buf(sizeof(VstPinProperties));
  report.step(format("%s index %d", opcodeName(op), index));
  if (inst.dispatch(op, index, 0, buf.data())) ++*answered;
  const auto* pin = reinterpret_cast<const VstPinProperties*>(buf.data());
  if (!buf.fault().empty())
    report.fail(format("texts: %s index %d %s (a pin record)", opcodeName(op), index, buf.fault().c_str()));
  else if (!std::memchr(pin->label, 0, sizeof pin->label))
    report.fail(format("texts: %s index %d: label not terminated within its 64 bytes", opcodeName(op), index));
  else if (!std::memchr(pin->shortLabel, 0, sizeof pin->shortLabel))
    report.warn(format("texts: %s index %d: short label fills all 8 bytes without a terminator", opcodeName(op), index));
}

}  // namespace

namespace {

void checkRecord(const AEffect* e, Report& report) {
  report.check("identity.magic", [&] {
    if (e->magic == kVstMagic) report.pass("identity: magic is VstP");
    else report.fail(format("identity: magic is 0x%08X, not VstP", static_cast<unsigned>(e->magic)));
  });
  report.check("identity.counts", [&] {
    const bool countsOk = e->numInputs >= 0 && e->numOutputs >= 0 && e->numParams >= 0 && e->numPrograms >= 0;
    const std::string counts = format("%d inputs, %d outputs, %d parameters, %d programs", e->numInputs,
                                      e->numOutputs, e->numParams, e->numPrograms);
    if (!countsOk) report.fail("identity: negative count: " + counts);
    else if (e->numInputs > 64 || e->numOutputs > 64) report.warn("identity: unusually many pins: " + counts);
    else report.pass("identity: counts " + counts);
  });
  report.check("identity.entries", [&] {
    if (!e->dispatcher || !e->setParameter || !e->getParameter)
      report.fail("identity: an entry function (dispatcher, setParameter or getParameter) is null");
    else report.pass("identity: dispatcher, setParameter and getParameter are set");
  });
  report.check("identity.replacing", [&] {
    if ((e->flags & effFlagsCanReplacing) && !e->processReplacing)
      report.fail("identity: flag CanReplacing is set but processReplacing is null");
    else if (!e->processReplacing && !e->process)
      report.fail("identity: neither process nor processReplacing is set: nothing can be processed");
    else if (!e->processReplacing)
      report.warn("identity: no processReplacing, only process: hosts that call only processReplacing cannot use "
                  "it (here it is driven through process on zeroed outputs)");
    else if (!(e->flags & effFlagsCanReplacing))
      report.warn("identity: flag CanReplacing is not set; hosts of today call only processReplacing");
    else report.pass("identity: CanReplacing with a processReplacing entry");
    if (e->processReplacing && !e->process) report.warn("identity: process (accumulating) is null; older hosts call it");
  });
  report.check("identity.flags", [&] {
    if (e->flags & ~kKnownFlags)
      report.warn(format("identity: unknown flag bits 0x%X", static_cast<unsigned>(e->flags & ~kKnownFlags)));
    else report.pass("identity: flags " + format("%d", e->flags) + " (" + vsthost::flagNames(e->flags) + ")");
  });
  report.check("identity.io-ratio", [&] {
    VstInt32 ratioBits = 0;
    std::memcpy(&ratioBits, &e->ioRatio, sizeof ratioBits);
    float ratioFloat = 0.0f;
    std::memcpy(&ratioFloat, &e->ioRatio, sizeof ratioFloat);
    if (ratioBits == 0 || ratioBits == 1 || ratioFloat == 1.0f)
      report.pass(format("identity: ioRatio bits 0x%08X", ratioBits));
    else report.warn(format("identity: ioRatio bits 0x%08X are neither 1 nor 1.0", static_cast<unsigned>(ratioBits)));
  });
  report.check("identity.unique-id", [&] {
    if (e->uniqueID == 0) report.warn("identity: unique id is 0; hosts tell plug-ins apart by it");
    else report.pass("identity: unique id " + vsthost::fourCharText(e->uniqueID));
  });
}

void checkSecondInstance(Instance& a, Report& report) {
  AEffect* e = a.effect();
  report.step("loading a second instance from the same entry");
  vsthost::Host hostB;
  hostB.beginLoading();
  AEffect* second = a.plugin->module().instantiate(vsthost::Host::callback());
  hostB.endLoading();
  if (!second) {
    report.fail("identity: the entry called a second time gave no instance");
    return;
  }
  hostB.attach(second);
  vsthost::dispatch(second, effOpen);
  if (second == e || (e->object && second->object == e->object))
    report.fail("identity: the entry called twice gave the same record or object");
  else report.pass("identity: the entry called twice gave two records");
  if (e->numParams > 0) {
    const float before = second->getParameter(second, 0);
    const float other = before < 0.5f ? 0.9f : 0.1f;
    e->setParameter(e, 0, other);
    const float after = second->getParameter(second, 0);
    if (after != before)
      report.fail(format("identity: setting parameter 0 of one instance to %g changed the other's from %g to %g",
                         static_cast<double>(other), static_cast<double>(before), static_cast<double>(after)));
    else report.pass("identity: parameters of two instances are independent");
  }
  report.step("closing the second instance, then processing the first");
  vsthost::dispatch(second, effClose);
  hostB.detach();
  a.plugin->start(44100.0, 256);
  AudioBuffers in(e->numInputs, 256), out(e->numOutputs, 256);
  in.fill(0.1f);
  a.process(in, out, 256);
  report.pass("identity: the first instance processes after the second is closed");
}

}  // namespace

void checkIdentity(const Options& o, Report& report) {
  report.step("loading the first instance");
  Instance a(o.module);
  checkRecord(a.effect(), report);
  report.check("identity.instances", [&] { checkSecondInstance(a, report); });
}

void checkTexts(const Options& o, Report& report) {
  Instance inst(o.module);
  AEffect* e = inst.effect();
  report.check("texts.strings", [&] {
    TextTallies tally;
    for (VstInt32 op : std::initializer_list<VstInt32>{effGetEffectName, effGetVendorString, effGetProductString,
                                                      effGetProgramName})
      askText("texts", inst, report, tally, op, 0);
    for (int i = 0; i < capped(e->numParams); ++i)
      for (VstInt32 op : std::initializer_list<VstInt32>{effGetParamName, effGetParamLabel, effGetParamDisplay})
        askText("texts", inst, report, tally, op, i);
    for (int i = 0; i < capped(e->numPrograms); ++i) askText("texts", inst, report, tally, effGetProgramNameIndexed, i);
    reportTexts(report, "texts", tally);
  });
  report.check("texts.pins", [&] {
    int answered = 0, asked = 0;
    for (int i = 0; i < capped(e->numInputs); ++i, ++asked) askPin(inst, report, effGetInputProperties, i, &answered);
    for (int i = 0; i < capped(e->numOutputs); ++i, ++asked) askPin(inst, report, effGetOutputProperties, i, &answered);
    report.pass(format("texts: %d pin records asked, %d described, none overrun", asked, answered));
  });
}

namespace {

// A host keeps and automates values within 0..1 and does arithmetic on what
// it reads back: outside the range is a broken convention, not finite is a
// fault. Values outside 0..1 are the robustness group's.
void sweepParameters(Instance& inst, Report& report) {
  AEffect* e = inst.effect();
  const int n = capped(e->numParams);
  int outside = 0, nonFinite = 0;
  TextTallies tally;
  auto readBack = [&](int i, float v) {
    const float got = e->getParameter(e, i);
    const std::string seen = format("parameters: getParameter(%d) gives %g after setParameter(%d, %g)", i,
                                    static_cast<double>(got), i, static_cast<double>(v));
    if (!std::isfinite(got)) {
      if (nonFinite++ == 0) report.fail(seen);
    } else if ((got < 0.0f || got > 1.0f) && outside++ == 0) {
      report.warn(seen);
    }
    askText("parameters", inst, report, tally, effGetParamDisplay, i);
  };
  for (int i = 0; i < n; ++i) {
    const float original = e->getParameter(e, i);
    for (float v : {0.0f, 0.5f, 1.0f}) {
      report.step(format("setParameter(%d, %g)", i, static_cast<double>(v)));
      e->setParameter(e, i, v);
      readBack(i, v);
    }
    e->setParameter(e, i, original);
  }
  reportTexts(report, "parameters", tally);
  if (!outside && !nonFinite)
    report.pass(format("parameters: %d parameters at 0, 0.5 and 1 read back within 0..1", n));
}

void switchPrograms(Instance& inst, Report& report) {
  TextTallies tally;
  const int n = capped(inst.effect()->numPrograms);
  int mismatched = 0;
  for (int i = 0; i < n; ++i) {
    report.step(format("effSetProgram %d", i));
    inst.dispatch(effBeginSetProgram);
    inst.dispatch(effSetProgram, 0, i);
    inst.dispatch(effEndSetProgram);
    const VstIntPtr now = inst.dispatch(effGetProgram);
    if (now != i && mismatched++ == 0)
      report.warn(format("programs: effGetProgram answers %lld after effSetProgram %d", static_cast<long long>(now), i));
    askText("programs", inst, report, tally, effGetProgramName, i);
  }
  reportTexts(report, "programs", tally);
  if (n > 0 && !mismatched) report.pass(format("programs: switched through %d programs, effGetProgram follows", n));
}

void renameProgram(Instance& inst, Report& report) {
  if (inst.effect()->numPrograms <= 0) return;
  TextTallies tally;
  char name[25] = "vstrun validate program";  // 23 characters, within the convention
  report.step("effSetProgramName");
  inst.dispatch(effSetProgram, 0, 0);
  inst.dispatch(effSetProgramName, 0, 0, name);
  askText("programs", inst, report, tally, effGetProgramName, 0);
  reportTexts(report, "programs", tally);
}

}  // namespace

void checkParameters(const Options& o, Report& report) {
  Instance inst(o.module);
  report.check("parameters.values", [&] { sweepParameters(inst, report); });
  report.check("parameters.output",
               [&] { finiteAfterwards(inst, report, "parameters", "the parameter sweep"); });
}

void checkPrograms(const Options& o, Report& report) {
  Instance inst(o.module);
  report.check("programs.switching", [&] { switchPrograms(inst, report); });
  report.check("programs.rename", [&] { renameProgram(inst, report); });
  report.check("programs.output",
               [&] { finiteAfterwards(inst, report, "programs", "program changes"); });
}

}  // namespace validate
