// Many instances at once, driven the way a host drives them: the module is
// loaded through its exported entry, every instance is opened, given 48 kHz
// and 64-frame blocks, switched on, and gets its own input and output
// buffers. For each mode it prints the share of one core that one second of
// audio costs, and the ratio to copying the same buffers in the same run.
//
//   bench_scale [--instances N] [--seconds S] [module]
//
// Plain C++ (no benchmark library) so that it runs in every build, under
// qemu and Wine too. CPU time of this thread, so a busy machine shows less.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

#include "host/DAEffectX.h"
#include "support/TestHost.h"
#include "vsthost/Module.h"

namespace {

constexpr int kFrames = 64;
constexpr double kRate = 48000.0;

double threadSeconds() {
#if defined(_WIN32)
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  auto value = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) * 1e-7;
  };
  return value(kernel) + value(user);
#else
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
#endif
}

VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

struct Instance {
  AEffect* effect = nullptr;
  std::vector<float> in[2], out[2];
  float* ins[2];
  float* outs[2];
};

struct Mode {
  const char* name;
  float buffSize;  // 1.0 records
  float speed;
  bool midi;       // notes and bends every few blocks
};

// The events of one block: a note on every 8th block, a bend every 3rd.
void playMidi(AEffect* e, long block, vtest::MidiEvents& notes, vtest::MidiEvents& bends) {
  if (block % 8 == 0) e->dispatcher(e, effProcessEvents, 0, 0, notes.events(), 0.0f);
  if (block % 3 == 0) e->dispatcher(e, effProcessEvents, 0, 0, bends.events(), 0.0f);
}

}  // namespace

int main(int argc, char** argv) {
  int count = 1000;
  double seconds = 3.0;
  std::string path = VANTOREL_MODULE_PATH;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--instances") && i + 1 < argc) count = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = std::atof(argv[++i]);
    else path = argv[i];
  }
  std::string error;
  std::unique_ptr<vsthost::Module> module = vsthost::Module::load(path, &error);
  if (!module) {
    std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  std::vector<Instance> instances(static_cast<size_t>(count));
  for (size_t n = 0; n < instances.size(); ++n) {
    Instance& in = instances[n];
    in.effect = module->instantiate(quietHost);
    if (!in.effect) {
      std::fprintf(stderr, "instance %zu: the entry answered null\n", n);
      return 1;
    }
    AEffect* e = in.effect;
    e->dispatcher(e, effOpen, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
    e->dispatcher(e, effSetBlockSize, 0, kFrames, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    for (int c = 0; c < 2; ++c) {
      in.in[c].resize(kFrames);
      in.out[c].resize(kFrames);
      for (int i = 0; i < kFrames; ++i)
        in.in[c][i] = static_cast<float>(((i + n) * 37 + c * 11) % 101) / 101.0f - 0.5f;
      in.ins[c] = in.in[c].data();
      in.outs[c] = in.out[c].data();
    }
  }

  const long blocks = static_cast<long>(seconds * kRate / kFrames);
  vtest::MidiEvents notes, bends;
  notes.noteOn(0, 67, 100, 5).noteOn(0, 55, 90, 40);
  bends.pitchBend(0, 9000, 17).pitchBend(0, 7000, 50);

  // Copying the same buffers: the least a host pays per instance and block.
  auto copy = [&] {
    const double t0 = threadSeconds();
    for (long b = 0; b < blocks; ++b)
      for (Instance& in : instances) {
        std::memcpy(in.outs[0], in.ins[0], sizeof(float) * kFrames);
        std::memcpy(in.outs[1], in.ins[1], sizeof(float) * kFrames);
      }
    return threadSeconds() - t0;
  };
  auto run = [&](const Mode& m) {
    for (Instance& in : instances) {
      in.effect->setParameter(in.effect, 0, m.buffSize);
      in.effect->setParameter(in.effect, 2, m.speed);
    }
    const double t0 = threadSeconds();
    for (long b = 0; b < blocks; ++b)
      for (Instance& in : instances) {
        AEffect* e = in.effect;
        if (m.midi) playMidi(e, b, notes, bends);
        e->processReplacing(e, in.ins, in.outs, kFrames);
      }
    return threadSeconds() - t0;
  };

  const Mode modes[] = {
      {"record", 1.0f, 0.5f, false},           {"loop 0.6 x0.77", 0.6f, 0.77f, false},
      {"loop 0.05 x1.0", 0.05f, 1.0f, false},  {"loop 0.95 x0.3", 0.95f, 0.3f, false},
      {"loop 0.5 + MIDI", 0.5f, 1.0f, true},
  };
  // A full buffer first, so loops play recorded sound.
  run(Mode{"fill", 1.0f, 0.5f, false});
  const double base = copy();
  std::printf("%d instances, %d-frame blocks at %.0f Hz, %.1f s of audio per mode\n", count, kFrames, kRate,
              blocks * kFrames / kRate);
  std::printf("%-18s %12s %10s\n", "mode", "% of a core", "x copy");
  const double audio = blocks * kFrames / kRate;
  std::printf("%-18s %11.2f%% %9.2fx\n", "copy", 100.0 * base / audio, 1.0);
  for (const Mode& m : modes) {
    const double t = run(m);
    std::printf("%-18s %11.2f%% %9.2fx\n", m.name, 100.0 * t / audio, base > 0.0 ? t / base : 0.0);
  }
  for (Instance& in : instances) in.effect->dispatcher(in.effect, effClose, 0, 0, nullptr, 0.0f);
  return 0;
}
