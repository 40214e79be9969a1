#include "validate/Instance.h"

#include <cstring>
#include <stdexcept>

namespace validate {

bool canReplace(const AEffect* e) { return (e->flags & effFlagsCanReplacing) && e->processReplacing; }

const char* hostsEntryName(const AEffect* e) { return canReplace(e) || !e->process ? "processReplacing" : "process"; }

void processBlock(AEffect* e, float** in, float** out, int frames) {
  if (canReplace(e) || (!e->process && e->processReplacing)) {
    e->processReplacing(e, in, out, frames);
    return;
  }
  if (!e->process) throw std::runtime_error("the plug-in has neither a process nor a processReplacing entry");
  for (VstInt32 c = 0; c < e->numOutputs; ++c) std::memset(out[c], 0, sizeof(float) * static_cast<size_t>(frames));
  e->process(e, in, out, frames);
}

Instance::Instance(const std::string& module) {
  std::string error;
  plugin = vsthost::Plugin::load(module, host, &error);
  if (!plugin) throw std::runtime_error(error);
}

}  // namespace validate
