// fuzz: seeded random dispatcher calls interleaved with processing.
//
// Opcodes whose pointer the interface defines as a specific record get only
// a valid record of that shape (or are not sent), so that a crash always
// means a fault of the plug-in, not of the fuzzer:
//   effClose (ends the instance), effEditOpen (a parent window) and so
//   effEditClose (closing what was never opened), effEditGetRect
//   (an ERect* to fill), effEditDraw (an ERect), effGetChunk / effSetChunk (a
//   chunk address; only the plug-in's own chunk goes back), effProcessEvents
//   (an event list), pin properties (a 128-byte record), effSetProgramName
//   and effCanDo and effString2Parameter (terminated texts), the text
//   requests (a buffer of 256 bytes), effSetBlockSize and the sample rate
//   (plausible values, while suspended), and never: offline and variable-I/O
//   records, speaker arrangements, parameter properties, MIDI program and
//   key names, vendor-specific calls and the bank and program loading hints.
// Every other opcode, and opcodes nobody defines, get null or a zeroed
// buffer of random size with guard bytes that must stay untouched.
#include <cmath>
#include <cstring>
#include <set>
#include <vector>

#include "validate/Groups.h"

namespace validate {

namespace {

bool isTextRequest(VstInt32 op) { return conventionalTextLength(op) > 0; }

bool neverSent(VstInt32 op) {
  static const std::set<VstInt32> never = {effClose, effEditOpen, effEditClose, effOfflineNotify, effOfflinePrepare, effOfflineRun,
                                           effProcessVarIo, effSetSpeakerArrangement, effGetParameterProperties,
                                           effVendorSpecific, 62, 63, 64, 66, 69, 75, 76};
  return never.count(op) != 0;
}

std::string randomText(std::mt19937& rng, size_t maxLength) {
  std::string s(rng() % (maxLength + 1), ' ');
  for (char& c : s) c = static_cast<char>(32 + rng() % 95);
  return s;
}

}  // namespace

void checkFuzz(const Options& o, Report& report) {
  std::mt19937 rng(static_cast<unsigned>(o.seed));
  Instance inst(o.module);
  AEffect* e = inst.effect();
  const int steps = 2000 * o.level;
  const VstInt32 blockSizes[] = {32, 64, 256, 512, 1024, 4096};
  const float rates[] = {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
  VstInt32 block = 512;
  inst.plugin->start(44100.0, block);
  bool on = true;
  std::vector<char> chunk;
  AudioBuffers in(e->numInputs, 4096), out(e->numOutputs, 4096);
  static const char* const canDos[] = {"receiveVstEvents", "receiveVstMidiEvent", "sendVstEvents", "bypass", "offline",
                                       "midiProgramNames", "x"};
  long calls = 0, blocks = 0;

  for (int step = 0; step < steps; ++step) {
    const unsigned roll = rng() % 100;
    if (roll < 15) {
      if (!on) {  // as a host does: resume before processing
        report.step(format("step %d: effMainsChanged 1", step));
        inst.dispatch(effMainsChanged, 0, 1);
        on = true;
      }
      const int n = 1 + static_cast<int>(rng() % static_cast<unsigned>(block));
      fillNoise(in, n, rng);
      const bool acc = e->process && (rng() % 4 == 0);
      report.step(format("step %d: %s of %d frames", step, acc ? "process" : "processReplacing", n));
      inst.process(in, out, n, acc);
      ++blocks;
      const std::string nf = firstNonFinite(out, n);
      if (!nf.empty()) {
        report.fail(format("fuzz: step %d: non-finite output at %s", step, nf.c_str()));
        return;
      }
      if (out.overrunChannel() >= 0) {
        report.fail(format("fuzz: step %d: wrote past a block of %d frames", step, n));
        return;
      }
      continue;
    }
    if (roll < 20 && e->numParams > 0) {
      const VstInt32 i = static_cast<VstInt32>(rng() % static_cast<unsigned>(e->numParams));
      const float v = static_cast<float>(rng() % 1001) / 1000.0f;
      report.step(format("step %d: setParameter(%d, %g)", step, i, static_cast<double>(v)));
      e->setParameter(e, i, v);
      continue;
    }

    VstInt32 op = static_cast<VstInt32>(rng() % 80);
    if (rng() % 20 == 0) op = static_cast<VstInt32>(rng() % 2 ? 80 + rng() % 1000 : -static_cast<int>(rng() % 1000) - 1);
    if (neverSent(op)) continue;
    VstInt32 index = static_cast<VstInt32>(rng() % 8);
    if (rng() % 5 == 0) index = static_cast<VstInt32>(rng());
    VstIntPtr value = static_cast<VstIntPtr>(rng() % 4);
    if (rng() % 5 == 0) value = static_cast<VstIntPtr>(static_cast<VstInt32>(rng()));
    float opt = static_cast<float>(rng() % 1000) / 1000.0f;
    void* ptr = nullptr;
    std::unique_ptr<GuardedBuffer> buf;
    std::string ptrText = "null";
    ERect* rect = nullptr;
    void* chunkAddress = nullptr;
    std::string text;
    EventList events;

    switch (op) {
      case effSetSampleRate:
      case effSetBlockSize:
      case effSetBlockSizeAndSampleRate:
        if (on) {
          report.step(format("step %d: effMainsChanged 0", step));
          inst.dispatch(effMainsChanged, 0, 0);
          on = false;
        }
        block = blockSizes[rng() % 6];
        value = block;
        opt = rates[rng() % 5];
        break;
      case effMainsChanged:
        value = rng() % 2;
        on = value != 0;
        break;
      case effEditGetRect:
        ptr = &rect;
        ptrText = "ERect**";
        break;
      case effEditDraw:
        static ERect area;
        area = ERect{0, 0, 100, 100};
        ptr = &area;
        ptrText = "ERect";
        break;
      case effGetChunk:
        ptr = &chunkAddress;
        ptrText = "void**";
        break;
      case effSetChunk:
        if (chunk.empty()) continue;
        ptr = chunk.data();
        value = static_cast<VstIntPtr>(chunk.size());
        ptrText = format("its own chunk of %zu bytes", chunk.size());
        break;
      case effProcessEvents:
        for (int i = static_cast<int>(rng() % 16); i > 0; --i)
          events.addMidi(static_cast<int>(rng() % static_cast<unsigned>(block)), static_cast<unsigned char>(0x80 + rng() % 0x70),
                         static_cast<unsigned char>(rng() % 128), static_cast<unsigned char>(rng() % 128));
        ptr = events.events();
        ptrText = format("%zu MIDI events", events.size());
        break;
      case effGetInputProperties:
      case effGetOutputProperties:
        buf.reset(new GuardedBuffer(sizeof(VstPinProperties)));
        ptr = buf->data();
        ptrText = "pin record";
        break;
      case effSetProgramName:
      case effCanDo:
      case effString2Parameter:
        text = op == effCanDo ? canDos[rng() % 7] : randomText(rng, op == effSetProgramName ? 24 : 40);
        ptr = &text[0];
        ptrText = "\"" + text + "\"";
        break;
      case effStartProcess:
      case effStopProcess:
        break;
      default:
        if (isTextRequest(op)) {
          buf.reset(new GuardedBuffer(256));
          ptrText = "text buffer of 256 bytes";
        } else if (rng() % 2) {
          buf.reset(new GuardedBuffer(1 + rng() % 512));
          ptrText = format("zeroed buffer of %zu bytes", buf->size());
        }
        if (buf) ptr = buf->data();
    }
    const std::string call = format("%s (%d) index %d value %lld ptr %s opt %g", opcodeName(op), op, index,
                                    static_cast<long long>(value), ptrText.c_str(), static_cast<double>(opt));
    report.step(format("step %d: %s", step, call.c_str()));
    const VstIntPtr result = inst.dispatch(op, index, value, ptr, opt);
    ++calls;
    if (buf && (buf->overrun() || buf->underrun())) {
      report.fail(format("fuzz: step %d: %s wrote %zu bytes past the buffer", step, call.c_str(), buf->overrun()));
      return;
    }
    if (op == effGetChunk && result > 0 && chunkAddress && result < (1 << 24)) {
      report.step(format("step %d: reading the chunk of %lld bytes at the address effGetChunk gave", step,
                         static_cast<long long>(result)));
      const char* c = static_cast<const char*>(chunkAddress);
      chunk.assign(c, c + result);
    }
    if (op == effEditGetRect && rect) {
      report.step(format("step %d: reading the ERect effEditGetRect gave", step));
      volatile int16_t probe = rect->right;
      (void)probe;
    }
  }
  report.pass(format("fuzz: %d steps (%ld dispatcher calls, %ld blocks) without a fault", steps, calls, blocks));
}

}  // namespace validate
