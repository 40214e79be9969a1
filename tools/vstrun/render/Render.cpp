#include "render/Render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

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

// Stops the plug-in however render leaves.
struct RunningGuard {
  vsthost::Plugin& plugin;
  ~RunningGuard() {
    plugin.host().setPlaying(false);
    plugin.host().setProcessLevel(vsthost::kProcessLevelUser);
    plugin.stop();
  }
};

}  // namespace

RenderStats render(vsthost::Plugin& plugin, AudioSource& source, AudioSink& sink, Automation& automation,
                   const std::vector<TimedMidi>& midi, const RenderOptions& options) {
  AEffect* e = plugin.effect();
  const int32_t block = options.blockSize;
  if (block < 1) throw std::runtime_error("the block size must be at least 1");
  const int numIn = std::max<VstInt32>(e->numInputs, 0);
  const int numOut = std::max<VstInt32>(e->numOutputs, 0);
  const int fileChannels = source.channels();
  const int outChannels = options.outputChannels;
  if (numOut < 1) throw std::runtime_error("the plug-in has no outputs to render");
  if (outChannels < 1 || outChannels > numOut)
    throw std::runtime_error("cannot write " + std::to_string(outChannels) + " channels: the plug-in has " +
                             std::to_string(numOut) + " outputs");

  RenderStats stats;
  const bool canReplace = (e->flags & effFlagsCanReplacing) && e->processReplacing;
  bool accumulate = options.accumulate || !canReplace;
  if (accumulate && !e->process) {
    if (!canReplace) throw std::runtime_error("the plug-in has neither a process nor a processReplacing entry");
    if (options.log) options.log("the plug-in has no process entry; using processReplacing");
    accumulate = false;
  }
  if (accumulate && !options.accumulate && options.log)
    options.log("the plug-in cannot process replacing; using process on zeroed outputs");
  stats.usedAccumulating = accumulate;
  if (options.log) {
    if (fileChannels == 1 && numIn > 1) options.log("mono input fed to all " + std::to_string(numIn) + " inputs");
    else if (fileChannels > numIn)
      options.log(std::to_string(fileChannels - numIn) + " input channel(s) beyond the plug-in's " +
                  std::to_string(numIn) + " inputs are not used");
    if (numOut > outChannels)
      options.log("plug-in outputs " + std::to_string(outChannels + 1) + ".." + std::to_string(numOut) +
                  " are rendered but not written");
  }

  const double rate = source.sampleRate();
  const int64_t inputFrames = std::max<int64_t>(source.frames(), 0);
  const int64_t total = inputFrames + std::max<int64_t>(options.tailFrames, 0);

  // MIDI in frames, and the most that can fall into one call.
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
  size_t maxPerCall = 0;
  for (size_t a = 0, b = 0; a < events.size(); ++a) {
    while (b < events.size() && events[b].frame < events[a].frame + block) ++b;
    maxPerCall = std::max(maxPerCall, b - a);
  }

  // Everything the audio loop touches is allocated here, before it starts.
  std::vector<VstMidiEvent> midiStore(maxPerCall);
  std::vector<unsigned char> listStore(sizeof(VstEvents) + sizeof(VstEvent*) * (maxPerCall + 2));
  VstEvents* list = reinterpret_cast<VstEvents*>(listStore.data());
  std::vector<std::vector<float>> in(static_cast<size_t>(std::max(numIn, 1)), std::vector<float>(block));
  std::vector<std::vector<float>> out(static_cast<size_t>(numOut), std::vector<float>(block));
  std::vector<float*> inPtrs, outPtrs;
  for (auto& c : in) inPtrs.push_back(c.data());
  for (auto& c : out) outPtrs.push_back(c.data());
  std::vector<float> readBuffer(static_cast<size_t>(block) * fileChannels);
  std::vector<float> writeBuffer(static_cast<size_t>(block) * outChannels);

  vsthost::Host& host = plugin.host();
  host.setReplacing(!accumulate);
  host.setAutomationState(automation.empty() ? 1 : 2);
  plugin.start(rate, block);
  RunningGuard guard{plugin};
  host.setPlaying(true);
  host.setProcessLevel(vsthost::kProcessLevelRealtime);

  auto setParam = [&](int32_t index, float value) {
    plugin.setParameter(index, value);
    ++stats.parameterSets;
  };

  int64_t pos = 0, inputLeft = inputFrames;
  size_t nextEvent = 0;
  while (pos < total) {
    if (options.cancel && options.cancel->load()) throw std::runtime_error("interrupted");
    const int64_t n = automation.span(pos, std::min<int64_t>(block, total - pos));
    const int frames = static_cast<int>(n);
    automation.apply(pos, setParam);

    // Input: the file's channels, mono to every input, silence after the end.
    int64_t got = 0;
    if (inputLeft > 0) {
      got = source.read(readBuffer.data(), std::min<int64_t>(n, inputLeft));
      inputLeft = got > 0 ? inputLeft - got : 0;
    }
    for (int k = 0; k < numIn; ++k) {
      float* dst = in[static_cast<size_t>(k)].data();
      const int src = fileChannels == 1 ? 0 : k;
      int64_t copied = 0;
      if (src < fileChannels) {
        for (int64_t i = 0; i < got; ++i) dst[i] = readBuffer[static_cast<size_t>(i * fileChannels + src)];
        copied = got;
      }
      std::fill(dst + copied, dst + frames, 0.0f);
    }

    // MIDI for this call.
    int count = 0;
    while (nextEvent < events.size() && events[nextEvent].frame < pos + n) {
      VstMidiEvent& ev = midiStore[static_cast<size_t>(count)];
      std::memset(&ev, 0, sizeof ev);
      ev.type = kVstMidiType;
      ev.byteSize = sizeof(VstMidiEvent);
      ev.deltaFrames = static_cast<VstInt32>(events[nextEvent].frame - pos);
      for (int b = 0; b < events[nextEvent].msg.size; ++b)
        ev.midiData[b] = static_cast<char>(events[nextEvent].msg.bytes[b]);
      list->events[count] = reinterpret_cast<VstEvent*>(&ev);
      ++count;
      ++nextEvent;
    }
    if (count > 0) {
      list->numEvents = count;
      list->reserved = 0;
      list->events[count] = nullptr;
      plugin.dispatch(effProcessEvents, 0, 0, list);
      stats.midiDelivered += count;
    }

    host.setSamplePosition(static_cast<double>(pos));
    if (accumulate) {
      for (auto& c : out) std::fill(c.begin(), c.begin() + frames, 0.0f);
      e->process(e, inPtrs.data(), outPtrs.data(), frames);
    } else {
      e->processReplacing(e, inPtrs.data(), outPtrs.data(), frames);
    }
    ++stats.calls;

    for (int64_t i = 0; i < n; ++i)
      for (int c = 0; c < outChannels; ++c)
        writeBuffer[static_cast<size_t>(i * outChannels + c)] = out[static_cast<size_t>(c)][static_cast<size_t>(i)];
    sink.write(writeBuffer.data(), n);
    pos += n;
    stats.frames += n;
    if (options.progress) options.progress(pos, total);
  }
  return stats;
}

}  // namespace vstrun
