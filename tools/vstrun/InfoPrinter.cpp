#include "InfoPrinter.h"

#include <nlohmann/json.hpp>

namespace vstrun {

namespace {

const char* canDoText(VstIntPtr a) { return a > 0 ? "yes" : a < 0 ? "no" : "don't know"; }

std::string pinFlags(VstInt32 flags) {
  std::string s;
  if (flags & kVstPinIsActive) s += "active";
  if (flags & kVstPinIsStereo) s += s.empty() ? "stereo" : " stereo";
  if (flags & kVstPinUseSpeaker) s += s.empty() ? "speaker" : " speaker";
  return s;
}

void textIdentity(std::FILE* out, const std::string& path, const std::string& entry, const vsthost::FullInfo& info) {
  const vsthost::EffectInfo& b = info.basic;
  std::fprintf(out, "module          %s\n", path.c_str());
  std::fprintf(out, "entry           %s\n", entry.c_str());
  std::fprintf(out, "name            %s\n", b.effectName.c_str());
  std::fprintf(out, "vendor          %s\n", b.vendor.c_str());
  std::fprintf(out, "product         %s\n", b.product.c_str());
  std::fprintf(out, "vendor version  %lld\n", static_cast<long long>(b.vendorVersion));
  std::fprintf(out, "unique id       %s (%ld)\n", vsthost::fourCharText(b.uniqueID).c_str(), static_cast<long>(b.uniqueID));
  std::fprintf(out, "version         %d\n", static_cast<int>(b.version));
  std::fprintf(out, "category        %s (%lld)\n", vsthost::categoryName(info.category),
               static_cast<long long>(info.category));
  std::fprintf(out, "vst version     %lld\n", static_cast<long long>(info.vstVersion));
  std::fprintf(out, "latency         %d samples\n", static_cast<int>(info.initialDelay));
  std::fprintf(out, "flags           %d (%s)\n", static_cast<int>(b.flags), vsthost::flagNames(b.flags).c_str());
}

void textPins(std::FILE* out, const char* title, const std::vector<vsthost::Pin>& list) {
  std::fprintf(out, "%-15s %zu\n", title, list.size());
  for (const auto& p : list) {
    if (p.answered)
      std::fprintf(out, "  %-3d %-24s short \"%s\", flags %d (%s)\n", static_cast<int>(p.index),
                   ("\"" + p.label + "\"").c_str(), p.shortLabel.c_str(), static_cast<int>(p.flags),
                   pinFlags(p.flags).c_str());
    else
      std::fprintf(out, "  %-3d (not described)\n", static_cast<int>(p.index));
  }
}

void textControls(std::FILE* out, const vsthost::FullInfo& info) {
  std::fprintf(out, "parameters      %zu\n", info.parameters.size());
  for (const auto& p : info.parameters)
    std::fprintf(out, "  %-3d %-24s value %-10.6f display \"%s\" label \"%s\"\n", static_cast<int>(p.index),
                 ("\"" + p.name + "\"").c_str(), static_cast<double>(p.value), p.display.c_str(), p.label.c_str());
  std::fprintf(out, "programs        %zu (current %lld)\n", info.programs.size(),
               static_cast<long long>(info.currentProgram));
  for (size_t i = 0; i < info.programs.size(); ++i) std::fprintf(out, "  %-3zu \"%s\"\n", i, info.programs[i].c_str());
  std::fprintf(out, "can do\n");
  for (const auto& c : info.canDo)
    std::fprintf(out, "  %-24s %s (%lld)\n", c.question.c_str(), canDoText(c.answer), static_cast<long long>(c.answer));
  if (!info.hasEditor) std::fprintf(out, "editor          none\n");
  else if (info.editorSizeKnown) std::fprintf(out, "editor          %d x %d\n", info.editorWidth, info.editorHeight);
  else std::fprintf(out, "editor          yes, size given only once opened\n");
}

nlohmann::json jsonPins(const std::vector<vsthost::Pin>& list) {
  nlohmann::json a = nlohmann::json::array();
  for (const auto& p : list) {
    nlohmann::json o{{"index", p.index}, {"described", p.answered}};
    if (p.answered) {
      o["label"] = p.label;
      o["shortLabel"] = p.shortLabel;
      o["flags"] = p.flags;
      o["arrangementType"] = p.arrangementType;
    }
    a.push_back(o);
  }
  return a;
}

void jsonIdentity(nlohmann::json& j, const std::string& path, const std::string& entry, const vsthost::FullInfo& info) {
  const vsthost::EffectInfo& b = info.basic;
  j["module"] = path;
  j["entry"] = entry;
  j["name"] = b.effectName;
  j["vendor"] = b.vendor;
  j["product"] = b.product;
  j["vendorVersion"] = b.vendorVersion;
  j["uniqueId"] = vsthost::fourCharText(b.uniqueID);
  j["uniqueIdNumber"] = b.uniqueID;
  j["version"] = b.version;
  j["category"] = vsthost::categoryName(info.category);
  j["categoryNumber"] = info.category;
  j["vstVersion"] = info.vstVersion;
  j["initialDelay"] = info.initialDelay;
  j["flags"] = b.flags;
  j["flagNames"] = vsthost::flagNames(b.flags);
}

void jsonControls(nlohmann::json& j, const vsthost::FullInfo& info) {
  j["parameters"] = nlohmann::json::array();
  for (const auto& p : info.parameters)
    j["parameters"].push_back(
        {{"index", p.index}, {"name", p.name}, {"label", p.label}, {"display", p.display}, {"value", p.value}});
  j["programs"] = info.programs;
  j["currentProgram"] = info.currentProgram;
  j["canDo"] = nlohmann::json::object();
  for (const auto& c : info.canDo) j["canDo"][c.question] = c.answer;
  j["hasEditor"] = info.hasEditor;
  if (info.editorSizeKnown) j["editor"] = {{"width", info.editorWidth}, {"height", info.editorHeight}};
  else j["editor"] = nullptr;
}

}  // namespace

void printInfoText(std::FILE* out, const std::string& path, const std::string& entry, const vsthost::FullInfo& info) {
  textIdentity(out, path, entry, info);
  textPins(out, "inputs", info.inputs);
  textPins(out, "outputs", info.outputs);
  textControls(out, info);
}

void printInfoJson(std::FILE* out, const std::string& path, const std::string& entry, const vsthost::FullInfo& info) {
  nlohmann::json j;
  jsonIdentity(j, path, entry, info);
  j["inputs"] = jsonPins(info.inputs);
  j["outputs"] = jsonPins(info.outputs);
  jsonControls(j, info);
  // Plug-ins write names in whatever 8-bit encoding they like.
  std::fprintf(out, "%s\n", j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

}  // namespace vstrun
