#include "app/placement.h"

#include <gtest/gtest.h>

#include "app/ini_file.h"
#include "temp_folder.h"

namespace qc {
namespace {

TEST(Placement, SectionNameCarriesTheDpiAbove96) {
  EXPECT_EQ(PlacementSection("TMainScreen", 96), "TMainScreen_Placement");
  EXPECT_EQ(PlacementSection("TMainScreen", 72), "TMainScreen_Placement");
  EXPECT_EQ(PlacementSection("TMainScreen", 120), "TMainScreen_Placement120");
  EXPECT_EQ(PlacementSection("TFaxViewer", 97), "TFaxViewer_Placement97");
}

TEST(Placement, MovesTheWindowIntoTheScreenWithoutResizingIt) {
  struct Case {
    Rect stored;
    Size screen;
    Rect expected;
  };
  const Case cases[] = {
      // 1024 x 768 with Right 1100 on an 800 x 600 screen: right edge 800,
      // bottom 600, and a negative position because it is larger than the screen.
      {{76, 50, 1100, 818}, {800, 600}, {-224, -168, 800, 600}},
      {{100, 100, 700, 500}, {800, 600}, {100, 100, 700, 500}},  // fits
      {{500, 10, 900, 300}, {800, 600}, {400, 10, 800, 300}},    // only too far right
      {{10, 400, 300, 700}, {800, 600}, {10, 300, 300, 600}},    // only too low
  };
  for (const Case& c : cases) {
    Rect r = MoveIntoScreen(c.stored, c.screen);
    EXPECT_EQ(r, c.expected) << r.Left << "," << r.Top << "," << r.Right << "," << r.Bottom;
    EXPECT_EQ(r.Width(), c.stored.Width());
    EXPECT_EQ(r.Height(), c.stored.Height());
  }
}

TEST(Placement, NothingStoredMeansCentre) {
  EXPECT_TRUE(PlanPlacement({0, 0, 0, 0}, false, {800, 600}).Center);
  EXPECT_FALSE(PlanPlacement({0, 0, 640, 480}, false, {800, 600}).Center);
  EXPECT_TRUE(PlanPlacement({0, 0, 0, 0}, true, {800, 600}).Maximized);
}

TEST(Placement, WrittenPlacementReadsBack) {
  test::TempFolder dir;
  IniFile ini(dir / "QC.INI");
  WritePlacement(ini, "TFaxViewer", 120, {20, 30, 1120, 830}, true);
  IniFile again(dir / "QC.INI");
  EXPECT_EQ(again.ReadInteger("TFaxViewer_Placement120", "Right", 0), 1120);
  PlacementPlan plan = ReadPlacement(again, "TFaxViewer", 120, {1920, 1080}, false);
  EXPECT_FALSE(plan.Center);
  EXPECT_EQ(plan.Bounds, (Rect{20, 30, 1120, 830}));
  EXPECT_TRUE(plan.Maximized);
  // Another dpi is another section: nothing stored there, and Maximized
  // defaults to the window's present state.
  PlacementPlan other = ReadPlacement(again, "TFaxViewer", 96, {1920, 1080}, true);
  EXPECT_TRUE(other.Center);
  EXPECT_TRUE(other.Maximized);
}

TEST(CenterDialog, ThreeCases) {
  const Rect main{100, 50, 900, 650};  // 800 x 600
  const Size screen{1280, 1024};
  // The main window itself: on the screen.
  EXPECT_EQ(CenterDialogPosition({800, 600}, true, false, main, screen), (Point{240, 212}));
  // A dialog while the main window is maximized: on the screen.
  EXPECT_EQ(CenterDialogPosition({301, 201}, false, true, main, screen), (Point{489, 411}));
  // Otherwise over the main window.
  EXPECT_EQ(CenterDialogPosition({301, 201}, false, false, main, screen), (Point{349, 249}));
  // Larger than the screen: the division truncates toward zero (-112, not -113).
  EXPECT_EQ(CenterDialogPosition({1505, 1027}, true, false, main, screen), (Point{-112, -1}));
  EXPECT_EQ(CenterDialogPosition({1025, 803}, false, false, main, screen), (Point{-12, -51}));
}

}  // namespace
}  // namespace qc
