// processing, floatstate, midi: what happens to audio.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "validate/FloatState.h"
#include "validate/Groups.h"

namespace validate {

namespace {

// An instance started at a rate and block size, with buffers for it.
struct Runner {
  Instance inst;
  AudioBuffers in, out;
  int maxBlock;
  Runner(const Options& o, double rate, int maxBlock_)
      : inst(o.module), in(inst.effect()->numInputs, maxBlock_), out(inst.effect()->numOutputs, maxBlock_),
        maxBlock(maxBlock_) {
    inst.plugin->start(rate, maxBlock_);
  }
  AEffect* effect() { return inst.effect(); }
};

// Checks one block's output: finite, and nothing written past the block.
// Returns false (after one result of the given kind) when something is
// wrong.
bool checkBlock(Report& report, const std::string& what, AudioBuffers& out, int frames, bool fault = true) {
  const char* group = fault ? "processing" : "robustness";
  auto tell = [&](const std::string& text) { fault ? report.fail(text) : report.warn(text); };
  if (out.overrunChannel() >= 0) {
    tell(format("%s: %s wrote past the end of output channel %d", group, what.c_str(), out.overrunChannel()));
    return false;
  }
  const std::string nf = firstNonFinite(out, frames);
  if (!nf.empty()) {
    tell(format("%s: %s: non-finite output at %s", group, what.c_str(), nf.c_str()));
    return false;
  }
  return true;
}

void blockSizes(const Options& o, Report& report) {
  std::mt19937 rng = report.rng();
  bool ok = true;
  for (int size : {1, 2, 3, 7, 31, 64, 127, 128, 333, 511, 512, 1000, 1024, 2048, 4095, 4096, 8191, 8192}) {
    Runner r(o, 44100.0, size);
    const char* entry = hostsEntryName(r.effect());
    report.step(format("%s with blocks of %d", entry, size));
    for (int b = 0; b < 4 && ok; ++b) {
      fillNoise(r.in, size, rng);
      r.inst.process(r.in, r.out, size);
      ok = checkBlock(report, format("%s, block of %d", entry, size), r.out, size);
    }
  }
  if (ok) report.pass("processing: blocks of 1 to 8192 frames (odd sizes too): finite, nothing written past the block");
}

// Wrong audio at the rates hosts run at is a fault; at the few rates almost
// no host offers it is worth a look. Every rate is tried, so that the report
// names each bad one.
constexpr double kLowestUsualRate = 22050.0, kHighestUsualRate = 192000.0;

void sampleRates(const Options& o, Report& report) {
  std::mt19937 rng = report.rng();
  std::string usual, unusual;
  for (double rate : {8000.0, 11025.0, 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0, 384000.0}) {
    report.step(format("processing at %.0f Hz", rate));
    Runner r(o, rate, 512);
    for (int b = 0; b < 8; ++b) {
      fillNoise(r.in, 512, rng);
      r.inst.process(r.in, r.out, 512);
      if (r.out.overrunChannel() >= 0) {
        report.fail(format("processing: at %.0f Hz wrote past the end of output channel %d", rate,
                           r.out.overrunChannel()));
        return;
      }
      const std::string nf = firstNonFinite(r.out, 512);
      if (nf.empty()) continue;
      std::string& list = rate < kLowestUsualRate || rate > kHighestUsualRate ? unusual : usual;
      list += format("%sat %.0f Hz: non-finite output at %s", list.empty() ? "" : "; ", rate, nf.c_str());
      break;
    }
  }
  if (!usual.empty())
    report.fail("processing: " + usual + (unusual.empty() ? "" : "; and " + unusual));
  else if (!unusual.empty())
    report.warn("processing: " + unusual + format(" (a rate few hosts use; %.0f to %.0f Hz give finite output)",
                                                  kLowestUsualRate, kHighestUsualRate));
  else report.pass("processing: sample rates 8000 to 384000 Hz give finite output");
}

}  // namespace

// process must add to what the outputs hold, as processReplacing (or, where
// there is none, process on zeroed outputs) would write them. Hosts call
// process only for plug-ins that cannot replace: only there is a wrong sum
// a FAIL (hostsCallProcess); for the others it is looked at only by the
// robustness group. Nothing is said when the plug-in has no process.
void accumulating(const Options& o, Report& report, bool hostsCallProcess) {
  std::mt19937 rng = report.rng();
  report.step("process (accumulating) against processReplacing");
  Runner rep(o, 44100.0, 512), acc(o, 44100.0, 512);
  AEffect* e = acc.effect();
  if (!e->process || hostsCallProcess == canReplace(e)) return;
  const bool fault = hostsCallProcess;
  constexpr float kPrefill = 0.25f;
  float added = 0.0f, replaced = 0.0f;
  int firstBad = -1;
  for (int b = 0; b < 16; ++b) {
    fillNoise(rep.in, 512, rng);
    copyAudio(rep.in, 0, acc.in, 0, 512);
    acc.out.fill(kPrefill);
    if (e->processReplacing) rep.effect()->processReplacing(rep.effect(), rep.in.pointers(), rep.out.pointers(), 512);
    else rep.inst.process(rep.in, rep.out, 512);  // process on zeroed outputs
    acc.inst.accumulate(acc.in, acc.out, 512);
    const Difference asAdded = compare(rep.out, acc.out, 512, kPrefill);
    added = std::fmax(added, asAdded.max);
    replaced = std::fmax(replaced, compare(rep.out, acc.out, 512).max);
    if (asAdded.max > 1e-4f && firstBad < 0) firstBad = b * 512 + asAdded.frame;
  }
  const std::string group = fault ? "processing" : "robustness";
  if (added <= 1e-4f) {
    report.pass(group + ": process adds to the outputs as " +
                (e->processReplacing ? "processReplacing would write them" : "it writes them when they hold zeros"));
    return;
  }
  const std::string consequence = canReplace(e) ? "; the plug-in declares it can replace, so hosts call processReplacing"
                                                : "; the plug-in does not declare it can replace, so hosts call process";
  const std::string text =
      group + (replaced <= 1e-4f
                   ? format(": process replaces the outputs instead of adding to them (outputs held %g, first at "
                            "sample %d)",
                            static_cast<double>(kPrefill), firstBad)
                   : format(": process differs from %s plus the outputs' contents by up to %g (from sample %d)",
                            e->processReplacing ? "processReplacing" : "its own output on zeroed outputs",
                            static_cast<double>(added), firstBad));
  fault ? report.fail(text + consequence) : report.warn(text + consequence);
}

// The announced block size is a maximum: a larger block is the host's
// fault, though some hosts do send one.
void oversizedBlock(const Options& o, Report& report) {
  std::mt19937 rng = report.rng();
  Runner r(o, 44100.0, 1024);
  r.inst.plugin->start(44100.0, 512);  // the buffers stay 1024 frames long
  report.step(format("%s of 1024 frames after effSetBlockSize 512", hostsEntryName(r.effect())));
  fillNoise(r.in, 1024, rng);
  r.inst.process(r.in, r.out, 1024);
  if (checkBlock(report, "a block of 1024 after announcing 512", r.out, 1024, false))
    report.pass("robustness: a block of 1024 frames after announcing 512 is handled");
}

namespace {

// Filters without denormal protection decay into denormal numbers within
// milliseconds of silence, so the outputs are looked at from the first
// silent block on. A denormal costs the arithmetic that meets it about a
// hundred times a normal number: a few stray ones (the last samples of a
// fade) are lost in a block's time, but when 1/64 of a block's samples or
// more are denormal, a plug-in after this one that does a few operations
// per sample takes about twice as long over that block, a spike that can
// make the audio drop out.
constexpr int kDenormalShare = 64;

void denormalOutput(const Options& o, Report& report) {
  std::mt19937 rng = report.rng();
  report.step("silence after a signal");
  Runner r(o, 44100.0, 512);
  for (int b = 0; b < 86; ++b) {
    fillNoise(r.in, 512, rng);
    r.inst.process(r.in, r.out, 512);
  }
  r.in.fill(0.0f);
  const int samples = 512 * r.effect()->numOutputs;
  long stray = 0;
  std::string firstStray;
  for (int b = 0; b < 344; ++b) {  // 4 s
    r.inst.process(r.in, r.out, 512);
    const int n = countDenormals(r.out, 512);
    if (!n) continue;
    int frame = 0;
    const std::string first = firstDenormal(r.out, 512, &frame);
    const std::string when = format("%.0f ms after the input fell silent, block %d, %s",
                                    (b * 512 + frame) * 1000.0 / 44100.0, b, first.c_str());
    if (n * kDenormalShare >= samples) {
      report.fail(format("processing: denormal output %s: %d of the block's %d samples (from 1/%d of a block on, "
                         "the plug-ins after it crawl)",
                         when.c_str(), n, samples, kDenormalShare));
      return;
    }
    if (firstStray.empty()) firstStray = when;
    stray += n;
  }
  if (stray)
    report.warn(format("processing: %ld stray denormal samples in the 4 s after the input fell silent, never 1/%d of a "
                       "block (the first %s)",
                       stray, kDenormalShare, firstStray.c_str()));
  else report.pass("processing: no denormal output in the 4 s after the input fell silent");
}

// Same input through two instances; false (after a WARN) when they differ,
// which makes the comparisons between instances meaningless.
bool twins(const Options& o, Report& report) {
  std::mt19937 rng = report.rng();
  Runner a(o, 44100.0, 512), b(o, 44100.0, 512);
  float worst = 0.0f;
  for (int block = 0; block < 32; ++block) {
    fillNoise(a.in, 512, rng);
    copyAudio(a.in, 0, b.in, 0, 512);
    a.inst.process(a.in, a.out, 512);
    b.inst.process(b.in, b.out, 512);
    worst = std::fmax(worst, compare(a.out, b.out, 512).max);
  }
  if (worst > 1e-6f)
    report.warn(format("processing: two instances fed the same input differ by up to %g; the comparisons of in-place "
                       "and block-size independence are skipped",
                       static_cast<double>(worst)));
  else report.pass("processing: two instances fed the same input give the same output");
  return worst <= 1e-6f;
}

void inPlace(const Options& o, Report& report) {
  std::mt19937 rng = report.rng();
  report.step("in-place processing against separate buffers");
  Runner sep(o, 44100.0, 512), inplace(o, 44100.0, 512);
  const int outs = inplace.effect()->numOutputs, ins = inplace.effect()->numInputs;
  // Hosts that call process zero the outputs first, which in place would
  // zero the input: only processReplacing is called in place.
  if (ins <= 0 || !inplace.effect()->processReplacing) return;
  std::vector<float*> outPtrs(static_cast<size_t>(outs));
  for (int c = 0; c < outs; ++c) outPtrs[static_cast<size_t>(c)] = c < ins ? inplace.in.channel(c) : inplace.out.channel(c);
  Difference worst;
  int where = -1;
  for (int b = 0; b < 16; ++b) {
    fillNoise(sep.in, 512, rng);
    copyAudio(sep.in, 0, inplace.in, 0, 512);
    AEffect* e = inplace.effect();
    e->processReplacing(sep.effect(), sep.in.pointers(), sep.out.pointers(), 512);
    e->processReplacing(e, inplace.in.pointers(), outPtrs.data(), 512);
    const Difference d = compare(outPtrs.data(), sep.out.pointers(), outs, 512);
    if (d.max > worst.max) {
      worst = d;
      where = b * 512 + d.frame;
    }
  }
  if (worst.max > 1e-6f)
    report.fail(format("processing: in-place buffers give other output than separate ones (by %g from sample %d)",
                       static_cast<double>(worst.max), where));
  else report.pass("processing: in-place buffers give the output of separate ones");
}

void blockIndependence(const Options& o, Report& report) {
  std::mt19937 rng = report.rng();
  report.step("block-size independence");
  Runner whole(o, 44100.0, 4096), pieces(o, 44100.0, 4096);
  Difference worst;
  int where = -1;
  std::uniform_int_distribution<int> size(1, 700);
  for (int b = 0; b < 8; ++b) {
    fillNoise(whole.in, 4096, rng);
    whole.inst.process(whole.in, whole.out, 4096);
    for (int done = 0; done < 4096;) {
      const int n = std::min(size(rng), 4096 - done);
      AudioBuffers pin(pieces.in.channels(), n), pout(pieces.out.channels(), n);
      copyAudio(whole.in, done, pin, 0, n);
      pieces.inst.process(pin, pout, n);
      copyAudio(pout, 0, pieces.out, done, n);
      done += n;
    }
    const Difference d = compare(whole.out, pieces.out, 4096);
    if (d.max > worst.max) {
      worst = d;
      where = b * 4096 + d.frame;
    }
  }
  if (worst.max > 1e-5f)
    report.warn(format("processing: output depends on the block size (by up to %g, from sample %d); fine for "
                       "plug-ins that work in fixed blocks",
                       static_cast<double>(worst.max), where));
  else report.pass("processing: the same output whatever the block size (1 to 700 against 4096)");
}

}  // namespace

void checkProcessing(const Options& o, Report& report) {
  report.check("processing.block-sizes", [&] { blockSizes(o, report); });
  report.check("processing.sample-rates", [&] { sampleRates(o, report); });
  report.check("processing.accumulating", [&] { accumulating(o, report, true); });
  report.check("processing.denormal-output", [&] { denormalOutput(o, report); });
  bool same = true;
  report.check("processing.twins", [&] { same = twins(o, report); });
  if (!same) return;
  report.check("processing.in-place", [&] { inPlace(o, report); });
  report.check("processing.block-independence", [&] { blockIndependence(o, report); });
}

namespace {

constexpr unsigned kFlushToZero = 0x9FC0u;  // with denormals-are-zero
constexpr unsigned kRoundToZero = 0x7F80u;

// Looks at the caller's floating-point state before and after each call of
// the plug-in, and restores it.
class FpWatch {
 public:
  explicit FpWatch(Report& report) : report_(report) {}
  template <class Call>
  void guarded(const std::string& what, Call&& call) {
    const FpState before = readFpState();
    report_.step(what);
    call();
    FpState after = readFpState();
    after.mxcsr &= kMxcsrControlMask;
    FpState expected = before;
    expected.mxcsr &= kMxcsrControlMask;
    if (!(after == expected) && changed_++ < 5)
      report_.fail(format("floatstate: %s changed the caller's %s to %s", what.c_str(), describe(expected).c_str(),
                          describe(after).c_str()));
    setMxcsr(before.mxcsr);
  }
  void dispatch(AEffect* e, VstInt32 op, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                float opt = 0.0f) {
    guarded(opcodeName(op), [&] { vsthost::dispatch(e, op, index, value, ptr, opt); });
  }
  int changed() const { return changed_; }

 private:
  Report& report_;
  int changed_ = 0;
};

// One round of what a host calls to an open instance, from asking its name
// to suspending it, with the entry hosts call for its blocks.
void hostRound(AEffect* e, FpWatch& w, std::mt19937& rng) {
  for (VstInt32 op : {effGetEffectName, effGetVendorString, effGetProductString}) {
    GuardedBuffer text;
    w.dispatch(e, op, 0, 0, text.data());
  }
  w.dispatch(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
  w.dispatch(e, effSetBlockSize, 0, 256);
  if (e->numParams > 0) {
    w.guarded("setParameter", [&] { e->setParameter(e, 0, e->getParameter(e, 0)); });
    w.guarded("getParameter", [&] { (void)e->getParameter(e, 0); });
    GuardedBuffer text;
    w.dispatch(e, effGetParamDisplay, 0, 0, text.data());
  }
  w.dispatch(e, effMainsChanged, 0, 1);
  w.dispatch(e, effStartProcess);
  AudioBuffers in(e->numInputs, 256), out(e->numOutputs, 256);
  fillNoise(in, 256, rng);
  EventList events;
  events.addMidi(0, 0x90, 60, 100);
  w.dispatch(e, effProcessEvents, 0, 0, events.events());
  w.guarded(hostsEntryName(e), [&] { processBlock(e, in.pointers(), out.pointers(), 256); });
  w.dispatch(e, effStopProcess);
  w.dispatch(e, effMainsChanged, 0, 0);
}

void controlWord(const Options& o, Report& report) {
  const FpState normal = readFpState();
  FpWatch w(report);
  report.step("loading");
  auto module = vsthost::Module::load(o.module);
  if (!module) throw std::runtime_error("the module does not load");
  vsthost::Host host;
  host.beginLoading();
  AEffect* e = nullptr;
  w.guarded("the entry function", [&] { e = module->instantiate(vsthost::Host::callback()); });
  host.endLoading();
  if (!e) throw std::runtime_error("the entry gave no instance");
  host.attach(e);
  w.dispatch(e, effOpen);
  std::mt19937 rng = report.rng();
  for (unsigned mode : {0x1F80u, kFlushToZero, kRoundToZero}) {
    setMxcsr(mode);
    hostRound(e, w, rng);
  }
  setMxcsr(normal.mxcsr);
  w.dispatch(e, effClose);
  host.detach();
  if (!w.changed()) report.pass("floatstate: every call left the caller's MXCSR and x87 control word as they were");
}

void foreignModes(const Options& o, Report& report) {
  const unsigned normal = readFpState().mxcsr;
  const unsigned modes[] = {kFlushToZero, kRoundToZero};
  const char* modeNames[] = {"flush-to-zero with denormals-are-zero", "rounding toward zero"};
  for (int m = 0; m < 2; ++m) {
    Runner ref(o, 44100.0, 512), foreign(o, 44100.0, 512);
    float worst = 0.0f;
    std::mt19937 sig = report.rng();
    report.step(format("processing under %s", modeNames[m]));
    for (int b = 0; b < 32; ++b) {
      fillNoise(ref.in, 512, sig);
      copyAudio(ref.in, 0, foreign.in, 0, 512);
      ref.inst.process(ref.in, ref.out, 512);
      setMxcsr(modes[m]);
      foreign.inst.process(foreign.in, foreign.out, 512);
      setMxcsr(normal);
      worst = std::fmax(worst, compare(ref.out, foreign.out, 512).max);
    }
    if (worst > 1e-3f)
      report.warn(format("floatstate: output under %s differs from the default mode's by up to %g", modeNames[m],
                         static_cast<double>(worst)));
    else report.pass(format("floatstate: output under %s matches the default mode's", modeNames[m]));
  }
}

// The best of three runs of 64 blocks of noise at the given scale.
double timeBlocks(Runner& r, float scale) {
  // The input is made before the clock starts: making denormal numbers
  // costs the validator's own thread time, which is not the plug-in's.
  std::mt19937 g(7);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  for (int c = 0; c < r.in.channels(); ++c)
    for (int i = 0; i < 512; ++i) r.in.channel(c)[i] = dist(g) * scale;
  double best = 1e9;
  for (int round = 0; round < 3; ++round) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int b = 0; b < 64; ++b) r.inst.process(r.in, r.out, 512);
    best = std::fmin(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

void denormalInput(const Options& o, Report& report) {
  Runner r(o, 44100.0, 512);
  report.step("timing normal against denormal input");
  const double normalTime = timeBlocks(r, 0.25f);
  const double denormalTime = timeBlocks(r, 1e-39f);
  const double ratio = denormalTime / std::fmax(normalTime, 1e-9);
  if (ratio > 2.0)
    report.warn(format("floatstate: denormal input makes processing %.1fx slower than normal input", ratio));
  else report.pass(format("floatstate: denormal input costs %.2fx normal input", ratio));
}

}  // namespace

void checkFloatState(const Options& o, Report& report) {
  report.check("floatstate.control-word", [&] { controlWord(o, report); });
  report.check("floatstate.foreign-modes", [&] { foreignModes(o, report); });
  report.check("floatstate.denormal-input", [&] { denormalInput(o, report); });
}

namespace {

// MIDI lists hosts send before a block of 512: in time order within the
// block, channel messages with data bytes up to 127, SysEx from F0 to F7.
void emptyList(EventList&, std::mt19937&) {}
void oneNote(EventList& list, std::mt19937& rng) {
  list.addMidi(static_cast<int>(rng() % 512), 0x90, static_cast<unsigned char>(rng() % 128), 100);
}
void channelMessages(EventList& list, std::mt19937& rng, int count) {
  std::vector<int> frames(static_cast<size_t>(count));
  for (int& f : frames) f = static_cast<int>(rng() % 512);
  std::sort(frames.begin(), frames.end());
  for (int f : frames)
    list.addMidi(f, static_cast<unsigned char>(0x80 + rng() % 0x70), static_cast<unsigned char>(rng() % 128),
                 static_cast<unsigned char>(rng() % 128));
}
void longList(EventList& list, std::mt19937& rng) { channelMessages(list, rng, 1000); }
void randomMessages(EventList& list, std::mt19937& rng) { channelMessages(list, rng, 64); }
void sysex(EventList& list, std::mt19937&) {
  list.addSysex(10, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7});
  std::vector<unsigned char> dump(4096, 0x11);
  dump.front() = 0xF0;
  dump.back() = 0xF7;
  list.addSysex(100, dump);
  list.addMidi(200, 0x90, 60, 90);
}

}  // namespace

void midiLists(const Options& o, Report& report, const MidiKind* kinds, size_t count, bool fault) {
  Runner r(o, 44100.0, 512);
  EventList list;
  const char* group = fault ? "midi" : "robustness";
  const int rounds = 4 * o.level;
  for (size_t k = 0; k < count; ++k) {
    if (!report.begin(kinds[k].check)) continue;
    std::mt19937 rng = report.rng();
    bool ok = true;
    for (int round = 0; round < rounds && ok; ++round) {
      list.clear();
      kinds[k].fill(list, rng);
      report.step(format("effProcessEvents with a list %s (%zu events), round %d", kinds[k].what, list.size(), round));
      r.inst.dispatch(effProcessEvents, 0, 0, list.events());
      fillNoise(r.in, 512, rng);
      report.step(format("%s after a list %s, round %d", hostsEntryName(r.effect()), kinds[k].what, round));
      r.inst.process(r.in, r.out, 512);
      const std::string nf = firstNonFinite(r.out, 512);
      if (!nf.empty()) {
        const std::string text =
            format("%s: after a list %s (round %d): non-finite output at %s", group, kinds[k].what, round, nf.c_str());
        fault ? report.fail(text) : report.warn(text);
        ok = false;
      }
    }
    if (ok) report.pass(format("%s: %d event lists %s, then processing: finite output", group, rounds, kinds[k].what));
  }
}

void checkMidi(const Options& o, Report& report) {
  static const MidiKind kinds[] = {
      {"midi.empty", "empty", emptyList},
      {"midi.one-note", "of one note", oneNote},
      {"midi.long", "long", longList},
      {"midi.sysex", "with SysEx entries (6 and 4096 bytes) and a note", sysex},
      {"midi.random-messages", "of 64 random channel messages", randomMessages},
  };
  midiLists(o, report, kinds, sizeof kinds / sizeof kinds[0], true);
}

}  // namespace validate
