// One plug-in instance driven by a vsthost::Host: loading with every check a
// host owes its user, the start and stop sequences, and the questions a host
// asks (names, parameters, programs, pins, can-do, editor size).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vsthost/Host.h"
#include "vsthost/Module.h"

namespace vsthost {

class Plugin {
 public:
  // Loads the module at path, creates one instance through its entry with
  // host's callback, checks the record and sends effOpen. On failure
  // returns null with one line in *error saying what is wrong: a missing or
  // unreadable file, a file that is not a module of this platform, no entry
  // symbol, an entry that returns no instance, a record without the magic.
  static std::unique_ptr<Plugin> load(const std::string& path, Host& host, std::string* error);

  // Stops the instance if it runs, sends effClose, then unloads the module.
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  AEffect* effect() const { return effect_; }
  const Module& module() const { return *module_; }
  Host& host() const { return host_; }

  VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                     float opt = 0.0f) const;
  // A text the plug-in writes into a zeroed host buffer.
  std::string text(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0) const;

  // effSetSampleRate, effSetBlockSize, effMainsChanged 1, effStartProcess.
  void start(double sampleRate, VstInt32 blockSize);
  // effStopProcess, effMainsChanged 0; nothing when not started.
  void stop();
  bool running() const { return running_; }

  VstInt32 numParams() const { return effect_->numParams; }
  float getParameter(VstInt32 index) const { return effect_->getParameter(effect_, index); }
  void setParameter(VstInt32 index, float value) const { effect_->setParameter(effect_, index, value); }
  std::string parameterName(VstInt32 index) const { return text(effGetParamName, index); }
  // The index of the parameter called name: an exact match first, then the
  // only match ignoring case and surrounding spaces; -1 when there is none
  // or more than one.
  VstInt32 findParameter(const std::string& name) const;

  // Program names: effGetProgramNameIndexed, or, for plug-ins that do not
  // answer it, by selecting each program and asking for its name (the
  // current program is restored).
  std::vector<std::string> programNames() const;

  // The editor's size from effEditGetRect; false when the plug-in has no
  // editor or gives no rectangle.
  bool editorSize(int* width, int* height) const;

 private:
  Plugin(std::unique_ptr<Module> module, AEffect* effect, Host& host);

  std::unique_ptr<Module> module_;
  AEffect* effect_;
  Host& host_;
  bool running_ = false;
};

// Everything `vstrun info` shows.
struct Parameter {
  VstInt32 index = 0;
  std::string name, label, display;
  float value = 0.0f;
};

struct Pin {
  VstInt32 index = 0;
  bool answered = false;  // false: the plug-in did not describe this pin
  std::string label, shortLabel;
  VstInt32 flags = 0;
  VstInt32 arrangementType = 0;
};

struct CanDoAnswer {
  std::string question;
  VstIntPtr answer = 0;  // 1 yes, -1 no, 0 do not know
};

struct FullInfo {
  EffectInfo basic;
  VstIntPtr category = 0;     // effGetPlugCategory
  VstIntPtr vstVersion = 0;   // effGetVstVersion
  VstInt32 initialDelay = 0;  // latency in samples
  std::vector<Pin> inputs, outputs;
  std::vector<Parameter> parameters;
  std::vector<std::string> programs;
  VstIntPtr currentProgram = 0;
  std::vector<CanDoAnswer> canDo;
  bool hasEditor = false;
  bool editorSizeKnown = false;
  int editorWidth = 0, editorHeight = 0;
};

// The can-do questions `vstrun info` asks.
const std::vector<std::string>& commonCanDoQuestions();

FullInfo queryFullInfo(const Plugin& plugin);

// The name of a plug-in category (effGetPlugCategory), e.g. "effect".
const char* categoryName(VstIntPtr category);

}  // namespace vsthost
