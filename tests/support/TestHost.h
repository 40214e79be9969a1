// Driving the built module from a test the way a host does.
//
//   vtest::RecordingHost host;                 // records every request
//   host.answer(audioMasterGetSampleRate, 44100);
//   vtest::PluginInstance plugin(host);        // loads VANTOREL_MODULE_PATH,
//   ASSERT_TRUE(plugin.ok()) << plugin.error(); // calls its entry
//   plugin.dispatch(effOpen);
//   vtest::AudioBuffers audio(2, 2, 512);
//   plugin.processReplacing(audio);
//   EXPECT_EQ(host.count(audioMasterTempoAt), 1u);
//
// Every test program gets VANTOREL_MODULE_PATH (the module of the same
// build, named so that the test program itself can open it, under Wine too)
// and VANTOREL_SOURCE_DIR (the repository's root, likewise).
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/DAEffectX.h"
#include "vsthost/Host.h"
#include "vsthost/Module.h"

namespace vtest {

// The module under test, the repository's root and the build's folder (where
// tests leave files for people to look at), as the test program must name them.
inline const char* modulePath() { return VANTOREL_MODULE_PATH; }
inline const char* sourceDir() { return VANTOREL_SOURCE_DIR; }
inline const char* buildDir() { return VANTOREL_BUILD_DIR; }

// One request the plug-in made to its host, as it arrived.
struct HostCall {
  AEffect* effect = nullptr;  // may be null or not yet returned from the entry
  VstInt32 opcode = 0;
  VstInt32 index = 0;
  VstIntPtr value = 0;
  void* ptr = nullptr;  // the address only: what it points to may be gone
  float opt = 0.0f;
  std::thread::id thread;  // the thread that made the request
};

// A host callback that records every call and answers from a table.
//
// The callback the plug-in receives is a plain function, so it reaches the
// RecordingHost that is active: constructing one makes it active, destroying
// it makes the one active before it active again. Keep a RecordingHost alive
// until every instance that uses it is closed.
//
// By default audioMasterVersion answers vsthost::kHostVstVersion (2400) and
// every other opcode answers 0. All members are safe to call from any
// thread, also while the plug-in calls the host from another thread. An
// answer function runs on the thread of the request, outside the host's
// lock, and may write through the call's ptr (e.g. vendor strings).
class RecordingHost {
 public:
  using AnswerFn = std::function<VstIntPtr(const HostCall&)>;

  RecordingHost();
  ~RecordingHost();
  RecordingHost(const RecordingHost&) = delete;
  RecordingHost& operator=(const RecordingHost&) = delete;

  // The function to hand to a module's entry.
  audioMasterCallback callback() const { return &RecordingHost::dispatch; }

  // Answer opcode with a fixed value, or by calling fn, from now on.
  void answer(VstInt32 opcode, VstIntPtr value);
  void answer(VstInt32 opcode, AnswerFn fn);
  // Back to the default answer for opcode.
  void resetAnswer(VstInt32 opcode);

  // Everything recorded so far, in order of arrival.
  std::vector<HostCall> calls() const;
  // Only the requests with this opcode.
  std::vector<HostCall> callsOf(VstInt32 opcode) const;
  size_t count(VstInt32 opcode) const;
  size_t size() const;
  // Forget what was recorded (the answers stay).
  void clear();

 private:
  static VstIntPtr VSTCALLBACK dispatch(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                        void* ptr, float opt);
  VstIntPtr handle(const HostCall& call);

  mutable std::mutex mutex_;
  std::vector<HostCall> calls_;
  std::map<VstInt32, AnswerFn> answers_;
  RecordingHost* previous_ = nullptr;
};

// Audio blocks for process/processReplacing: channels of frames floats each,
// zero-filled, with the channel pointer arrays a host passes.
class AudioBuffers {
 public:
  AudioBuffers(int inputs, int outputs, int frames);

  float** inputs() { return inPtrs_.data(); }
  float** outputs() { return outPtrs_.data(); }
  float* input(int channel) { return in_[channel].data(); }
  float* output(int channel) { return out_[channel].data(); }
  int frames() const { return frames_; }

  // Sets every sample of an input (or output) channel.
  void fillInput(int channel, float value);
  void fillOutput(int channel, float value);

 private:
  int frames_;
  std::vector<std::vector<float>> in_, out_;
  std::vector<float*> inPtrs_, outPtrs_;
};

// A VstEvents list of MIDI events for effProcessEvents, of any length.
class MidiEvents {
 public:
  // Appends a MIDI event: status, data1, data2 at deltaFrames.
  MidiEvents& add(unsigned char status, unsigned char data1, unsigned char data2, int deltaFrames = 0);
  MidiEvents& noteOn(int channel, int note, int velocity, int deltaFrames = 0) {
    return add(static_cast<unsigned char>(0x90 | channel), static_cast<unsigned char>(note),
               static_cast<unsigned char>(velocity), deltaFrames);
  }
  MidiEvents& controller(int channel, int number, int value, int deltaFrames = 0) {
    return add(static_cast<unsigned char>(0xB0 | channel), static_cast<unsigned char>(number),
               static_cast<unsigned char>(value), deltaFrames);
  }
  // 14-bit bend, 8192 = centre.
  MidiEvents& pitchBend(int channel, int value, int deltaFrames = 0) {
    return add(static_cast<unsigned char>(0xE0 | channel), static_cast<unsigned char>(value & 0x7F),
               static_cast<unsigned char>((value >> 7) & 0x7F), deltaFrames);
  }
  // The list as the plug-in receives it; valid until the next add.
  VstEvents* events();
  size_t size() const { return midi_.size(); }

 private:
  std::vector<std::unique_ptr<VstMidiEvent>> midi_;
  std::vector<unsigned char> block_;  // VstEvents with room for every pointer
};

// One instance of a module, created through its exported entry with a
// RecordingHost's callback and closed (effClose) when it goes away.
class PluginInstance {
 public:
  // Loads the module at path and calls its entry once. Check ok(): on
  // failure error() says why and effect() is null.
  explicit PluginInstance(RecordingHost& host, const std::string& path = modulePath());
  ~PluginInstance();
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  bool ok() const { return effect_ != nullptr; }
  const std::string& error() const { return error_; }
  AEffect* effect() const { return effect_; }
  vsthost::Module* module() const { return module_.get(); }

  VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                     float opt = 0.0f);
  // A text the plug-in writes into a host buffer (names, labels, displays).
  std::string text(VstInt32 opcode, VstInt32 index = 0);
  void setParameter(VstInt32 index, float value);
  float getParameter(VstInt32 index);
  void process(AudioBuffers& audio);
  void processReplacing(AudioBuffers& audio);
  VstIntPtr processEvents(MidiEvents& events);

  // Sends effClose now and returns the answer; the destructor then does
  // nothing more than unload.
  VstIntPtr close();

 private:
  std::unique_ptr<vsthost::Module> module_;
  AEffect* effect_ = nullptr;
  std::string error_;
};

}  // namespace vtest
