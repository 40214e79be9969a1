// Seeded random sessions through the module's record, compared sample for
// sample with a small model of the looper written here: random block sizes
// (zero included), parameter and program changes, MIDI lists mixed with
// other events, quiet samples that move the loop start, both audio entries,
// in-place buffers. The same sessions then run under other floating-point
// states of the calling thread and side by side with a second instance.
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

#include "integration/LooperHelpers.h"

namespace {

using looper::bitsOf;

// ---------------------------------------------------------------------------
// The model. Denormal inputs read as zero and denormal results flush to
// zero (with their sign), as the module's audio path runs.

float flushed(float x) { return std::fpclassify(x) == FP_SUBNORMAL ? std::copysign(0.0f, x) : x; }

class Model {
 public:
  static constexpr int N = 22050;

  Model() : buffer(N, 0.0f) {}

  void setParameter(int index, float v) {
    if (std::isnan(v) || v < FLT_MIN) v = 0.0f;  // negatives, zeros and denormals
    if (v > 1.0f) v = 1.0f;
    if (index == 0) buffSize = progBuff = v;
    if (index == 1) volume = progVol = v;
    if (index == 2) speed = progSpeed = v;
  }
  float getParameter(int index) const {
    return index == 0 ? buffSize : index == 1 ? volume : index == 2 ? speed : 0.0f;
  }
  void setProgram(int value) {
    if (value != 0) return;
    const float b = progBuff, v = progVol, s = progSpeed;
    setParameter(0, b);
    setParameter(1, v);
    setParameter(2, s);
  }

  void midi(unsigned status, unsigned d1, unsigned d2) {
    switch (status & 0xF0) {
      case 0x90:
        if (d2 != 0) {
          const int n = static_cast<int>(d1 & 0x7F);
          noteSpeed = static_cast<float>(std::ldexp(1.0, n / 12 - 5) * (12 + n % 12) / 12.0);
          speed = noteSpeed;
        }
        break;
      case 0xB0:
        controller = static_cast<float>(d2 / 127.0);
        if (d1 == 1) setParameter(0, static_cast<float>(1.0 - controller));
        if (d1 == 7) setParameter(1, static_cast<float>(1.0 - controller));
        break;
      case 0xE0:
        controller = static_cast<float>((d2 * 256.0 + d1) / 65535.0);
        if (controller != 0.0f) speed = static_cast<float>((controller * 1.5 + 0.5) * noteSpeed);
        break;
      default: break;
    }
  }

  float step(float left, float right) {
    const double increment = speed;
    const float mono = flushed(static_cast<float>((double(flushed(left)) + double(flushed(right))) * 0.5));
    if (writeIndex >= N) writeIndex %= N;
    const double gain = 1.0 - double(volume);
    if (buffSize >= 1.0f) {
      searched = false;
      buffer[writeIndex++] = mono;
      return flushed(static_cast<float>(gain * mono));
    }
    if (!searched) {
      searched = true;
      loopStart = N;
      for (int i = 0, quiet = 0; i < N; ++i)
        if (std::fabs(buffer[i]) < 0.0005f && ++quiet == 3) {
          loopStart = i + 1;
          break;
        }
    }
    const long long loopEnd = loopStart + std::llrint((double(buffSize) + 0.001) * (N - loopStart));
    const long long index = std::llrint(position);
    position += increment;
    if (position >= double(loopEnd)) position = double(std::llrint(position) % loopEnd);
    return flushed(static_cast<float>(gain * buffer[index % N]));
  }

 private:
  float buffSize = 1.0f, volume = 0.0f, speed = 64.0f / 127.0f, noteSpeed = 64.0f / 127.0f, controller = 0.0f;
  float progBuff = 1.0f, progVol = 0.0f, progSpeed = 64.0f / 127.0f;
  std::vector<float> buffer;
  int writeIndex = 0;
  double position = 0.0;
  bool searched = false;
  int loopStart = 0;
};

// ---------------------------------------------------------------------------
// Floating-point states a host's thread may be in.

struct FloatState {
  const char* name;
  int rounding;
  bool flushDenormals;   // MXCSR FTZ and DAZ
  bool x87Single;        // x87 precision 24 bits
  bool x87TowardZero;    // x87 rounding toward zero (on top of rounding)
};

#if defined(__x86_64__) || defined(__i386__)
uint16_t x87Control() {
  uint16_t cw;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  return cw;
}
void setX87Control(uint16_t cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); }
unsigned mxcsr() { return _mm_getcsr(); }
void setMxcsr(unsigned v) { _mm_setcsr(v); }
#else
uint16_t x87Control() { return 0; }
void setX87Control(uint16_t) {}
unsigned mxcsr() { return 0; }
void setMxcsr(unsigned) {}
#endif

// Runs a call to the module in a state, checks that the state survives the
// call, and returns the thread to the state it had.
class StateRunner {
 public:
  explicit StateRunner(const FloatState& s) : state_(s) {}
  void operator()(const std::function<void()>& call) {
    const unsigned savedCsr = mxcsr();
    const uint16_t savedCw = x87Control();
    std::fesetround(state_.rounding);
    if (state_.flushDenormals) setMxcsr(mxcsr() | 0x8040u);
    uint16_t cw = x87Control();
    if (state_.x87Single) cw = static_cast<uint16_t>(cw & ~0x0300u);
    if (state_.x87TowardZero) cw = static_cast<uint16_t>(cw | 0x0C00u);
    setX87Control(cw);
    const unsigned csrBefore = mxcsr() & ~0x3Fu;
    const uint16_t cwBefore = x87Control();
    call();
    const unsigned csrAfter = mxcsr() & ~0x3Fu;
    const uint16_t cwAfter = x87Control();
    setX87Control(savedCw);
    setMxcsr(savedCsr);
    std::fesetround(FE_TONEAREST);
    if (csrAfter != csrBefore || cwAfter != cwBefore) ++stateChanges;
  }
  int stateChanges = 0;

 private:
  FloatState state_;
};

const FloatState kNearest{"nearest", FE_TONEAREST, false, false, false};

// ---------------------------------------------------------------------------
// A session: one instance, its model, and a random generator of host actions.

class Session {
 public:
  Session(vtest::RecordingHost& host, uint32_t seed, StateRunner& run)
      : plugin_(host), rng_(seed), seed_(seed), run_(run) {}

  bool ok() const { return plugin_.ok(); }
  // Everything the host heard and read, for comparing runs.
  const std::vector<uint32_t>& log() const { return log_; }

  // One host action; false (with a message) at the first difference.
  bool next() {
    ++action_;
    const uint32_t r = pick(100);
    if (r < 14) setParameter();
    else if (r < 17) setProgram();
    else if (r < 30) sendMidi();
    else block();
    for (int i = 0; i < 3; ++i) {
      float v = 0.0f;
      run_([&] { v = plugin_.getParameter(i); });
      log_.push_back(bitsOf(v));
      if (bitsOf(v) != bitsOf(model_.getParameter(i)))
        return fail() << "parameter " << i << " is " << v << ", model " << model_.getParameter(i), false;
    }
    return failure_.str().empty();
  }
  std::string failure() const { return failure_.str(); }

 private:
  uint32_t pick(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }
  float uniform(float lo, float hi) { return lo + (hi - lo) * static_cast<float>(rng_() % 1000001) / 1000000.0f; }
  std::ostringstream& fail() {
    failure_ << "seed " << seed_ << ", action " << action_ << ": ";
    return failure_;
  }

  float randomValue() {
    switch (pick(10)) {
      case 0: return 1.0f;
      case 1: return 0.0f;
      case 2: return uniform(1.0f, 4.0f);
      case 3: return -uniform(0.0f, 2.0f);
      case 4: return pick(2) ? std::numeric_limits<float>::quiet_NaN() : 0.99999994f;
      case 5: return pick(2) ? std::numeric_limits<float>::denorm_min() * 3.0f : -0.0f;
      case 6: return 1.0f;
      default: return uniform(0.0f, 1.0f);
    }
  }

  void setParameter() {
    static const int indices[] = {0, 0, 0, 1, 1, 2, 2, 3, -1};
    const int index = indices[pick(9)];
    const float value = randomValue();
    run_([&] { plugin_.setParameter(index, value); });
    model_.setParameter(index, value);
  }

  void setProgram() {
    static const int values[] = {0, 0, 1, -1};
    const int value = values[pick(4)];
    VstIntPtr r = -1;
    run_([&] { r = plugin_.dispatch(effSetProgram, 0, value); });
    if (r != 0) fail() << "effSetProgram answered " << r;
    model_.setProgram(value);
  }

  void sendMidi() {
    const int count = static_cast<int>(pick(7));
    std::vector<VstMidiEvent> events(count);
    for (VstMidiEvent& e : events) {
      std::memset(&e, 0, sizeof e);
      e.type = kVstMidiType;
      e.byteSize = sizeof e;
      e.deltaFrames = static_cast<VstInt32>(pick(512));
      const unsigned channel = pick(16);
      unsigned status = 0, d1 = pick(128), d2 = pick(128);
      switch (pick(10)) {
        case 0:
        case 1:
        case 2:
          status = 0x90;
          if (pick(8) == 0) d2 = 0;
          if (pick(10) == 0) d1 |= 0x80;
          break;
        case 3: status = 0x80; break;
        case 4:
        case 5: {
          static const unsigned numbers[] = {1, 1, 7, 7, 64, 0, 2};
          status = 0xB0;
          d1 = numbers[pick(7)];
          if (pick(10) == 0) d2 = 128 + pick(128);
          break;
        }
        case 6:
        case 7:
          status = 0xE0;
          if (pick(6) == 0) d1 = d2 = 0;
          break;
        case 8: status = 0xA0 + 0x10 * pick(6); break;  // pressure, program, system
        default:
          e.type = kVstSysExType;  // bytes that would be a note if read
          status = 0x90;
          d2 = 100;
          break;
      }
      e.midiData[0] = static_cast<char>(status | (status < 0xF0 ? channel : 0));
      e.midiData[1] = static_cast<char>(d1);
      e.midiData[2] = static_cast<char>(d2);
      if (e.type == kVstMidiType) model_.midi(status, d1, d2);
    }
    std::vector<unsigned char> block(offsetof(VstEvents, events) + (count + 2) * sizeof(VstEvent*), 0);
    auto* list = reinterpret_cast<VstEvents*>(block.data());
    list->numEvents = count;
    auto** slots = reinterpret_cast<VstEvent**>(block.data() + offsetof(VstEvents, events));
    for (int i = 0; i < count; ++i) slots[i] = reinterpret_cast<VstEvent*>(&events[i]);
    VstIntPtr r = 0;
    run_([&] { r = plugin_.dispatch(effProcessEvents, 0, 0, list); });
    if (r != 1) fail() << "effProcessEvents answered " << r;
  }

  float inputSample(int texture) {
    switch (texture) {
      case 0: return uniform(-0.0006f, 0.0006f);  // near the quiet threshold
      case 1: return pick(100) == 0 ? uniform(-0.0004f, 0.0004f) : uniform(-1.0f, 1.0f);
      case 2: return pick(4) == 0 ? std::numeric_limits<float>::denorm_min() * static_cast<float>(pick(1000) + 1) *
                                        (pick(2) ? 1.0f : -1.0f)
                                  : uniform(-1.0f, 1.0f);
      case 3: return pick(3) == 0 ? 0.0f : uniform(-FLT_MIN * 4, FLT_MIN * 4);
      default: return uniform(-1.0f, 1.0f);
    }
  }

  void block() {
    int frames;
    switch (pick(20)) {
      case 0:
      case 1: frames = 0; break;
      case 2: frames = 1; break;
      case 3:
      case 4: frames = 700 + static_cast<int>(pick(3400)); break;
      default: frames = 1 + static_cast<int>(pick(700)); break;
    }
    const int texture = static_cast<int>(pick(8));
    const bool replacing = pick(2) == 0;
    const bool inPlace = pick(5) == 0;
    std::vector<float> inL(frames), inR(frames), outL(frames), outR(frames);
    for (int i = 0; i < frames; ++i) {
      inL[i] = inputSample(texture);
      inR[i] = pick(3) == 0 ? inL[i] : inputSample(texture);
      outL[i] = inputSample(pick(2) ? 2 : 4);
      outR[i] = inputSample(4);
    }
    if (inPlace) {
      outL = inL;
      outR = inR;
    }
    const std::vector<float> beforeL = outL, beforeR = outR, srcL = inL, srcR = inR;
    float* ins[2] = {inL.data(), inR.data()};
    float* outs[2] = {outL.data(), outR.data()};
    if (inPlace) {
      ins[0] = outs[0];
      ins[1] = outs[1];
    }
    AEffect* e = plugin_.effect();
    run_([&] {
      if (replacing) e->processReplacing(e, ins, outs, frames);
      else e->process(e, ins, outs, frames);
    });
    for (int i = 0; i < frames; ++i) {
      const float y = model_.step(srcL[i], srcR[i]);
      const float wantL = replacing ? y : flushed(flushed(beforeL[i]) + y);
      const float wantR = replacing ? y : flushed(flushed(beforeR[i]) + y);
      log_.push_back(bitsOf(outL[i]));
      log_.push_back(bitsOf(outR[i]));
      if (bitsOf(outL[i]) != bitsOf(wantL) || bitsOf(outR[i]) != bitsOf(wantR)) {
        fail() << (replacing ? "processReplacing" : "process") << (inPlace ? " in place" : "") << ", frame " << i
               << " of " << frames << ": got " << outL[i] << "/" << outR[i] << ", model " << wantL << "/"
               << wantR;
        return;
      }
    }
  }

  vtest::PluginInstance plugin_;
  Model model_;
  std::mt19937 rng_;
  uint32_t seed_;
  StateRunner& run_;
  int action_ = 0;
  std::vector<uint32_t> log_;
  std::ostringstream failure_;
};

constexpr int kActions = 600;

std::vector<uint32_t> runSession(uint32_t seed, const FloatState& state, std::string* failure, int* changes) {
  vtest::RecordingHost host;
  StateRunner run(state);
  Session session(host, seed, run);
  if (!session.ok()) {
    *failure = "no instance";
    return {};
  }
  for (int i = 0; i < kActions; ++i)
    if (!session.next()) {
      *failure = session.failure();
      break;
    }
  *changes = run.stateChanges;
  return session.log();
}

TEST(Scenario, RandomSessionsMatchTheModel) {
  for (uint32_t seed : {1u, 2u, 3u, 20240611u, 777u, 31337u}) {
    std::string failure;
    int changes = 0;
    const auto log = runSession(seed, kNearest, &failure, &changes);
    ASSERT_EQ(failure, "") << "seed " << seed;
    EXPECT_GT(log.size(), 100000u) << "sessions should carry real audio";
    EXPECT_EQ(changes, 0);
  }
}

TEST(Scenario, OutputDoesNotDependOnTheCallersFloatingPointState) {
  const FloatState states[] = {
      {"toward zero", FE_TOWARDZERO, false, false, false},
      {"upward", FE_UPWARD, false, false, false},
      {"downward", FE_DOWNWARD, false, false, false},
      {"flush to zero, denormals are zero", FE_TONEAREST, true, false, false},
      {"x87 single precision", FE_TONEAREST, false, true, false},
      {"everything at once", FE_UPWARD, true, true, true},
  };
  const uint32_t seed = 4242u;
  std::string failure;
  int changes = 0;
  const auto reference = runSession(seed, kNearest, &failure, &changes);
  ASSERT_EQ(failure, "");
  for (const FloatState& s : states) {
    SCOPED_TRACE(s.name);
    const auto log = runSession(seed, s, &failure, &changes);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(changes, 0) << "the caller's state came back changed";
    ASSERT_EQ(log.size(), reference.size());
    EXPECT_TRUE(log == reference);
  }
}

TEST(Scenario, InterleavedInstancesProduceWhatEachProducesAlone) {
  std::string failure;
  int changes = 0;
  const auto aloneA = runSession(11u, kNearest, &failure, &changes);
  ASSERT_EQ(failure, "");
  const auto aloneB = runSession(12u, kNearest, &failure, &changes);
  ASSERT_EQ(failure, "");

  vtest::RecordingHost host;
  StateRunner run(kNearest);
  Session a(host, 11u, run), b(host, 12u, run);
  ASSERT_TRUE(a.ok() && b.ok());
  for (int i = 0; i < kActions; ++i) {
    ASSERT_TRUE(a.next()) << a.failure();
    ASSERT_TRUE(b.next()) << b.failure();
  }
  EXPECT_TRUE(a.log() == aloneA);
  EXPECT_TRUE(b.log() == aloneB);
}

}  // namespace
