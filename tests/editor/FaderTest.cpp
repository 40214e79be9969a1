// TVelFader on its own: position setting, start and orientation, and the
// drag arithmetic, with the order and number of its notifications.
#include <gtest/gtest.h>

#include <vector>

#include "editor/VelFader.h"
#include "toolkit/Form.h"

using toolkit::PointerButton;

namespace {

// The editor's fader: bounds 4, 77, 32 x 24, then vertical, 66, 0, 77, and
// the listener last.
class Fader : public ::testing::Test {
 protected:
  Fader() {
    form.insertControl(fader);
    fader.setBounds(4, 77, 32, 24);
    fader.setOrientation(orVertical);
    fader.setMaximum(66);
    fader.setVelFPosition(0);
    fader.setStart(77);
    fader.setOnPosChange([this](toolkit::PictureControl* sender) {
      EXPECT_EQ(sender, &fader);
      seen.push_back(fader.VelFPosition());
    });
  }
  toolkit::Form form{250, 199};
  TVelFader fader;
  std::vector<int> seen;  // VelFPosition at each notification
};

TEST(FaderDefaults, NewFaderIsHorizontalAtZeroWithTravel100) {
  TVelFader f;
  EXPECT_EQ(f.Orientation(), orHorizontal);
  EXPECT_EQ(f.Maximum(), 100);
  EXPECT_EQ(f.Start(), 0);
  EXPECT_EQ(f.VelFPosition(), 0);
  EXPECT_FALSE(f.dragging());
  EXPECT_EQ(f.Left(), 0);
}

TEST_F(Fader, LayoutLeavesKnobAtStartWithoutAnnouncingIt) {
  EXPECT_EQ(fader.Top(), 77);
  EXPECT_EQ(fader.Left(), 4);
  EXPECT_EQ(fader.Start(), 77);
  EXPECT_TRUE(seen.empty());
}

TEST_F(Fader, PositionSetterClampsMovesAndAlwaysNotifies) {
  fader.setVelFPosition(80);
  EXPECT_EQ(fader.VelFPosition(), 66);
  EXPECT_EQ(fader.Top(), 143);
  fader.setVelFPosition(-5);
  EXPECT_EQ(fader.VelFPosition(), 0);
  EXPECT_EQ(fader.Top(), 77);
  form.paint();
  fader.setVelFPosition(0);
  EXPECT_EQ(seen, (std::vector<int>{66, 0, 0})) << "an unchanged position still notifies";
  EXPECT_TRUE(form.invalidRect().empty()) << "but repaints nothing";
}

TEST_F(Fader, MaximumOnlyStoresAndStartKeepsThePosition) {
  fader.setVelFPosition(10);
  seen.clear();
  fader.setMaximum(5);
  EXPECT_EQ(fader.VelFPosition(), 10);
  EXPECT_EQ(fader.Top(), 87);
  fader.setStart(90);
  EXPECT_EQ(fader.Top(), 90);
  EXPECT_EQ(fader.VelFPosition(), 10);
  EXPECT_TRUE(seen.empty());
}

TEST_F(Fader, OrientationChangeTakesStartFromTheNewAxisAndMovesNothing) {
  TVelFader f;
  form.insertControl(f);
  f.setBounds(4, 77, 32, 24);
  f.setOrientation(orVertical);
  EXPECT_EQ(f.Start(), 77);
  EXPECT_EQ(f.Left(), 4);
  EXPECT_EQ(f.Top(), 77);
  f.setStart(50);
  f.setOrientation(orVertical);
  EXPECT_EQ(f.Start(), 50) << "the same orientation again changes nothing";
}

TEST_F(Fader, MovesWithoutAPressDoNothing) {
  fader.pointerMove(10, 40);
  fader.pointerMove(10, 0);
  EXPECT_EQ(fader.Top(), 77);
  EXPECT_TRUE(seen.empty());
}

TEST_F(Fader, AcceptedMovePutsTheKnobCentreUnderThePointerAndNotifiesTwice) {
  fader.pointerPress(PointerButton::Primary, 5, 10);
  EXPECT_TRUE(fader.dragging());
  EXPECT_EQ(fader.lastY(), 10);
  EXPECT_TRUE(seen.empty());
  fader.pointerMove(5, 30);
  EXPECT_EQ(fader.Top(), 95);
  EXPECT_EQ(fader.lastY(), 30);
  EXPECT_EQ(fader.VelFPosition(), 18);
  EXPECT_EQ(seen, (std::vector<int>{18, 18}));
  // Upwards: y 4 < 30 and Top 95 > 77; Top = 95 + 4 - 12 = 87.
  fader.pointerMove(5, 4);
  EXPECT_EQ(fader.Top(), 87);
  EXPECT_EQ(fader.VelFPosition(), 10);
}

TEST_F(Fader, MoveTowardsAnEndTheKnobAlreadyReachedIsRefusedButStillNotifies) {
  fader.setVelFPosition(66);
  seen.clear();
  fader.pointerPress(PointerButton::Primary, 5, 12);
  fader.pointerMove(5, 20);
  EXPECT_EQ(fader.Top(), 143);
  EXPECT_EQ(fader.lastY(), 12);
  EXPECT_EQ(seen, (std::vector<int>{66}));
  fader.pointerMove(5, 12);  // equal to lastY: refused too
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(Fader, MoveFarBeyondTheTravelEndsClampedAndReleaseSendsNothing) {
  fader.setVelFPosition(63);  // Top 140
  seen.clear();
  fader.pointerPress(PointerButton::Primary, 5, 12);
  fader.pointerMove(5, 200);
  EXPECT_EQ(fader.Top(), 143);
  EXPECT_EQ(fader.VelFPosition(), 66);
  EXPECT_EQ(seen, (std::vector<int>{66, 66}));
  seen.clear();
  fader.pointerRelease(PointerButton::Primary, 5, 200);
  EXPECT_FALSE(fader.dragging());
  EXPECT_EQ(fader.Top(), 143);
  EXPECT_EQ(fader.VelFPosition(), 66);
  EXPECT_TRUE(seen.empty());
}

TEST_F(Fader, ReleaseClampsAKnobLeftOutsideItsTravel) {
  // Start moved below the knob by the start setter, then a release.
  fader.setVelFPosition(30);  // Top 107
  fader.setStart(120);        // knob to 120, position still 30
  fader.setStart(60);         // knob to 60
  fader.setTop(200);          // e.g. moved by someone else
  seen.clear();
  fader.pointerRelease(PointerButton::Primary, 0, 0);
  EXPECT_EQ(fader.Top(), 126);
  EXPECT_EQ(fader.VelFPosition(), 66);
  fader.setTop(10);
  fader.pointerRelease(PointerButton::Primary, 0, 0);
  EXPECT_EQ(fader.Top(), 60);
  EXPECT_EQ(fader.VelFPosition(), 0);
  EXPECT_TRUE(seen.empty());
}

TEST(FaderHorizontal, UsesLeftWidthAndX) {
  toolkit::Form form(300, 50);
  TVelFader f;
  form.insertControl(f);
  f.setBounds(10, 5, 20, 10);
  f.setOrientation(orHorizontal);
  f.setMaximum(50);
  f.setStart(10);
  int notes = 0;
  f.setOnPosChange([&](toolkit::PictureControl*) { ++notes; });
  f.pointerPress(PointerButton::Primary, 4, 99);
  EXPECT_EQ(f.lastX(), 4);
  EXPECT_EQ(f.lastY(), 0) << "a horizontal press leaves lastY alone";
  f.pointerMove(30, 0);  // Left = 10 + 30 - 10 = 30
  EXPECT_EQ(f.Left(), 30);
  EXPECT_EQ(f.Top(), 5);
  EXPECT_EQ(f.VelFPosition(), 20);
  EXPECT_EQ(notes, 2);
}

}  // namespace
