#include "vsthost/Plugin.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

namespace vsthost {

namespace {

std::string trimmedLower(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  std::string out = s.substr(b, e - b);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

std::unique_ptr<Plugin> Plugin::load(const std::string& path, Host& host, std::string* error) {
  std::string why;
  std::unique_ptr<Module> module = Module::load(path, &why);
  if (!module) {
    if (error) *error = why;
    return nullptr;
  }
  host.setDirectory(directoryOf(path));
  host.beginLoading();
  AEffect* effect = module->instantiate(Host::callback());
  host.endLoading();
  if (!effect) {
    if (error) *error = path + ": the entry " + module->entryName() + " returned no instance";
    return nullptr;
  }
  if (effect->magic != kEffectMagic) {
    // Not a record we may call into: nothing of it is trusted, not even
    // its dispatcher, so the instance is left alone.
    if (error)
      *error = path + ": the entry returned a record whose magic is " + fourCharText(effect->magic) +
               ", not VstP";
    return nullptr;
  }
  if (!effect->dispatcher || !effect->getParameter || !effect->setParameter) {
    if (error) *error = path + ": the plug-in's record lacks its dispatcher or parameter functions";
    return nullptr;
  }
  host.attach(effect);
  std::unique_ptr<Plugin> plugin(new Plugin(std::move(module), effect, host));
  plugin->dispatch(effOpen);
  return plugin;
}

Plugin::Plugin(std::unique_ptr<Module> module, AEffect* effect, Host& host)
    : module_(std::move(module)), effect_(effect), host_(host) {}

Plugin::~Plugin() {
  stop();
  dispatch(effClose);
  host_.detach();
  // module_ unloads after this body, once the instance is gone.
}

VstIntPtr Plugin::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) const {
  return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

std::string Plugin::text(VstInt32 opcode, VstInt32 index, VstIntPtr value) const {
  return dispatchText(effect_, opcode, index, value);
}

void Plugin::start(double sampleRate, VstInt32 blockSize) {
  if (running_) stop();
  host_.setSampleRate(sampleRate);
  host_.setBlockSize(blockSize);
  dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
  dispatch(effSetBlockSize, 0, blockSize);
  dispatch(effMainsChanged, 0, 1);
  dispatch(effStartProcess);
  running_ = true;
}

void Plugin::stop() {
  if (!running_) return;
  dispatch(effStopProcess);
  dispatch(effMainsChanged, 0, 0);
  running_ = false;
}

VstInt32 Plugin::findParameter(const std::string& name) const {
  const VstInt32 n = numParams();
  for (VstInt32 i = 0; i < n; ++i)
    if (parameterName(i) == name) return i;
  const std::string wanted = trimmedLower(name);
  VstInt32 found = -1;
  for (VstInt32 i = 0; i < n; ++i) {
    if (trimmedLower(parameterName(i)) == wanted) {
      if (found >= 0) return -1;  // ambiguous
      found = i;
    }
  }
  return found;
}

std::vector<std::string> Plugin::programNames() const {
  const VstInt32 n = std::max<VstInt32>(effect_->numPrograms, 0);
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(n));
  bool indexed = true;
  for (VstInt32 i = 0; i < n && indexed; ++i) {
    VstIntPtr answer = 0;
    std::string name = dispatchText(effect_, effGetProgramNameIndexed, i, -1, &answer);
    indexed = answer != 0;
    if (indexed) names.push_back(std::move(name));
  }
  if (indexed) return names;

  names.clear();
  const VstIntPtr current = dispatch(effGetProgram);
  for (VstInt32 i = 0; i < n; ++i) {
    dispatch(effBeginSetProgram);
    dispatch(effSetProgram, 0, i);
    dispatch(effEndSetProgram);
    names.push_back(text(effGetProgramName));
  }
  dispatch(effBeginSetProgram);
  dispatch(effSetProgram, 0, current);
  dispatch(effEndSetProgram);
  return names;
}

bool Plugin::editorSize(int* width, int* height) const {
  if (!(effect_->flags & effFlagsHasEditor)) return false;
  ERect* rect = nullptr;
  dispatch(effEditGetRect, 0, 0, &rect);
  if (!rect) return false;
  const int w = rect->right - rect->left, h = rect->bottom - rect->top;
  if (w <= 0 || h <= 0) return false;
  *width = w;
  *height = h;
  return true;
}

const std::vector<std::string>& commonCanDoQuestions() {
  static const std::vector<std::string> questions = {
      "sendVstEvents",     "sendVstMidiEvent",  "receiveVstEvents", "receiveVstMidiEvent",
      "receiveVstTimeInfo", "offline",          "midiProgramNames", "bypass",
      "noRealTime",        "plugAsChannelInsert", "plugAsSend",     "mixDryWet",
      "1in1out",           "1in2out",           "2in1out",          "2in2out",
  };
  return questions;
}

const char* categoryName(VstIntPtr category) {
  static const char* const names[] = {"unknown", "effect",    "synth",     "analysis",  "mastering",  "spacializer",
                                      "room fx", "surround fx", "restoration", "offline", "shell", "generator"};
  if (category >= 0 && category < static_cast<VstIntPtr>(sizeof names / sizeof names[0]))
    return names[category];
  return "other";
}

FullInfo queryFullInfo(const Plugin& plugin) {
  FullInfo info;
  AEffect* e = plugin.effect();
  info.basic = queryInfo(e);
  info.category = plugin.dispatch(effGetPlugCategory);
  info.vstVersion = plugin.dispatch(effGetVstVersion);
  info.initialDelay = e->initialDelay;

  auto pins = [&](VstInt32 opcode, VstInt32 count) {
    std::vector<Pin> result;
    for (VstInt32 i = 0; i < count; ++i) {
      // A whole record of zeros plus room to spare for plug-ins that
      // write past the label.
      union {
        VstPinProperties props;
        char bytes[kTextBufferSize];
      } buffer;
      std::memset(&buffer, 0, sizeof buffer);
      Pin pin;
      pin.index = i;
      pin.answered = plugin.dispatch(opcode, i, 0, &buffer.props) != 0;
      if (pin.answered) {
        buffer.props.label[sizeof buffer.props.label - 1] = '\0';
        pin.label = buffer.props.label;
        char shortLabel[sizeof buffer.props.shortLabel + 1] = {};
        std::memcpy(shortLabel, buffer.props.shortLabel, sizeof buffer.props.shortLabel);
        pin.shortLabel = shortLabel;
        pin.flags = buffer.props.flags;
        pin.arrangementType = buffer.props.arrangementType;
      }
      result.push_back(pin);
    }
    return result;
  };
  info.inputs = pins(effGetInputProperties, e->numInputs);
  info.outputs = pins(effGetOutputProperties, e->numOutputs);

  for (VstInt32 i = 0; i < e->numParams; ++i) {
    Parameter p;
    p.index = i;
    p.name = plugin.text(effGetParamName, i);
    p.label = plugin.text(effGetParamLabel, i);
    p.display = plugin.text(effGetParamDisplay, i);
    p.value = plugin.getParameter(i);
    info.parameters.push_back(p);
  }
  info.programs = plugin.programNames();
  info.currentProgram = plugin.dispatch(effGetProgram);

  for (const std::string& q : commonCanDoQuestions()) {
    std::vector<char> buffer(kTextBufferSize, '\0');
    std::memcpy(buffer.data(), q.c_str(), q.size());
    info.canDo.push_back({q, plugin.dispatch(effCanDo, 0, 0, buffer.data())});
  }

  info.hasEditor = (e->flags & effFlagsHasEditor) != 0;
  if (info.hasEditor) info.editorSizeKnown = plugin.editorSize(&info.editorWidth, &info.editorHeight);
  return info;
}

}  // namespace vsthost
