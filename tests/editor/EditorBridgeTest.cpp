// The editor bridge through the host's editor opcodes: size, opening and
// closing, and the idle/update cycle with the automation reports it causes.
// The windows are offscreen ones; the X11 and Win32 tests open real ones.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <utility>

#include "editor/EditorTestSupport.h"

namespace {

ERect* rectOf(etest::Instrument& in, VstIntPtr* result = nullptr) {
  ERect* r = nullptr;
  const VstIntPtr answer = in.dispatch(effEditGetRect, 0, 0, &r);
  if (result) *result = answer;
  return r;
}

class Bridge : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(in.effect(), nullptr); }
  void open() { ASSERT_EQ(in.dispatch(effEditOpen, 0, 0, nullptr), 1); }
  etest::OffscreenWindows offscreen;
  vtest::RecordingHost host;
  etest::Instrument in{host};
};

TEST_F(Bridge, RectIsTheClosedSizeWithoutAWindowAndTheWindowsSizeWithOne) {
  VstIntPtr result = 0;
  ERect* closed = rectOf(in, &result);
  ASSERT_NE(closed, nullptr);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(closed->top, 0);
  EXPECT_EQ(closed->left, 0);
  EXPECT_EQ(closed->bottom, 249);
  EXPECT_EQ(closed->right, 399);
  open();
  ERect* opened = rectOf(in);
  EXPECT_EQ(opened, closed) << "always the same record";
  EXPECT_EQ(opened->bottom, 199);
  EXPECT_EQ(opened->right, 250);
  in.dispatch(effEditClose);
  EXPECT_EQ(rectOf(in)->bottom, 249);
  EXPECT_EQ(rectOf(in)->right, 399);
  EXPECT_EQ(in.dispatch(effEditGetRect, 0, 0, nullptr), 0) << "no place to write the answer";
}

TEST_F(Bridge, KnobsFollowParametersAtTheNextIdleAndIdleReportsBothValues) {
  in.setParameter(0, 0.25f);
  in.setParameter(1, 0.75f);
  open();
  TPluginEditorWindow* w = in.bridge()->window();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->par01.Top(), 77) << "open does not move the faders";
  EXPECT_EQ(w->par02.Top(), 77);
  EXPECT_TRUE(w->nativeWindow()->visible());
  host.clear();
  in.dispatch(effEditIdle);
  EXPECT_EQ(w->par01.Top(), 93);
  EXPECT_EQ(w->par02.Top(), 127);
  const auto sent = etest::automations(host);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].index, 0);
  EXPECT_EQ(sent[0].value, static_cast<float>(16.0L / 66.0L));
  EXPECT_EQ(sent[1].index, 1);
  EXPECT_EQ(sent[1].value, static_cast<float>(50.0L / 66.0L));
  EXPECT_EQ(in.getParameter(0), static_cast<float>(16.0L / 66.0L)) << "held on a multiple of 1/66";

  // A host change reaches the knob only at the next idle.
  in.setParameter(0, 0.3f);
  EXPECT_EQ(w->paramValues[0].load(), 0.3f) << "update copies the value";
  EXPECT_EQ(w->par01.Top(), 93) << "update moves nothing";
  in.dispatch(effEditIdle);
  EXPECT_EQ(w->par01.Top(), 97);
  EXPECT_EQ(in.getParameter(0), static_cast<float>(20.0L / 66.0L));
}

// No idle work for nothing: an idle that moves no knob leaves no invalid area.
TEST_F(Bridge, IdleWithUnchangedValuesStillReportsButRepaintsNothing) {
  open();
  in.dispatch(effEditIdle);
  TPluginEditorWindow* w = in.bridge()->window();
  w->paint();
  host.clear();
  in.dispatch(effEditIdle);
  const auto sent = etest::automations(host);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].index, 0);
  EXPECT_EQ(sent[0].value, in.getParameter(0));
  EXPECT_EQ(sent[1].index, 1);
  EXPECT_EQ(sent[1].value, in.getParameter(1));
  EXPECT_TRUE(w->invalidRect().empty());
  in.setParameter(1, 0.5f);
  in.dispatch(effEditIdle);
  EXPECT_EQ(w->invalidRect(), (toolkit::Rect{209, 77, 241, 134})) << "old and new place of par02 only";
}

TEST_F(Bridge, OpenTwiceCloseOnceKeepsTheWindowHiddenAndStillIdling) {
  open();
  TPluginEditorWindow* first = in.bridge()->window();
  open();
  EXPECT_EQ(in.bridge()->window(), first) << "a second open creates no window";
  in.dispatch(effEditClose);
  EXPECT_EQ(in.bridge()->getOpenCount(), 1);
  ASSERT_EQ(in.bridge()->window(), first);
  EXPECT_FALSE(first->nativeWindow()->visible());
  host.clear();
  in.dispatch(effEditIdle);
  EXPECT_EQ(host.count(audioMasterAutomate), 2u);
  in.dispatch(effEditClose);
  EXPECT_EQ(in.bridge()->window(), nullptr);
  EXPECT_EQ(in.bridge()->getOpenCount(), 0);
}

TEST_F(Bridge, ClosedEditorLeavesHostValuesExactlyAsSet) {
  in.dispatch(effEditClose);  // close with nothing open
  EXPECT_EQ(in.bridge()->getOpenCount(), 0);
  open();
  in.dispatch(effEditClose);
  host.clear();
  in.setParameter(0, 0.3f);
  in.dispatch(effEditIdle);
  EXPECT_EQ(host.count(audioMasterAutomate), 0u);
  EXPECT_EQ(in.getParameter(0), 0.3f);
  // A new window forgets the About view and starts at the current values.
  open();
  TPluginEditorWindow* w = in.bridge()->window();
  EXPECT_EQ(w->About.Left(), 401);
  EXPECT_EQ(w->paramValues[0].load(), 0.3f);
}

TEST_F(Bridge, DestroyingTheInstanceWithTheEditorOpenClosesItCleanly) {
  open();
  in.dispatch(effEditIdle);
  ASSERT_EQ(etest::OffscreenWindows::live(), 1);
  EXPECT_EQ(in.close(), 1);
  EXPECT_EQ(etest::OffscreenWindows::live(), 0) << "the window went with the instance";
}

TEST_F(Bridge, IdleReportsBothFaderValuesOnlyWhileTheEditorIsOpen) {
  EXPECT_NE(in.effect()->flags & effFlagsHasEditor, 0);
  in.setParameter(0, 0.25f);
  host.clear();
  in.dispatch(effEditIdle);
  EXPECT_EQ(host.count(audioMasterAutomate), 0u);
  open();
  EXPECT_EQ(host.count(audioMasterAutomate), 0u) << "opening reports nothing";
  in.dispatch(effEditIdle);
  const auto sent = etest::automations(host);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].index, 0);
  EXPECT_EQ(sent[0].value, static_cast<float>(16.0L / 66.0L));
  EXPECT_EQ(sent[1].index, 1);
  EXPECT_EQ(sent[1].value, 0.0f);
  EXPECT_EQ(in.getParameter(0), static_cast<float>(16.0L / 66.0L));
  in.dispatch(effEditClose);
  host.clear();
  in.dispatch(effEditIdle);
  EXPECT_EQ(host.count(audioMasterAutomate), 0u);
}

// The host's display scale: answered 1 when taken; the rectangle before an
// open keeps its old size; back at 1 the window is the one of old, pixel
// for pixel; what is no factor is refused, the rest clamped to 1..4.
TEST_F(Bridge, HostScaleFactorIsTakenClampedAndAt1ChangesNothing) {
  auto send = [this](float factor, VstIntPtr value = etest::kScaleValue) {
    return in.effect()->dispatcher(in.effect(), effVendorSpecific, etest::kScaleIndex, value, nullptr, factor);
  };
  using Size = std::pair<int, int>;
  auto rect = [this] { return Size{rectOf(in)->right, rectOf(in)->bottom}; };
  EXPECT_EQ(send(3.0f), 1);
  EXPECT_EQ(rect(), (Size{399, 249})) << "before an open the rectangle keeps its old size";
  open();
  EXPECT_EQ(rect(), (Size{750, 597}));
  in.setParameter(0, 0.5f);
  in.setParameter(1, 1.0f);
  in.dispatch(effEditIdle);
  host.clear();
  EXPECT_EQ(send(1.0f), 1);
  EXPECT_EQ(rect(), (Size{250, 199}));
  EXPECT_EQ(host.count(audioMasterSizeWindow), 1u);
  EXPECT_EQ(etest::differences(in.bridge()->window()->frame(), etest::offscreenEditor(33, 66, false)), 0);
  for (float bad : {0.0f, -2.0f, std::nanf(""), INFINITY}) EXPECT_EQ(send(bad), 0) << bad;
  EXPECT_EQ(send(2.0f, 0x41654374), 0) << "another vendor's call";
  EXPECT_EQ(send(0.5f), 1);
  EXPECT_EQ(rect(), (Size{250, 199}));
  EXPECT_EQ(host.count(audioMasterSizeWindow), 1u) << "no change, no request";
  EXPECT_EQ(send(9.0f), 1);
  EXPECT_EQ(rect(), (Size{1000, 796}));
  in.dispatch(effEditClose);
  EXPECT_EQ(rect(), (Size{399, 249})) << "after the last close the old size again";
}

// Without a factor from the host, VANTOREL_SCALE sets the scale; the host's
// factor beats it. A factor sent from a thread other than the window's
// waits for the next idle.
TEST_F(Bridge, VantorelScaleUnlessTheHostSentAFactorAndOtherThreadsWaitForIdle) {
  etest::setEnvironment("VANTOREL_SCALE", "2");
  open();
  EXPECT_EQ(in.bridge()->scale(), 2.0);
  in.dispatch(effEditClose);
  etest::setEnvironment("VANTOREL_SCALE", "1,5");  // not a number: ignored
  open();
  EXPECT_EQ(in.bridge()->scale(), 1.0);
  in.dispatch(effEditClose);
  etest::setEnvironment("VANTOREL_SCALE", "2.5");
  std::thread([this] {
    EXPECT_EQ(in.effect()->dispatcher(in.effect(), effVendorSpecific, etest::kScaleIndex, etest::kScaleValue, nullptr,
                                      1.5f),
              1);
  }).join();
  open();
  etest::setEnvironment("VANTOREL_SCALE", nullptr);
  EXPECT_EQ(in.bridge()->scale(), 1.5);
  host.clear();
  std::thread([this] {
    in.effect()->dispatcher(in.effect(), effVendorSpecific, etest::kScaleIndex, etest::kScaleValue, nullptr, 3.0f);
  }).join();
  EXPECT_EQ(in.bridge()->scale(), 1.5) << "not from another thread";
  EXPECT_EQ(host.count(audioMasterSizeWindow), 0u);
  in.dispatch(effEditIdle);
  EXPECT_EQ(in.bridge()->scale(), 3.0);
  EXPECT_EQ(host.count(audioMasterSizeWindow), 1u);
}

// A host that hands no real window (none, or an id that names nothing) is
// told the editor did not open, on every platform; nothing is left behind.
TEST(BridgeWithoutAWindow, OpenAnswersZeroAndTheEditorStaysClosed) {
  vtest::RecordingHost host;
  etest::Instrument in{host};
  ASSERT_NE(in.effect(), nullptr);
  for (void* parent : {static_cast<void*>(nullptr), reinterpret_cast<void*>(uintptr_t{0x7ffff01})}) {
    EXPECT_EQ(in.dispatch(effEditOpen, 0, 0, parent), 0);
    EXPECT_EQ(in.bridge()->window(), nullptr);
    EXPECT_EQ(in.bridge()->getOpenCount(), 0);
    ERect* r = rectOf(in);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->bottom, 249);
    host.clear();
    in.dispatch(effEditIdle);
    EXPECT_EQ(host.count(audioMasterAutomate), 0u);
  }
}

}  // namespace
