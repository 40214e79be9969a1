// The editor bridge through the host's editor opcodes: size, opening and
// closing, and the idle/update cycle with the automation reports it causes.
// The windows are offscreen ones; the X11 and Win32 tests open real ones.
#include <gtest/gtest.h>

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
