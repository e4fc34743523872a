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

TEST(Viewport, FitFillsTheViewWithoutScrolling) {
  for (const CanvasBox& box : {CanvasBox{0, 0, 16, 16}, CanvasBox{-700, 35, 1300, 1035}, CanvasBox{3, 4, 2000, 9}}) {
    Viewport v{1, 0, 0, 400, 300};
    v.fit(box);
    EXPECT_EQ(v.horizontalRange(box), (ScrollRange{v.scrollX, v.scrollX})) << box.left;
    EXPECT_EQ(v.verticalRange(box), (ScrollRange{v.scrollY, v.scrollY})) << box.left;
    EXPECT_GT(std::max(box.width() * v.zoom / 400, box.height() * v.zoom / 300), 0.99) << box.left;
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
