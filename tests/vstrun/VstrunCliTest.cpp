// The vstrun binary end to end: what it renders through a probe plug-in
// (which makes the host's actions audible sample by sample), what it says
// about modules, and how it fails.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sndfile.h>

#include "VstrunProcess.h"
#include "vsthost/Plugin.h"
#include "support/TestHost.h"

namespace {

using vtest::ProcessResult;
using vtest::runVstrun;
using vtest::Wav;

// A stereo input whose samples say where they are: left i/N, right -i/N/2.
Wav rampInput(int frames, int rate = 8000, int channels = 2, int subtype = SF_FORMAT_FLOAT) {
  Wav w;
  w.channels = channels;
  w.rate = rate;
  w.subtype = subtype;
  for (int i = 0; i < frames; ++i) {
    w.samples.push_back(static_cast<float>(i) / frames);
    if (channels > 1) w.samples.push_back(-static_cast<float>(i) / frames / 2);
  }
  return w;
}

int lineCount(const std::string& s) {
  int n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

// A failure: non-zero, exactly one line on stderr, nothing on stdout.
::testing::AssertionResult failsCleanly(const ProcessResult& r) {
  if (r.status == 0) return ::testing::AssertionFailure() << "exit status 0; stderr: " << r.err;
  if (r.status < 0 || r.status >= 128) return ::testing::AssertionFailure() << "did not exit normally: " << r.status;
  if (lineCount(r.err) != 1 || r.err.rfind("vstrun: ", 0) != 0)
    return ::testing::AssertionFailure() << "stderr is not one vstrun line: [" << r.err << "]";
  if (!r.out.empty()) return ::testing::AssertionFailure() << "stdout not empty: " << r.out;
  return ::testing::AssertionSuccess();
}

class Vstrun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = vtest::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    probe = vtest::fixturePath("Probe");
  }
  std::string path(const std::string& name) const { return dir + "/" + name; }
  Wav render(const std::vector<std::string>& extra, const Wav& input, ProcessResult* result = nullptr) {
    vtest::writeWav(path("in.wav"), input);
    std::vector<std::string> args = {"render", probe, "-i", path("in.wav"), "-o", path("out.wav")};
    args.insert(args.end(), extra.begin(), extra.end());
    ProcessResult r = runVstrun(args);
    if (result) *result = r;
    EXPECT_EQ(r.status, 0) << r.err;
    bool ok = false;
    Wav out = vtest::readWav(path("out.wav"), &ok);
    EXPECT_TRUE(ok) << "no output file";
    return out;
  }

  std::string dir, probe;
};

TEST_F(Vstrun, RenderRunsTheStartSequenceAndWritesTheFileChannelsOfTheOutputs) {
  const Wav in = rampInput(3000);
  ProcessResult r;
  const Wav out = render({"--block-size", "256", "--param", "Level=0.5"}, in, &r);
  // The probe has 3 outputs; a stereo file gets 2 channels.
  ASSERT_EQ(out.channels, 2);
  EXPECT_EQ(out.rate, 8000);
  EXPECT_EQ(out.subtype, SF_FORMAT_FLOAT);  // the input's format
  ASSERT_EQ(out.frames(), 3000);
  for (int64_t i = 0; i < out.frames(); ++i) {
    // NaN (written as 0) would mean the probe ran without being started.
    ASSERT_FLOAT_EQ(out.at(i, 0), in.at(i, 0) * 0.5f) << "frame " << i;
    ASSERT_FLOAT_EQ(out.at(i, 1), in.at(i, 1)) << "frame " << i;
  }
  EXPECT_NE(r.out.find("wrote"), std::string::npos);
  // Nothing but the output is left beside it.
  EXPECT_EQ(vtest::listDir(dir).size(), 2u);
}

TEST_F(Vstrun, ParametersByIndexChannelsTailAndAccumulatingProcess) {
  const Wav in = rampInput(1000);
  const Wav a = render({"-p", "0=0.25", "-p", "marker=0.125", "--channels", "3", "--tail", "0.5"}, in);
  ASSERT_EQ(a.channels, 3);
  ASSERT_EQ(a.frames(), 1000 + 4000);
  for (int64_t i = 0; i < a.frames(); ++i) {
    const float expected = i < 1000 ? in.at(i, 0) * 0.25f : 0.0f;  // silence in the tail
    ASSERT_FLOAT_EQ(a.at(i, 0), expected) << i;
    ASSERT_FLOAT_EQ(a.at(i, 2), 0.125f) << i;
  }
  const Wav b = render({"-p", "0=0.25", "-p", "marker=0.125", "--channels", "3", "--tail", "0.5", "--process"}, in);
  EXPECT_EQ(a.samples, b.samples);
}

TEST_F(Vstrun, MonoInputFeedsEveryInput) {
  const Wav in = rampInput(500, 8000, 1);
  const Wav out = render({}, in);
  ASSERT_EQ(out.channels, 2);  // a stereo plug-in makes stereo of a mono file
  for (int64_t i = 0; i < out.frames(); ++i) {
    ASSERT_FLOAT_EQ(out.at(i, 0), in.at(i, 0));
    ASSERT_FLOAT_EQ(out.at(i, 1), in.at(i, 0));
  }
}

TEST_F(Vstrun, OutputFormatFollowsTheInputOrTheOption) {
  for (int subtype : {SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_FLOAT}) {
    const Wav out = render({}, rampInput(100, 8000, 2, subtype));
    EXPECT_EQ(out.subtype, subtype);
  }
  const struct {
    const char* name;
    int subtype;
  } options[] = {{"pcm16", SF_FORMAT_PCM_16}, {"pcm24", SF_FORMAT_PCM_24}, {"float", SF_FORMAT_FLOAT}};
  for (const auto& o : options) {
    const Wav out = render({"--format", o.name}, rampInput(100, 8000, 2, SF_FORMAT_PCM_16));
    EXPECT_EQ(out.subtype, o.subtype) << o.name;
  }
  // PCM clips at full scale instead of wrapping around.
  Wav loud = rampInput(10, 8000, 2, SF_FORMAT_FLOAT);
  for (float& s : loud.samples) s = 3.0f;
  const Wav clipped = render({"--format", "pcm16"}, loud);
  for (float s : clipped.samples) EXPECT_GT(s, 0.99f);
}

TEST_F(Vstrun, AutomationLandsOnItsSampleWithStepsAndLinearRamps) {
  vtest::writeFile(path("auto.json"), R"({
    "unit": "samples",
    "keyframes": [
      {"time": 1000, "param": "Marker", "value": 0.25},
      {"time": 2000, "param": 1, "value": 0.25},
      {"time": 3000, "param": "Marker", "value": 0.75, "ramp": "linear"},
      {"time": 1001, "param": "Level", "value": 0.5}
    ]})");
  const Wav out = render({"--channels", "3", "--block-size", "512", "--automation", path("auto.json")}, rampInput(4000));
  ASSERT_EQ(out.frames(), 4000);
  for (int64_t i = 0; i < 1000; ++i) ASSERT_EQ(out.at(i, 2), 0.0f) << i;
  for (int64_t i = 1000; i <= 2000; ++i) ASSERT_FLOAT_EQ(out.at(i, 2), 0.25f) << i;
  float previous = 0.25f;
  for (int64_t i = 2001; i < 3000; ++i) {
    const float v = out.at(i, 2);
    const float ideal = 0.25f + 0.5f * static_cast<float>(i - 2000) / 1000.0f;
    ASSERT_GE(v, previous) << i;
    ASSERT_NEAR(v, ideal, 0.5f * 64 / 1000 + 1e-6) << i;  // one ramp step behind at most
    previous = v;
  }
  for (int64_t i = 3000; i < 4000; ++i) ASSERT_FLOAT_EQ(out.at(i, 2), 0.75f) << i;
  EXPECT_FLOAT_EQ(out.at(1000, 0), out.at(1000, 0));
  EXPECT_FLOAT_EQ(out.at(1000, 0), static_cast<float>(1000) / 4000);
  EXPECT_FLOAT_EQ(out.at(1001, 0), static_cast<float>(1001) / 4000 * 0.5f);

  // Seconds: 0.5 s at 8000 Hz is frame 4000.
  vtest::writeFile(path("auto.json"), R"({"keyframes": [{"time": 0.5, "param": "Marker", "value": 1}]})");
  const Wav s = render({"--channels", "3", "--automation", path("auto.json")}, rampInput(5000));
  EXPECT_EQ(s.at(3999, 2), 0.0f);
  EXPECT_EQ(s.at(4000, 2), 1.0f);
}

// Delta time, then event bytes.
std::string ev(uint32_t delta, std::initializer_list<int> bytes) {
  std::string s;
  std::string v(1, static_cast<char>(delta & 0x7F));
  for (delta >>= 7; delta; delta >>= 7) v.insert(v.begin(), static_cast<char>(0x80 | (delta & 0x7F)));
  s += v;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

TEST_F(Vstrun, MidiArrivesAtItsFrameWithTempoChangesAndRunningStatus) {
  // 96 ticks per quarter; 120 BPM, then 240 BPM from tick 96 on.
  const std::string tempo = ev(0, {0xFF, 0x51, 3, 0x07, 0xA1, 0x20}) + ev(96, {0xFF, 0x51, 3, 0x03, 0xD0, 0x90}) +
                            ev(0, {0xFF, 0x2F, 0});
  const std::string notes = ev(48, {0x90, 64, 100}) +           // tick 48 = 0.25 s = frame 2000
                            ev(0, {0xF0, 3, 0x7E, 0x01, 0xF7}) +  // sysex, skipped
                            ev(0, {0xFF, 0x01, 2, 'h', 'i'}) +    // text, skipped
                            ev(144, {32, 100}) +                  // running status; tick 192 = 0.75 s = frame 6000
                            ev(0, {0xFF, 0x2F, 0});
  vtest::writeFile(path("song.mid"), vtest::midiFile(1, 96, {tempo, notes}));
  const Wav out = render({"--block-size", "256", "--midi", path("song.mid")}, rampInput(8000, 8000, 1));
  for (int64_t i = 0; i < out.frames(); ++i) {
    const float marker = i == 2000 ? 64 / 128.0f : i == 6000 ? 32 / 128.0f : 0.0f;
    ASSERT_FLOAT_EQ(out.at(i, 1) - out.at(i, 0), marker) << "frame " << i;
  }

  // Type 0, and an event after the end is left out.
  vtest::writeFile(path("song.mid"), vtest::midiFile(0, 96, {ev(0, {0x90, 16, 1}) + ev(96 * 100, {0x90, 17, 1})}));
  const Wav t0 = render({"--midi", path("song.mid")}, rampInput(100, 8000, 1));
  EXPECT_FLOAT_EQ(t0.at(0, 1) - t0.at(0, 0), 16 / 128.0f);
}

// Windows hands vstrun its arguments in UTF-16: every file it opens, the
// module included, takes a name in any letters, not only the code page's.
TEST_F(Vstrun, RendersFromAndIntoAFolderNamedInAnyLetters) {
  const std::string sub = path("Kl\u00e4nge \u03a9\u03bc\u03ad\u03b3\u03b1 \u97f3");  // no one code page holds all three
  vtest::makeDir(sub);
  const std::string module = sub + "/Pr\u00f6be" + VSTRUN_MODULE_SUFFIX, input = sub + "/Eing\u00e4nge.wav",
                    output = sub + "/Ausg\u00e4nge.wav", midi = sub + "/N\u00f6tes.mid",
                    automation = sub + "/Autom\u00e4tion.json";
  vtest::writeFile(module, vtest::readFile(probe));
  vtest::writeWav(input, rampInput(3000, 8000, 1));
  vtest::writeFile(midi, vtest::midiFile(0, 96, {ev(48, {0x90, 64, 100})}));  // tick 48 at 120 BPM: frame 2000
  vtest::writeFile(automation, R"({"unit": "samples", "keyframes": [{"time": 1000, "param": "Marker", "value": 0.5}]})");
  const ProcessResult r = runVstrun({"render", module, "-i", input, "-o", output, "--channels", "3", "--midi", midi,
                                     "--automation", automation, "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  bool ok = false;
  const Wav out = vtest::readWav(output, &ok);
  ASSERT_TRUE(ok) << "no output under its own name";
  ASSERT_EQ(out.frames(), 3000);
  EXPECT_EQ(out.at(999, 2), 0.0f);
  EXPECT_FLOAT_EQ(out.at(1000, 2), 0.5f);
  EXPECT_FLOAT_EQ(out.at(2000, 1) - out.at(2000, 0), 64 / 128.0f);
}

TEST_F(Vstrun, InfoDescribesEverythingAHostAsks) {
  ProcessResult r = runVstrun({"info", probe, "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["name"], "Probe");
  EXPECT_EQ(j["vendor"], "Vantorel Tests");
  EXPECT_EQ(j["product"], "Probe Product");
  EXPECT_EQ(j["vendorVersion"], 7);
  EXPECT_EQ(j["uniqueId"], "Prbe");
  EXPECT_EQ(j["uniqueIdNumber"], fourCharCode('P', 'r', 'b', 'e'));
  EXPECT_EQ(j["category"], "effect");
  ASSERT_EQ(j["inputs"].size(), 2u);
  EXPECT_EQ(j["inputs"][1]["label"], "Probe In 2");
  ASSERT_EQ(j["outputs"].size(), 3u);
  EXPECT_EQ(j["outputs"][2]["label"], "Probe Out 3");
  ASSERT_EQ(j["parameters"].size(), 2u);
  EXPECT_EQ(j["parameters"][0]["name"], "Level");
  EXPECT_EQ(j["parameters"][0]["display"], "1.000");
  EXPECT_EQ(j["parameters"][1]["label"], "x");
  EXPECT_EQ(j["programs"], nlohmann::json::array({"Probe Program"}));
  EXPECT_EQ(j["canDo"]["receiveVstMidiEvent"], 1);
  EXPECT_EQ(j["canDo"]["sendVstEvents"], -1);
  EXPECT_EQ(j["hasEditor"], false);

  r = runVstrun({"info", vtest::modulePath()});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* expected : {"Vantorel", "Kestrom", "KV42", "\"Buff Size\"", "\"Read Through Speed\"",
                               "\"The Only Preset\"", "KV42 1", "receiveVstEvents         yes"})
    EXPECT_NE(r.out.find(expected), std::string::npos) << expected << " in\n" << r.out;
}

TEST_F(Vstrun, BadInputFailsWithOneLineAndNoFile) {
  vtest::writeWav(path("in.wav"), rampInput(100));
  vtest::writeFile(path("text.txt"), "this is not audio, nor a module\n");
  vtest::writeFile(path("bad.json"), "{\"keyframes\": [ {\"time\": 1, ");
  vtest::writeFile(path("range.json"), R"({"keyframes": [{"time": 0, "param": 0, "value": 1.5}]})");
  vtest::writeFile(path("name.json"), R"({"keyframes": [{"time": 0, "param": "Nope", "value": 0.5}]})");
  vtest::writeFile(path("bad.mid"), vtest::midiFile(1, 96, {std::string("\0\x90", 2)}));  // ends mid-event
  vtest::writeFile(path("type2.mid"), vtest::midiFile(2, 96, {ev(0, {0xFF, 0x2F, 0})}));
  vtest::writeFile(path("status.mid"), vtest::midiFile(0, 96, {ev(0, {64, 100}) + ev(0, {0xFF, 0x2F, 0})}));
  const std::string in = path("in.wav"), out = path("out.wav");
  const std::vector<std::string> render = {"render", probe, "-i", in, "-o", out};
  auto with = [&](std::initializer_list<std::string> extra) {
    std::vector<std::string> a = render;
    a.insert(a.end(), extra);
    return a;
  };
  const struct {
    const char* what;
    std::vector<std::string> args;
  } cases[] = {
      {"missing module", {"info", path("missing.so")}},
      {"not a module", {"info", path("text.txt")}},
      {"no entry", {"info", vtest::fixturePath("NoEntry")}},
      {"entry returns null", {"info", vtest::fixturePath("NullEntry")}},
      {"wrong magic", {"info", vtest::fixturePath("BadMagic")}},
      {"render: no entry", {"render", vtest::fixturePath("NoEntry"), "-i", in, "-o", out}},
      {"missing input", {"render", probe, "-i", path("missing.wav"), "-o", out}},
      {"input not audio", {"render", probe, "-i", path("text.txt"), "-o", out}},
      {"output folder missing", {"render", probe, "-i", in, "-o", path("no/such/folder/out.wav")}},
      {"output is a folder", {"render", probe, "-i", in, "-o", dir}},
      {"unknown parameter name", with({"--param", "Nope=0.5"})},
      {"parameter index out of range", with({"--param", "2=0.5"})},
      {"parameter value out of range", with({"--param", "Level=2"})},
      {"parameter without value", with({"--param", "Level"})},
      {"automation not JSON", with({"--automation", path("bad.json")})},
      {"automation value out of range", with({"--automation", path("range.json")})},
      {"automation unknown parameter", with({"--automation", path("name.json")})},
      {"automation missing", with({"--automation", path("missing.json")})},
      {"MIDI truncated", with({"--midi", path("bad.mid")})},
      {"MIDI type 2", with({"--midi", path("type2.mid")})},
      {"MIDI running status without status", with({"--midi", path("status.mid")})},
      {"MIDI not MIDI", with({"--midi", path("text.txt")})},
      {"unknown format", with({"--format", "mp3"})},
      {"zero block size", with({"--block-size", "0"})},
      {"negative tail", with({"--tail", "-1"})},
      {"too many channels", with({"--channels", "4"})},
      {"unknown option", with({"--no-such-option"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ProcessResult r = runVstrun(c.args);
    EXPECT_TRUE(failsCleanly(r));
    EXPECT_FALSE(vtest::fileExists(out));
    // Only the fixtures written above: no partial or temporary file.
    EXPECT_EQ(vtest::listDir(dir).size(), 8u);
  }
}

TEST_F(Vstrun, AFailedRenderLeavesAnExistingOutputAlone) {
  vtest::writeWav(path("in.wav"), rampInput(100));
  vtest::writeFile(path("out.wav"), "previous contents");
  const ProcessResult r = runVstrun({"render", probe, "-i", path("in.wav"), "-o", path("out.wav"), "-p", "Nope=1"});
  EXPECT_TRUE(failsCleanly(r));
  EXPECT_EQ(vtest::readFile(path("out.wav")), "previous contents");
  EXPECT_EQ(vtest::listDir(dir).size(), 2u);
}

// A plug-in that crashes in its third audio call: vstrun names the call and
// the place in the render, removes its temporary file, leaves the previous
// output alone and exits with a status of its own, not by the signal.
TEST_F(Vstrun, APluginCrashMidRenderIsNamedInOneLineAndLeavesNoFile) {
  vtest::writeWav(path("in.wav"), rampInput(1000));
  vtest::writeFile(path("out.wav"), "previous contents");
#ifdef _WIN32
  _putenv_s("VSTRUN_PROBE_CRASH_ON_CALL", "3");
#else
  setenv("VSTRUN_PROBE_CRASH_ON_CALL", "3", 1);
#endif
  const ProcessResult r = runVstrun({"render", probe, "-i", path("in.wav"), "-o", path("out.wav"), "-b", "256"});
#ifdef _WIN32
  _putenv_s("VSTRUN_PROBE_CRASH_ON_CALL", "");
#else
  unsetenv("VSTRUN_PROBE_CRASH_ON_CALL");
#endif
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_TRUE(failsCleanly(r));
  EXPECT_NE(r.err.find("crashed"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("in processReplacing, block 3 (frames 512 to 767 of 1000)"), std::string::npos) << r.err;
  EXPECT_EQ(vtest::readFile(path("out.wav")), "previous contents");
  EXPECT_EQ(vtest::listDir(dir).size(), 2u);
}

TEST_F(Vstrun, VantorelRecordsAndLoopsThroughTheCommandLine) {
  // Record half a second of a ramp, then loop its start: "Buff Size" 0 and
  // note 60 (speed 1.0) give a loop of 25 samples (loop start 3).
  Wav in;
  in.channels = 2;
  in.rate = 44100;
  in.subtype = SF_FORMAT_FLOAT;
  for (int i = 0; i < 30000; ++i) {
    const float v = i < 3 ? 0.0f : 0.001f * static_cast<float>(i % 97 + 1);
    in.samples.push_back(v);
    in.samples.push_back(v);
  }
  vtest::writeWav(path("in.wav"), in);
  vtest::writeFile(path("auto.json"), R"({"unit": "samples", "keyframes": [{"time": 22050, "param": "Buff Size", "value": 0}]})");
  vtest::writeFile(path("note.mid"), vtest::midiFile(0, 96, {ev(0, {0x90, 60, 100}) + ev(0, {0xFF, 0x2F, 0})}));
  const ProcessResult r = runVstrun({"render", vtest::modulePath(), "-i", path("in.wav"), "-o", path("out.wav"),
                                     "--automation", path("auto.json"), "--midi", path("note.mid")});
  ASSERT_EQ(r.status, 0) << r.err;
  bool ok = false;
  const Wav out = vtest::readWav(path("out.wav"), &ok);
  ASSERT_TRUE(ok);
  for (int64_t i = 0; i < 22050; ++i) ASSERT_FLOAT_EQ(out.at(i, 0), in.at(i, 0)) << i;
  for (int64_t i = 22050; i < out.frames(); ++i) {
    ASSERT_FLOAT_EQ(out.at(i, 0), in.at((i - 22050) % 25, 0)) << i;
    ASSERT_FLOAT_EQ(out.at(i, 1), out.at(i, 0)) << i;
  }
}

TEST(VstHostPlugin, LoadingNamesWhatIsWrongAndNeverCallsABadRecord) {
  vsthost::Host host;
  std::string error;
  EXPECT_FALSE(vsthost::Plugin::load(vtest::fixturePath("NoEntry"), host, &error));
  EXPECT_NE(error.find("exports neither VSTPluginMain nor main"), std::string::npos) << error;
  EXPECT_FALSE(vsthost::Plugin::load(vtest::fixturePath("NullEntry"), host, &error));
  EXPECT_NE(error.find("returned no instance"), std::string::npos) << error;
  EXPECT_FALSE(vsthost::Plugin::load(vtest::fixturePath("Missing"), host, &error));
  EXPECT_NE(error.find("no such file"), std::string::npos) << error;

  // Keep the module loaded so its call counter survives the failed load.
  auto held = vsthost::Module::load(vtest::fixturePath("BadMagic"));
  ASSERT_TRUE(held);
  EXPECT_FALSE(vsthost::Plugin::load(vtest::fixturePath("BadMagic"), host, &error));
  EXPECT_NE(error.find("magic is Nope, not VstP"), std::string::npos) << error;
  auto calls = reinterpret_cast<int (*)()>(held->symbol("dispatcherCalls"));
  ASSERT_NE(calls, nullptr);
  EXPECT_EQ(calls(), 0);

  auto probe = vsthost::Plugin::load(vtest::fixturePath("Probe"), host, &error);
  ASSERT_TRUE(probe) << error;
  EXPECT_EQ(host.effect(), probe->effect());
  EXPECT_EQ(probe->findParameter("Marker"), 1);
  EXPECT_EQ(probe->findParameter("  level "), 0);
  EXPECT_EQ(probe->findParameter("Nope"), -1);
  EXPECT_EQ(probe->programNames(), std::vector<std::string>{"Probe Program"});
  probe->start(48000.0, 64);
  EXPECT_TRUE(host.wantsMidi());  // asked for on effMainsChanged 1
  EXPECT_EQ(host.sampleRate(), 48000.0);
  probe.reset();
  EXPECT_EQ(host.effect(), nullptr);
}

}  // namespace
