// `vstrun validate` end to end: Vantorel passes; a fixture with known
// faults gets exactly those reported, and the validator survives its crashes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <cstdlib>
#include <regex>
#include <set>
#include <sstream>

#include "VstrunProcess.h"
#include "support/TestHost.h"

namespace {

using vtest::ProcessResult;
using vtest::runVstrun;

std::vector<std::string> linesOf(const std::string& s) {
  std::vector<std::string> lines;
  std::istringstream in(s);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The first line starting with prefix and containing every part, or "".
std::string findLine(const std::string& out, const std::string& prefix, std::initializer_list<const char*> parts) {
  for (const std::string& line : linesOf(out)) {
    if (line.rfind(prefix, 0) != 0) continue;
    bool all = true;
    for (const char* p : parts) all = all && line.find(p) != std::string::npos;
    if (all) return line;
  }
  return "";
}

TEST(Validate, VantorelPassesEveryGroupWithoutAFailure) {
  const ProcessResult r = runVstrun({"validate", vtest::modulePath(), "--level", "1", "--seed", "42"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(findLine(r.out, "FAIL", {}), "") << r.out;
  const std::vector<std::string> lines = linesOf(r.out);
  ASSERT_FALSE(lines.empty());
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines.back(), m, std::regex(R"((\d+) passed, 0 failed, (\d+) warnings)"))) << lines.back();
  EXPECT_GE(std::stoi(m[1]), 40);
  for (const char* group : {"identity", "texts", "parameters", "programs", "processing", "realtime", "floatstate",
                            "threads", "midi", "editor", "lifecycle", "fuzz", "robustness"})
    EXPECT_NE(findLine(r.out, "", {group}), "") << group << " reported nothing:\n" << r.out;
}

TEST(Validate, FindsEachFaultOfTheFaultyFixtureAndSurvivesItsCrashes) {
  const ProcessResult r = runVstrun({"validate", vtest::fixturePath("Faulty"), "--level", "1", "--seed", "7"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(findLine(r.out, "FAIL", {"texts: effGetParamName index 0 wrote", "past the 512-byte buffer"}), "") << r.out;
  EXPECT_NE(findLine(r.out, "FAIL",
                     {"texts: effGetProductString index 0 wrote 1 byte before the start of the 512-byte buffer"}),
            "")
      << r.out;
  EXPECT_EQ(findLine(r.out, "", {"wrote 0 bytes"}), "") << "a write before a buffer is told as one: " << r.out;
  EXPECT_NE(findLine(r.out, "WARN", {"effGetEffectName", "conventional 32", "longest 40 bytes"}), "") << r.out;
  EXPECT_NE(findLine(r.out, "FAIL", {"floatstate: processReplacing changed the caller's MXCSR 0x1F80"}), "") << r.out;
  // It declares that it can replace, so hosts never call its process.
  EXPECT_NE(findLine(r.out, "WARN",
                     {"robustness: process replaces the outputs instead of adding", "declares it can replace"}),
            "")
      << r.out;
  // Nor do they idle an editor it does not have: its crash there only warns.
  EXPECT_NE(findLine(r.out, "WARN", {"robustness: ", "during: effEditIdle without an open editor; no host sends"}), "")
      << r.out;
  EXPECT_NE(findLine(r.out, "FAIL", {"midi:", "during: effProcessEvents with a list long"}), "") << r.out;
  // A sanitizer build turns the crash into an exit status of its own.
  EXPECT_NE(findLine(r.out, "FAIL", {"threads:", "during: parameters and programs from a second thread"}), "") << r.out;
  const bool watched = findLine(r.out, "WARN", {"realtime:", "not watched in this build"}).empty();
  if (watched) {
    EXPECT_NE(findLine(r.out, "FAIL", {"realtime: processReplacing", "malloc"}), "") << r.out;
  }
  EXPECT_NE(findLine(r.out, "FAIL", {"(seed 7)"}), "");
  // The failed checks, not their whole groups, in the order they ran.
  const std::string failedChecks = std::string("--only texts.strings,") + (watched ? "realtime.audio-thread," : "") +
                                   "floatstate.control-word,threads.concurrent,midi.long,fuzz.dispatcher\n";
  EXPECT_NE(r.out.find(failedChecks), std::string::npos) << r.out;
#ifndef _WIN32
  // Children are forked from the validator: a crash may need the groups before it.
  EXPECT_EQ(findLine(r.out, "FAIL", {"crashed (signal"}).empty(), r.out.find("(a crash that --only") == std::string::npos)
      << r.out;
#endif
  EXPECT_NE(findLine(r.out, "PASS", {"identity: magic is VstP"}), "") << "groups after a crash still run";
}

TEST(Validate, FindsTheQuieterFaultsOfTheSloppyFixture) {
  const ProcessResult r = runVstrun({"validate", vtest::fixturePath("Sloppy"), "--level", "1", "--seed", "5"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(findLine(r.out, "FAIL", {"identity: the entry called twice gave the same record"}), "") << r.out;
  EXPECT_NE(findLine(r.out, "WARN", {"parameters: getParameter(0) gives 2 after setParameter(0, 0)"}), "") << r.out;
  EXPECT_NE(findLine(r.out, "FAIL", {"processReplacing, block of 1 wrote past the end of output channel 0"}), "")
      << r.out;
  // Every bad rate is named; one that hosts use makes it a fault.
  EXPECT_NE(findLine(r.out, "FAIL", {"at 96000 Hz: non-finite output at channel 0 sample 0 (nan); and at 8000 Hz"}),
            "")
      << r.out;
  EXPECT_NE(findLine(r.out, "FAIL", {"denormal output 0 ms after the input fell silent, block 0"}), "") << r.out;
  EXPECT_NE(findLine(r.out, "FAIL", {"lifecycle: leaks: resident memory"}), "") << r.out;
  if (findLine(r.out, "WARN", {"realtime:", "not watched"}).empty()) {
#ifdef _WIN32
    // MinGW's std::mutex is linked into the module and locks without a
    // system call while uncontended; only its first use (it allocates the
    // mutex) goes through an import.
    EXPECT_NE(findLine(r.out, "WARN", {"realtime: 1 allocations, locks or system calls in the first 4 blocks"}), "")
        << r.out;
#else
    EXPECT_NE(findLine(r.out, "FAIL", {"realtime: processReplacing in block 4", "pthread_mutex_lock"}), "") << r.out;
#endif
  }
}

TEST(Validate, JsonHoldsTheSameCountsAndBadArgumentsFailOnce) {
  const ProcessResult r =
      runVstrun({"validate", vtest::fixturePath("Faulty"), "--only", "texts,midi", "--json", "--seed", "3"});
  EXPECT_EQ(r.status, 1);
  const nlohmann::json j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j["groups"].size(), 2u);
  EXPECT_EQ(j["groups"][0]["name"], "texts");
  EXPECT_EQ(j["seed"], 3);
  int failed = 0;
  for (const auto& g : j["groups"])
    for (const auto& c : g["checks"]) failed += c["result"] == "FAIL";
  EXPECT_EQ(j["failed"], failed);
  EXPECT_GE(failed, 2);

  const ProcessResult bad = runVstrun({"validate", vtest::fixturePath("Faulty"), "--only", "nosuch"});
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.err.find("no group or check \"nosuch\""), std::string::npos) << bad.err;
  const ProcessResult notPlugin = runVstrun({"validate", vtest::fixturePath("NoEntry")});
  EXPECT_EQ(notPlugin.status, 1);
  EXPECT_EQ(notPlugin.out, "") << "told once on stderr, not a FAIL in every group";
  EXPECT_NE(notPlugin.err.find("exports neither VSTPluginMain nor main"), std::string::npos) << notPlugin.err;
}

TEST(Validate, LeaksWithoutBoundAndMixingWronglyWhereHostsCallProcessFail) {
  const ProcessResult r = runVstrun({"validate", vtest::fixturePath("Leaky"), "--level", "1", "--seed", "1", "--only",
                                     "lifecycle.memory,processing.accumulating"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(findLine(r.out, "FAIL", {"lifecycle: leaks: resident memory per instance;",
                                     "sustained over the last half of 20 cycles"}),
            "")
      << r.out;
  const ProcessResult load = runVstrun({"validate", vtest::fixturePath("LeakyLoad"), "--level", "1", "--seed", "1",
                                        "--only", "lifecycle.memory"});
  EXPECT_EQ(load.status, 1) << load.out << load.err;
  EXPECT_NE(findLine(load.out, "FAIL", {"lifecycle: leaks: resident memory per load;"}), "") << load.out;
  EXPECT_NE(findLine(r.out, "FAIL", {"process replaces the outputs", "does not declare it can replace"}), "") << r.out;
  EXPECT_EQ(linesOf(r.out).size(), 5u) << "only the two checks asked for: " << r.out;
}

TEST(Validate, DenormalOutputIsSeenInTheFirstBlocksOfSilence) {
  const ProcessResult r = runVstrun({"validate", vtest::fixturePath("Decay"), "--level", "1", "--seed", "1", "--only",
                                     "processing.denormal-output"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  std::smatch m;
  const std::string line = findLine(r.out, "FAIL", {"processing: denormal output"});
  ASSERT_TRUE(std::regex_search(line, m, std::regex(R"(output (\d+) ms after the input fell silent)"))) << r.out;
  EXPECT_GE(std::stoi(m[1]), 20);
  EXPECT_LE(std::stoi(m[1]), 100);
  EXPECT_NE(line.find("of the block's 1024 samples"), std::string::npos) << line;
}

TEST(Validate, ChecksHaveNamesToChooseThemByAndJunitHasACasePerCheck) {
  const ProcessResult list = runVstrun({"validate", "--list"});
  ASSERT_EQ(list.status, 0) << list.err;
  std::set<std::string> names;
  for (const std::string& line : linesOf(list.out)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, std::regex(R"(([a-z]+\.[a-z-]+) +(FAIL|WARN)  .+)"))) << line;
    EXPECT_TRUE(names.insert(m[1]).second) << "named twice: " << m[1];
  }
  const int midiChecks = static_cast<int>(std::count_if(names.begin(), names.end(), [](const std::string& n) {
    return n.rfind("midi.", 0) == 0;
  }));

  const std::string junit = vtest::scratchDir("validate-junit") + "/report.xml";
  const ProcessResult r = runVstrun({"validate", vtest::fixturePath("Faulty"), "--only", "texts,midi,identity.magic",
                                     "--skip", "midi.empty", "--json", "--seed", "3", "--junit", junit});
  EXPECT_EQ(r.status, 1) << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  std::set<std::string> reported;
  for (const auto& g : j["groups"])
    for (const auto& c : g["checks"]) reported.insert(c["check"].get<std::string>());
  for (const std::string& n : reported) EXPECT_TRUE(names.count(n)) << n << " is not listed";
  EXPECT_TRUE(reported.count("identity.magic") && reported.count("texts.strings")) << r.out;
  EXPECT_FALSE(reported.count("identity.counts") || reported.count("midi.empty")) << r.out;

  const std::string xml = vtest::readFile(junit);
  auto count = [&](const std::string& what) {
    int n = 0;
    for (size_t at = xml.find(what); at != std::string::npos; at = xml.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<testsuite "), 3) << xml;
  EXPECT_EQ(count("<testcase "), 8 + 2 + midiChecks) << "every check of the groups run: " << xml;
  EXPECT_EQ(count("<skipped "), 7 + 1 + (midiChecks - 3))
      << "the identity checks but magic, midi.empty, and the midi checks after midi.long, which crashes: " << xml;
  EXPECT_NE(xml.find("name=\"midi.long\">\n      <failure message=\"midi: "), std::string::npos)
      << "a crash belongs to the check it happened in: " << xml;
  EXPECT_NE(xml.find("name=\"texts.strings\">\n      <failure"), std::string::npos) << xml;
}

// Fragile aborts only on what hosts never do (see its source): it passes
// every check, and the robustness group names each call it does not survive.
// Its editor's refused X request is a WARN, not an exit.
TEST(Validate, EveryCheckButRobustnessSendsOnlyWhatHostsSend) {
  const std::vector<std::string> args = {"validate", vtest::fixturePath("Fragile"), "--level", "1", "--seed", "11"};
  ProcessResult r = runVstrun(args);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(findLine(r.out, "FAIL", {}), "") << r.out;
  EXPECT_NE(findLine(r.out, "PASS", {"fuzz: 2000 steps"}), "") << r.out;
  EXPECT_NE(findLine(r.out, "WARN", {"processing: at 384000 Hz: non-finite output", "a rate few hosts use"}), "")
      << r.out;
  for (const char* call : {"during: setParameter(2, 0.5) and getParameter(2), outside the 2 parameters",
                           "during: setParameter(0, -0.5), outside 0..1", "during: effSetProgram 1, outside the 1 programs",
                           "during: effProcessEvents with a list of 32 events with falling deltaFrames",
                           "during: effOpen to an instance already open", "during: process"})
    EXPECT_NE(findLine(r.out, "WARN", {"robustness: ", call, "; no host sends this call"}), "") << call << "\n" << r.out;
  EXPECT_NE(findLine(r.out, "WARN", {"robustness: ", "during: step "}), "") << "the fuzzer's too: " << r.out;
#ifndef _WIN32
  if (findLine(r.out, "PASS", {"editor: opened, idled and closed 20 times"}) != "") {
    EXPECT_NE(findLine(r.out, "WARN", {"editor: the editor caused 20 X errors, the first BadWindow"}), "") << r.out;
  }
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  unsetenv("DISPLAY");
  r = runVstrun({"validate", vtest::fixturePath("Fragile"), "--level", "1", "--seed", "11", "--only", "fuzz,editor"});
  if (!saved.empty()) setenv("DISPLAY", saved.c_str(), 1);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // No display, or (in a build whose libX11 is missing) no way to reach one.
  EXPECT_NE(findLine(r.out, "WARN", {"fuzz: effEditGetRect not checked: "}), "") << r.out;
  EXPECT_NE(findLine(r.out, "WARN", {"editor: effEditGetRect before opening not checked: "}), "") << r.out;
#endif
}

// Harmless plug-ins pass: one that talks to the host from the audio thread
// (automation, time, can-do, requests the host does not serve), and one of
// the days before processReplacing, driven through process, with one WARN.
TEST(Validate, AutomationFromTheAudioThreadAndALegacyProcessPass) {
  const ProcessResult automates =
      runVstrun({"validate", vtest::fixturePath("Automates"), "--level", "1", "--seed", "2"});
  EXPECT_EQ(automates.status, 0) << automates.out << automates.err;
  EXPECT_EQ(findLine(automates.out, "FAIL", {}), "") << automates.out;
#ifdef VSTRUN_WATCHES_AUDIO_THREAD
  EXPECT_NE(findLine(automates.out, "PASS", {"realtime: no allocation, lock or system call"}), "") << automates.out;
#endif
  const ProcessResult legacy = runVstrun({"validate", vtest::fixturePath("Legacy"), "--level", "1", "--seed", "2"});
  EXPECT_EQ(legacy.status, 0) << legacy.out << legacy.err;
  EXPECT_EQ(findLine(legacy.out, "FAIL", {}), "") << legacy.out;
  int aboutTheEntry = 0;
  for (const std::string& line : linesOf(legacy.out))
    aboutTheEntry += line.rfind("WARN", 0) == 0 && line.find("processReplacing") != std::string::npos;
  EXPECT_EQ(aboutTheEntry, 1) << legacy.out;
  EXPECT_NE(findLine(legacy.out, "WARN", {"identity: no processReplacing, only process"}), "") << legacy.out;
  EXPECT_NE(findLine(legacy.out, "PASS", {"processing: process adds to the outputs"}), "") << legacy.out;
  EXPECT_NE(findLine(legacy.out, "PASS", {"fuzz: 2000 steps"}), "") << legacy.out;
}

TEST(Validate, OnlyDenormalsEnoughToSlowTheNextPluginFail) {
  const ProcessResult r = runVstrun({"validate", vtest::fixturePath("DenormalOnce"), "--level", "1", "--seed", "1",
                                     "--only", "processing.denormal-output"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::smatch m;
  const std::string line = findLine(r.out, "WARN", {"processing: ", "stray denormal samples"});
  ASSERT_TRUE(std::regex_search(line, m, std::regex(R"(: (\d+) stray denormal samples)"))) << r.out;
  EXPECT_GE(std::stoi(m[1]), 1);
  EXPECT_LE(std::stoi(m[1]), 4);
}

#ifdef VSTRUN_WATCHES_AUDIO_THREAD
// Each gain does one forbidden thing while processing; the FAIL names the
// function and the plug-in's module. Vantorel passes with the same watch on.
TEST(Validate, NamesWhatEachGainDoesOnTheAudioThreadAndWhereFrom) {
#ifdef _WIN32
  const char* allocation = "malloc called from ";
  const char* lock = "EnterCriticalSection called from ";
#else
  const char* allocation = "_Znw";  // operator new, as the module imports it
  const char* lock = "pthread_mutex_lock called from ";
#endif
  const struct {
    const char* fixture;
    const char* call;
  } cases[] = {{"GainAllocates", allocation}, {"GainLocks", lock}, {"GainWrites", "fopen"}};
  for (const auto& c : cases) {
    const std::string module = vtest::fixturePath(c.fixture);
    const ProcessResult r = runVstrun({"validate", module, "--only", "realtime", "--seed", "1"});
    EXPECT_EQ(r.status, 1) << c.fixture << "\n" << r.out << r.err;
    const std::string file = std::string(c.fixture) + VSTRUN_MODULE_SUFFIX;
    EXPECT_NE(findLine(r.out, "FAIL", {"realtime: processReplacing in block 4", c.call, file.c_str()}), "")
        << c.fixture << "\n" << r.out;
  }
  // A library the plug-in loads only once it processes is watched as it comes.
  const ProcessResult late = runVstrun({"validate", vtest::fixturePath("LateHelper"), "--only", "realtime", "--seed", "1"});
  EXPECT_EQ(late.status, 1) << late.out << late.err;
  const std::string helper = std::string("LateHelperLib") + VSTRUN_MODULE_SUFFIX;
  EXPECT_NE(findLine(late.out, "FAIL", {"realtime: processReplacing in block 4", "malloc called from ", helper.c_str()}),
            "")
      << late.out;
#ifndef _WIN32
  // A slot bound to an old version of a function keeps it.
  const ProcessResult old = runVstrun({"validate", vtest::fixturePath("OldCondWait"), "--only", "realtime", "--seed", "1"});
  EXPECT_EQ(old.status, 1) << old.out << old.err;
  const char* version = sizeof(void*) == 8 ? "pthread_cond_timedwait@GLIBC_2.2.5 called from " :
                                             "pthread_cond_timedwait@GLIBC_2.0 called from ";
  EXPECT_NE(findLine(old.out, "FAIL", {"realtime: processReplacing in block 4", version, "OldCondWait.so"}), "")
      << old.out;
#endif
  const ProcessResult vantorel = runVstrun({"validate", vtest::modulePath(), "--only", "realtime", "--seed", "1"});
  EXPECT_EQ(vantorel.status, 0) << vantorel.out << vantorel.err;
  EXPECT_NE(findLine(vantorel.out, "PASS", {"realtime: no allocation, lock or system call"}), "") << vantorel.out;
}
#endif

}  // namespace
