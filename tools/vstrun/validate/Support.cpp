#include "validate/Support.h"

#include "validate/Checks.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#include <xmmintrin.h>
#define VALIDATE_X86 1
#endif

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace validate {

void Report::line(char kind, const std::string& text) {
  if (kind == 'F') ++failures_;
  std::string t = text;
  for (char& c : t)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  std::fprintf(out_, "%c\t%s\n", kind, t.c_str());
  std::fflush(out_);
}

bool Report::begin(const char* name) {
  if (!findCheck(name)) throw std::logic_error(std::string("no check named ") + name);
  if (!selected(name, options_.only, options_.skip)) return false;
  current_ = name;
  line('C', name);
  return true;
}

std::mt19937 Report::rng() const {
  uint64_t h = options_.seed ^ 0x9E3779B97F4A7C15ull;
  for (char c : current_) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return std::mt19937(static_cast<unsigned>(h ^ (h >> 32)));
}

std::string format(const char* fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

// ------------------------------------------------------------ buffers

constexpr char kGuardByte = static_cast<char>(0xA5);

GuardedBuffer::GuardedBuffer(size_t size) : size_(size), storage_(size + 2 * kGuard, kGuardByte) {
  std::memset(data(), 0, size);
}

size_t GuardedBuffer::overrun() const {
  const char* end = storage_.data() + kGuard + size_;
  for (size_t i = kGuard; i > 0; --i)
    if (end[i - 1] != kGuardByte) return i;
  return 0;
}

bool GuardedBuffer::underrun() const {
  for (size_t i = 0; i < kGuard; ++i)
    if (storage_[i] != kGuardByte) return true;
  return false;
}

bool GuardedBuffer::terminated() const { return std::memchr(storage_.data() + kGuard, 0, size_) != nullptr; }

size_t GuardedBuffer::textLength() const {
  const char* p = storage_.data() + kGuard;
  const void* z = std::memchr(p, 0, size_);
  return z ? static_cast<size_t>(static_cast<const char*>(z) - p) : size_;
}

AudioBuffers::AudioBuffers(int channels, int frames) : frames_(frames) {
  for (int c = 0; c < channels; ++c) {
    storage_.emplace_back(static_cast<size_t>(frames + 2 * kGuard), kGuardValue);
    ptrs_.push_back(storage_.back().data() + kGuard);
  }
  fill(0.0f);
}

void AudioBuffers::fill(float v) {
  for (float* p : ptrs_)
    for (int i = 0; i < frames_; ++i) p[i] = v;
}

int AudioBuffers::overrunChannel() const {
  for (size_t c = 0; c < storage_.size(); ++c)
    for (int i = 0; i < kGuard; ++i)
      if (storage_[c][static_cast<size_t>(i)] != kGuardValue ||
          storage_[c][static_cast<size_t>(kGuard + frames_ + i)] != kGuardValue)
        return static_cast<int>(c);
  return -1;
}

std::string firstNonFinite(AudioBuffers& out, int frames) {
  for (int c = 0; c < out.channels(); ++c)
    for (int i = 0; i < frames; ++i)
      if (!std::isfinite(out.channel(c)[i]))
        return format("channel %d sample %d (%g)", c, i, static_cast<double>(out.channel(c)[i]));
  return "";
}

std::string firstDenormal(AudioBuffers& out, int frames, int* frame) {
  for (int c = 0; c < out.channels(); ++c)
    for (int i = 0; i < frames; ++i)
      if (std::fpclassify(out.channel(c)[i]) == FP_SUBNORMAL) {
        if (frame) *frame = i;
        return format("channel %d sample %d (%g)", c, i, static_cast<double>(out.channel(c)[i]));
      }
  return "";
}

void fillNoise(AudioBuffers& in, int frames, std::mt19937& rng) {
  std::uniform_real_distribution<float> d(-0.25f, 0.25f);
  for (int c = 0; c < in.channels(); ++c)
    for (int i = 0; i < frames; ++i) in.channel(c)[i] = d(rng);
}

Difference compare(AudioBuffers& a, AudioBuffers& b, int frames, float offsetOfB) {
  const int n = a.channels() < b.channels() ? a.channels() : b.channels();
  return compare(a.pointers(), b.pointers(), n, frames, offsetOfB);
}

Difference compare(float* const* a, float* const* b, int channels, int frames, float offsetOfB) {
  Difference d;
  for (int c = 0; c < channels; ++c)
    for (int i = 0; i < frames; ++i) {
      float x = std::fabs(a[c][i] - (b[c][i] - offsetOfB));
      if (std::isnan(x)) x = INFINITY;
      if (x > d.max) {
        d.max = x;
        d.channel = c;
        d.frame = i;
      }
    }
  return d;
}

void copyAudio(AudioBuffers& src, int srcOffset, AudioBuffers& dst, int dstOffset, int frames) {
  const int n = src.channels() < dst.channels() ? src.channels() : dst.channels();
  for (int c = 0; c < n; ++c)
    std::memcpy(dst.channel(c) + dstOffset, src.channel(c) + srcOffset, sizeof(float) * static_cast<size_t>(frames));
}

Growth judgeGrowth(const std::vector<long>& s, double bound) {
  Growth g;
  const size_t n = s.size();
  if (n < 4) return g;
  const size_t half = n / 2, quarter = half + (n - 1 - half) / 2, last = n - 1;
  auto rate = [&](size_t from, size_t to) { return static_cast<double>(s[to] - s[from]) / static_cast<double>(to - from); };
  g.perCycle = rate(half, last);
  g.sustained = rate(half, quarter) > bound && rate(quarter, last) > bound;
  return g;
}

// ------------------------------------------------------------ floating point

FpState readFpState() {
  FpState s;
#ifdef VALIDATE_X86
  s.mxcsr = _mm_getcsr();
#if defined(__GNUC__)
  unsigned short cw = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw));
  s.x87 = cw;
#endif
#endif
  return s;
}

void setMxcsr(unsigned value) {
#ifdef VALIDATE_X86
  _mm_setcsr(value);
#else
  (void)value;
#endif
}

std::string describe(const FpState& s) { return format("MXCSR 0x%04X, x87 control word 0x%04X", s.mxcsr, s.x87); }

// ------------------------------------------------------------ events

void EventList::clear() {
  midi_.clear();
  sysex_.clear();
  dumps_.clear();
  order_.clear();
}

void EventList::addMidi(int deltaFrames, unsigned char status, unsigned char data1, unsigned char data2) {
  VstMidiEvent e{};
  e.type = kVstMidiType;
  e.byteSize = sizeof(VstMidiEvent);
  e.deltaFrames = deltaFrames;
  e.midiData[0] = static_cast<char>(status);
  e.midiData[1] = static_cast<char>(data1);
  e.midiData[2] = static_cast<char>(data2);
  midi_.push_back(e);
  order_.emplace_back(false, midi_.size() - 1);
}

void EventList::addSysex(int deltaFrames, const std::vector<unsigned char>& bytes) {
  dumps_.push_back(bytes);
  Sysex s{};
  s.type = kVstSysExType;
  s.byteSize = static_cast<VstInt32>(sizeof(Sysex));
  s.deltaFrames = deltaFrames;
  s.dumpBytes = static_cast<VstInt32>(bytes.size());
  sysex_.push_back(s);
  order_.emplace_back(true, sysex_.size() - 1);
}

VstEvents* EventList::events() {
  // The pointers are taken only now: the vectors no longer move.
  for (size_t i = 0; i < sysex_.size(); ++i) sysex_[i].sysexDump = reinterpret_cast<char*>(dumps_[i].data());
  const size_t header = offsetof(VstEvents, events);
  block_.assign(header + (order_.size() + 2) * sizeof(VstEvent*), 0);
  VstEvents* list = reinterpret_cast<VstEvents*>(block_.data());
  list->numEvents = static_cast<VstInt32>(order_.size());
  for (size_t i = 0; i < order_.size(); ++i) {
    void* e = order_[i].first ? static_cast<void*>(&sysex_[order_[i].second])
                              : static_cast<void*>(&midi_[order_[i].second]);
    list->events[i] = static_cast<VstEvent*>(e);
  }
  return list;
}

// ------------------------------------------------------------ instances

Instance::Instance(const std::string& module) {
  std::string error;
  plugin = vsthost::Plugin::load(module, host, &error);
  if (!plugin) throw std::runtime_error(error);
}

void Instance::process(AudioBuffers& in, AudioBuffers& out, int frames, bool accumulate) {
  AEffect* e = effect();
  if (accumulate) e->process(e, in.pointers(), out.pointers(), frames);
  else e->processReplacing(e, in.pointers(), out.pointers(), frames);
}

// ------------------------------------------------------------ parent window

#ifdef _WIN32

namespace {
LRESULT CALLBACK parentProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }
}  // namespace

ParentWindow::ParentWindow() {
  static ATOM cls = 0;
  if (!cls) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = parentProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"vstrunValidateParent";
    cls = RegisterClassW(&wc);
  }
  handle_ = CreateWindowExW(0, L"vstrunValidateParent", L"vstrun validate", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!handle_) why_ = "no window could be created";
  else ShowWindow(static_cast<HWND>(handle_), SW_SHOWNOACTIVATE);
}

ParentWindow::~ParentWindow() {
  if (handle_) DestroyWindow(static_cast<HWND>(handle_));
}

std::string ParentWindow::errors() { return ""; }

void ParentWindow::pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

#else

namespace {
// What Xlib hands an error handler (its own record, in its order).
struct XErrorRecord {
  int type;
  void* display;
  unsigned long resourceId, serial;
  unsigned char errorCode, requestCode, minorCode;
};

// X errors since the last ParentWindow::errors(): Xlib's own handler prints them
// and ends the process, which turns a plug-in's faulty drawing request into
// a host that vanishes. Hosts that keep running take them as this does.
std::atomic<long> xErrorCount{0};
std::atomic<unsigned> xFirstError{0};  // error << 16 | request << 8 | minor

int countXError(void*, XErrorRecord* e) {
  const unsigned code = static_cast<unsigned>(e->errorCode) << 16 | static_cast<unsigned>(e->requestCode) << 8 |
                        e->minorCode;
  if (xErrorCount.fetch_add(1) == 0) xFirstError.store(code);
  return 0;
}

// The few Xlib calls needed, resolved at run time so that vstrun needs no
// X11 library to start.
struct Xlib {
  void* lib = nullptr;
  void* (*openDisplay)(const char*) = nullptr;
  int (*closeDisplay)(void*) = nullptr;
  unsigned long (*defaultRootWindow)(void*) = nullptr;
  unsigned long (*createSimpleWindow)(void*, unsigned long, int, int, unsigned, unsigned, unsigned, unsigned long,
                                      unsigned long) = nullptr;
  int (*mapWindow)(void*, unsigned long) = nullptr;
  int (*destroyWindow)(void*, unsigned long) = nullptr;
  int (*sync)(void*, int) = nullptr;
  int (*errorText)(void*, int, char*, int) = nullptr;
  bool ok = false;
  Xlib() {
    lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return;
    openDisplay = reinterpret_cast<decltype(openDisplay)>(dlsym(lib, "XOpenDisplay"));
    closeDisplay = reinterpret_cast<decltype(closeDisplay)>(dlsym(lib, "XCloseDisplay"));
    defaultRootWindow = reinterpret_cast<decltype(defaultRootWindow)>(dlsym(lib, "XDefaultRootWindow"));
    createSimpleWindow = reinterpret_cast<decltype(createSimpleWindow)>(dlsym(lib, "XCreateSimpleWindow"));
    mapWindow = reinterpret_cast<decltype(mapWindow)>(dlsym(lib, "XMapWindow"));
    destroyWindow = reinterpret_cast<decltype(destroyWindow)>(dlsym(lib, "XDestroyWindow"));
    sync = reinterpret_cast<decltype(sync)>(dlsym(lib, "XSync"));
    errorText = reinterpret_cast<decltype(errorText)>(dlsym(lib, "XGetErrorText"));
    using Handler = int (*)(void*, XErrorRecord*);
    auto setErrorHandler = reinterpret_cast<Handler (*)(Handler)>(dlsym(lib, "XSetErrorHandler"));
    ok = openDisplay && closeDisplay && defaultRootWindow && createSimpleWindow && mapWindow && destroyWindow && sync &&
         errorText && setErrorHandler;
    if (ok) setErrorHandler(&countXError);
  }
};
Xlib& xlib() {
  static Xlib x;
  return x;
}
}  // namespace

ParentWindow::ParentWindow() {
  Xlib& x = xlib();
  if (!x.ok) {
    why_ = "libX11 is not available";
    return;
  }
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) {
    why_ = "no X display (DISPLAY is unset)";
    return;
  }
  constexpr int kAttempts = 20, kPauseMs = 250;
  for (int attempt = 1; !(display_ = x.openDisplay(nullptr)) && attempt < kAttempts; ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));
  if (!display_) {
    why_ = format("no X display (%s unreachable for %d s)", name, kAttempts * kPauseMs / 1000);
    return;
  }
  const unsigned long w = x.createSimpleWindow(display_, x.defaultRootWindow(display_), 0, 0, 640, 480, 0, 0, 0);
  x.mapWindow(display_, w);
  x.sync(display_, 0);
  handle_ = reinterpret_cast<void*>(static_cast<uintptr_t>(w));
}

ParentWindow::~ParentWindow() {
  if (!display_) return;
  if (handle_) xlib().destroyWindow(display_, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle_)));
  xlib().closeDisplay(display_);
}

void ParentWindow::pump() {
  if (display_) xlib().sync(display_, 0);
}

std::string ParentWindow::errors() {
  if (display_) xlib().sync(display_, 0);
  const long n = xErrorCount.exchange(0);
  if (!n) return "";
  const unsigned code = xFirstError.load();
  char name[128] = "";
  if (display_) xlib().errorText(display_, static_cast<int>(code >> 16), name, sizeof name);
  return format("%ld X error%s, the first %s (error %u) on request %u.%u", n, n == 1 ? "" : "s",
                *name ? name : "unnamed", code >> 16, code >> 8 & 0xFF, code & 0xFF);
}

#endif

// ------------------------------------------------------------ opcodes

size_t conventionalTextLength(VstInt32 opcode) {
  switch (opcode) {
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
      return 8;
    case effGetProgramName:
    case effGetProgramNameIndexed:
      return 24;
    case effGetEffectName:
      return 32;
    case effGetVendorString:
    case effGetProductString:
    case effShellGetNextPlugin:
      return 64;
    case effGetErrorText:
      return 256;
    default:
      return 0;
  }
}

const char* opcodeName(VstInt32 op) {
  static const char* const names[] = {
      "effOpen", "effClose", "effSetProgram", "effGetProgram", "effSetProgramName", "effGetProgramName",
      "effGetParamLabel", "effGetParamDisplay", "effGetParamName", "effGetVu", "effSetSampleRate",
      "effSetBlockSize", "effMainsChanged", "effEditGetRect", "effEditOpen", "effEditClose", "effEditDraw",
      "effEditMouse", "effEditKey", "effEditIdle", "effEditTop", "effEditSleep", "effIdentify", "effGetChunk",
      "effSetChunk", "effProcessEvents", "effCanBeAutomated", "effString2Parameter",
      "effGetNumProgramCategories", "effGetProgramNameIndexed", "effCopyProgram", "effConnectInput",
      "effConnectOutput", "effGetInputProperties", "effGetOutputProperties", "effGetPlugCategory",
      "effGetCurrentPosition", "effGetDestinationBuffer", "effOfflineNotify", "effOfflinePrepare",
      "effOfflineRun", "effProcessVarIo", "effSetSpeakerArrangement", "effSetBlockSizeAndSampleRate",
      "effSetBypass", "effGetEffectName", "effGetErrorText", "effGetVendorString", "effGetProductString",
      "effGetVendorVersion", "effVendorSpecific", "effCanDo", "effGetTailSize", "effIdle", "effGetIcon",
      "effSetViewPosition", "effGetParameterProperties", "effKeysRequired", "effGetVstVersion",
      "effEditKeyDown", "effEditKeyUp", "effSetEditKnobMode", "effGetMidiProgramName",
      "effGetCurrentMidiProgram", "effGetMidiProgramCategory", "effHasMidiProgramsChanged",
      "effGetMidiKeyName", "effBeginSetProgram", "effEndSetProgram", "effGetSpeakerArrangement",
      "effShellGetNextPlugin", "effStartProcess", "effStopProcess", "effSetTotalSampleToProcess",
      "effSetPanLaw", "effBeginLoadBank", "effBeginLoadProgram", "effSetProcessPrecision",
      "effGetNumMidiInputChannels", "effGetNumMidiOutputChannels"};
  if (op >= 0 && op < static_cast<VstInt32>(sizeof names / sizeof names[0])) return names[op];
  return "opcode";
}

}  // namespace validate
