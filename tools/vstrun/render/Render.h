// Running audio through a plug-in: blocks of input in, blocks of output
// out, with parameter automation and MIDI delivered where they fall.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "render/Automation.h"
#include "render/MidiFile.h"
#include "vsthost/Plugin.h"

namespace vstrun {

// Where the input comes from: interleaved frames of channels() channels.
class AudioSource {
 public:
  virtual ~AudioSource() = default;
  virtual int channels() const = 0;
  virtual double sampleRate() const = 0;
  virtual int64_t frames() const = 0;
  // Up to frames frames; fewer (0 at the end) when the input runs out.
  virtual int64_t read(float* interleaved, int64_t frames) = 0;
};

// Where the output goes: interleaved frames of the render's output channels.
class AudioSink {
 public:
  virtual ~AudioSink() = default;
  virtual void write(const float* interleaved, int64_t frames) = 0;
};

struct RenderOptions {
  int32_t blockSize = 512;
  // Use the accumulating process entry (outputs zeroed before each call)
  // instead of processReplacing.
  bool accumulate = false;
  // Silence appended after the input, in frames.
  int64_t tailFrames = 0;
  // Output channels written to the sink; see outputChannelsFor.
  int outputChannels = 2;
  // Called after every block with frames done and frames in all.
  std::function<void(int64_t, int64_t)> progress;
  // Checked between blocks: when it becomes true the render stops with
  // std::runtime_error("interrupted").
  const std::atomic<bool>* cancel = nullptr;
  // One line per thing worth knowing (verbose mode).
  std::function<void(const std::string&)> log;
};

struct RenderStats {
  int64_t frames = 0;          // output frames written
  int64_t calls = 0;           // process or processReplacing calls
  int64_t midiDelivered = 0;   // MIDI messages handed to the plug-in
  int64_t midiDropped = 0;     // MIDI messages beyond the end of the render
  int64_t parameterSets = 0;   // automation setParameter calls
  bool usedAccumulating = false;
};

// The output channels a render writes by default: the plug-in's outputs,
// but no more than the input file has (at least 2, so a mono file through a
// stereo plug-in gives stereo), and never fewer than 1 when the plug-in has
// outputs. 0 when the plug-in has no outputs.
int outputChannelsFor(int fileChannels, int pluginOutputs);

// Starts the plug-in at the source's sample rate (the full start sequence),
// renders source length + tail, stops it (the stop sequence), also when
// something throws. Parameters the caller set beforehand stay in effect;
// automation values and MIDI then apply at their sample frames: a block is
// split where a keyframe falls, and linear ramps are updated every
// Automation::kRampStep frames. MIDI messages are sent with
// effProcessEvents before the call that covers them, with deltaFrames
// relative to that call's first frame.
// Throws std::runtime_error for a plug-in that cannot render.
RenderStats render(vsthost::Plugin& plugin, AudioSource& source, AudioSink& sink, Automation& automation,
                   const std::vector<TimedMidi>& midi, const RenderOptions& options);

}  // namespace vstrun
