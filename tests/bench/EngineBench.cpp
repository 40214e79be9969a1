// Cost of the looper per sample, through the module's record, against a
// baseline in the same run: memcpy of both channels, the least any plug-in
// that passes audio through does. Prints ns per sample and the ratios
// (targets: loop, steady or with its speed changing every block, at most 2x
// record; denormal input at most 1.2x normal input).
#include <benchmark/benchmark.h>

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/DAEffectX.h"
#include "vsthost/Module.h"

namespace {

VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

std::unique_ptr<vsthost::Module> gModule;

struct Block {
  explicit Block(int frames, float fill) : inL(frames, fill), inR(frames, fill), outL(frames), outR(frames) {
    ins[0] = inL.data();
    ins[1] = inR.data();
    outs[0] = outL.data();
    outs[1] = outR.data();
  }
  std::vector<float> inL, inR, outL, outR;
  float* ins[2];
  float* outs[2];
};

void fillSignal(Block& b, bool denormal) {
  for (size_t i = 0; i < b.inL.size(); ++i) {
    const float v = static_cast<float>((i * 37) % 101) / 101.0f - 0.5f;
    b.inL[i] = denormal ? v * FLT_MIN * 0.5f : v;
    b.inR[i] = denormal ? -v * FLT_MIN * 0.25f : 0.5f * v;
  }
}

__attribute__((noinline)) void baselineBlock(float** in, float** out, int frames) {
  std::memcpy(out[0], in[0], sizeof(float) * static_cast<size_t>(frames));
  std::memcpy(out[1], in[1], sizeof(float) * static_cast<size_t>(frames));
}


void BM_Baseline(benchmark::State& state) {
  const int frames = static_cast<int>(state.range(0));
  Block b(frames, 0.0f);
  fillSignal(b, false);
  for (auto _ : state) {
    baselineBlock(b.ins, b.outs, frames);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * frames);
}

enum class Mode { kRecord, kLoop, kLoopChangingSpeed };

void runPlugin(benchmark::State& state, Mode mode, bool denormal) {
  const int frames = static_cast<int>(state.range(0));
  AEffect* e = gModule->instantiate(quietHost);
  if (!e) {
    state.SkipWithError("no instance");
    return;
  }
  Block b(frames, 0.0f);
  fillSignal(b, denormal);
  // Fill the buffer once, then loop a long stretch of it at an uneven speed.
  for (int i = 0; i < 22050 / frames + 1; ++i) e->processReplacing(e, b.ins, b.outs, frames);
  if (mode != Mode::kRecord) {
    e->setParameter(e, 0, 0.6f);
    e->setParameter(e, 2, 0.77f);
  }
  // A new speed every block, as an automation curve or a bend would give.
  const float speeds[] = {0.77f, 0.5f, 1.0f / 3.0f, 0.91f, 0.25f, 1.0f, 0.6180339f, 0.1f};
  unsigned block = 0;
  for (auto _ : state) {
    if (mode == Mode::kLoopChangingSpeed) e->setParameter(e, 2, speeds[block++ % 8]);
    e->processReplacing(e, b.ins, b.outs, frames);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * frames);
  e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}

void BM_Record(benchmark::State& state) { runPlugin(state, Mode::kRecord, false); }
void BM_Loop(benchmark::State& state) { runPlugin(state, Mode::kLoop, false); }
void BM_LoopChangingSpeed(benchmark::State& state) { runPlugin(state, Mode::kLoopChangingSpeed, false); }
void BM_RecordDenormalInput(benchmark::State& state) { runPlugin(state, Mode::kRecord, true); }

BENCHMARK(BM_Baseline)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(BM_Record)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(BM_Loop)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(BM_LoopChangingSpeed)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(BM_RecordDenormalInput)->Arg(32)->Arg(512)->Arg(4096);

// Keeps the time per sample of every run for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.iterations == 0 || r.error_occurred) continue;
      const std::string name = r.benchmark_name();
      const size_t slash = name.rfind('/');
      const double frames = std::stod(name.substr(slash + 1));
      perSample[name] = r.GetAdjustedCPUTime() / frames;  // ns; CPU time resists a busy machine
    }
  }
  std::map<std::string, double> perSample;
};

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  gModule = vsthost::Module::load(VANTOREL_MODULE_PATH, &error);
  if (!gModule) {
    std::fprintf(stderr, "cannot load %s: %s\n", VANTOREL_MODULE_PATH, error.c_str());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-6s %10s %10s %10s %10s %10s %9s %9s %9s %9s\n", "frames", "memcpy", "record", "loop",
              "loop-chg", "rec-denorm", "record/b", "loop/rec", "chg/rec", "den/rec");
  for (int frames : {32, 512, 4096}) {
    const std::string arg = "/" + std::to_string(frames);
    auto at = [&](const char* name) {
      auto it = reporter.perSample.find(std::string(name) + arg);
      return it == reporter.perSample.end() ? 0.0 : it->second;
    };
    const double base = at("BM_Baseline"), rec = at("BM_Record"), loop = at("BM_Loop"),
                 chg = at("BM_LoopChangingSpeed"), den = at("BM_RecordDenormalInput");
    if (base <= 0.0 || rec <= 0.0) continue;
    std::printf("%-6d %7.3f ns %7.3f ns %7.3f ns %7.3f ns %7.3f ns %8.2fx %8.2fx %8.2fx %8.2fx\n", frames, base,
                rec, loop, chg, den, rec / base, loop / rec, chg / rec, den / rec);
  }
  benchmark::Shutdown();
  gModule.reset();
  return 0;
}
