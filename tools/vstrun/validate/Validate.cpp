#include "validate/Validate.h"

#include <chrono>
#include <cstring>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "validate/Child.h"
#include "validate/Groups.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace validate {

const std::vector<Group>& groups() {
  static const std::vector<Group> list = {
      {"identity", checkIdentity, 30},   {"texts", checkTexts, 30},           {"parameters", checkParameters, 60},
      {"programs", checkPrograms, 60},   {"processing", checkProcessing, 90}, {"realtime", checkRealtime, 30},
      {"floatstate", checkFloatState, 60}, {"threads", checkThreads, 30},    {"midi", checkMidi, 60},
      {"editor", checkEditor, 60},       {"lifecycle", checkLifecycle, 90},   {"fuzz", checkFuzz, 90},
  };
  return list;
}

namespace {

// Whether the module loads at all: a file that is no plug-in is the
// caller's mistake, told once, not a FAIL in every group.
void checkLoads(const Options& o, Report& report) {
  Instance inst(o.module);
  report.pass("load: the module loads and gives an instance");
}
const Group kLoadGroup{"load", checkLoads, 60};


struct GroupRun {
  std::string name;
  std::vector<Result> results;
  double seconds = 0.0;
};



bool isTerminal(std::FILE* f) {
#ifdef _WIN32
  return _isatty(_fileno(f)) != 0;
#else
  return isatty(fileno(f)) != 0;
#endif
}

const char* word(char kind) { return kind == 'P' ? "PASS" : kind == 'W' ? "WARN" : "FAIL"; }

}  // namespace

int runChild(const Arguments& args, std::FILE* out) {
  prepareChild();
  if (args.childGroup == kLoadGroup.name) {
    runGroupHere(kLoadGroup, args.options, out);
    return 0;
  }
  for (const Group& g : groups())
    if (args.childGroup == g.name) {
      runGroupHere(g, args.options, out);
      return 0;
    }
  throw std::runtime_error("unknown group " + args.childGroup);
}

int run(Arguments args, std::FILE* out) {
  Options& o = args.options;
  if (o.level < 1 || o.level > 10) throw std::runtime_error("--level must be from 1 to 10");
  if (!args.seedGiven) {
    std::random_device rd;
    o.seed = (static_cast<uint64_t>(rd()) << 20) ^ static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    o.seed %= 1000000000ull;
  }
  std::vector<const Group*> chosen;
  std::stringstream names(args.only);
  std::string name;
  if (args.only.empty()) {
    for (const Group& g : groups()) chosen.push_back(&g);
  } else {
    while (std::getline(names, name, ',')) {
      const Group* found = nullptr;
      for (const Group& g : groups())
        if (name == g.name) found = &g;
      if (!found) {
        std::string all;
        for (const Group& g : groups()) all += std::string(all.empty() ? "" : ", ") + g.name;
        throw std::runtime_error("--only: no group \"" + name + "\" (groups: " + all + ")");
      }
      chosen.push_back(found);
    }
  }

  {
    ChildOutput loaded;
    const Ending ending = runChildProcess(kLoadGroup, o, kLoadGroup.timeLimitSeconds, loaded);
    const std::string prefix = "load: could not run: ";
    for (const Result& r : loaded.results)
      if (r.kind == 'F' && !ending.crashed && r.text.rfind(prefix, 0) == 0) throw std::runtime_error(r.text.substr(prefix.size()));
  }

  const bool progress = !args.json && isTerminal(out);
  if (!args.json) std::fprintf(out, "validating %s at level %d with seed %llu\n", o.module.c_str(), o.level,
                               static_cast<unsigned long long>(o.seed));
  std::vector<GroupRun> runs;
  int passed = 0, failed = 0, warned = 0;
  std::string failedGroups;
  for (size_t i = 0; i < chosen.size(); ++i) {
    const Group& g = *chosen[i];
    if (progress) {
      std::fprintf(out, "\r\033[K[%zu/%zu] %s ...", i + 1, chosen.size(), g.name);
      std::fflush(out);
    }
    const int limit = static_cast<int>(g.timeLimitSeconds * (o.level > 5 ? o.level / 5.0 : 1.0));
    ChildOutput output;
    const auto t0 = std::chrono::steady_clock::now();
    const Ending ending = runChildProcess(g, o, limit, output);
    GroupRun run{g.name, output.results,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count()};
    const std::string during = output.lastStep.empty() ? "" : " during: " + output.lastStep;
    if (ending.timedOut)
      run.results.push_back({'F', format("%s: hung: no progress for %d s, or not done in %d s%s", g.name, limit,
                                         10 * limit, during.c_str())});
    else if (ending.crashed || ending.code != 0 || !output.finished)
      run.results.push_back({'F', format("%s: %s%s", g.name, describeEnding(ending).c_str(), during.c_str())});
    if (progress) std::fprintf(out, "\r\033[K");
    bool groupFailed = false;
    for (Result& r : run.results) {
      if (r.kind == 'F') {
        r.text += format(" (seed %llu)", static_cast<unsigned long long>(o.seed));
        groupFailed = true;
      }
      (r.kind == 'P' ? passed : r.kind == 'W' ? warned : failed)++;
      if (!args.json) std::fprintf(out, "%s %s\n", word(r.kind), r.text.c_str());
    }
    if (groupFailed) failedGroups += std::string(failedGroups.empty() ? "" : ",") + g.name;
    std::fflush(out);
    runs.push_back(std::move(run));
  }

  if (args.json) {
    nlohmann::json j;
    j["module"] = o.module;
    j["level"] = o.level;
    j["seed"] = o.seed;
    j["groups"] = nlohmann::json::array();
    for (const GroupRun& r : runs) {
      nlohmann::json checks = nlohmann::json::array();
      for (const Result& x : r.results) checks.push_back({{"result", word(x.kind)}, {"text", x.text}});
      j["groups"].push_back({{"name", r.name}, {"seconds", r.seconds}, {"checks", checks}});
    }
    j["passed"] = passed;
    j["failed"] = failed;
    j["warnings"] = warned;
    std::fprintf(out, "%s\n", j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else {
    if (failed)
      std::fprintf(out, "to reproduce: vstrun validate %s --level %d --seed %llu --only %s\n", o.module.c_str(), o.level,
                   static_cast<unsigned long long>(o.seed), failedGroups.c_str());
    std::fprintf(out, "%d passed, %d failed, %d warnings\n", passed, failed, warned);
  }
  return failed ? 1 : 0;
}

}  // namespace validate
