// Zoom steps, zooming about a point, the scrollable area, fitting the drawing into view and bringing
// a box into view.
#include <gtest/gtest.h>

#include "canvas/viewport.hpp"

namespace charstack {
namespace {

TEST(Viewport, ZoomStepsStopAtTheLimitsAndKeepThePointUnderThePointer) {
  const double steps[][3] = {{1, 1, 1.5}, {1, -1, 2.0 / 3}, {5, 1, 6}, {0.12, -1, 0.1}, {0.1, -1, 0.1}, {500, -1, 24}};
  for (const auto& s : steps) EXPECT_DOUBLE_EQ(zoomStep(s[0], static_cast<int>(s[1])), s[2]) << s[0] << " " << s[1];
  Viewport v{1, -30, 20, 400, 300};
  v.zoomAbout(4, 100, 50);  // canvas (70, 70) stays under the pointer
  EXPECT_EQ(std::make_pair(v.scrollX, v.scrollY), std::make_pair(int64_t{180}, int64_t{230}));
  v.zoomAbout(1000, 0, 0);
  EXPECT_EQ(v.zoom, kMaxZoom);
}

// The bars reach all of the drawing, negative positions included, and never cut off the visible area.
TEST(Viewport, ScrollRangeIsTheDrawingAndTheVisibleArea) {
  const CanvasBox content{-50, 10, 300, 200};  // at 200%: -100..600 wide, 20..400 high
  const struct { int64_t x, y; ScrollRange h, v; } cases[] = {{0, 0, {-100, 200}, {0, 100}},
                                                              {1000, -500, {-100, 1000}, {-500, 100}}};
  for (const auto& c : cases) {
    const Viewport v{2, c.x, c.y, 400, 300};
    EXPECT_EQ(v.horizontalRange(content), c.h) << c.x;
    EXPECT_EQ(v.verticalRange(content), c.v) << c.y;
    EXPECT_EQ(v.horizontalRange(std::nullopt), (ScrollRange{c.x, c.x}));
  }
}

// Fit takes the largest zoom step at which the box fits: 1350% and 100.2% would fit, 1200% and 100%
// are shown.
TEST(Viewport, FitTakesTheLargestStepThatFitsWithoutScrolling) {
  const std::pair<CanvasBox, double> cases[] = {{{0, 0, 22, 22}, 12},
                                                {{0, 0, 398, 200}, 1},
                                                {{-700, 35, 1300, 1035}, 0.15},
                                                {{3, 4, 2000, 9}, 0.15},
                                                {{0, 0, 1, 1}, 32},
                                                {{0, 0, 9000, 10}, 0.1}};
  for (const auto& [box, zoom] : cases) {
    Viewport v{1, 0, 0, 400, 300};
    v.fit(box);
    EXPECT_DOUBLE_EQ(v.zoom, zoom) << box.right;
    if (zoom == 0.1) continue;  // larger than the view even at the least zoom
    EXPECT_EQ(v.horizontalRange(box), (ScrollRange{v.scrollX, v.scrollX})) << box.left;
    EXPECT_EQ(v.verticalRange(box), (ScrollRange{v.scrollY, v.scrollY})) << box.left;
  }
}

// Zooming keeps what of the drawing was in view in view: a drawing in the top left corner, one
// beside it, one around the view, none at all (about the middle, as before).
TEST(Viewport, ZoomKeepsTheDrawingInView) {
  const std::tuple<std::optional<CanvasBox>, double, int64_t, int64_t> cases[] = {
      {CanvasBox{0, 0, 40, 30}, 2, 0, 0},
      {CanvasBox{-100, 250, 30, 400}, 3, 0, 600},
      {CanvasBox{-1000, -1000, 1000, 1000}, 2, 200, 150},
      {std::nullopt, 2, 200, 150}};
  for (const auto& [drawn, zoom, x, y] : cases) {
    Viewport v{1, 0, 0, 400, 300};
    v.zoomKeeping(zoom, drawn);
    EXPECT_EQ(std::make_tuple(v.zoom, v.scrollX, v.scrollY), std::make_tuple(zoom, x, y)) << (drawn ? drawn->left : 0);
  }
}

// The least scroll that puts a box inside the 400x300 view at 200%, or the view inside a larger box:
// inside already; up-left; at the right; wider and around; larger and beside it.
TEST(Viewport, RevealScrollsAsLittleAsItTakes) {
  const std::tuple<CanvasBox, int64_t, int64_t> cases[] = {{{10, 10, 50, 50}, 0, 0},
                                                           {{-90, 320, -10, 380}, -180, 460},
                                                           {{300, 100, 350, 120}, 300, 0},
                                                           {{-1000, 0, 1000, 50}, 0, 0},
                                                           {{150, -400, 2000, -10}, 300, -320}};
  for (const auto& [box, x, y] : cases) {
    Viewport v{2, 0, 0, 400, 300};
    v.reveal(box);
    EXPECT_EQ(std::make_tuple(v.zoom, v.scrollX, v.scrollY), std::make_tuple(2.0, x, y)) << box.left;
  }
}

}  // namespace
}  // namespace charstack
