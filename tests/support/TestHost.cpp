#include "support/TestHost.h"

#include <cstring>

namespace vtest {

namespace {
std::mutex gActiveMutex;
RecordingHost* gActive = nullptr;
}  // namespace

RecordingHost::RecordingHost() {
  std::lock_guard<std::mutex> lock(gActiveMutex);
  previous_ = gActive;
  gActive = this;
}

RecordingHost::~RecordingHost() {
  std::lock_guard<std::mutex> lock(gActiveMutex);
  if (gActive == this) gActive = previous_;
}

void RecordingHost::answer(VstInt32 opcode, VstIntPtr value) {
  answer(opcode, [value](const HostCall&) { return value; });
}

void RecordingHost::answer(VstInt32 opcode, AnswerFn fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[opcode] = std::move(fn);
}

void RecordingHost::resetAnswer(VstInt32 opcode) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.erase(opcode);
}

std::vector<HostCall> RecordingHost::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<HostCall> RecordingHost::callsOf(VstInt32 opcode) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<HostCall> result;
  for (const HostCall& c : calls_)
    if (c.opcode == opcode) result.push_back(c);
  return result;
}

size_t RecordingHost::count(VstInt32 opcode) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const HostCall& c : calls_)
    if (c.opcode == opcode) ++n;
  return n;
}

size_t RecordingHost::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_.size();
}

void RecordingHost::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
}

VstIntPtr VSTCALLBACK RecordingHost::dispatch(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                              VstIntPtr value, void* ptr, float opt) {
  RecordingHost* host;
  {
    std::lock_guard<std::mutex> lock(gActiveMutex);
    host = gActive;
  }
  if (!host) return vsthost::minimalHostCallback(effect, opcode, index, value, ptr, opt);
  HostCall call;
  call.effect = effect;
  call.opcode = opcode;
  call.index = index;
  call.value = value;
  call.ptr = ptr;
  call.opt = opt;
  call.thread = std::this_thread::get_id();
  return host->handle(call);
}

VstIntPtr RecordingHost::handle(const HostCall& call) {
  AnswerFn fn;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
    auto it = answers_.find(call.opcode);
    if (it != answers_.end()) fn = it->second;
  }
  if (fn) return fn(call);
  return vsthost::minimalHostCallback(call.effect, call.opcode, call.index, call.value, call.ptr, call.opt);
}

AudioBuffers::AudioBuffers(int inputs, int outputs, int frames)
    : frames_(frames),
      in_(inputs, std::vector<float>(frames, 0.0f)),
      out_(outputs, std::vector<float>(frames, 0.0f)) {
  for (auto& c : in_) inPtrs_.push_back(c.data());
  for (auto& c : out_) outPtrs_.push_back(c.data());
  // A trailing null keeps the arrays valid with zero channels.
  inPtrs_.push_back(nullptr);
  outPtrs_.push_back(nullptr);
}

void AudioBuffers::fillInput(int channel, float value) {
  for (float& s : in_[channel]) s = value;
}

void AudioBuffers::fillOutput(int channel, float value) {
  for (float& s : out_[channel]) s = value;
}

MidiEvents& MidiEvents::add(unsigned char status, unsigned char data1, unsigned char data2, int deltaFrames) {
  auto e = std::make_unique<VstMidiEvent>();
  std::memset(e.get(), 0, sizeof(VstMidiEvent));
  e->type = kVstMidiType;
  e->byteSize = sizeof(VstMidiEvent);
  e->deltaFrames = deltaFrames;
  e->midiData[0] = static_cast<char>(status);
  e->midiData[1] = static_cast<char>(data1);
  e->midiData[2] = static_cast<char>(data2);
  midi_.push_back(std::move(e));
  return *this;
}

VstEvents* MidiEvents::events() {
  const size_t header = offsetof(VstEvents, events);
  const size_t slots = midi_.size() < 2 ? 2 : midi_.size();
  block_.assign(header + slots * sizeof(VstEvent*), 0);
  auto* list = reinterpret_cast<VstEvents*>(block_.data());
  list->numEvents = static_cast<VstInt32>(midi_.size());
  list->reserved = 0;
  auto** slot = reinterpret_cast<VstEvent**>(block_.data() + header);
  for (size_t i = 0; i < midi_.size(); ++i) slot[i] = reinterpret_cast<VstEvent*>(midi_[i].get());
  return list;
}

PluginInstance::PluginInstance(RecordingHost& host, const std::string& path) {
  module_ = vsthost::Module::load(path, &error_);
  if (!module_) return;
  effect_ = module_->instantiate(host.callback());
  if (!effect_) error_ = path + ": " + module_->entryName() + " returned no instance";
}

PluginInstance::~PluginInstance() { close(); }

VstIntPtr PluginInstance::close() {
  if (!effect_) return 0;
  AEffect* effect = effect_;
  effect_ = nullptr;
  return effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
}

VstIntPtr PluginInstance::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
  return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

std::string PluginInstance::text(VstInt32 opcode, VstInt32 index) {
  return vsthost::dispatchText(effect_, opcode, index);
}

void PluginInstance::setParameter(VstInt32 index, float value) { effect_->setParameter(effect_, index, value); }

float PluginInstance::getParameter(VstInt32 index) { return effect_->getParameter(effect_, index); }

void PluginInstance::process(AudioBuffers& audio) {
  effect_->process(effect_, audio.inputs(), audio.outputs(), audio.frames());
}

void PluginInstance::processReplacing(AudioBuffers& audio) {
  effect_->processReplacing(effect_, audio.inputs(), audio.outputs(), audio.frames());
}

VstIntPtr PluginInstance::processEvents(MidiEvents& events) {
  return dispatch(effProcessEvents, 0, 0, events.events());
}

}  // namespace vtest
