// The smallest useful host side of the VST 2 interface, and a handle on one
// plug-in instance. Used by vstrun and by the integration tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "host/DAEffectX.h"
#include "vsthost/RequestLog.h"

namespace vsthost {

// The VST version a host reports for audioMasterVersion: 2.4.
constexpr VstIntPtr kHostVstVersion = 2400;

// Answers audioMasterVersion with kHostVstVersion and every other request
// with 0. Safe to call from any thread.
VstIntPtr VSTCALLBACK minimalHostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                          VstIntPtr value, void* ptr, float opt);

// A four-character code as its text ("VstP"), or as 0x-prefixed hex when
// any of its bytes is not a printable ASCII character.
std::string fourCharText(VstInt32 code);

// The record's flag bits by name ("HasEditor CanReplacing"), unknown bits as
// numbers; empty for 0.
std::string flagNames(VstInt32 flags);

// Calls the instance's dispatcher.
inline VstIntPtr dispatch(AEffect* effect, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                          void* ptr = nullptr, float opt = 0.0f) {
  return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

// The buffer a host hands over for a text (names, labels, strings): larger
// than any of the interface's text limits, for plug-ins that overstep them.
constexpr size_t kTextBufferSize = 512;

// A text the plug-in writes into a host buffer: a zeroed buffer of
// kTextBufferSize, read up to its first zero byte. answer, when given,
// receives what the dispatcher returned.
std::string dispatchText(AEffect* effect, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                         VstIntPtr* answer = nullptr);

// What a host learns of an instance right after creating it.
struct EffectInfo {
  VstInt32 magic = 0;
  VstInt32 numInputs = 0;
  VstInt32 numOutputs = 0;
  VstInt32 numParams = 0;
  VstInt32 numPrograms = 0;
  VstInt32 flags = 0;
  VstInt32 uniqueID = 0;
  VstInt32 version = 0;
  std::string effectName;  // effGetEffectName
  std::string vendor;      // effGetVendorString
  std::string product;     // effGetProductString
  VstIntPtr vendorVersion = 0;  // effGetVendorVersion
};

// Reads the record's fields and asks the dispatcher for the texts.
EffectInfo queryInfo(AEffect* effect);

// Host process levels (audioMasterGetCurrentProcessLevel).
enum : VstInt32 { kProcessLevelUser = 1, kProcessLevelRealtime = 2, kProcessLevelOffline = 4 };

// A complete host side for one plug-in instance: answers every request a
// plug-in commonly makes (version, vendor and product, time and tempo,
// sample rate and block size, can-do questions, automation reports).
//
// The callback handed to a module's entry is a plain function, so requests
// are routed by the record they come with: attach() ties a record to its
// Host. Requests that arrive before the record is known (from inside the
// entry function) or with a record nobody attached go to the Host that is
// loading a module right now (beginLoading), else to the newest Host.
//
// Threads: requests may come from any thread, the audio thread too: the
// callback finds its Host and answers without allocating, locking,
// formatting or printing (the log's lines are made later, by flushLog).
// The setters are meant for the thread that drives the plug-in; plain
// values are atomics, so a request on another thread sees either the old
// or the new value. At most kMaxHosts Hosts live at once.
class Host {
 public:
  struct Identity {
    std::string vendor = "Kestrom";
    std::string product = "vstrun";
    VstIntPtr vendorVersion = 1000;  // 1.0.0.0
  };

  static constexpr int kMaxHosts = 256;

  // Throws std::runtime_error when kMaxHosts Hosts live already.
  Host();
  ~Host();  // flushes the log
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // The function to hand to a module's entry.
  static audioMasterCallback callback() { return &Host::route; }

  // Requests with this record now come here; detach when it is closed.
  void attach(AEffect* effect);
  void detach();
  AEffect* effect() const { return effect_.load(); }

  // While a module's entry runs: requests without a known record come here,
  // and audioMasterCurrentId answers the id being loaded (0: the first or
  // only plug-in of the module).
  void beginLoading(VstInt32 uniqueId = 0);
  void endLoading();

  void setSampleRate(double rate) { sampleRate_.store(rate); }
  double sampleRate() const { return sampleRate_.load(); }
  void setBlockSize(VstInt32 frames) { blockSize_.store(frames); }
  VstInt32 blockSize() const { return blockSize_.load(); }
  void setTempo(double bpm) { tempo_.store(bpm); }
  double tempo() const { return tempo_.load(); }
  // Position of the next block's first sample, and whether the transport
  // runs (rendering) or stands (info, editor).
  void setSamplePosition(double frames) { samplePos_.store(frames); }
  void setPlaying(bool playing) { playing_.store(playing); }
  void setProcessLevel(VstInt32 level) { processLevel_.store(level); }
  // audioMasterWillReplaceOrAccumulate: 1 replacing, 2 accumulating.
  void setReplacing(bool replacing) { replacing_.store(replacing); }
  // audioMasterGetAutomationState: 1 off, 2 read, 3 write, 4 read and write.
  void setAutomationState(VstInt32 state) { automationState_.store(state); }
  // audioMasterGetDirectory: the folder of the module.
  void setDirectory(const std::string& dir);
  Identity& identity() { return identity_; }

  // Whether the plug-in asked for MIDI (audioMasterWantMidi).
  bool wantsMidi() const { return wantsMidi_.load(); }

  // Called for audioMasterAutomate (index, value) on the thread of the
  // request, the audio thread too: fn must not allocate or block there.
  void onAutomate(std::function<void(VstInt32, float)> fn) { automate_ = std::move(fn); }
  // Called for audioMasterSizeWindow (width, height) on the editor's thread;
  // answers 1 when the function does, 0 without one.
  void onSizeWindow(std::function<bool(int, int)> fn) { sizeWindow_ = std::move(fn); }
  // Receives one line per noteworthy request (automation, edits, requests
  // this host does not serve); none by default. The requests are recorded
  // as they come and handed to fn by flushLog, on the thread that calls it.
  void onLog(std::function<void(const std::string&)> fn) { log_ = std::move(fn); }
  // Hands the requests recorded since the last call to the log function,
  // one line each, oldest first.
  void flushLog();

  // The answer to every request; the callback lands here.
  VstIntPtr request(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

  // The host's answer to audioMasterCanDo for a question: 1 yes, -1 no,
  // 0 for a question this host does not know.
  static VstIntPtr canDo(const char* question);

  // The time record as audioMasterGetTime fills it for the given filter.
  const VstTimeInfo* timeInfo(VstIntPtr filter);

 private:
  // The Host a request with this record belongs to (see the class comment).
  static Host* find(AEffect* effect);
  static VstIntPtr VSTCALLBACK route(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                     void* ptr, float opt);
  // The parts of request, by subject.
  VstIntPtr edit(VstInt32 opcode, VstInt32 index, float opt);
  VstIntPtr transport(VstInt32 opcode, VstIntPtr value);
  VstIntPtr identify(VstInt32 opcode, void* ptr);
  VstIntPtr serve(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value);
  // Records a request for the log, when there is one.
  void note(VstInt32 opcode, VstInt32 index = 0, float opt = 0.0f, const char* text = nullptr);

  uint64_t serial_ = 0;  // the order of creation
  std::atomic<AEffect*> effect_{nullptr};
  std::atomic<VstInt32> loadingId_{0};
  std::atomic<double> sampleRate_{44100.0};
  std::atomic<VstInt32> blockSize_{512};
  std::atomic<double> tempo_{120.0};
  std::atomic<double> samplePos_{0.0};
  std::atomic<bool> playing_{false};
  std::atomic<VstInt32> processLevel_{kProcessLevelUser};
  std::atomic<bool> replacing_{true};
  std::atomic<VstInt32> automationState_{1};
  std::atomic<bool> wantsMidi_{false};
  Identity identity_;
  std::function<void(VstInt32, float)> automate_;
  std::function<bool(int, int)> sizeWindow_;
  std::function<void(const std::string&)> log_;
  RequestLog requests_;
  char directory_[1024] = {};
  VstTimeInfo time_{};  // valid until the next audioMasterGetTime
};

// Copies text into a buffer the plug-in handed over, the interface's way:
// at most capacity bytes, always terminated.
void writeText(void* dst, const std::string& text, size_t capacity);

}  // namespace vsthost
