// Parameter automation: keyframes over time, read from a small JSON file.
//
//   {
//     "unit": "seconds",                 // or "samples"; default "seconds"
//     "keyframes": [
//       {"time": 0.5, "param": "Buff Size", "value": 0.3},
//       {"time": 2.0, "param": 1, "value": 0.8, "ramp": "linear"}
//     ]
//   }
//
// "param" is a parameter's name or index; "value" lies in 0..1. "ramp" says
// how the value reaches this keyframe from the one before it for the same
// parameter: "step" (the default) jumps at "time", "linear" glides from the
// previous keyframe (or from the value at the start, for a first keyframe)
// to this one. An optional "comment" is allowed anywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vstrun {

struct Keyframe {
  double time = 0.0;        // in the file's unit
  std::string paramName;    // the parameter as named, when given by name
  int32_t paramIndex = -1;  // the parameter's index, once known
  float value = 0.0f;
  bool linear = false;
};

struct AutomationFile {
  bool samples = false;  // unit: samples (true) or seconds
  std::vector<Keyframe> keyframes;
};

// Parses the JSON text; throws std::runtime_error with a one-line reason.
AutomationFile parseAutomation(const std::string& text);
AutomationFile readAutomation(const std::string& path);

// The keyframes of one render, in sample frames, grouped by parameter.
class Automation {
 public:
  // Keyframes of at most this many frames of a linear ramp share one value.
  static constexpr int64_t kRampStep = 64;

  Automation() = default;
  // resolve gives a parameter's index from its name (-1: none); indices must
  // lie below numParams. Throws std::runtime_error for unknown parameters.
  // initial gives a parameter's value at the start of the render.
  Automation(const AutomationFile& file, double sampleRate, int32_t numParams,
             const std::function<int32_t(const std::string&)>& resolve,
             const std::function<float(int32_t)>& initial);

  bool empty() const { return tracks_.empty(); }

  // The frames of [frame, frame + maxFrames) that may share one set of
  // values: fewer when a keyframe falls inside or a ramp runs.
  int64_t span(int64_t frame, int64_t maxFrames) const;

  // Calls set(index, value) for every parameter whose automated value at
  // frame differs from what was last set (all automated ones, the first time).
  void apply(int64_t frame, const std::function<void(int32_t, float)>& set);

  // The automated value of a parameter at frame; false when the parameter
  // has no keyframe that applies yet.
  bool valueAt(int32_t param, int64_t frame, float* value) const;

 private:
  struct Point {
    int64_t frame;
    float value;
    bool linear;
  };
  struct Track {
    int32_t param;
    float initial;
    std::vector<Point> points;  // by frame; equal frames keep file order
    bool set = false;
    float last = 0.0f;
  };
  static bool evaluate(const Track& t, int64_t frame, float* value);
  std::vector<Track> tracks_;
};

}  // namespace vstrun
