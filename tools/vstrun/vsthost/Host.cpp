#include "vsthost/Host.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace vsthost {

VstIntPtr VSTCALLBACK minimalHostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? kHostVstVersion : 0;
}

std::string fourCharText(VstInt32 code) {
  const uint32_t u = static_cast<uint32_t>(code);
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((u >> shift) & 0xFF);
    if (c < 0x20 || c > 0x7E) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(u));
      return hex;
    }
    text += c;
  }
  return text;
}

std::string flagNames(VstInt32 flags) {
  static const struct {
    VstInt32 bit;
    const char* name;
  } kNames[] = {
      {effFlagsHasEditor, "HasEditor"},       {effFlagsHasClip, "HasClip"},
      {effFlagsHasVu, "HasVu"},               {effFlagsCanMono, "CanMono"},
      {effFlagsCanReplacing, "CanReplacing"}, {effFlagsProgramChunks, "ProgramChunks"},
      {effFlagsIsSynth, "IsSynth"},           {effFlagsNoSoundInStop, "NoSoundInStop"},
      {effFlagsExtIsAsync, "ExtIsAsync"},     {effFlagsExtHasBuffer, "ExtHasBuffer"},
  };
  std::string text;
  uint32_t rest = static_cast<uint32_t>(flags);
  for (const auto& n : kNames) {
    if (rest & static_cast<uint32_t>(n.bit)) {
      if (!text.empty()) text += ' ';
      text += n.name;
      rest &= ~static_cast<uint32_t>(n.bit);
    }
  }
  for (int bit = 0; bit < 32; ++bit) {
    if (rest & (1u << bit)) {
      if (!text.empty()) text += ' ';
      text += std::to_string(1u << bit);
    }
  }
  return text;
}

std::string dispatchText(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, VstIntPtr* answer) {
  char buffer[kTextBufferSize];
  std::memset(buffer, 0, sizeof buffer);
  const VstIntPtr result = dispatch(effect, opcode, index, value, buffer);
  if (answer) *answer = result;
  buffer[sizeof buffer - 1] = '\0';
  return buffer;
}

EffectInfo queryInfo(AEffect* effect) {
  EffectInfo info;
  info.magic = effect->magic;
  info.numInputs = effect->numInputs;
  info.numOutputs = effect->numOutputs;
  info.numParams = effect->numParams;
  info.numPrograms = effect->numPrograms;
  info.flags = effect->flags;
  info.uniqueID = effect->uniqueID;
  info.version = effect->version;
  info.effectName = dispatchText(effect, effGetEffectName);
  info.vendor = dispatchText(effect, effGetVendorString);
  info.product = dispatchText(effect, effGetProductString);
  info.vendorVersion = dispatch(effect, effGetVendorVersion);
  return info;
}

namespace {

// Which Host a request belongs to. The callback may come on the audio
// thread, so finding the Host takes no lock: a fixed table of slots, which
// Hosts take and leave under a lock, read without one.
std::mutex gHostsMutex;  // for taking and leaving slots
std::atomic<Host*> gHosts[Host::kMaxHosts];
std::atomic<Host*> gLoading{nullptr};  // the Host whose module's entry runs now
uint64_t gCreated = 0;  // under gHostsMutex

const char* const kYes[] = {"sendVstEvents",   "sendVstMidiEvent", "sendVstTimeInfo",
                            "startStopProcess", "sizeWindow",       "supportShell"};
const char* const kNo[] = {"receiveVstEvents",      "receiveVstMidiEvent",  "receiveVstTimeInfo",
                           "reportConnectionChanges", "acceptIOChanges",     "offline",
                           "openFileSelector",      "closeFileSelector",    "editFile",
                           "shellCategory",         "sendVstMidiEventFlagIsRealtime", "supplyIdle"};

}  // namespace

void writeText(void* dst, const std::string& text, size_t capacity) {
  if (!dst || capacity == 0) return;
  const size_t n = std::min(text.size(), capacity - 1);
  std::memcpy(dst, text.data(), n);
  static_cast<char*>(dst)[n] = '\0';
}

Host::Host() {
  std::lock_guard<std::mutex> lock(gHostsMutex);
  serial_ = ++gCreated;
  for (std::atomic<Host*>& slot : gHosts)
    if (!slot.load()) {
      slot.store(this, std::memory_order_release);
      return;
    }
  throw std::runtime_error("more than " + std::to_string(kMaxHosts) + " hosts at once");
}

Host::~Host() {
  {
    std::lock_guard<std::mutex> lock(gHostsMutex);
    for (std::atomic<Host*>& slot : gHosts)
      if (slot.load() == this) slot.store(nullptr);
    Host* self = this;
    gLoading.compare_exchange_strong(self, nullptr);
  }
  flushLog();
}

void Host::attach(AEffect* effect) { effect_.store(effect); }
void Host::detach() { effect_.store(nullptr); }

void Host::beginLoading(VstInt32 uniqueId) {
  loadingId_.store(uniqueId);
  gLoading.store(this);
}

void Host::endLoading() {
  Host* self = this;
  gLoading.compare_exchange_strong(self, nullptr);
}

void Host::setDirectory(const std::string& dir) { writeText(directory_, dir, sizeof directory_); }

void Host::note(VstInt32 opcode, VstInt32 index, float opt, const char* text) {
  if (log_) requests_.add(opcode, index, opt, text);
}

namespace {

std::string describe(const Request& r) {
  char line[160];
  switch (r.opcode) {
    case audioMasterAutomate:
      std::snprintf(line, sizeof line, "automate parameter %d = %g", static_cast<int>(r.index),
                    static_cast<double>(r.opt));
      break;
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
      std::snprintf(line, sizeof line, "%s parameter %d", r.opcode == audioMasterBeginEdit ? "begin edit" : "end edit",
                    static_cast<int>(r.index));
      break;
    case audioMasterCanDo:
      std::snprintf(line, sizeof line, "can-do question not known: %s", r.text);
      break;
    case audioMasterIOChanged:
      return "the plug-in changed its inputs or outputs (not followed)";
    default:
      std::snprintf(line, sizeof line, "request %d not served", static_cast<int>(r.opcode));
  }
  return line;
}

}  // namespace

void Host::flushLog() {
  Request r;
  while (requests_.take(r))
    if (log_) log_(describe(r));
  if (const long dropped = requests_.takeDropped())
    if (log_) log_(std::to_string(dropped) + " more requests came too fast to be listed");
}

Host* Host::find(AEffect* effect) {
  Host* newest = nullptr;
  for (std::atomic<Host*>& slot : gHosts) {
    Host* h = slot.load(std::memory_order_acquire);
    if (!h) continue;
    if (effect && h->effect() == effect) return h;
    if (!newest || h->serial_ > newest->serial_) newest = h;
  }
  if (Host* loading = gLoading.load(std::memory_order_acquire)) return loading;
  return newest;
}

VstIntPtr VSTCALLBACK Host::route(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                  float opt) {
  Host* host = find(effect);
  if (!host) return opcode == audioMasterVersion ? kHostVstVersion : 0;
  return host->request(effect, opcode, index, value, ptr, opt);
}

VstIntPtr Host::canDo(const char* question) {
  if (!question) return 0;
  for (const char* q : kYes)
    if (std::strcmp(q, question) == 0) return 1;
  for (const char* q : kNo)
    if (std::strcmp(q, question) == 0) return -1;
  return 0;
}

const VstTimeInfo* Host::timeInfo(VstIntPtr filter) {
  const double rate = sampleRate_.load();
  const double pos = samplePos_.load();
  const double bpm = tempo_.load();
  std::memset(&time_, 0, sizeof time_);
  time_.samplePos = pos;
  time_.sampleRate = rate;
  time_.tempo = bpm;
  time_.timeSigNumerator = 4;
  time_.timeSigDenominator = 4;
  VstInt32 flags = playing_.load() ? kVstTransportPlaying : 0;
  const double seconds = rate > 0 ? pos / rate : 0.0;
  const double ppq = seconds * bpm / 60.0;
  // Everything is cheap to compute, but the validity bits follow the filter
  // as the interface says: only what the plug-in asked for is promised.
  if (filter & kVstNanosValid) {
    time_.nanoSeconds = seconds * 1e9;
    flags |= kVstNanosValid;
  }
  if (filter & kVstPpqPosValid) {
    time_.ppqPos = ppq;
    flags |= kVstPpqPosValid;
  }
  if (filter & kVstTempoValid) flags |= kVstTempoValid;
  if (filter & kVstBarsValid) {
    time_.barStartPos = std::floor(ppq / 4.0) * 4.0;
    flags |= kVstBarsValid;
  }
  if (filter & kVstTimeSigValid) flags |= kVstTimeSigValid;
  if ((filter & kVstClockValid) && rate > 0 && bpm > 0) {
    // MIDI clock: 24 per quarter note.
    const double clocks = ppq * 24.0;
    const double toNext = std::ceil(clocks) - clocks;
    time_.samplesToNextClock = static_cast<VstInt32>(std::lround(toNext / 24.0 * 60.0 / bpm * rate));
    flags |= kVstClockValid;
  }
  time_.flags = flags;
  return &time_;
}

VstIntPtr Host::request(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                        float opt) {
  switch (opcode) {
    case audioMasterAutomate:
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
      return edit(opcode, index, opt);
    case audioMasterGetTime:
    case audioMasterTempoAt:
    case audioMasterGetSampleRate:
    case audioMasterGetBlockSize:
    case audioMasterGetInputLatency:
    case audioMasterGetOutputLatency:
    case audioMasterWillReplaceOrAccumulate:
    case audioMasterGetCurrentProcessLevel:
    case audioMasterGetAutomationState:
      return transport(opcode, value);
    case audioMasterVersion:
    case audioMasterGetVendorString:
    case audioMasterGetProductString:
    case audioMasterGetVendorVersion:
    case audioMasterCanDo:
    case audioMasterGetLanguage:
    case audioMasterGetDirectory:
      return identify(opcode, ptr);
    default:
      return serve(effect, opcode, index, value);
  }
}

// Parameter changes the plug-in reports: passed on, and noted for the log.
VstIntPtr Host::edit(VstInt32 opcode, VstInt32 index, float opt) {
  if (opcode == audioMasterAutomate && automate_) automate_(index, opt);
  note(opcode, index, opt);
  return 1;
}

// Where the render stands and how it runs.
VstIntPtr Host::transport(VstInt32 opcode, VstIntPtr value) {
  switch (opcode) {
    case audioMasterGetTime: return reinterpret_cast<VstIntPtr>(timeInfo(value));
    case audioMasterTempoAt: return static_cast<VstIntPtr>(std::lround(tempo_.load() * 10000.0));
    case audioMasterGetSampleRate: return static_cast<VstIntPtr>(std::lround(sampleRate_.load()));
    case audioMasterGetBlockSize: return blockSize_.load();
    case audioMasterWillReplaceOrAccumulate: return replacing_.load() ? 1 : 2;
    case audioMasterGetCurrentProcessLevel: return processLevel_.load();
    case audioMasterGetAutomationState: return automationState_.load();
    default: return 0;  // latencies: none
  }
}

// Who this host is and what it can do.
VstIntPtr Host::identify(VstInt32 opcode, void* ptr) {
  constexpr size_t kHostStringCapacity = 64;  // what the interface lets a plug-in expect
  switch (opcode) {
    case audioMasterVersion: return kHostVstVersion;
    case audioMasterGetVendorString:
      writeText(ptr, identity_.vendor, kHostStringCapacity);
      return ptr ? 1 : 0;
    case audioMasterGetProductString:
      writeText(ptr, identity_.product, kHostStringCapacity);
      return ptr ? 1 : 0;
    case audioMasterGetVendorVersion: return identity_.vendorVersion;
    case audioMasterCanDo: {
      const VstIntPtr answer = canDo(static_cast<const char*>(ptr));
      if (answer == 0) note(audioMasterCanDo, 0, 0.0f, ptr ? static_cast<const char*>(ptr) : "(null)");
      return answer;
    }
    case audioMasterGetLanguage: return 1;  // English
    default: return directory_[0] ? reinterpret_cast<VstIntPtr>(directory_) : 0;  // audioMasterGetDirectory
  }
}

// Requests about the instance and its window, and those not served.
VstIntPtr Host::serve(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value) {
  switch (opcode) {
    case audioMasterCurrentId: {
      AEffect* e = effect ? effect : effect_.load();
      if (e && e == effect_.load()) return e->uniqueID;
      return loadingId_.load();
    }
    case audioMasterIdle:
    case audioMasterNeedIdle:
    case audioMasterUpdateDisplay:
      return 1;
    case audioMasterPinConnected: {
      // The interface's inverted answer: 0 means connected.
      AEffect* e = effect_.load();
      if (!e) return 0;
      const VstInt32 count = value ? e->numOutputs : e->numInputs;
      return index >= 0 && index < count ? 0 : 1;
    }
    case audioMasterWantMidi:
      wantsMidi_.store(true);
      return 1;
    case audioMasterGetNumAutomatableParameters: {
      AEffect* e = effect_.load();
      return e ? e->numParams : 0;
    }
    case audioMasterIOChanged:
      note(opcode);
      return 0;
    case audioMasterSizeWindow:
      return sizeWindow_ && sizeWindow_(index, static_cast<int>(value)) ? 1 : 0;
    default:
      note(opcode);
      return 0;
  }
}

}  // namespace vsthost
