// vstrun with plug-ins that no one here wrote: Debian's packaged Linux VST 2
// effects (dpf-plugins-vst, lsp-plugins-vst, zam-plugins), loaded as black
// boxes, and their editors on X11. A plug-in whose package is absent is
// skipped.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ostream>
#include <string>
#include <nlohmann/json.hpp>
#include <sndfile.h>

#include "VstrunProcess.h"
#include "editor/EditorTestSupport.h"

namespace {

struct RealPlugin {
  const char* path;
  const char* name;  // effGetEffectName
};

// Test listings show a parameter by its name; the default printer shows the
// struct's bytes, pointers that change from run to run.
void PrintTo(const RealPlugin& p, std::ostream* os) { *os << p.name; }

// Effects that run headless (no editor is opened).
const RealPlugin kPlugins[] = {
    {"/usr/lib/vst/MaFreeverb-vst.so", "MaFreeverb"},
    {"/usr/lib/vst/lsp-plugins/comp-delay-stereo.so", "Delay Compensator Stereo"},
    {"/usr/lib/vst/ZamDelay-vst.so", "ZamDelay"},
};

class RealPlugins : public ::testing::TestWithParam<RealPlugin> {};

TEST_P(RealPlugins, InfoAndRenderWork) {
  const RealPlugin& p = GetParam();
  if (!vtest::fileExists(p.path)) GTEST_SKIP() << p.path << " is not installed";
  const std::string dir = vtest::scratchDir(std::string("real-") + p.name);

  const vtest::ProcessResult info = vtest::runVstrun({"info", p.path, "--json"});
  ASSERT_EQ(info.status, 0) << info.err;
  const auto j = nlohmann::json::parse(info.out);  // plug-ins' own prints must not spoil it
  EXPECT_EQ(j["name"], p.name);
  EXPECT_GE(j["outputs"].size(), 1u);
  ASSERT_GE(j["parameters"].size(), 1u);
  const std::string firstParam = j["parameters"][0]["name"];

  // One second of a decaying tone, then the plug-in's tail.
  vtest::Wav in;
  in.channels = 2;
  in.rate = 44100;
  in.subtype = SF_FORMAT_PCM_24;
  for (int i = 0; i < 44100; ++i) {
    const float s = 0.5f * std::sin(2.0f * 3.14159265f * 440.0f * i / 44100.0f) * std::exp(-3.0f * i / 44100.0f);
    in.samples.push_back(s);
    in.samples.push_back(s);
  }
  vtest::writeWav(dir + "/in.wav", in);
  const vtest::ProcessResult r = vtest::runVstrun({"render", p.path, "-i", dir + "/in.wav", "-o", dir + "/out.wav",
                                                   "--tail", "0.5", "--param", firstParam + "=0.5"});
  ASSERT_EQ(r.status, 0) << r.err;
  bool ok = false;
  const vtest::Wav out = vtest::readWav(dir + "/out.wav", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(out.rate, 44100);
  EXPECT_EQ(out.subtype, SF_FORMAT_PCM_24);
  EXPECT_EQ(out.frames(), 44100 + 22050);
  double energy = 0;
  for (float s : out.samples) {
    ASSERT_TRUE(std::isfinite(s));
    energy += static_cast<double>(s) * s;
  }
  EXPECT_GT(energy, 0.0) << "the plug-in made only silence of a tone";
}

std::string testName(const ::testing::TestParamInfo<RealPlugin>& info) {
  std::string n;
  for (const char* c = info.param.name; *c; ++c)
    if (std::isalnum(static_cast<unsigned char>(*c))) n += *c;
  return n;
}

INSTANTIATE_TEST_SUITE_P(Debian, RealPlugins, ::testing::ValuesIn(kPlugins), testName);

// Editors of two toolkits (LSP's own on X11, DPF's on OpenGL), opened on the
// test run's X display with a parameter at either end.
struct RealEditor {
  const char* path;
  const char* name;
  const char* parameter;
};
void PrintTo(const RealEditor& p, std::ostream* os) { *os << p.name; }

const RealEditor kEditors[] = {
    {"/usr/lib/vst/lsp-plugins/comp-delay-stereo.so", "LspDelayCompensator", "dry"},
    {"/usr/lib/vst/ZamComp-vst.so", "ZamComp", "Attack"},
};

class RealEditors : public ::testing::TestWithParam<RealEditor> {};

TEST_P(RealEditors, OpenOnX11AndShowTheParametersSet) {
  const RealEditor& p = GetParam();
  if (!vtest::fileExists(p.path)) GTEST_SKIP() << p.path << " is not installed";
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display (run under Xvfb)";
  const std::string dir = vtest::scratchDir(std::string("editor-") + p.name);
  toolkit::Picture pictures[2];
  for (int v = 0; v < 2; ++v) {
    const std::string shot = dir + "/" + std::to_string(v) + ".png";
    const vtest::ProcessResult r = vtest::runVstrun({"editor", p.path, "--seconds", "1", "--param",
                                                     std::string(p.parameter) + "=" + std::to_string(v),
                                                     "--screenshot", shot});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("vstrun: warning"), std::string::npos) << r.err;  // X errors among them
    pictures[v] = etest::readPng(shot);
    ASSERT_FALSE(pictures[v].empty()) << shot;
  }
  EXPECT_GE(pictures[0].width(), 100);
  EXPECT_GE(pictures[0].height(), 50);
  EXPECT_GT(etest::differences(pictures[0], pictures[1]), 0) << "the editor does not show the parameter vstrun set";
}

INSTANTIATE_TEST_SUITE_P(Debian, RealEditors, ::testing::ValuesIn(kEditors),
                         [](const ::testing::TestParamInfo<RealEditor>& info) { return std::string(info.param.name); });

}  // namespace
