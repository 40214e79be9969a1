#include "render/Automation.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "vsthost/Files.h"

namespace vstrun {

namespace {

[[noreturn]] void fail(const std::string& why) { throw std::runtime_error("malformed automation file: " + why); }

}  // namespace

AutomationFile parseAutomation(const std::string& text) {
  nlohmann::json root;
  try {
    root = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& e) {  // syntax, and numbers too large to hold
    fail(std::string("not valid JSON (") + e.what() + ")");
  }
  if (!root.is_object()) fail("the top level must be an object with \"keyframes\"");
  AutomationFile file;
  for (auto it = root.begin(); it != root.end(); ++it) {
    if (it.key() == "unit") {
      if (it->is_string() && *it == "seconds") file.samples = false;
      else if (it->is_string() && *it == "samples") file.samples = true;
      else fail("\"unit\" must be \"seconds\" or \"samples\"");
    } else if (it.key() != "keyframes" && it.key() != "comment") {
      fail("unknown key \"" + it.key() + "\" (expected unit, keyframes, comment)");
    }
  }
  if (!root.contains("keyframes") || !root["keyframes"].is_array()) fail("\"keyframes\" must be an array");
  size_t n = 0;
  for (const auto& k : root["keyframes"]) {
    const std::string where = "keyframe " + std::to_string(n++);
    if (!k.is_object()) fail(where + " is not an object");
    for (auto it = k.begin(); it != k.end(); ++it) {
      const std::string& key = it.key();
      if (key != "time" && key != "param" && key != "value" && key != "ramp" && key != "comment")
        fail(where + ": unknown key \"" + key + "\" (expected time, param, value, ramp, comment)");
    }
    Keyframe kf;
    if (!k.contains("time") || !k["time"].is_number()) fail(where + ": \"time\" must be a number");
    kf.time = k["time"].get<double>();
    if (!std::isfinite(kf.time) || kf.time < 0) fail(where + ": \"time\" must not be negative");
    if (file.samples && (kf.time != std::floor(kf.time) || kf.time > 9.0e15))
      fail(where + ": \"time\" must be a whole number of samples");
    if (!k.contains("param")) fail(where + ": \"param\" is missing");
    const auto& p = k["param"];
    if (p.is_string()) {
      kf.paramName = p.get<std::string>();
    } else if (p.is_number_integer() && p.get<int64_t>() >= 0 && p.get<int64_t>() <= INT32_MAX) {
      kf.paramIndex = static_cast<int32_t>(p.get<int64_t>());
    } else {
      fail(where + ": \"param\" must be a name or an index of 0 or more");
    }
    if (!k.contains("value") || !k["value"].is_number()) fail(where + ": \"value\" must be a number");
    const double v = k["value"].get<double>();
    if (!(v >= 0.0 && v <= 1.0)) fail(where + ": \"value\" must lie between 0 and 1");
    kf.value = static_cast<float>(v);
    if (k.contains("ramp")) {
      if (k["ramp"] == "linear") kf.linear = true;
      else if (k["ramp"] == "step") kf.linear = false;
      else fail(where + ": \"ramp\" must be \"step\" or \"linear\"");
    }
    file.keyframes.push_back(kf);
  }
  return file;
}

AutomationFile readAutomation(const std::string& path) {
  std::string text;
  if (!vsthost::readFile(path, text)) throw std::runtime_error(path + ": cannot open the automation file");
  try {
    return parseAutomation(text);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
}

Automation::Automation(const AutomationFile& file, double sampleRate, int32_t numParams,
                       const std::function<int32_t(const std::string&)>& resolve,
                       const std::function<float(int32_t)>& initial) {
  std::map<int32_t, size_t> byParam;
  for (const Keyframe& kf : file.keyframes) {
    int32_t index = kf.paramIndex;
    if (!kf.paramName.empty()) {
      index = resolve(kf.paramName);
      if (index < 0) throw std::runtime_error("automation: the plug-in has no parameter named \"" + kf.paramName + "\"");
    }
    if (index < 0 || index >= numParams)
      throw std::runtime_error("automation: parameter " + std::to_string(index) + " does not exist (the plug-in has " +
                               std::to_string(numParams) + ")");
    auto found = byParam.find(index);
    if (found == byParam.end()) {
      found = byParam.emplace(index, tracks_.size()).first;
      tracks_.push_back(Track{index, initial(index), {}, false, 0.0f});
    }
    // Keyframes beyond any render's end still sort last; the cap keeps the
    // conversion to an integer defined.
    const double frames = std::min(file.samples ? kf.time : kf.time * sampleRate, 9.0e15);
    tracks_[found->second].points.push_back({static_cast<int64_t>(std::llround(frames)), kf.value, kf.linear});
  }
  for (Track& t : tracks_)
    std::stable_sort(t.points.begin(), t.points.end(),
                     [](const Point& a, const Point& b) { return a.frame < b.frame; });
}

bool Automation::evaluate(const Track& t, int64_t frame, float* value) {
  // The last point at or before frame, and the one after it.
  auto next = std::upper_bound(t.points.begin(), t.points.end(), frame,
                               [](int64_t f, const Point& p) { return f < p.frame; });
  if (next != t.points.end() && next->linear) {
    const bool first = next == t.points.begin();
    const int64_t f0 = first ? 0 : (next - 1)->frame;
    const float v0 = first ? t.initial : (next - 1)->value;
    const double u = next->frame > f0 ? static_cast<double>(frame - f0) / static_cast<double>(next->frame - f0) : 1.0;
    *value = static_cast<float>(v0 + (next->value - v0) * u);
    return true;
  }
  if (next == t.points.begin()) return false;
  *value = (next - 1)->value;
  return true;
}

bool Automation::valueAt(int32_t param, int64_t frame, float* value) const {
  for (const Track& t : tracks_)
    if (t.param == param) return evaluate(t, frame, value);
  return false;
}

int64_t Automation::span(int64_t frame, int64_t maxFrames) const {
  int64_t n = maxFrames;
  for (const Track& t : tracks_) {
    auto next = std::upper_bound(t.points.begin(), t.points.end(), frame,
                                 [](int64_t f, const Point& p) { return f < p.frame; });
    if (next == t.points.end()) continue;
    n = std::min(n, next->frame - frame);
    if (next->linear) n = std::min(n, kRampStep);
  }
  return std::max<int64_t>(n, 1);
}

void Automation::apply(int64_t frame, const std::function<void(int32_t, float)>& set) {
  for (Track& t : tracks_) {
    float v;
    if (!evaluate(t, frame, &v)) continue;
    if (t.set && v == t.last) continue;
    t.set = true;
    t.last = v;
    set(t.param, v);
  }
}

}  // namespace vstrun
