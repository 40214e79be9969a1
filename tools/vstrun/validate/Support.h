// What the validator's check groups share: the report a group writes,
// guard-banded buffers, audio buffers, the floating-point state, event
// lists and a parent window for editors.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vsthost/Plugin.h"

namespace validate {

// How deep the checks go and what they work on; shared by the parent and
// every group's child process.
struct Options {
  std::string module;
  int level = 5;
  uint64_t seed = 0;
  std::string only, skip;  // comma-separated group and check names
};

// A group's child writes one line per result: "P", "W" or "F", a tab and the
// text; "S", a tab and the step it is about to take, so that a crash can be
// told with what the plug-in was doing; "C", a tab and the name of the check
// that the following lines belong to.
class Report {
 public:
  Report(std::FILE* out, const Options& o) : out_(out), options_(o) {}
  // Runs body as the named check unless --only or --skip leave it out.
  template <class Body>
  void check(const char* name, Body&& body) {
    if (begin(name)) body();
  }
  // Announces the check; false when it is not selected. Throws
  // std::logic_error for a name that is not in the list of checks.
  bool begin(const char* name);
  // A generator seeded from the run's seed and the current check's name, so
  // that a check run on its own sees the same numbers.
  std::mt19937 rng() const;
  void pass(const std::string& text) { line('P', text); }
  void warn(const std::string& text) { line('W', text); }
  void fail(const std::string& text) { line('F', text); }
  void step(const std::string& text) { line('S', text + stepNote_); }
  // Appended to every later step, so that a crash also tells what went
  // wrong just before (an X display that could not be reached).
  void noteSteps(const std::string& note) { stepNote_ = note; }
  int failures() const { return failures_; }

 private:
  void line(char kind, const std::string& text);
  std::FILE* out_;
  const Options& options_;
  std::string current_, stepNote_;
  int failures_ = 0;
};

// printf into a std::string.
#if defined(__MINGW_PRINTF_FORMAT)
#define VALIDATE_PRINTF __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)))
#elif defined(__GNUC__)
#define VALIDATE_PRINTF __attribute__((format(printf, 1, 2)))
#else
#define VALIDATE_PRINTF
#endif
std::string format(const char* fmt, ...) VALIDATE_PRINTF;

// A buffer handed to the plug-in, followed (and preceded) by guard bytes
// that must stay untouched. The usable part is zero-filled, as hosts do.
class GuardedBuffer {
 public:
  static constexpr size_t kGuard = 64;
  explicit GuardedBuffer(size_t size);
  char* data() { return storage_.data() + kGuard; }
  size_t size() const { return size_; }
  // Bytes written past the end (the furthest changed guard byte, counted
  // from the end of the usable part); 0 when the guard is intact.
  size_t overrun() const;
  bool underrun() const;  // a byte before the start changed
  bool terminated() const;  // a zero byte within the usable part
  size_t textLength() const;

 private:
  size_t size_;
  std::vector<char> storage_;
};

// Planar audio for one call: channel pointers into guard-banded storage.
class AudioBuffers {
 public:
  AudioBuffers(int channels, int frames);
  float** pointers() { return ptrs_.empty() ? nullptr : ptrs_.data(); }
  float* channel(int c) { return ptrs_[static_cast<size_t>(c)]; }
  int channels() const { return static_cast<int>(ptrs_.size()); }
  int frames() const { return frames_; }
  void fill(float v);
  // The first channel and frame past the block that changed, or -1.
  int overrunChannel() const;

 private:
  static constexpr int kGuard = 16;
  static constexpr float kGuardValue = -12345.678f;
  int frames_;
  std::vector<std::vector<float>> storage_;
  std::vector<float*> ptrs_;
};

// The first non-finite sample of the outputs as "channel C sample S (value)",
// or empty when all are finite. Denormals likewise.
std::string firstNonFinite(AudioBuffers& out, int frames);
std::string firstDenormal(AudioBuffers& out, int frames, int* frame = nullptr);

// A reproducible test signal: noise at about -12 dBFS from a seed.
void fillNoise(AudioBuffers& in, int frames, std::mt19937& rng);

// The largest absolute difference of two buffers over frames, and where.
struct Difference {
  float max = 0.0f;
  int channel = -1, frame = -1;
};
// Not-a-number counts as an infinite difference.
Difference compare(float* const* a, float* const* b, int channels, int frames, float offsetOfB = 0.0f);
Difference compare(AudioBuffers& a, AudioBuffers& b, int frames, float offsetOfB = 0.0f);

// Copies frames of every channel (as many as both have) from src at
// srcOffset to dst at dstOffset.
void copyAudio(AudioBuffers& src, int srcOffset, AudioBuffers& dst, int dstOffset, int frames);

// Whether a series measured after each load cycle keeps growing: more than
// bound per cycle on average over each quarter of the second half.
struct Growth {
  double perCycle = 0.0;  // over the second half
  bool sustained = false;
};
Growth judgeGrowth(const std::vector<long>& samples, double boundPerCycle);

// MXCSR and the x87 control word of the calling thread (0 where the
// processor has none).
struct FpState {
  unsigned mxcsr = 0;
  unsigned x87 = 0;
  bool operator==(const FpState& o) const { return mxcsr == o.mxcsr && x87 == o.x87; }
};
FpState readFpState();
void setMxcsr(unsigned value);
// MXCSR's control bits without the sticky exception flags.
constexpr unsigned kMxcsrControlMask = 0xFFC0;
std::string describe(const FpState& s);

// An event list for effProcessEvents with records of the interface's layout.
class EventList {
 public:
  void clear();
  void addMidi(int deltaFrames, unsigned char status, unsigned char data1, unsigned char data2);
  void addSysex(int deltaFrames, const std::vector<unsigned char>& bytes);
  VstEvents* events();
  size_t size() const { return order_.size(); }

 private:
  struct Sysex {
    VstInt32 type, byteSize, deltaFrames, flags, dumpBytes;
    VstIntPtr resvd1;
    char* sysexDump;
    VstIntPtr resvd2;
  };
  std::vector<VstMidiEvent> midi_;
  std::vector<Sysex> sysex_;
  std::vector<std::vector<unsigned char>> dumps_;
  std::vector<std::pair<bool, size_t>> order_;  // sysex?, index
  std::vector<char> block_;
};

// One instance for a group: loads, throws std::runtime_error on failure.
struct Instance {
  vsthost::Host host;
  std::unique_ptr<vsthost::Plugin> plugin;
  explicit Instance(const std::string& module);
  AEffect* effect() const { return plugin->effect(); }
  VstIntPtr dispatch(VstInt32 op, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f) {
    return plugin->dispatch(op, index, value, ptr, opt);
  }
  // One block through processReplacing, or process when accumulate.
  void process(AudioBuffers& in, AudioBuffers& out, int frames, bool accumulate = false);
};

// A top-level window to parent editors on: an X11 window on Linux (libX11
// opened at run time), a Win32 window on Windows. valid() is false when no
// display can be had; why() tells. A busy X server refuses a connection now
// and then, so a failed one is retried for a few seconds.
// Hosts ask for the editor's rectangle and open it only on a display they
// hold: a plug-in may create its user interface on the first request and
// crash without one, which no host provokes.
class ParentWindow {
 public:
  ParentWindow();
  ~ParentWindow();
  ParentWindow(const ParentWindow&) = delete;
  ParentWindow& operator=(const ParentWindow&) = delete;
  bool valid() const { return handle_ != nullptr; }
  void* handle() const { return handle_; }
  const std::string& why() const { return why_; }
  // Handles pending window-system messages of this thread.
  void pump();
  // The window-system errors any window of this process caused since the
  // last call, described, or empty; a host that keeps running takes them.
  std::string errors();

 private:
  void* handle_ = nullptr;
  void* display_ = nullptr;
  std::string why_;
};

// Conventional text lengths (without the terminator) by opcode; 0 for
// opcodes that write no text.
size_t conventionalTextLength(VstInt32 opcode);

// Opcodes past those the plug-in framework names.
enum : VstInt32 {
  effGetSpeakerArrangement = 69,
  effShellGetNextPlugin = 70,
  effSetTotalSampleToProcess = 73,
  effSetPanLaw = 74,
  effBeginLoadBank = 75,
  effBeginLoadProgram = 76,
  effSetProcessPrecision = 77,
  effGetNumMidiInputChannels = 78,
  effGetNumMidiOutputChannels = 79,
  kFirstUndefinedOpcode = 80,
};
const char* opcodeName(VstInt32 opcode);

}  // namespace validate
