// 32-bit hosts built with other compilers call the entry functions with a
// stack aligned to only 4 bytes. A trampoline misaligns the stack by 4, 8
// and 12 bytes before each call; every entry must give the same results as
// with an aligned stack.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "support/TestHost.h"

#if !defined(__i386__)
#error "this test is for 32-bit x86 only"
#endif

// uint32_t callMisaligned(void* fn, const uint32_t* args, int count, int misalign, float* floatResult)
// Calls fn (cdecl) with count 32-bit arguments so that the stack pointer at
// the call is misalign bytes past a 16-byte boundary. A float result (st0)
// is stored through floatResult when that is not null.
extern "C" uint32_t callMisaligned(void* fn, const uint32_t* args, int count, int misalign, float* floatResult);
#if defined(_WIN32)
#define VT_SYMBOL "_callMisaligned"  // C names carry a leading underscore on 32-bit Windows
#define VT_TYPE ""
#define VT_SIZE ""
#else
#define VT_SYMBOL "callMisaligned"
#define VT_TYPE ".type callMisaligned, @function\n"
#define VT_SIZE ".size callMisaligned, .-callMisaligned\n"
#endif
__asm__(
    ".text\n"
    ".globl " VT_SYMBOL "\n"
    VT_TYPE
    VT_SYMBOL ":\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  pushl %ebx\n"
    "  movl 12(%ebp), %esi\n"
    "  movl 16(%ebp), %ecx\n"
    "  movl %esp, %edi\n"
    "  subl $128, %edi\n"
    "  leal 0(,%ecx,4), %ebx\n"
    "  subl %ebx, %edi\n"
    "  andl $-16, %edi\n"
    "  addl 20(%ebp), %edi\n"
    "  movl %edi, %esp\n"
    "  xorl %ebx, %ebx\n"
    "1:\n"
    "  cmpl %ecx, %ebx\n"
    "  jge 2f\n"
    "  movl (%esi,%ebx,4), %edx\n"
    "  movl %edx, (%esp,%ebx,4)\n"
    "  incl %ebx\n"
    "  jmp 1b\n"
    "2:\n"
    "  movl 8(%ebp), %eax\n"
    "  call *%eax\n"
    "  movl 24(%ebp), %ecx\n"
    "  testl %ecx, %ecx\n"
    "  jz 3f\n"
    "  fstps (%ecx)\n"
    "3:\n"
    "  leal -12(%ebp), %esp\n"
    "  popl %ebx\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebp\n"
    "  ret\n"
    VT_SIZE);

namespace {

uint32_t word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }
uint32_t word(int v) { return static_cast<uint32_t>(v); }
uint32_t word(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

template <class... A>
uint32_t call(void* fn, int misalign, float* floatResult, A... args) {
  const uint32_t words[] = {word(args)..., 0};
  return callMisaligned(fn, words, static_cast<int>(sizeof...(A)), misalign, floatResult);
}

template <class F>
void* fnPtr(F f) {
  return reinterpret_cast<void*>(f);
}

// One short session through the entry functions; returns everything heard.
std::vector<uint32_t> session(vsthost::Module& module, audioMasterCallback host, int misalign) {
  std::vector<uint32_t> log;
  void* entry = module.symbol("main");
  AEffect* e = reinterpret_cast<AEffect*>(call(entry, misalign, nullptr, reinterpret_cast<void*>(host)));
  if (!e) return log;
  void* dispatcher = fnPtr(e->dispatcher);
  char text[64] = {};
  call(dispatcher, misalign, nullptr, e, int(effMainsChanged), 0, 1, nullptr, 0.0f);
  log.push_back(call(dispatcher, misalign, nullptr, e, int(effGetEffectName), 0, 0, text, 0.0f));
  log.push_back(text[0]);
  call(dispatcher, misalign, nullptr, e, int(effGetParamDisplay), 2, 0, text, 0.0f);
  for (int i = 0; i < 6; ++i) log.push_back(static_cast<unsigned char>(text[i]));

  const int frames = 300;
  std::vector<float> inL(frames), inR(frames), outL(frames, 0.5f), outR(frames, 0.5f);
  for (int i = 0; i < frames; ++i) {
    inL[i] = static_cast<float>((i * 37) % 101 - 50) / 33.0f;
    inR[i] = (i % 40 == 0) ? 0.0f : 0.25f * inL[i];
  }
  float* ins[2] = {inL.data(), inR.data()};
  float* outs[2] = {outL.data(), outR.data()};

  VstMidiEvent note;
  std::memset(&note, 0, sizeof note);
  note.type = kVstMidiType;
  note.byteSize = sizeof note;
  note.midiData[0] = static_cast<char>(0x90);
  note.midiData[1] = 67;
  note.midiData[2] = 90;
  struct {
    VstInt32 numEvents;
    VstIntPtr reserved;
    VstEvent* events[1];
  } list = {1, 0, {reinterpret_cast<VstEvent*>(&note)}};

  for (int round = 0; round < 6; ++round) {
    call(fnPtr(e->setParameter), misalign, nullptr, e, 0, round < 3 ? 1.0f : 0.2f);
    call(fnPtr(e->setParameter), misalign, nullptr, e, 1, 0.125f * round);
    if (round == 4) log.push_back(call(dispatcher, misalign, nullptr, e, int(effProcessEvents), 0, 0, &list, 0.0f));
    call(fnPtr(round % 2 ? e->process : e->processReplacing), misalign, nullptr, e, ins, outs, frames);
    for (int i = 0; i < frames; ++i) {
      log.push_back(word(outL[i]));
      log.push_back(word(outR[i]));
    }
    for (int p = 0; p < 3; ++p) {
      float value = -1.0f;
      call(fnPtr(e->getParameter), misalign, &value, e, p);
      log.push_back(word(value));
    }
  }
  log.push_back(call(dispatcher, misalign, nullptr, e, int(effClose), 0, 0, nullptr, 0.0f));
  return log;
}

TEST(StackAlignment, EveryEntryWorksOnAStackAlignedToFourBytes) {
  vtest::RecordingHost host;
  auto module = vsthost::Module::load(vtest::modulePath());
  ASSERT_TRUE(module);
  const std::vector<uint32_t> aligned = session(*module, host.callback(), 0);
  ASSERT_GT(aligned.size(), 3000u);
  EXPECT_EQ(aligned.back(), 1u) << "effClose";
  for (int misalign : {4, 8, 12}) {
    const std::vector<uint32_t> log = session(*module, host.callback(), misalign);
    EXPECT_TRUE(log == aligned) << "misaligned by " << misalign;
  }
}

}  // namespace
