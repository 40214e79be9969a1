// One plug-in instance for a check, driven the way hosts drive it.
#pragma once

#include <memory>
#include <string>

#include "validate/Buffers.h"
#include "vsthost/Plugin.h"

namespace validate {

// Whether hosts call processReplacing (the plug-in declares it can replace
// and has the entry) rather than process.
bool canReplace(const AEffect* e);

// One block through the entry hosts call: processReplacing for a plug-in
// that can replace; otherwise process on outputs zeroed first, as hosts
// drive a plug-in of the days before processReplacing; processReplacing
// all the same when there is no process. Throws std::runtime_error when the
// plug-in has neither entry.
void processBlock(AEffect* e, float** in, float** out, int frames);
const char* hostsEntryName(const AEffect* e);  // "processReplacing" or "process"

// One instance for a group: loads, throws std::runtime_error on failure.
struct Instance {
  vsthost::Host host;
  std::unique_ptr<vsthost::Plugin> plugin;
  explicit Instance(const std::string& module);
  AEffect* effect() const { return plugin->effect(); }
  VstIntPtr dispatch(VstInt32 op, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f) {
    return plugin->dispatch(op, index, value, ptr, opt);
  }
  // One block through the entry hosts call (processBlock).
  void process(AudioBuffers& in, AudioBuffers& out, int frames) {
    processBlock(effect(), in.pointers(), out.pointers(), frames);
  }
  // One block through process, adding to what the outputs hold.
  void accumulate(AudioBuffers& in, AudioBuffers& out, int frames) {
    effect()->process(effect(), in.pointers(), out.pointers(), frames);
  }
};

}  // namespace validate
