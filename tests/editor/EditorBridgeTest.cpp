// The editor bridge through the host's editor opcodes: size, opening and
// closing, and the idle/update cycle with the automation reports it causes.
// On Windows, opening needs a real parent window: the Win32 tests cover it.
#include <gtest/gtest.h>

#include "editor/EditorTestSupport.h"

namespace {

#if defined(_WIN32)
#define NEEDS_OFFSCREEN_OPEN() GTEST_SKIP() << "opening needs a host window here (see the Win32 editor tests)"
#else
#define NEEDS_OFFSCREEN_OPEN() (void)0
#endif

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
  vtest::RecordingHost host;
  etest::Instrument in{host};
};

TEST_F(Bridge, RectIsTheClosedSizeWithoutAWindowAndTheWindowsSizeWithOne) {
  NEEDS_OFFSCREEN_OPEN();
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
  NEEDS_OFFSCREEN_OPEN();
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
  NEEDS_OFFSCREEN_OPEN();
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
  NEEDS_OFFSCREEN_OPEN();
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
  NEEDS_OFFSCREEN_OPEN();
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
  NEEDS_OFFSCREEN_OPEN();
  open();
  in.dispatch(effEditIdle);
  // The fixture's effClose destroys instance, bridge and window.
}

// The same through the built module's exported entry, as a host sees it.
TEST(BridgeThroughTheModule, IdleReportsBothFaderValuesOnlyWhileTheEditorIsOpen) {
  NEEDS_OFFSCREEN_OPEN();
  vtest::RecordingHost host;
  vtest::PluginInstance plugin(host);
  ASSERT_TRUE(plugin.ok()) << plugin.error();
  EXPECT_NE(plugin.effect()->flags & effFlagsHasEditor, 0);
  plugin.setParameter(0, 0.25f);
  host.clear();
  plugin.dispatch(effEditIdle);
  EXPECT_EQ(host.count(audioMasterAutomate), 0u);
  ASSERT_EQ(plugin.dispatch(effEditOpen, 0, 0, nullptr), 1);
  EXPECT_EQ(host.count(audioMasterAutomate), 0u) << "opening reports nothing";
  plugin.dispatch(effEditIdle);
  const auto sent = etest::automations(host);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].index, 0);
  EXPECT_EQ(sent[0].value, static_cast<float>(16.0L / 66.0L));
  EXPECT_EQ(sent[1].index, 1);
  EXPECT_EQ(sent[1].value, 0.0f);
  EXPECT_EQ(plugin.getParameter(0), static_cast<float>(16.0L / 66.0L));
  plugin.dispatch(effEditClose);
  host.clear();
  plugin.dispatch(effEditIdle);
  EXPECT_EQ(host.count(audioMasterAutomate), 0u);
}

}  // namespace
