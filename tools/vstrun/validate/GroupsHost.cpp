// realtime, threads, editor, lifecycle: how the plug-in lives in a host.
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "validate/Checks.h"
#include "validate/Groups.h"
#include "validate/Growth.h"
#include "validate/Intercept.h"
#include "validate/ParentWindow.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

namespace validate {

namespace {

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Processes blocks on a thread of its own until stopped; with midi, each
// block comes after a list of a note and a controller, as hosts send them.
class AudioThread {
 public:
  explicit AudioThread(Instance& inst, bool midi = false) : inst_(inst) {
    thread_ = std::thread([this, midi] {
      AudioBuffers in(inst_.effect()->numInputs, 256), out(inst_.effect()->numOutputs, 256);
      std::mt19937 rng(3);
      EventList events;
      while (!stop_.load()) {
        if (midi) {
          events.clear();
          events.addMidi(0, 0xB0, 7, static_cast<unsigned char>(rng() % 128));
          events.addMidi(static_cast<int>(rng() % 256), 0x90, static_cast<unsigned char>(rng() % 128), 100);
          inst_.dispatch(effProcessEvents, 0, 0, events.events());
        }
        fillNoise(in, 256, rng);
        inst_.process(in, out, 256);
        if (!firstNonFinite(out, 256).empty()) nonFinite_.store(true);
        blocks_.fetch_add(1);
      }
    });
  }
  ~AudioThread() { join(); }
  void join() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  long blocks() const { return blocks_.load(); }
  bool nonFinite() const { return nonFinite_.load(); }

 private:
  Instance& inst_;
  std::atomic<bool> stop_{false}, nonFinite_{false};
  std::atomic<long> blocks_{0};
  std::thread thread_;
};

struct Usage {
  long rssKiB = -1, handles = -1;
};

Usage usage() {
  Usage u;
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS pmc{};
  if (GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)) u.rssKiB = static_cast<long>(pmc.WorkingSetSize / 1024);
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count)) u.handles = static_cast<long>(count);
#else
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    long size = 0, resident = 0;
    if (std::fscanf(f, "%ld %ld", &size, &resident) == 2) u.rssKiB = resident * (sysconf(_SC_PAGESIZE) / 1024);
    std::fclose(f);
  }
  if (DIR* d = opendir("/proc/self/fd")) {
    long n = 0;
    while (readdir(d)) ++n;
    closedir(d);
    u.handles = n;
  }
#endif
  return u;
}

bool editorOpen(Instance& inst, ParentWindow& parent) {
  return inst.dispatch(effEditOpen, 0, 0, parent.handle()) != 0;
}

// X errors are a WARN: a host with an error handler of its own (most have
// one) goes on, one without exits.
void warnWindowErrors(const std::string& errors, Report& report, const char* group) {
  if (!errors.empty())
    report.warn(format("%s: the editor caused %s; a host without an X error handler of its own exits", group,
                       errors.c_str()));
}

bool rectSize(Instance& inst, int* w, int* h) {
  ERect* rect = nullptr;
  inst.dispatch(effEditGetRect, 0, 0, &rect);
  if (!rect) return false;
  *w = rect->right - rect->left;
  *h = rect->bottom - rect->top;
  return true;
}

}  // namespace

void checkRealtime(const Options& o, Report& report) {
  if (!report.begin("realtime.audio-thread")) return;
  if (!rt::available()) {
    report.warn("realtime: allocations, locks and system calls on the audio thread are not watched in this build");
    return;
  }
  rt::begin();
  Instance inst(o.module);
  AEffect* e = inst.effect();
  inst.plugin->start(44100.0, 512);
  rt::watch();
  AudioBuffers in(e->numInputs, 512), out(e->numOutputs, 512);
  std::mt19937 rng = report.rng();
  EventList events;
  // Each block through the entry hosts call: process (on zeroed outputs)
  // only for a plug-in that cannot replace.
  const char* entry = hostsEntryName(e);
  constexpr int kWarmUp = 4, kBlocks = 200;
  long early = 0;
  std::string firstLate;
  for (int b = 0; b < kWarmUp + kBlocks; ++b) {
    events.clear();  // in time order, as hosts send them
    if (b % 7 == 0) events.addMidi(0, 0xB0, 1, static_cast<unsigned char>(b % 128));
    events.addMidi(b % 512, b % 3 ? 0x90 : 0x80, static_cast<unsigned char>(48 + b % 24), 100);
    VstEvents* list = events.events();
    fillNoise(in, 512, rng);
    report.step(format("audio calls of block %d", b));
    rt::reset();
    const char* where = "effProcessEvents";
    rt::setAudioThread(true);
    vsthost::dispatch(e, effProcessEvents, 0, 0, list);
    const long afterEvents = rt::allocations() + rt::locks() + rt::systemCalls();
    inst.process(in, out, 512);
    rt::setAudioThread(false);
    const long total = rt::allocations() + rt::locks() + rt::systemCalls();
    if (!total) continue;
    if (afterEvents == 0) where = entry;
    if (b < kWarmUp) {
      early += total;
    } else if (firstLate.empty()) {
      firstLate = format("%s in block %d: %ld allocations, %ld locks, %ld system calls (first: %s)", where, b,
                         rt::allocations(), rt::locks(), rt::systemCalls(), rt::first().c_str());
    }
  }
  for (const std::string& slot : rt::notWatched()) report.warn("realtime: not watched: " + slot);
  if (!firstLate.empty()) report.fail("realtime: " + firstLate);
  else if (early)
    report.warn(format("realtime: %ld allocations, locks or system calls in the first %d blocks only", early, kWarmUp));
  else
    report.pass(format("realtime: no allocation, lock or system call in %d blocks of effProcessEvents and %s",
                       kWarmUp + kBlocks, entry));
}

void checkThreads(const Options& o, Report& report) {
  if (!report.begin("threads.concurrent")) return;
  Instance inst(o.module);
  AEffect* e = inst.effect();
  inst.plugin->start(44100.0, 256);
  const bool editor = (e->flags & effFlagsHasEditor) != 0;
  report.step("parameters and programs from a second thread while a first processes with MIDI");
  std::atomic<bool> stop{false};
  std::atomic<long> calls{0}, idles{0};
  std::atomic<bool> opened{false};
  std::string windowErrors;
  {
    AudioThread audio(inst, true);
    std::thread control([&] {
      std::mt19937 rng(static_cast<unsigned>(o.seed));
      while (!stop.load()) {
        if (e->numParams > 0) {
          const VstInt32 i = static_cast<VstInt32>(rng() % static_cast<unsigned>(e->numParams));
          e->setParameter(e, i, static_cast<float>(rng() % 1001) / 1000.0f);
          (void)e->getParameter(e, i);
          GuardedBuffer text;
          vsthost::dispatch(e, effGetParamDisplay, i, 0, text.data());
        }
        if (e->numPrograms > 0) vsthost::dispatch(e, effSetProgram, 0, static_cast<VstIntPtr>(rng() % e->numPrograms));
        calls.fetch_add(1);
      }
    });
    std::thread ui([&] {
      // The editor lives on this third thread: opened, idled and closed here.
      std::unique_ptr<ParentWindow> parent;
      bool open = false;
      if (editor) {
        parent.reset(new ParentWindow);
        if (parent->valid()) open = vsthost::dispatch(e, effEditOpen, 0, 0, parent->handle()) != 0;
      }
      opened.store(open);
      while (!stop.load()) {
        if (open) vsthost::dispatch(e, effEditIdle);
        if (parent) parent->pump();
        idles.fetch_add(1);
        sleepMs(10);
      }
      if (open) vsthost::dispatch(e, effEditClose);
      if (parent) windowErrors = parent->errors();
    });
    // Time alone proves nothing on a busy machine: go on until each thread
    // has done some rounds as well, within a ceiling.
    sleepMs(200 * o.level);
    for (int waited = 0; waited < 10000 && (calls.load() < 20 || idles.load() < 5 || audio.blocks() < 20); waited += 10)
      sleepMs(10);
    stop.store(true);
    control.join();
    ui.join();
    audio.join();
    if (audio.nonFinite()) report.fail("threads: non-finite output while another thread changed parameters");
    else
      report.pass(format("threads: %ld blocks processed with MIDI while a second thread made %ld rounds of parameter "
                         "and program calls%s",
                         audio.blocks(), calls.load(),
                         opened.load() ? format(" and a third idled the editor %ld times", idles.load()).c_str() : ""));
    warnWindowErrors(windowErrors, report, "threads");
  }
}

namespace {

void rectBeforeOpening(Instance& inst, ParentWindow& parent, Report& report) {
  int w = 0, h = 0;
  report.step("effEditGetRect before opening");
  if (!rectSize(inst, &w, &h))
    report.warn("editor: effEditGetRect before opening gives no rectangle; hosts size their window by it");
  else if (w <= 0 || h <= 0 || w > 8192 || h > 8192)
    report.warn(format("editor: effEditGetRect before opening gives %d x %d", w, h));
  else report.pass(format("editor: effEditGetRect before opening gives %d x %d", w, h));
  warnWindowErrors(parent.errors(), report, "editor");
}

// The user sees no editor, but the host and the audio do not suffer.
void openAndClose(Instance& inst, ParentWindow& parent, Report& report) {
  int opened = 0, sized = 0, w = 0, h = 0;
  for (int round = 0; round < 20; ++round) {
    report.step(format("effEditOpen, round %d", round));
    const bool ok = editorOpen(inst, parent);
    opened += ok;
    if (rectSize(inst, &w, &h) && w > 0 && h > 0) ++sized;
    for (int i = 0; i < 5; ++i) {
      inst.dispatch(effEditIdle);
      parent.pump();
    }
    report.step(format("effEditClose, round %d", round));
    inst.dispatch(effEditClose);
    parent.pump();
  }
  if (!opened) report.warn("editor: effEditOpen on a real parent window answered 0 in all 20 rounds");
  else if (opened < 20) report.warn(format("editor: effEditOpen succeeded in %d of 20 rounds", opened));
  else report.pass("editor: opened, idled and closed 20 times on a real parent window");
  if (sized < opened) report.warn("editor: effEditGetRect gives no size while the editor is open");
  else report.pass("editor: effEditGetRect gives a size while the editor is open");
  warnWindowErrors(parent.errors(), report, "editor");
}

void openWhileProcessing(Instance& inst, ParentWindow& parent, Report& report) {
  AudioThread audio(inst);
  for (int round = 0; round < 5; ++round) {
    report.step(format("editor open and close while another thread processes, round %d", round));
    if (editorOpen(inst, parent)) {
      for (int i = 0; i < 5; ++i) {
        inst.dispatch(effEditIdle);
        parent.pump();
        sleepMs(5);
      }
      inst.dispatch(effEditClose);
    }
  }
  audio.join();
  if (audio.nonFinite()) report.fail("editor: non-finite output while the editor opened and closed");
  else report.pass(format("editor: opened and closed 5 times while another thread processed %ld blocks",
                          audio.blocks()));
  warnWindowErrors(parent.errors(), report, "editor");
}

}  // namespace

void checkEditor(const Options& o, Report& report) {
  Instance inst(o.module);
  if (!(inst.effect()->flags & effFlagsHasEditor)) {
    report.check("editor.open-close", [&] { report.pass("editor: the plug-in announces no editor; nothing to check"); });
    return;
  }
  // Hosts ask for the rectangle only when they are about to open the editor
  // on their display.
  ParentWindow parent;
  if (!parent.valid()) {
    report.check("editor.rect-before",
                 [&] { report.warn("editor: effEditGetRect before opening not checked: " + parent.why()); });
    report.check("editor.open-close", [&] { report.warn("editor: not opened: " + parent.why()); });
    return;
  }
  report.check("editor.rect-before", [&] { rectBeforeOpening(inst, parent, report); });
  if (!selected("editor.open-close", o.only, o.skip) && !selected("editor.while-processing", o.only, o.skip)) return;
  inst.plugin->start(44100.0, 256);
  report.check("editor.open-close", [&] { openAndClose(inst, parent, report); });
  report.check("editor.while-processing", [&] { openWhileProcessing(inst, parent, report); });
}

namespace {

// A plug-in that keeps something of every instance after it is closed
// grows a long session's host without bound: growth sustained over the last
// half of the cycles is a fault, a one-time growth is worth a look.
constexpr double kRssBoundKiBPerCycle = 256;
constexpr double kHandleBoundPerCycle = 0.5;
constexpr long kRssWarnKiB = 16 * 1024, kHandleWarn = 4;

// What grew, cycle after cycle, in one of two kinds of cycle: an instance
// opened and closed while the module stays loaded, and the module loaded
// and unloaded. Telling them apart says whether the plug-in keeps memory of
// each instance or each load (a library that never frees what it set up).
struct Series {
  std::vector<long> rss, handles;
};

struct Kind {
  const char* name;
  const std::vector<long>& series;
};

std::string describeSeries(const Kind& k, const char* unit, double bound, Growth& g, long& total) {
  const auto& s = k.series;
  const size_t settled = s.size() > 5 ? 5 : 0;  // after the libraries the plug-in pulls in have settled
  total = s.back() - s[settled];
  g = judgeGrowth(s, bound);
  return format("%s: %ld %s after cycle %zu, %ld %s after cycle %zu, %.1f %s per cycle over the last half", k.name,
                s[settled], unit, settled + 1, s.back(), unit, s.size(), g.perCycle, unit);
}

void judgeSeries(Report& report, const char* what, const char* unit, const Kind& instances, const Kind& loads,
                 double bound, long warnAbove) {
  Growth gi, gl;
  long ti = 0, tl = 0;
  const std::string seen = describeSeries(instances, unit, bound, gi, ti) + "; " +
                           describeSeries(loads, unit, bound, gl, tl);
  const int cycles = static_cast<int>(instances.series.size());
  if (gi.sustained || gl.sustained) {
    // Every load cycle holds an instance cycle too: a load grows on its own
    // only by what it adds to the instance's growth.
    const bool perLoad = gl.sustained && (!gi.sustained || gl.perCycle - gi.perCycle > bound);
    const char* which = !gi.sustained ? "per load" : perLoad ? "per instance and per load" : "per instance";
    report.fail(format("lifecycle: leaks: %s %s; %s (bound: %g %s per cycle, sustained over the last half of %d "
                       "cycles)",
                       what, which, seen.c_str(), bound, unit, cycles));
  } else if (ti > warnAbove || tl > warnAbove) {
    report.warn(format("lifecycle: grows: %s %s; %s (bound: %ld %s in all)", what,
                       ti > warnAbove ? "per instance" : "per load", seen.c_str(), warnAbove, unit));
  } else {
    report.pass(format("lifecycle: %d cycles of open, start, process, stop, close in a loaded module and %d of load, "
                       "open, ..., unload; %s: %s",
                       cycles, static_cast<int>(loads.series.size()), what, seen.c_str()));
  }
}

// Resident memory and open handles after each of 20 x level cycles of an
// instance: with keepLoaded another instance holds the module loaded, so
// the module is mapped and set up only once; without it every cycle loads
// and unloads the module.
void cycles(const Options& o, Report& report, bool keepLoaded, Series& series) {
  const int count = 20 * o.level;
  std::unique_ptr<Instance> holder;
  if (keepLoaded) holder.reset(new Instance(o.module));
  for (int c = 0; c < count; ++c) {
    report.step(format("%s cycle %d", keepLoaded ? "instance" : "load", c));
    {
      Instance inst(o.module);
      AEffect* e = inst.effect();
      inst.plugin->start(44100.0, 256);
      AudioBuffers in(e->numInputs, 256), out(e->numOutputs, 256);
      in.fill(0.1f);
      for (int b = 0; b < 4; ++b) inst.process(in, out, 256);
    }
    const Usage u = usage();
    series.rss.push_back(u.rssKiB);
    series.handles.push_back(u.handles);
  }
}

void closeWithEditorOpen(const Options& o, Report& report) {
  report.step("effClose with the editor open");
  Instance inst(o.module);
  if (!(inst.effect()->flags & effFlagsHasEditor)) return;
  ParentWindow parent;
  if (!parent.valid()) {
    report.warn("lifecycle: effClose with the editor open not checked: " + parent.why());
    return;
  }
  const bool open = editorOpen(inst, parent);
  if (open) inst.dispatch(effEditIdle);
  inst.plugin.reset();  // stops, closes, unloads: no effEditClose first
  parent.pump();
  report.pass(std::string("lifecycle: effClose with the editor ") + (open ? "open" : "(which did not open)") +
              " is harmless");
  warnWindowErrors(parent.errors(), report, "lifecycle");
}

}  // namespace

void checkLifecycle(const Options& o, Report& report) {
  const char* const kInstances = "instance cycles (open to close, the module kept loaded)";
  const char* const kLoads = "load cycles (load to unload)";
  Series instances, loads;
  auto measure = [&] {
    if (!loads.rss.empty()) return;
    instances = Series();
    cycles(o, report, true, instances);
    cycles(o, report, false, loads);
  };
  report.check("lifecycle.memory", [&] {
    measure();
    judgeSeries(report, "resident memory", "KiB", {kInstances, instances.rss}, {kLoads, loads.rss},
                kRssBoundKiBPerCycle, kRssWarnKiB);
  });
  report.check("lifecycle.handles", [&] {
    measure();
    judgeSeries(report, "open files or handles", "handles", {kInstances, instances.handles},
                {kLoads, loads.handles}, kHandleBoundPerCycle, kHandleWarn);
  });
  report.check("lifecycle.close-with-editor", [&] { closeWithEditorOpen(o, report); });
}

}  // namespace validate
