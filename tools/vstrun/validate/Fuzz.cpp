// fuzz: seeded random dispatcher calls interleaved with processing.
//
// Opcodes whose pointer the interface defines as a specific record get only
// a valid record of that shape (or are not sent), so that a crash always
// means a fault of the plug-in, not of the fuzzer:
//   effOpen (sent once, before), effClose (ends the instance), effEditOpen
//   (a parent window) and so effEditClose (closing what was never opened),
//   effEditGetRect (an ERect* to fill; only while the fuzzer holds a
//   display, as hosts ask only when about to open the editor), effEditDraw (an ERect), effGetChunk / effSetChunk (a
//   chunk address; only the plug-in's own chunk goes back), effProcessEvents
//   (an event list in time order within the next block), pin properties (a 128-byte record), effSetProgramName
//   and effCanDo and effString2Parameter (terminated texts), the text
//   requests (a buffer of 256 bytes), effSetBypass (only to a plug-in that
//   answers yes to effCanDo "bypass"), effSetBlockSize and the sample rate
//   (plausible values, while suspended; only effSetBlockSize changes the
//   largest block), and never: offline and variable-I/O
//   records, speaker arrangements, parameter properties, MIDI program and
//   key names, vendor-specific calls and the bank and program loading hints.
// Every other opcode, and opcodes nobody defines, get null or a zeroed
// buffer of random size with guard bytes that must stay untouched.
// Blocks go through processReplacing; through the accumulating process only
// when the plug-in does not declare it can replace (hosts then call nothing
// else).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "validate/Groups.h"

namespace validate {

namespace {

bool isTextRequest(VstInt32 op) { return conventionalTextLength(op) > 0; }

bool neverSent(VstInt32 op) {
  static const std::set<VstInt32> never = {
      effOpen,            effClose,              effEditOpen,           effEditClose,          effOfflineNotify,
      effOfflinePrepare,  effOfflineRun,         effProcessVarIo,       effSetSpeakerArrangement,
      effGetParameterProperties, effVendorSpecific, effGetMidiProgramName, effGetCurrentMidiProgram,
      effGetMidiProgramCategory, effGetMidiKeyName, effGetSpeakerArrangement, effBeginLoadBank,
      effBeginLoadProgram};
  return never.count(op) != 0;
}

std::string randomText(std::mt19937& rng, size_t maxLength) {
  std::string s(rng() % (maxLength + 1), ' ');
  for (char& c : s) c = static_cast<char>(32 + rng() % 95);
  return s;
}

// One dispatcher call with what its pointer points at.
struct Call {
  VstInt32 op = 0, index = 0;
  VstIntPtr value = 0;
  float opt = 0.0f;
  void* ptr = nullptr;
  std::unique_ptr<GuardedBuffer> buf;
  std::string ptrText = "null";
  ERect* rect = nullptr;
  ERect area{0, 0, 100, 100};
  void* chunkAddress = nullptr;
  std::string text;
  EventList events;
  std::string describe() const {
    return format("%s (%d) index %d value %lld ptr %s opt %g", opcodeName(op), op, index, static_cast<long long>(value),
                  ptrText.c_str(), static_cast<double>(opt));
  }
};

class Fuzzer {
 public:
  Fuzzer(const Options& o, Report& report)
      : report_(report), rng_(report.rng()), inst_(o.module), e_(inst_.effect()), in_(e_->numInputs, 4096),
        out_(e_->numOutputs, 4096) {
#ifndef _WIN32
    display_.reset(new ParentWindow);
    if (!display_->valid()) report_.noteSteps(" (" + display_->why() + ")");  // a crash tells it
#endif
    inst_.plugin->start(44100.0, block_);
    char bypass[] = "bypass";
    report_.step("before step 0: effCanDo \"bypass\"");
    canBypass_ = inst_.dispatch(effCanDo, 0, 0, bypass) > 0;
    drawNextBlock();
  }

  // False after a FAIL.
  bool step(int step) {
    step_ = step;
    const unsigned roll = rng_() % 100;
    if (roll < 15) return processBlock();
    if (roll < 20 && e_->numParams > 0) {
      setParameter();
      return true;
    }
    return dispatch();
  }
  long calls() const { return calls_; }
  long blocks() const { return blocks_; }
  // Why effEditGetRect was never sent, or empty.
  std::string noDisplay() const { return display_ && !display_->valid() ? display_->why() : ""; }

 private:
  void mains(bool on) {
    if (on_ == on) return;
    report_.step(format("step %d: effMainsChanged %d", step_, on ? 1 : 0));
    inst_.dispatch(effMainsChanged, 0, on ? 1 : 0);
    on_ = on;
  }

  // The next block's length is drawn ahead, so that events sent before it
  // lie within it, as a host's do.
  void drawNextBlock() { next_ = 1 + static_cast<int>(rng_() % static_cast<unsigned>(block_)); }

  bool processBlock() {
    mains(true);  // as a host does: resume before processing
    const int n = next_;
    drawNextBlock();
    eventsPending_ = false;
    fillNoise(in_, n, rng_);
    const bool acc = e_->process && !(e_->flags & effFlagsCanReplacing);
    report_.step(format("step %d: %s of %d frames (block size %d, %.0f Hz)", step_, acc ? "process" : "processReplacing",
                        n, block_, rate_));
    inst_.process(in_, out_, n, acc);
    ++blocks_;
    const std::string nf = firstNonFinite(out_, n);
    if (!nf.empty()) {
      report_.fail(format("fuzz: step %d: non-finite output at %s", step_, nf.c_str()));
      return false;
    }
    if (out_.overrunChannel() >= 0) {
      report_.fail(format("fuzz: step %d: wrote past a block of %d frames", step_, n));
      return false;
    }
    return true;
  }

  void setParameter() {
    const VstInt32 i = static_cast<VstInt32>(rng_() % static_cast<unsigned>(e_->numParams));
    const float v = static_cast<float>(rng_() % 1001) / 1000.0f;
    report_.step(format("step %d: setParameter(%d, %g)", step_, i, static_cast<double>(v)));
    e_->setParameter(e_, i, v);
  }

  VstInt32 randomOpcode() {
    if (rng_() % 20 != 0) return static_cast<VstInt32>(rng_() % kFirstUndefinedOpcode);
    return static_cast<VstInt32>(rng_() % 2 ? kFirstUndefinedOpcode + static_cast<int>(rng_() % 1000)
                                            : -static_cast<int>(rng_() % 1000) - 1);
  }

  // The pointer and the values the opcode gets; false when it is not sent.
  bool prepare(Call& c) {
    static const VstInt32 blockSizes[] = {32, 64, 256, 512, 1024, 4096};
    static const float rates[] = {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
    static const char* const canDos[] = {"receiveVstEvents", "receiveVstMidiEvent", "sendVstEvents", "bypass",
                                         "offline", "midiProgramNames", "x"};
    switch (c.op) {
      case effSetSampleRate:
      case effSetBlockSize:
      case effSetBlockSizeAndSampleRate:
        mains(false);  // as hosts do: only while suspended
        if (c.op == effSetBlockSize) {
          if (eventsPending_) return false;  // hosts send events just before their block
          block_ = blockSizes[rng_() % 6];
          if (next_ > block_) drawNextBlock();
        }
        c.value = block_;
        c.opt = rates[rng_() % 5];
        if (c.op != effSetBlockSize) rate_ = c.opt;
        return true;
      case effMainsChanged:
        c.value = rng_() % 2;
        on_ = c.value != 0;
        return true;
      case effEditGetRect:
        if (display_ && !display_->valid()) return false;
        c.ptr = &c.rect;
        c.ptrText = "ERect**";
        return true;
      case effEditDraw:
        c.ptr = &c.area;
        c.ptrText = "ERect";
        return true;
      case effGetChunk:
        c.ptr = &c.chunkAddress;
        c.ptrText = "void**";
        return true;
      case effSetChunk:
        if (chunk_.empty()) return false;
        c.ptr = chunk_.data();
        c.value = static_cast<VstIntPtr>(chunk_.size());
        c.ptrText = format("its own chunk of %zu bytes", chunk_.size());
        return true;
      case effProcessEvents: {
        std::vector<int> times(rng_() % 16);  // in time order, as hosts send them
        for (int& t : times) t = static_cast<int>(rng_() % static_cast<unsigned>(next_));
        std::sort(times.begin(), times.end());
        for (int t : times)
          c.events.addMidi(t, static_cast<unsigned char>(0x80 + rng_() % 0x70), static_cast<unsigned char>(rng_() % 128),
                           static_cast<unsigned char>(rng_() % 128));
        c.ptr = c.events.events();
        c.ptrText = format("%zu MIDI events", c.events.size());
        eventsPending_ = eventsPending_ || !times.empty();
        return true;
      }
      case effGetInputProperties:
      case effGetOutputProperties:
        c.buf.reset(new GuardedBuffer(sizeof(VstPinProperties)));
        c.ptr = c.buf->data();
        c.ptrText = "pin record";
        return true;
      case effSetProgramName:
      case effCanDo:
      case effString2Parameter:
        c.text = c.op == effCanDo ? canDos[rng_() % 7] : randomText(rng_, c.op == effSetProgramName ? 24 : 40);
        c.ptr = &c.text[0];
        c.ptrText = "\"" + c.text + "\"";
        return true;
      case effSetBypass:
        return canBypass_;  // hosts bypass a plug-in themselves unless it says it can
      case effStartProcess:
      case effStopProcess:
        return true;
      default:
        if (isTextRequest(c.op)) {
          c.buf.reset(new GuardedBuffer(256));
          c.ptrText = "text buffer of 256 bytes";
        } else if (rng_() % 2) {
          c.buf.reset(new GuardedBuffer(1 + rng_() % 512));
          c.ptrText = format("zeroed buffer of %zu bytes", c.buf->size());
        }
        if (c.buf) c.ptr = c.buf->data();
        return true;
    }
  }

  bool dispatch() {
    Call c;
    c.op = randomOpcode();
    if (neverSent(c.op)) return true;
    c.index = static_cast<VstInt32>(rng_() % 8);
    if (rng_() % 5 == 0) c.index = static_cast<VstInt32>(rng_());
    c.value = static_cast<VstIntPtr>(rng_() % 4);
    if (rng_() % 5 == 0) c.value = static_cast<VstIntPtr>(static_cast<VstInt32>(rng_()));
    c.opt = static_cast<float>(rng_() % 1000) / 1000.0f;
    if (!prepare(c)) return true;
    const std::string call = c.describe();
    report_.step(format("step %d: %s", step_, call.c_str()));
    const VstIntPtr result = inst_.dispatch(c.op, c.index, c.value, c.ptr, c.opt);
    ++calls_;
    if (c.buf && (c.buf->overrun() || c.buf->underrun())) {
      report_.fail(format("fuzz: step %d: %s wrote %zu bytes past the buffer", step_, call.c_str(), c.buf->overrun()));
      return false;
    }
    readAnswer(c, result);
    return true;
  }

  // What a host does with the records some calls give back.
  void readAnswer(const Call& c, VstIntPtr result) {
    if (c.op == effGetChunk && result > 0 && c.chunkAddress && result < (1 << 24)) {
      report_.step(format("step %d: reading the chunk of %lld bytes at the address effGetChunk gave", step_,
                          static_cast<long long>(result)));
      const char* bytes = static_cast<const char*>(c.chunkAddress);
      chunk_.assign(bytes, bytes + result);
    }
    if (c.op == effEditGetRect && c.rect) {
      report_.step(format("step %d: reading the ERect effEditGetRect gave", step_));
      volatile int16_t probe = c.rect->right;
      (void)probe;
    }
  }

  Report& report_;
  std::mt19937 rng_;
  Instance inst_;
  AEffect* e_;
  AudioBuffers in_, out_;
  std::unique_ptr<ParentWindow> display_;  // held for the whole run
  VstInt32 block_ = 512;  // the announced largest block
  int next_ = 1;          // the next block's length
  bool eventsPending_ = false;  // sent for the next block
  double rate_ = 44100.0;       // the last sample rate set
  bool on_ = true;
  bool canBypass_ = false;  // answered yes to effCanDo "bypass"
  std::vector<char> chunk_;
  int step_ = 0;
  long calls_ = 0, blocks_ = 0;
};

void fuzz(const Options& o, Report& report) {
  Fuzzer fuzzer(o, report);
  const int steps = 2000 * o.level;
  for (int step = 0; step < steps; ++step)
    if (!fuzzer.step(step)) return;
  report.pass(format("fuzz: %d steps (%ld dispatcher calls, %ld blocks) without a fault", steps, fuzzer.calls(),
                     fuzzer.blocks()));
  if (!fuzzer.noDisplay().empty())
    report.warn("fuzz: effEditGetRect not checked: " + fuzzer.noDisplay());
}

}  // namespace

void checkFuzz(const Options& o, Report& report) {
  report.check("fuzz.dispatcher", [&] { fuzz(o, report); });
}

}  // namespace validate
