// fuzz: seeded random dispatcher calls interleaved with processing, in two
// kinds.
//
// The fuzz group (a FAIL on any fault) sends only what hosts of today send,
// with the values they send: the dispatcher calls of the host table below,
// indices within the plug-in's counts, parameter values within 0..1, blocks
// no longer than the last effSetBlockSize announced, one list of MIDI in
// time order within the block that follows, sample rate, block size and precision only
// while suspended, effStartProcess and effStopProcess only while resumed, the
// chunk only to plug-ins that keep their state in one (and only back with the
// index it was read with), the editor's rectangle only to plug-ins with an
// editor while a display is held, effSetBypass only to plug-ins that say they
// can bypass. Blocks go through the entry hosts call.
//
// The robustness group's fuzzer (WARN only) adds what no host sends: every
// opcode from 0 to 79 (deprecated and editor opcodes without an editor too)
// and opcodes nobody defines, random indices and values (some far out of
// range), zeroed buffers of random size for opcodes that take no pointer,
// parameter values outside 0..1 and a chunk sent back with any index.
//
// Both give opcodes whose pointer the interface defines as a record of some
// shape only a valid record of it, or never send them, so that a crash is
// always the plug-in's: never effOpen, effClose (it ends the instance),
// effEditOpen (the editor group opens editors on a real window) and so
// effEditClose, the offline and variable-I/O records, speaker arrangements,
// parameter properties, MIDI program and key names, vendor-specific calls
// and the bank and program loading hints.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "validate/Groups.h"
#include "validate/ParentWindow.h"

namespace validate {

namespace {

bool isTextRequest(VstInt32 op) { return conventionalTextLength(op) > 0; }

// Never sent by either fuzzer: a random pointer would make a crash the
// fuzzer's fault, or the call ends or needs what the fuzzer does not keep.
bool neverSent(VstInt32 op) {
  static const std::set<VstInt32> never = {
      effOpen,            effClose,              effEditOpen,           effEditClose,          effOfflineNotify,
      effOfflinePrepare,  effOfflineRun,         effProcessVarIo,       effSetSpeakerArrangement,
      effGetParameterProperties, effVendorSpecific, effGetMidiProgramName, effGetCurrentMidiProgram,
      effGetMidiProgramCategory, effGetMidiKeyName, effGetSpeakerArrangement, effBeginLoadBank,
      effBeginLoadProgram};
  return never.count(op) != 0;
}

// The dispatcher calls hosts of today send on their own (effBeginSetProgram
// and effEndSetProgram come only around effSetProgram).
const VstInt32 kHostCalls[] = {
    effSetProgram,        effGetProgram,         effSetProgramName,          effGetProgramName,
    effGetParamLabel,     effGetParamDisplay,    effGetParamName,            effSetSampleRate,
    effSetBlockSize,      effMainsChanged,       effEditGetRect,             effGetChunk,
    effSetChunk,          effProcessEvents,      effCanBeAutomated,          effString2Parameter,
    effGetProgramNameIndexed, effGetInputProperties, effGetOutputProperties, effGetPlugCategory,
    effSetBypass,         effGetEffectName,      effGetVendorString,         effGetProductString,
    effGetVendorVersion,  effCanDo,              effGetTailSize,             effGetVstVersion,
    effStartProcess,      effStopProcess,        effSetPanLaw,               effSetProcessPrecision,
    effGetNumMidiInputChannels, effGetNumMidiOutputChannels};

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
  Fuzzer(const Options& o, Report& report, bool hostile)
      : report_(report), hostile_(hostile), group_(hostile ? "robustness" : "fuzz"), rng_(report.rng()),
        inst_(o.module), e_(inst_.effect()), in_(e_->numInputs, 4096), out_(e_->numOutputs, 4096) {
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

  // False after a fault (a FAIL, or a WARN from the robustness group).
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
  std::string noDisplay() const {
    return (e_->flags & effFlagsHasEditor) && display_ && !display_->valid() ? display_->why() : "";
  }

 private:
  void fault(const std::string& text) {
    hostile_ ? report_.warn(format("%s: step %d: %s", group_, step_, text.c_str()))
             : report_.fail(format("%s: step %d: %s", group_, step_, text.c_str()));
  }

  // Resumes or suspends as a host does: effStartProcess after resuming,
  // effStopProcess before suspending.
  void mains(bool on) {
    if (on_ == on) return;
    if (!on) sendAlone(effStopProcess);
    report_.step(format("step %d: effMainsChanged %d", step_, on ? 1 : 0));
    inst_.dispatch(effMainsChanged, 0, on ? 1 : 0);
    on_ = on;
    if (on) sendAlone(effStartProcess);
  }
  void sendAlone(VstInt32 op) {
    report_.step(format("step %d: %s", step_, opcodeName(op)));
    inst_.dispatch(op);
  }

  // The next block's length is drawn ahead, so that events sent before it
  // lie within it, as a host's do.
  void drawNextBlock() { next_ = 1 + static_cast<int>(rng_() % static_cast<unsigned>(block_)); }

  bool processBlock() {
    mains(true);  // as a host does: resume before processing
    const int n = next_;
    drawNextBlock();
    eventsPending_ = listSent_ = false;
    fillNoise(in_, n, rng_);
    report_.step(format("step %d: %s of %d frames (block size %d, %.0f Hz)", step_, hostsEntryName(e_), n, block_,
                        rate_));
    inst_.process(in_, out_, n);
    ++blocks_;
    const std::string nf = firstNonFinite(out_, n);
    if (!nf.empty()) {
      fault(format("non-finite output at %s", nf.c_str()));
      return false;
    }
    if (out_.overrunChannel() >= 0) {
      fault(format("wrote past a block of %d frames", n));
      return false;
    }
    return true;
  }

  void setParameter() {
    const VstInt32 i = static_cast<VstInt32>(rng_() % static_cast<unsigned>(e_->numParams));
    float v = static_cast<float>(rng_() % 1001) / 1000.0f;
    if (hostile_ && rng_() % 4 == 0) v = v * 2.0f - 0.5f;
    report_.step(format("step %d: setParameter(%d, %g)", step_, i, static_cast<double>(v)));
    e_->setParameter(e_, i, v);
  }

  // Hosts change the sample rate, block size and precision, and suspend and
  // resume, far less often than they ask: those come a quarter as often as
  // the other calls.
  VstInt32 randomOpcode() {
    if (!hostile_)
      for (;;) {
        const VstInt32 op = kHostCalls[rng_() % (sizeof kHostCalls / sizeof kHostCalls[0])];
        const bool rare = op == effSetSampleRate || op == effSetBlockSize || op == effSetProcessPrecision ||
                          op == effMainsChanged;
        if (!rare || rng_() % 4 == 0) return op;
      }
    if (rng_() % 20 != 0) return static_cast<VstInt32>(rng_() % kFirstUndefinedOpcode);
    return static_cast<VstInt32>(rng_() % 2 ? kFirstUndefinedOpcode + static_cast<int>(rng_() % 1000)
                                            : -static_cast<int>(rng_() % 1000) - 1);
  }

  // An index within count (which hosts keep to); false when there is none.
  bool inRange(Call& c, VstInt32 count) {
    if (hostile_) return true;
    if (count <= 0) return false;
    c.index = static_cast<VstInt32>(rng_() % static_cast<unsigned>(count));
    return true;
  }

  // The pointer and the values the opcode gets; false when it is not sent.
  bool prepare(Call& c) {
    static const VstInt32 blockSizes[] = {32, 64, 256, 512, 1024, 4096};
    static const float rates[] = {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
    static const char* const canDos[] = {"receiveVstEvents", "receiveVstMidiEvent", "sendVstEvents", "bypass",
                                         "offline", "midiProgramNames", "x"};
    switch (c.op) {
      case effSetProgram:
        if (!hostile_ && e_->numPrograms <= 0) return false;
        if (!hostile_) c.value = static_cast<VstIntPtr>(rng_() % static_cast<unsigned>(e_->numPrograms));
        return true;
      case effSetSampleRate:
      case effSetBlockSize:
      case effSetBlockSizeAndSampleRate:
      case effSetProcessPrecision:
        mains(false);  // as hosts do: only while suspended
        if (c.op == effSetProcessPrecision) {
          c.value = 0;  // 32-bit samples, what processReplacing takes
          return true;
        }
        if (c.op != effSetSampleRate) {
          if (eventsPending_) return false;  // hosts send events just before their block
          block_ = blockSizes[rng_() % 6];
          if (next_ > block_) drawNextBlock();
        }
        c.value = c.op == effSetSampleRate ? 0 : block_;
        c.opt = rates[rng_() % 5];
        if (c.op != effSetBlockSize) rate_ = c.opt;
        return true;
      case effMainsChanged:
        mains(rng_() % 2 != 0);
        return false;  // sent by mains(), with the start and stop around it
      case effStartProcess:
      case effStopProcess:
        return hostile_ || on_;
      case effEditGetRect:
        if (!hostile_ && !(e_->flags & effFlagsHasEditor)) return false;
        if (display_ && !display_->valid()) return false;
        c.ptr = &c.rect;
        c.ptrText = "ERect**";
        return true;
      case effEditDraw:
        c.ptr = &c.area;
        c.ptrText = "ERect";
        return true;
      case effGetChunk:
        if (!hostile_ && !(e_->flags & effFlagsProgramChunks)) return false;
        if (!hostile_) c.index = static_cast<VstInt32>(rng_() % 2);  // a bank or a program
        c.ptr = &c.chunkAddress;
        c.ptrText = "void**";
        return true;
      case effSetChunk:
        if (chunk_.empty()) return false;
        if (!hostile_) c.index = chunkIndex_;
        c.ptr = chunk_.data();
        c.value = static_cast<VstIntPtr>(chunk_.size());
        c.ptrText = format("its own chunk of %zu bytes", chunk_.size());
        return true;
      case effProcessEvents: {
        if (!hostile_ && listSent_) return false;  // hosts send one list before each block
        listSent_ = true;
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
        if (!inRange(c, c.op == effGetInputProperties ? e_->numInputs : e_->numOutputs)) return false;
        c.buf.reset(new GuardedBuffer(sizeof(VstPinProperties)));
        c.ptr = c.buf->data();
        c.ptrText = "pin record";
        return true;
      case effSetProgramName:
      case effCanDo:
      case effString2Parameter:
        if (c.op == effString2Parameter && !inRange(c, e_->numParams)) return false;
        if (c.op == effSetProgramName && !hostile_ && e_->numPrograms <= 0) return false;
        c.text = c.op == effCanDo ? canDos[rng_() % 7] : randomText(rng_, c.op == effSetProgramName ? 24 : 40);
        c.ptr = &c.text[0];
        c.ptrText = "\"" + c.text + "\"";
        return true;
      case effSetBypass:
        if (!hostile_) c.value = rng_() % 2;
        return canBypass_;  // hosts bypass a plug-in themselves unless it says it can
      case effSetPanLaw:
        if (!hostile_) {
          c.value = rng_() % 2;  // linear or equal power
          c.opt = c.value ? 0.70710677f : 1.0f;
        }
        return true;
      case effCanBeAutomated:
        return inRange(c, e_->numParams);
      default:
        if (isTextRequest(c.op)) {
          if (c.op == effGetParamName || c.op == effGetParamLabel || c.op == effGetParamDisplay) {
            if (!inRange(c, e_->numParams)) return false;
          } else if (c.op == effGetProgramNameIndexed) {
            if (!inRange(c, e_->numPrograms)) return false;
            if (!hostile_) c.value = rng_() % 2 ? -1 : 0;
          }
          c.buf.reset(new GuardedBuffer);
          c.ptrText = format("text buffer of %zu bytes", c.buf->size());
        } else if (hostile_ && rng_() % 2) {
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
    if (hostile_) {
      c.index = static_cast<VstInt32>(rng_() % 8);
      if (rng_() % 5 == 0) c.index = static_cast<VstInt32>(rng_());
      c.value = static_cast<VstIntPtr>(rng_() % 4);
      if (rng_() % 5 == 0) c.value = static_cast<VstIntPtr>(static_cast<VstInt32>(rng_()));
      c.opt = static_cast<float>(rng_() % 1000) / 1000.0f;
    }
    if (!prepare(c)) return true;
    if (c.op == effSetProgram && !hostile_ && rng_() % 2) return setProgramBetweenHints(c);
    return send(c);
  }

  // effSetProgram as many hosts send it: between effBeginSetProgram and
  // effEndSetProgram.
  bool setProgramBetweenHints(Call& c) {
    sendAlone(effBeginSetProgram);
    const bool ok = send(c);
    if (ok) sendAlone(effEndSetProgram);
    return ok;
  }

  bool send(Call& c) {
    const std::string call = c.describe();
    report_.step(format("step %d: %s", step_, call.c_str()));
    const VstIntPtr result = inst_.dispatch(c.op, c.index, c.value, c.ptr, c.opt);
    ++calls_;
    if (c.buf && !c.buf->fault().empty()) {
      fault(call + " " + c.buf->fault());
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
      chunkIndex_ = c.index;
    }
    if (c.op == effEditGetRect && c.rect) {
      report_.step(format("step %d: reading the ERect effEditGetRect gave", step_));
      volatile int16_t probe = c.rect->right;
      (void)probe;
    }
  }

  Report& report_;
  const bool hostile_;
  const char* group_;
  std::mt19937 rng_;
  Instance inst_;
  AEffect* e_;
  AudioBuffers in_, out_;
  std::unique_ptr<ParentWindow> display_;  // held for the whole run
  VstInt32 block_ = 512;  // the announced largest block
  int next_ = 1;          // the next block's length
  bool eventsPending_ = false;  // sent for the next block
  bool listSent_ = false;       // an event list sent for the next block
  double rate_ = 44100.0;       // the last sample rate set
  bool on_ = true;
  bool canBypass_ = false;  // answered yes to effCanDo "bypass"
  std::vector<char> chunk_;
  VstInt32 chunkIndex_ = 0;  // the index the chunk was read with
  int step_ = 0;
  long calls_ = 0, blocks_ = 0;
};

}  // namespace

void fuzz(const Options& o, Report& report, bool hostile) {
  Fuzzer fuzzer(o, report, hostile);
  const int steps = (hostile ? 1000 : 2000) * o.level;
  const char* group = hostile ? "robustness" : "fuzz";
  for (int step = 0; step < steps; ++step)
    if (!fuzzer.step(step)) return;
  report.pass(format("%s: %d steps (%ld dispatcher calls, %ld blocks) without a fault", group, steps, fuzzer.calls(),
                     fuzzer.blocks()));
  if (!hostile && !fuzzer.noDisplay().empty()) report.warn("fuzz: effEditGetRect not checked: " + fuzzer.noDisplay());
}

void checkFuzz(const Options& o, Report& report) {
  report.check("fuzz.dispatcher", [&] { fuzz(o, report, false); });
}

}  // namespace validate
