// Where lcdview opens: beside or below the test bench, inside the screen, on the screens a
// user has (1366x768 included), and the bench's place taken from its own form.
#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

#include "tools/viewer_placement.h"

namespace lcdview {
namespace {

struct PlacementCase {
  const char* name;
  QRect available;
  const char* expectedSide;  // "below", "right", "left", "above", or "over" (nowhere free)
};
void PrintTo(const PlacementCase& placement, std::ostream* out) { *out << placement.name; }

// The bench's outer geometry as the viewer reckons it, and the viewer's sizes as lcdview's
// window gives them (a minimum of one glass scale with the log beside it and the controls, a
// wide preferred size).
const QRect bench(QPoint(300, 112), QSize(659, 397) + WindowFrameAllowance);
constexpr QSize minimum = QSize(451, 159) + WindowFrameAllowance;
constexpr QSize preferred(1032, 432);

const char* sideOf(const QRect& viewer) {
  if (viewer.top() > bench.bottom()) return "below";
  if (viewer.left() > bench.right()) return "right";
  if (viewer.right() < bench.left()) return "left";
  if (viewer.bottom() < bench.top()) return "above";
  return "over";
}

class ViewerPlacement : public testing::TestWithParam<PlacementCase> {};

TEST_P(ViewerPlacement, OpensInsideTheScreenOnTheExpectedSideOfTheBench) {
  const PlacementCase& c = GetParam();
  const QRect viewer = placeViewer(bench, minimum, preferred, c.available);
  EXPECT_TRUE(c.available.contains(viewer)) << viewer.x() << "," << viewer.y() << " " << viewer.width() << "x"
                                            << viewer.height();
  EXPECT_STREQ(sideOf(viewer), c.expectedSide);
  if (std::string(c.expectedSide) != "over") {
    EXPECT_GE(viewer.top(), c.available.top());
    EXPECT_FALSE(viewer.adjusted(-WindowGap + 1, -WindowGap + 1, WindowGap - 1, WindowGap - 1).intersects(bench));
    EXPECT_GE(viewer.width(), minimum.width());
    EXPECT_GE(viewer.height(), minimum.height());
  }
  EXPECT_LE(viewer.width(), preferred.width());
  EXPECT_LE(viewer.height(), preferred.height());
}

INSTANTIATE_TEST_SUITE_P(
    Screens, ViewerPlacement,
    testing::Values(PlacementCase{"Laptop1366x768", {0, 0, 1366, 768}, "below"},
                    PlacementCase{"Laptop1366x768WithPanel", {0, 0, 1366, 740}, "below"},
                    PlacementCase{"FullHd", {0, 0, 1920, 1080}, "below"},
                    PlacementCase{"WideAndShort", {0, 0, 1920, 600}, "right"},
                    PlacementCase{"BenchAtTheRightEdge", {-1000, 0, 1966, 600}, "left"},
                    PlacementCase{"BenchLowOnATallScreen", {300, -500, 667, 1080}, "above"},
                    PlacementCase{"NothingFree", {0, 0, 1024, 600}, "over"}),
    [](const testing::TestParamInfo<PlacementCase>& caseInfo) { return std::string(caseInfo.param.name); });

TEST(ViewerPlacementOnScreen, BenchComesFromItsFormAndTheViewerKeepsClearOfIt) {
  int argc = 1;
  char name[] = "viewer_placement_test";
  char* argv[] = {name, nullptr};
  const QApplication application(argc, argv);
  const QRect benchClient = benchClientGeometry();
  EXPECT_EQ(benchClient.topLeft(), QPoint(300, 112));
  EXPECT_GT(benchClient.width(), 600);
  EXPECT_GT(benchClient.height(), 350);

  QWidget viewer;
  viewer.setMinimumSize(200, 100);
  viewer.resize(400, 150);
  placeBesideTheBench(viewer);
  const QRect benchOuter(benchClient.topLeft(), benchClient.size() + WindowFrameAllowance);
  const QRect viewerOuter(viewer.pos(), viewer.size() + WindowFrameAllowance);
  EXPECT_FALSE(viewerOuter.intersects(benchOuter));
  EXPECT_EQ(viewer.size(), QSize(400, 150));
}

}  // namespace
}  // namespace lcdview
