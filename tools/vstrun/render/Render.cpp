#include "render/Render.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "render/CallSite.h"

namespace vstrun {

int outputChannelsFor(int fileChannels, int pluginOutputs) {
  if (pluginOutputs <= 0) return 0;
  return std::max(1, std::min(pluginOutputs, std::max(fileChannels, 2)));
}

namespace {

struct FrameEvent {
  int64_t frame;
  TimedMidi msg;
};

// Marks the call about to be made, for a crash report.
void enter(const char* call) { currentCall().call.store(call); }

// Stops the plug-in however render leaves.
struct RunningGuard {
  vsthost::Plugin& plugin;
  ~RunningGuard() {
    plugin.host().setPlaying(false);
    plugin.host().setProcessLevel(vsthost::kProcessLevelUser);
    currentCall().frame.store(-1);
    enter("the stop sequence (effStopProcess, effMainsChanged 0)");
    plugin.stop();
  }
};

// The plug-in's shape as this render uses it; throws when it cannot render.
struct Shape {
  int numIn, numOut, fileChannels, outChannels;
  bool accumulate;
};

Shape checkShape(AEffect* e, const AudioSource& source, const RenderOptions& options) {
  if (options.blockSize < 1) throw std::runtime_error("the block size must be at least 1");
  Shape s{std::max<VstInt32>(e->numInputs, 0), std::max<VstInt32>(e->numOutputs, 0), source.channels(),
          options.outputChannels, false};
  if (s.numOut < 1) throw std::runtime_error("the plug-in has no outputs to render");
  if (s.outChannels < 1 || s.outChannels > s.numOut)
    throw std::runtime_error("cannot write " + std::to_string(s.outChannels) + " channels: the plug-in has " +
                             std::to_string(s.numOut) + " outputs");
  const bool canReplace = (e->flags & effFlagsCanReplacing) && e->processReplacing;
  s.accumulate = options.accumulate || !canReplace;
  if (s.accumulate && !e->process) {
    if (!canReplace) throw std::runtime_error("the plug-in has neither a process nor a processReplacing entry");
    if (options.log) options.log("the plug-in has no process entry; using processReplacing");
    s.accumulate = false;
  }
  if (s.accumulate && !options.accumulate && options.log)
    options.log("the plug-in cannot process replacing; using process on zeroed outputs");
  return s;
}

void logRouting(const Shape& s, const RenderOptions& options) {
  if (!options.log) return;
  if (s.fileChannels == 1 && s.numIn > 1) options.log("mono input fed to all " + std::to_string(s.numIn) + " inputs");
  else if (s.fileChannels > s.numIn)
    options.log(std::to_string(s.fileChannels - s.numIn) + " input channel(s) beyond the plug-in's " +
                std::to_string(s.numIn) + " inputs are not used");
  if (s.numOut > s.outChannels)
    options.log("plug-in outputs " + std::to_string(s.outChannels + 1) + ".." + std::to_string(s.numOut) +
                " are rendered but not written");
}

// MIDI messages in frames; those at or past the end are counted and dropped.
std::vector<FrameEvent> eventsInFrames(const std::vector<TimedMidi>& midi, double rate, int64_t total,
                                       RenderStats& stats, const RenderOptions& options) {
  std::vector<FrameEvent> events;
  events.reserve(midi.size());
  for (const TimedMidi& m : midi) {
    const double at = std::round(m.seconds * rate);
    if (!(at < static_cast<double>(total))) {  // compared as doubles: no overflow for absurd times
      ++stats.midiDropped;
      continue;
    }
    events.push_back({static_cast<int64_t>(at), m});
  }
  if (stats.midiDropped && options.log)
    options.log(std::to_string(stats.midiDropped) + " MIDI message(s) fall after the end and are not sent");
  return events;
}

size_t mostEventsInOneBlock(const std::vector<FrameEvent>& events, int32_t block) {
  size_t most = 0;
  for (size_t a = 0, b = 0; a < events.size(); ++a) {
    while (b < events.size() && events[b].frame < events[a].frame + block) ++b;
    most = std::max(most, b - a);
  }
  return most;
}

// The list handed to effProcessEvents. The record declares room for two
// pointers; the block is allocated for as many as one call carries, and the
// pointers are reached through their offset, as a plug-in reads them.
class EventList {
 public:
  explicit EventList(size_t capacity)
      : events_(capacity), block_(offsetof(VstEvents, events) + (capacity + 1) * sizeof(VstEvent*)) {}

  void clear() { count_ = 0; }
  size_t size() const { return count_; }
  void add(const TimedMidi& msg, VstInt32 deltaFrames) {
    VstMidiEvent& ev = events_[count_];
    std::memset(&ev, 0, sizeof ev);
    ev.type = kVstMidiType;
    ev.byteSize = sizeof(VstMidiEvent);
    ev.deltaFrames = deltaFrames;
    for (int b = 0; b < msg.size; ++b) ev.midiData[b] = static_cast<char>(msg.bytes[b]);
    slots()[count_++] = reinterpret_cast<VstEvent*>(&ev);
  }
  VstEvents* list() {
    VstEvents* l = reinterpret_cast<VstEvents*>(block_.data());
    l->numEvents = static_cast<VstInt32>(count_);
    l->reserved = 0;
    slots()[count_] = nullptr;
    return l;
  }

 private:
  VstEvent** slots() { return reinterpret_cast<VstEvent**>(block_.data() + offsetof(VstEvents, events)); }

  std::vector<VstMidiEvent> events_;
  std::vector<unsigned char> block_;
  size_t count_ = 0;
};

// The render's audio loop. Everything it touches is allocated in the
// constructor, before the plug-in starts.
class BlockLoop {
 public:
  BlockLoop(vsthost::Plugin& plugin, AudioSource& source, AudioSink& sink, Automation& automation,
            std::vector<FrameEvent> events, const Shape& shape, const RenderOptions& options, RenderStats& stats)
      : plugin_(plugin), e_(plugin.effect()), source_(source), sink_(sink), automation_(automation),
        events_(std::move(events)), shape_(shape), options_(options), stats_(stats),
        list_(mostEventsInOneBlock(events_, options.blockSize)),
        in_(static_cast<size_t>(std::max(shape.numIn, 1)), std::vector<float>(options.blockSize)),
        out_(static_cast<size_t>(shape.numOut), std::vector<float>(options.blockSize)),
        readBuffer_(static_cast<size_t>(options.blockSize) * shape.fileChannels),
        writeBuffer_(static_cast<size_t>(options.blockSize) * shape.outChannels) {
    for (auto& c : in_) inPtrs_.push_back(c.data());
    for (auto& c : out_) outPtrs_.push_back(c.data());
  }

  void run(int64_t inputFrames, int64_t total) {
    inputLeft_ = inputFrames;
    currentCall().total.store(total);
    for (int64_t pos = 0; pos < total;) {
      if (options_.cancel && options_.cancel->load()) throw std::runtime_error("interrupted");
      const int64_t n = automation_.span(pos, std::min<int64_t>(options_.blockSize, total - pos));
      CallSite& site = currentCall();
      site.block.fetch_add(1);
      site.frames.store(n);
      site.frame.store(pos);
      enter("setParameter (automation)");
      automation_.apply(pos, [&](int32_t index, float value) {
        plugin_.setParameter(index, value);
        ++stats_.parameterSets;
      });
      readInput(n);
      sendMidi(pos, n);
      process(pos, static_cast<int>(n));
      writeOutput(n);
      plugin_.host().flushLog();  // the requests of this block, printed between blocks
      pos += n;
      stats_.frames += n;
      if (options_.progress) options_.progress(pos, total);
    }
    currentCall().frame.store(-1);
  }

 private:
  // The file's channels, mono to every input, silence after the end.
  void readInput(int64_t n) {
    int64_t got = 0;
    if (inputLeft_ > 0) {
      got = source_.read(readBuffer_.data(), std::min<int64_t>(n, inputLeft_));
      inputLeft_ = got > 0 ? inputLeft_ - got : 0;
    }
    for (int k = 0; k < shape_.numIn; ++k) {
      float* dst = in_[static_cast<size_t>(k)].data();
      const int src = shape_.fileChannels == 1 ? 0 : k;
      int64_t copied = 0;
      if (src < shape_.fileChannels) {
        for (int64_t i = 0; i < got; ++i) dst[i] = readBuffer_[static_cast<size_t>(i * shape_.fileChannels + src)];
        copied = got;
      }
      std::fill(dst + copied, dst + n, 0.0f);
    }
  }

  void sendMidi(int64_t pos, int64_t n) {
    list_.clear();
    while (nextEvent_ < events_.size() && events_[nextEvent_].frame < pos + n) {
      list_.add(events_[nextEvent_].msg, static_cast<VstInt32>(events_[nextEvent_].frame - pos));
      ++nextEvent_;
    }
    if (list_.size() == 0) return;
    enter("effProcessEvents");
    plugin_.dispatch(effProcessEvents, 0, 0, list_.list());
    stats_.midiDelivered += static_cast<int64_t>(list_.size());
  }

  void process(int64_t pos, int frames) {
    plugin_.host().setSamplePosition(static_cast<double>(pos));
    if (shape_.accumulate) {
      for (auto& c : out_) std::fill(c.begin(), c.begin() + frames, 0.0f);
      enter("process");
      e_->process(e_, inPtrs_.data(), outPtrs_.data(), frames);
    } else {
      enter("processReplacing");
      e_->processReplacing(e_, inPtrs_.data(), outPtrs_.data(), frames);
    }
    ++stats_.calls;
  }

  void writeOutput(int64_t n) {
    for (int64_t i = 0; i < n; ++i)
      for (int c = 0; c < shape_.outChannels; ++c)
        writeBuffer_[static_cast<size_t>(i * shape_.outChannels + c)] =
            out_[static_cast<size_t>(c)][static_cast<size_t>(i)];
    sink_.write(writeBuffer_.data(), n);
  }

  vsthost::Plugin& plugin_;
  AEffect* e_;
  AudioSource& source_;
  AudioSink& sink_;
  Automation& automation_;
  const std::vector<FrameEvent> events_;
  const Shape shape_;
  const RenderOptions& options_;
  RenderStats& stats_;
  EventList list_;
  std::vector<std::vector<float>> in_, out_;
  std::vector<float*> inPtrs_, outPtrs_;
  std::vector<float> readBuffer_, writeBuffer_;
  int64_t inputLeft_ = 0;
  size_t nextEvent_ = 0;
};

}  // namespace

RenderStats render(vsthost::Plugin& plugin, AudioSource& source, AudioSink& sink, Automation& automation,
                   const std::vector<TimedMidi>& midi, const RenderOptions& options) {
  const Shape shape = checkShape(plugin.effect(), source, options);
  logRouting(shape, options);
  RenderStats stats;
  stats.usedAccumulating = shape.accumulate;

  const double rate = source.sampleRate();
  const int64_t inputFrames = std::max<int64_t>(source.frames(), 0);
  const int64_t total = inputFrames + std::max<int64_t>(options.tailFrames, 0);
  BlockLoop loop(plugin, source, sink, automation, eventsInFrames(midi, rate, total, stats, options), shape,
                 options, stats);

  vsthost::Host& host = plugin.host();
  host.setReplacing(!shape.accumulate);
  host.setAutomationState(automation.empty() ? 1 : 2);
  currentCall().block.store(0);
  currentCall().frame.store(-1);
  enter("the start sequence (effSetSampleRate to effStartProcess)");
  plugin.start(rate, options.blockSize);
  RunningGuard guard{plugin};
  host.setPlaying(true);
  host.setProcessLevel(vsthost::kProcessLevelRealtime);
  loop.run(inputFrames, total);
  return stats;
}

}  // namespace vstrun
