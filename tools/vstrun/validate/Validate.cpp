#include "validate/Validate.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "validate/Checks.h"
#include "validate/Child.h"
#include "validate/Groups.h"
#include "validate/Junit.h"

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
      {"robustness", checkRobustness, 60, true},
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

bool isTerminal(std::FILE* f) {
#ifdef _WIN32
  return _isatty(_fileno(f)) != 0;
#else
  return isatty(fileno(f)) != 0;
#endif
}

std::string groupNames() {
  std::string all;
  for (const Group& g : groups()) all += std::string(all.empty() ? "" : ", ") + g.name;
  return all;
}

// Every name in --only and --skip must be a group or a check.
void checkNames(const std::string& option, const std::string& list) {
  std::stringstream names(list);
  for (std::string name; std::getline(names, name, ',');) {
    bool known = findCheck(name) != nullptr;
    for (const Group& g : groups()) known = known || name == g.name;
    if (!known)
      throw std::runtime_error(option + ": no group or check \"" + name + "\" (groups: " + groupNames() +
                               "; vstrun validate --list shows the checks)");
  }
}

// The groups with at least one check chosen, in their order.
std::vector<const Group*> chosenGroups(const Options& o) {
  checkNames("--only", o.only);
  checkNames("--skip", o.skip);
  std::vector<const Group*> chosen;
  for (const Group& g : groups())
    for (const Check& c : checks())
      if (groupOf(c.name) == g.name && selected(c.name, o.only, o.skip)) {
        chosen.push_back(&g);
        break;
      }
  if (chosen.empty()) throw std::runtime_error("--only and --skip leave no check to run");
  return chosen;
}

void drawSeed(Arguments& args) {
  if (args.seedGiven) return;
  std::random_device rd;
  args.options.seed = (static_cast<uint64_t>(rd()) << 20) ^
                      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  args.options.seed %= 1000000000ull;
}

// A module that does not load is told once, as the other commands tell it.
void requireLoads(const Options& o) {
  ChildOutput loaded;
  const Ending ending = runChildProcess(kLoadGroup, o, kLoadGroup.timeLimitSeconds, loaded);
  const std::string prefix = "load: could not run: ";
  for (const Result& r : loaded.results)
    if (r.kind == 'F' && !ending.crashed && r.text.rfind(prefix, 0) == 0) throw std::runtime_error(r.text.substr(prefix.size()));
}

// One child for a group (or, in a hostile group, for one check); a hang,
// crash or early end becomes a FAIL of the check it happened in, or a WARN
// in a hostile group, whose calls no host sends.
GroupRun runInChild(const Group& g, const Options& o) {
  const int limit = static_cast<int>(g.timeLimitSeconds * (o.level > 5 ? o.level / 5.0 : 1.0));
  ChildOutput output;
  const auto t0 = std::chrono::steady_clock::now();
  const Ending ending = runChildProcess(g, o, limit, output);
  GroupRun run{g.name, output.results, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(),
               {}};
  const std::string during = output.lastStep.empty() ? "" : " during: " + output.lastStep;
  const char kind = g.hostile ? 'W' : 'F';
  const std::string consequence = g.hostile ? "; no host sends this call" : "";
  if (ending.timedOut)
    run.results.push_back({kind,
                           format("%s: hung: no progress for %d s of its own time (or %d s on the clock), or not "
                                  "done in %d s of its own time (or %d s on the clock)%s%s",
                                  g.name, limit, 10 * limit, 10 * limit, 40 * limit, during.c_str(), consequence.c_str()),
                           output.lastCheck});
  else if (ending.crashed || ending.code != 0 || !output.finished)
    run.results.push_back({kind, format("%s: %s%s%s", g.name, describeEnding(ending).c_str(), during.c_str(),
                                        consequence.c_str()),
                           output.lastCheck});
  for (Result& r : run.results)
    if (r.kind == 'F') r.text += format(" (seed %llu)", static_cast<unsigned long long>(o.seed));
  run.started = output.checksStarted;
  run.crashed = ending.crashed && !g.hostile;
  return run;
}

// A group in its child; a hostile group's checks each in a child of its own,
// so that one call that ends the plug-in leaves the others to be tried.
GroupRun runGroup(const Group& g, const Options& o) {
  if (!g.hostile) return runInChild(g, o);
  GroupRun all{g.name, {}, 0.0, {}};
  for (const Check& c : checks()) {
    if (groupOf(c.name) != g.name || !selected(c.name, o.only, o.skip)) continue;
    Options one = o;
    one.only = c.name;
    const GroupRun run = runInChild(g, one);
    all.results.insert(all.results.end(), run.results.begin(), run.results.end());
    all.seconds += run.seconds;
    all.started.insert(run.started.begin(), run.started.end());
  }
  return all;
}

struct Totals {
  int passed = 0, failed = 0, warned = 0;
  std::vector<std::string> failedChecks;  // or groups, for a failure outside any check
  bool crashed = false;
  void add(const GroupRun& run) {
    crashed = crashed || run.crashed;
    for (const Result& r : run.results) {
      (r.kind == 'P' ? passed : r.kind == 'W' ? warned : failed)++;
      const std::string name = r.check.empty() ? run.name : r.check;
      if (r.kind == 'F' && std::find(failedChecks.begin(), failedChecks.end(), name) == failedChecks.end())
        failedChecks.push_back(name);
    }
  }
};

void printJson(std::FILE* out, const Options& o, const std::vector<GroupRun>& runs, const Totals& t) {
  nlohmann::json j;
  j["module"] = o.module;
  j["level"] = o.level;
  j["seed"] = o.seed;
  j["groups"] = nlohmann::json::array();
  for (const GroupRun& r : runs) {
    nlohmann::json results = nlohmann::json::array();
    for (const Result& x : r.results)
      results.push_back({{"result", word(x.kind)}, {"check", x.check.empty() ? r.name : x.check}, {"text", x.text}});
    j["groups"].push_back({{"name", r.name}, {"seconds", r.seconds}, {"checks", results}});
  }
  j["passed"] = t.passed;
  j["failed"] = t.failed;
  j["warnings"] = t.warned;
  std::fprintf(out, "%s\n", j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

void printSummary(std::FILE* out, const Options& o, const Totals& t) {
  if (t.failed) {
    std::string only;
    for (const std::string& c : t.failedChecks) only += (only.empty() ? "" : ",") + c;
    std::fprintf(out, "to reproduce: vstrun validate %s --level %d --seed %llu --only %s\n", o.module.c_str(), o.level,
                 static_cast<unsigned long long>(o.seed), only.c_str());
#ifndef _WIN32
    // Each group's child is forked from the validator as the groups before
    // it left its memory, so a plug-in that reads outside its own memory
    // may crash only after them.
    if (t.crashed)
      std::fprintf(out, "(a crash that --only does not bring back came from memory the plug-in read outside its own: "
                        "run without --only, or under valgrind)\n");
#endif
  }
  std::fprintf(out, "%d passed, %d failed, %d warnings\n", t.passed, t.failed, t.warned);
}

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

void listChecks(std::FILE* out) {
  for (const Check& c : checks()) std::fprintf(out, "%-32s %s  %s\n", c.name, c.level, c.description);
}

int run(Arguments args, std::FILE* out) {
  Options& o = args.options;
  if (o.level < 1 || o.level > 10) throw std::runtime_error("--level must be from 1 to 10");
  drawSeed(args);
  const std::vector<const Group*> chosen = chosenGroups(o);
  requireLoads(o);

  const bool progress = !args.json && isTerminal(out);
  if (!args.json)
    std::fprintf(out, "validating %s at level %d with seed %llu\n", o.module.c_str(), o.level,
                 static_cast<unsigned long long>(o.seed));
  std::vector<GroupRun> runs;
  Totals totals;
  for (size_t i = 0; i < chosen.size(); ++i) {
    if (progress) {
      std::fprintf(out, "\r\033[K[%zu/%zu] %s ...", i + 1, chosen.size(), chosen[i]->name);
      std::fflush(out);
    }
    runs.push_back(runGroup(*chosen[i], o));
    if (progress) std::fprintf(out, "\r\033[K");
    totals.add(runs.back());
    if (!args.json)
      for (const Result& r : runs.back().results) std::fprintf(out, "%s %s\n", word(r.kind), r.text.c_str());
    std::fflush(out);
  }
  if (!args.junit.empty()) writeJunit(args.junit, o, runs);
  if (args.json) printJson(out, o, runs, totals);
  else printSummary(out, o, totals);
  return totals.failed ? 1 : 0;
}

}  // namespace validate
