// vstrun: a command-line VST 2 host.
//   vstrun info MODULE [--json]                what a host sees in an instance
//   vstrun render MODULE -i IN.wav -o OUT.wav  audio through the plug-in
//   vstrun editor MODULE [--screenshot F.png]  the plug-in's editor in a window (Win32, X11)
//   vstrun validate MODULE [--level N]         the abuse real hosts inflict
// docs/vstrun.md has the details and examples.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "CrashGuard.h"
#include "Editor.h"
#include "InfoPrinter.h"
#include "render/AudioFile.h"
#include "render/Automation.h"
#include "render/CallSite.h"
#include "render/MidiFile.h"
#include "render/Render.h"
#include "validate/Validate.h"
#include "vsthost/Files.h"
#include "vsthost/Plugin.h"

#ifdef _WIN32
#include <io.h>
#define vstrun_isatty _isatty
#define vstrun_fileno _fileno
#define vstrun_dup _dup
#define vstrun_dup2 _dup2
#define vstrun_fdopen _fdopen
#define vstrun_close _close
#else
#include <unistd.h>
#define vstrun_isatty isatty
#define vstrun_fileno fileno
#define vstrun_dup dup
#define vstrun_dup2 dup2
#define vstrun_fdopen fdopen
#define vstrun_close close
#endif

namespace {

// What vstrun prints as its result. Plug-ins print to stdout too (debug
// noise), which would spoil JSON or a script's parsing; so the real stdout
// is kept for us here and the process's stdout goes to stderr.
std::FILE* gOut = stdout;

void keepStdoutForUs() {
  std::fflush(stdout);
  const int fd = vstrun_dup(vstrun_fileno(stdout));
  if (fd < 0) return;
  std::FILE* f = vstrun_fdopen(fd, "w");
  if (!f) {
    vstrun_close(fd);
    return;
  }
  vstrun_dup2(vstrun_fileno(stderr), vstrun_fileno(stdout));
  gOut = f;
}

std::atomic<bool> gInterrupted{false};
extern "C" void onInterrupt(int) { gInterrupted.store(true); }

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::unique_ptr<vsthost::Plugin> loadPlugin(const std::string& path, vsthost::Host& host) {
  std::string error;
  std::unique_ptr<vsthost::Plugin> plugin = vsthost::Plugin::load(path, host, &error);
  if (!plugin) throw Failure(error);
  return plugin;
}

// --param KEY=VALUE: KEY is an index or a parameter's name.
struct ParamSetting {
  VstInt32 index;
  float value;
};

ParamSetting resolveParam(const vsthost::Plugin& plugin, const std::string& setting) {
  const size_t eq = setting.rfind('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == setting.size())
    throw Failure("--param \"" + setting + "\": expected INDEX=VALUE or NAME=VALUE");
  const std::string key = setting.substr(0, eq), text = setting.substr(eq + 1);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(value >= 0.0 && value <= 1.0))
    throw Failure("--param \"" + setting + "\": the value must be a number from 0 to 1");
  const VstInt32 n = plugin.numParams();
  if (key.find_first_not_of("0123456789") == std::string::npos) {
    const long index = key.size() <= 9 ? std::strtol(key.c_str(), nullptr, 10) : -1;
    if (index < 0 || index >= n)
      throw Failure("--param \"" + setting + "\": parameter " + key + " does not exist (the plug-in has " +
                    std::to_string(n) + ")");
    return {static_cast<VstInt32>(index), static_cast<float>(value)};
  }
  const VstInt32 index = plugin.findParameter(key);
  if (index < 0) {
    std::string names;
    for (VstInt32 i = 0; i < n && i < 40; ++i) names += (i ? ", " : "") + ("\"" + plugin.parameterName(i) + "\"");
    throw Failure("--param \"" + setting + "\": the plug-in has no parameter named \"" + key + "\"" +
                  (n > 0 ? " (it has " + names + (n > 40 ? ", ..." : "") + ")" : " (it has none)"));
  }
  return {index, static_cast<float>(value)};
}

void applyParams(vsthost::Plugin& plugin, const std::vector<std::string>& specs, bool verbose) {
  std::vector<ParamSetting> settings;
  for (const std::string& s : specs) settings.push_back(resolveParam(plugin, s));  // all checked before any is set
  for (const ParamSetting& p : settings) {
    plugin.setParameter(p.index, p.value);
    if (verbose)
      std::fprintf(stderr, "vstrun: parameter %d (%s) = %g\n", static_cast<int>(p.index),
                   plugin.parameterName(p.index).c_str(), static_cast<double>(p.value));
  }
}

// ---------------------------------------------------------------- info

int runInfo(const std::string& path, bool json) {
  vsthost::Host host;
  auto plugin = loadPlugin(path, host);
  const vsthost::FullInfo info = vsthost::queryFullInfo(*plugin);
  if (json) vstrun::printInfoJson(gOut, path, plugin->module().entryName(), info);
  else vstrun::printInfoText(gOut, path, plugin->module().entryName(), info);
  return 0;
}

// ---------------------------------------------------------------- render

class FileSource : public vstrun::AudioSource {
 public:
  explicit FileSource(vstrun::AudioReader& r) : r_(r) {}
  int channels() const override { return r_.channels(); }
  double sampleRate() const override { return r_.sampleRate(); }
  int64_t frames() const override { return r_.frames(); }
  int64_t read(float* interleaved, int64_t frames) override { return r_.read(interleaved, frames); }

 private:
  vstrun::AudioReader& r_;
};

class FileSink : public vstrun::AudioSink {
 public:
  explicit FileSink(vstrun::AudioWriter& w) : w_(w) {}
  void write(const float* interleaved, int64_t frames) override { w_.write(interleaved, frames); }

 private:
  vstrun::AudioWriter& w_;
};

// A progress bar on stderr, for terminals only, once a render has taken
// long enough to be worth watching.
class Progress {
 public:
  Progress() : enabled_(vstrun_isatty(vstrun_fileno(stderr)) != 0), start_(std::chrono::steady_clock::now()) {}
  void update(int64_t done, int64_t total) {
    if (!enabled_ || total <= 0) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (!shown_ && elapsed < 0.5) return;
    const int permille = static_cast<int>(done * 1000 / total);
    if (shown_ && permille == last_) return;
    last_ = permille;
    shown_ = true;
    constexpr int kWidth = 40;
    const int filled = permille * kWidth / 1000;
    std::fprintf(stderr, "\r[%.*s%*s] %5.1f%%", filled, "########################################", kWidth - filled, "",
                 permille / 10.0);
    std::fflush(stderr);
  }
  void finish() {
    if (shown_) std::fprintf(stderr, "\r%*s\r", 50, "");
    shown_ = false;
  }
  ~Progress() { finish(); }

 private:
  bool enabled_;
  bool shown_ = false;
  int last_ = -1;
  std::chrono::steady_clock::time_point start_;
};

struct RenderArgs {
  std::string module, input, output, automation, midi, format;
  std::vector<std::string> params;
  int blockSize = 512;
  bool accumulate = false;
  double tail = 0.0;
  int channels = 0;
  double tempo = 120.0;
  bool verbose = false, quiet = false;
};

// The numbers of a render, checked before anything is read or loaded.
vstrun::SampleFormat checkRenderArgs(const RenderArgs& a) {
  if (a.blockSize < 1 || a.blockSize > 1 << 20) throw Failure("--block-size must be from 1 to 1048576");
  if (!(a.tail >= 0.0 && a.tail <= 3600.0)) throw Failure("--tail must be from 0 to 3600 seconds");
  if (!(a.tempo > 0.0 && a.tempo <= 1000.0)) throw Failure("--tempo must be above 0 and at most 1000");
  if (a.format.empty()) return vstrun::SampleFormat::Other;
  try {
    return vstrun::parseSampleFormat(a.format);
  } catch (const std::runtime_error& e) {
    throw Failure(std::string("--format: ") + e.what());
  }
}

// The files a render reads: checked cheaply before the plug-in loads and
// long before anything is written.
struct RenderInputs {
  vstrun::AudioReader reader;
  std::vector<vstrun::TimedMidi> midi;
  vstrun::AutomationFile automation;
  explicit RenderInputs(const RenderArgs& a) : reader(a.input) {
    if (!a.midi.empty()) midi = vstrun::readMidiFile(a.midi);
    if (!a.automation.empty()) automation = vstrun::readAutomation(a.automation);
  }
};

// The output's channels: --channels, or what the input and the plug-in's
// outputs suggest.
int renderChannels(const RenderArgs& a, int inputChannels, int numOut) {
  if (numOut < 1) throw Failure(a.module + ": the plug-in has no outputs to render");
  const int channels = a.channels != 0 ? a.channels : vstrun::outputChannelsFor(inputChannels, numOut);
  if (channels < 1 || channels > numOut)
    throw Failure("--channels must be from 1 to " + std::to_string(numOut) + " (the plug-in's outputs)");
  return channels;
}

void printRenderSummary(const RenderArgs& a, const vstrun::AudioWriter& writer, const vstrun::RenderStats& stats,
                        int channels, double rate) {
  if (writer.nonFiniteSamples() > 0)
    std::fprintf(stderr, "vstrun: warning: the plug-in produced %lld non-finite samples, written as 0\n",
                 static_cast<long long>(writer.nonFiniteSamples()));
  if (a.verbose)
    std::fprintf(stderr, "vstrun: %lld %s calls, %lld MIDI messages, %lld automation changes\n",
                 static_cast<long long>(stats.calls), stats.usedAccumulating ? "process" : "processReplacing",
                 static_cast<long long>(stats.midiDelivered), static_cast<long long>(stats.parameterSets));
  if (!a.quiet)
    std::fprintf(gOut, "wrote %s: %d channel%s, %.0f Hz, %.3f s\n", a.output.c_str(), channels, channels == 1 ? "" : "s",
                rate, static_cast<double>(stats.frames) / rate);
}

int runRender(const RenderArgs& a) {
  const vstrun::SampleFormat format = checkRenderArgs(a);
  RenderInputs in(a);
  vsthost::Host host;
  host.setTempo(a.tempo);
  host.setSampleRate(in.reader.sampleRate());
  host.setBlockSize(a.blockSize);
  auto log = [](const std::string& line) { std::fprintf(stderr, "vstrun: %s\n", line.c_str()); };
  if (a.verbose) host.onLog(log);
  auto plugin = loadPlugin(a.module, host);
  applyParams(*plugin, a.params, a.verbose);
  vstrun::Automation automation(
      in.automation, in.reader.sampleRate(), plugin->numParams(),
      [&](const std::string& name) { return plugin->findParameter(name); },
      [&](int32_t index) { return plugin->getParameter(index); });
  const int channels = renderChannels(a, in.reader.channels(), plugin->effect()->numOutputs);

  vstrun::AudioWriter writer(a.output, channels, static_cast<int>(std::lround(in.reader.sampleRate())),
                             a.format.empty() ? in.reader.format() : format, in.reader.subtype());
  FileSource source(in.reader);
  FileSink sink(writer);
  Progress progress;
  vstrun::RenderOptions options;
  options.blockSize = a.blockSize;
  options.accumulate = a.accumulate;
  options.tailFrames = static_cast<int64_t>(std::llround(a.tail * in.reader.sampleRate()));
  options.outputChannels = channels;
  options.cancel = &gInterrupted;
  options.progress = [&](int64_t done, int64_t total) { progress.update(done, total); };
  if (a.verbose) options.log = log;

  // A crash in the plug-in from here on is reported, and the unfinished file removed.
  vstrun::armCrashGuard(writer.temporaryPath(), a.output, [&writer] { writer.discard(); });
  const vstrun::RenderStats stats = vstrun::render(*plugin, source, sink, automation, in.midi, options);
  progress.finish();
  in.reader.close();
  writer.commit();
  vstrun::armCrashGuard("", "", nullptr);  // the output is in place: nothing left to remove
  vstrun::currentCall().call.store("effClose");
  plugin.reset();
  vstrun::disarmCrashGuard();
  printRenderSummary(a, writer, stats, channels, in.reader.sampleRate());
  return 0;
}

// ---------------------------------------------------------------- editor

struct EditorArgs {
  std::string module, screenshot;
  std::vector<std::string> params;
  double seconds = 0.0;
  double scale = 0.0;
  bool scaleGiven = false;
};

int runEditorCommand(const EditorArgs& a) {
  if (!vstrun::editorSupported())
    throw Failure("this build of vstrun has no window system to show editors in (it was built without X11's headers)");
  if (!(a.seconds >= 0.0 && a.seconds <= 86400.0)) throw Failure("--seconds must be from 0 to 86400");
  if (a.scaleGiven && !(a.scale >= 1.0 && a.scale <= 8.0)) throw Failure("--scale must be from 1 to 8");
  vsthost::Host host;
  auto plugin = loadPlugin(a.module, host);
  if (!(plugin->effect()->flags & effFlagsHasEditor)) throw Failure(a.module + ": the plug-in has no editor");
  applyParams(*plugin, a.params, false);
  plugin->start(44100.0, 512);
  vstrun::EditorOptions options;
  options.seconds = a.seconds;
  options.screenshot = a.screenshot;
  options.scale = a.scaleGiven ? static_cast<float>(a.scale) : 0.0f;
  options.interrupted = &gInterrupted;
  options.warn = [](const std::string& line) { std::fprintf(stderr, "vstrun: warning: %s\n", line.c_str()); };
  vstrun::runEditor(*plugin, options);
  plugin.reset();
  if (!a.screenshot.empty()) std::fprintf(gOut, "wrote %s\n", a.screenshot.c_str());
  return 0;
}

// ---------------------------------------------------------------- command line

struct InfoArgs {
  std::string module;
  bool json = false;
};

CLI::App* addInfoCommand(CLI::App& app, InfoArgs& a) {
  CLI::App* info = app.add_subcommand("info", "Print what a host sees in a new instance of MODULE");
  info->add_option("MODULE", a.module, "Plug-in module (.dll or .so)")->required();
  info->add_flag("--json", a.json, "Print JSON instead of text");
  return info;
}

CLI::App* addRenderCommand(CLI::App& app, RenderArgs& r) {
  CLI::App* render = app.add_subcommand("render", "Render an audio file through MODULE");
  render->add_option("MODULE", r.module, "Plug-in module (.dll or .so)")->required();
  render->add_option("-i,--input", r.input, "Input audio file (WAV); its sample rate is the render's")->required();
  render->add_option("-o,--output", r.output, "Output WAV file")->required();
  render->add_option("-b,--block-size", r.blockSize, "Frames per processing call (default 512)");
  render->add_flag("--process", r.accumulate, "Use the accumulating process entry instead of processReplacing");
  render->add_option("-p,--param", r.params, "Set a parameter before rendering: INDEX=VALUE or NAME=VALUE (0..1)");
  render->add_option("-a,--automation", r.automation, "Parameter keyframes over time (JSON, see docs/vstrun.md)");
  render->add_option("-m,--midi", r.midi, "Standard MIDI File (type 0 or 1) to play into the plug-in");
  render->add_option("-t,--tail", r.tail, "Seconds of silence rendered after the input (default 0)");
  render->add_option("-f,--format", r.format, "Output samples: pcm16, pcm24 or float (default: the input's)");
  render->add_option("-c,--channels", r.channels, "Output channels (default: the plug-in's outputs, at most the input's or 2)");
  render->add_option("--tempo", r.tempo, "Tempo the host reports, in BPM (default 120)");
  render->add_flag("-v,--verbose", r.verbose, "Report host requests (automation, edits) and routing on stderr");
  render->add_flag("-q,--quiet", r.quiet, "Print nothing on success");
  return render;
}

CLI::App* addEditorCommand(CLI::App& app, EditorArgs& ed) {
  CLI::App* editor = app.add_subcommand("editor", "Open MODULE's editor in a window (Win32 or X11)");
  editor->add_option("MODULE", ed.module, "Plug-in module (.dll or .so)")->required();
  editor->add_option("-s,--seconds", ed.seconds, "Close after this many seconds (default: when the window is closed)");
  editor->add_option("--screenshot", ed.screenshot, "Save a PNG of the editor before closing");
  editor->add_option("-p,--param", ed.params, "Set a parameter first: INDEX=VALUE or NAME=VALUE (0..1)");
  editor->add_option("--scale", ed.scale, "Send this display scale (1 to 8, e.g. 1.5) before the editor opens");
  return editor;
}

struct ValidateCommand {
  validate::Arguments args;
  bool list = false;
  CLI::App* command = nullptr;
  CLI::Option* module = nullptr;
  CLI::Option* seed = nullptr;
};

void addValidateCommand(CLI::App& app, ValidateCommand& v) {
  validate::Arguments& va = v.args;
  v.command = app.add_subcommand("validate", "Check MODULE against what real hosts do to plug-ins");
  v.module = v.command->add_option("MODULE", va.options.module, "Plug-in module (.dll or .so)");
  v.command->add_option("--level", va.options.level, "Depth from 1 to 10 (default 5): fuzz steps, load cycles");
  v.seed = v.command->add_option("--seed", va.options.seed, "Seed of every random choice");
  v.command->add_option("--only", va.options.only, "Run only these groups and checks (comma-separated)");
  v.command->add_option("--skip", va.options.skip, "Leave out these groups and checks (comma-separated)");
  v.command->add_flag("--json", va.json, "Print one JSON object instead of text");
  v.command->add_option("--junit", va.junit, "Also write a JUnit XML report, one test case per check");
  v.command->add_flag("--list", v.list, "List every check's name, level and description");
  v.command->add_option("--child", va.childGroup, "")->group("");  // one group, in a child process
}

int runValidateCommand(ValidateCommand& v) {
  v.args.seedGiven = v.seed->count() > 0;
  if (v.list) {
    validate::listChecks(gOut);
    return 0;
  }
  if (v.module->count() == 0) throw std::runtime_error("validate: MODULE is required");
  return v.args.childGroup.empty() ? validate::run(v.args, gOut) : validate::runChild(v.args, gOut);
}

// One line on stderr, whatever the libraries' messages hold (some end in CR LF).
void printError(const std::exception& e) {
  std::string line = e.what();
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  while (!line.empty() && line.back() == ' ') line.pop_back();
  std::fprintf(stderr, "vstrun: %s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // Windows hands the arguments in as UTF-16; its ANSI argv would lose every
  // letter outside the code page. Paths stay UTF-8 from here on.
  std::vector<std::string> utf8Args = vsthost::utf8Arguments();
  std::vector<char*> utf8Argv;
  for (std::string& a : utf8Args) utf8Argv.push_back(&a[0]);
  if (!utf8Argv.empty()) {
    argc = static_cast<int>(utf8Argv.size());
    argv = utf8Argv.data();
  }
#endif
  CLI::App app{"vstrun: a command-line VST 2 host"};
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string("vstrun: ") + e.what() + " (see vstrun --help)\n";
  });
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("vstrun ") + VANTOREL_VERSION);
  InfoArgs in;
  RenderArgs r;
  EditorArgs ed;
  ValidateCommand v;
  CLI::App* info = addInfoCommand(app, in);
  CLI::App* render = addRenderCommand(app, r);
  CLI::App* editor = addEditorCommand(app, ed);
  addValidateCommand(app, v);
  CLI11_PARSE(app, argc, argv);
  ed.scaleGiven = editor->get_option("--scale")->count() > 0;

  std::signal(SIGINT, onInterrupt);
  keepStdoutForUs();
  int status = 0;
  try {
    if (info->parsed()) status = runInfo(in.module, in.json);
    else if (render->parsed()) status = runRender(r);
    else if (editor->parsed()) status = runEditorCommand(ed);
    else if (v.command->parsed()) status = runValidateCommand(v);
  } catch (const std::exception& e) {
    printError(e);
    status = 1;
  }
  if (std::fflush(gOut) != 0 && status == 0) {
    std::fprintf(stderr, "vstrun: cannot write the standard output\n");
    status = 1;
  }
  return status;
}
