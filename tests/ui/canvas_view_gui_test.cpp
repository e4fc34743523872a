// The canvas at other zooms and scrolls: drags in canvas units, today's pixels without the
// checkerboard, the outline of what a drag would move, and the kept layers of a drag.
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

#include "platform/image_impl.hpp"
#include "support/fakes.hpp"
#include "ui/canvas_widget.hpp"

namespace charstack {
namespace {

using testing::layer;
using testing::testImage;

struct CanvasView : ::testing::Test {
  CanvasView() {
    // Above the dragged layer ("moved") only alpha 0 and 255, which blend alike in any grouping.
    auto block = [](int w, int h, uint32_t argb) { return makeImage(w, h, std::vector<uint32_t>(size_t(w * h), argb)); };
    auto at = [](Layer l, int x, int y) { return l.x = x, l.y = y, l; };
    Character c = testing::character("c", 10, testImage(120, 90, 1));
    c.x = 30, c.y = 20;
    c.layers = {at(layer("under", 20, testImage(80, 60, 2)), 10, 60), at(layer("moved", 30, testImage(60, 50, 3)), 40, 30),
                at(layer("hidden", 40, testImage(40, 40, 4)), 90, 90),
                at(layer("over", 50, block(50, 40, 0xff2040a0)), 70, 50), at(layer("top", 60, block(30, 70, 0xffe0c020)), 100, 20)};
    c.layers[2].visible = 0;
    list.characters.push_back(c);
    canvas.resize(300, 200);
    canvas.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&canvas));
    pointerInside(false);  // the outline shows while the canvas has the pointer or the focus
    canvas.clearFocus();
  }
  void pointerInside(bool inside) {
    QEnterEvent enter({1, 1}, {1, 1}, canvas.mapToGlobal(QPointF(1, 1)));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&canvas, inside ? static_cast<QEvent*>(&enter) : &leave);
  }
  void mouse(QEvent::Type type, QPointF at, Qt::MouseButtons held = Qt::LeftButton) {
    QMouseEvent e(type, at, canvas.mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&canvas, &e);
    for (auto& tick : timers.ticks) tick();
    QCoreApplication::processEvents();
  }
  QImage shown() { return canvas.grab().toImage().convertToFormat(QImage::Format_RGB32); }
  // The composition painted afresh over the window background, as the canvas showed it before zoom.
  QImage fresh() {
    QImage image(canvas.size(), QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), canvas.palette().window());
    for (const DrawCall& c : canvas.view().composition())
      painter.drawImage(QRectF(c.x, c.y, c.image->width(), c.image->height()), c.image->impl().premultiplied());
    return image;
  }

  CharacterList list;
  EditorState state;
  testing::FakeTimerService timers;
  CanvasWidget canvas{list, state, timers};
};

TEST_F(CanvasView, DragsMoveByThePointersTravelInCanvasUnits) {
  using Move = std::tuple<QPointF, int32_t, int32_t>;
  const struct { double zoom; int64_t scrollX, scrollY; std::vector<Move> moves; } cases[] = {
      {1, 0, 0, {{{110, 45}, 40, 15}, {{95.5, 60.25}, 25, 30}, {{60.5, 20}, -9, -10}}},
      {2, 0, 0, {{{110, 50}, 35, 20}, {{90, 70}, 25, 30}}},
      {0.5, -40, 30, {{{110, 40}, 50, 0}}},
      {2, 300, -40, {{{110, 51}, 35, 20}}},  // the half unit truncates
  };
  state.moveCharacter = true;
  for (const auto& c : cases) {
    list.characters[0].x = 30, list.characters[0].y = 20;
    canvas.setZoom(c.zoom);
    canvas.scrollTo(c.scrollX, c.scrollY);
    mouse(QEvent::MouseButtonPress, {100, 50});
    for (const auto& [at, x, y] : c.moves) {
      mouse(QEvent::MouseMove, at);
      EXPECT_EQ(std::make_pair(list.characters[0].x, list.characters[0].y), std::make_pair(x, y)) << c.zoom;
    }
    mouse(QEvent::MouseButtonRelease, {}, Qt::NoButton);
  }
}

TEST_F(CanvasView, WithoutTheCheckerboardTheCanvasShowsTodaysPixels) {
  EXPECT_EQ(shown(), fresh());
  canvas.setCheckerboard(true);
  EXPECT_NE(shown().pixel(290, 190), fresh().pixel(290, 190));
  canvas.setCheckerboard(false);
  canvas.setZoom(2);
  canvas.scrollTo(100, 40);  // unit (80, 35) lands on screen (60, 30) and fills 2x2 pixels
  for (const QPoint p : {QPoint(60, 30), QPoint(61, 31)}) EXPECT_EQ(shown().pixel(p), fresh().pixel(80, 35));
}

TEST_F(CanvasView, OutlineFramesWhatADragWouldMoveAndNothingForAHiddenLayer) {
  state.moveLayer = true;
  // The moved layer covers units 40..99 x 30..79: at 200% scrolled by (150, 100), screen -70..49 x -40..59.
  const struct { int64_t row; double zoom; int left, top, right, bottom; } cases[] = {
      {1, 1, 39, 29, 100, 80}, {1, 2, -71, -41, 50, 60}, {2, 1, 0, 0, 0, 0}};
  for (const auto& c : cases) {
    state.selectedLayerRow = c.row;
    canvas.setZoom(c.zoom);
    canvas.scrollTo(c.zoom == 1 ? 0 : 150, c.zoom == 1 ? 0 : 100);
    pointerInside(true);
    const QImage framed = shown();
    pointerInside(false);
    const QImage plain = shown();
    int changed = 0;
    for (int y = 0; y < plain.height(); ++y)
      for (int x = 0; x < plain.width(); ++x)
        if (framed.pixel(x, y) != plain.pixel(x, y)) {
          ++changed;
          EXPECT_TRUE(x == c.left || x == c.right || y == c.top || y == c.bottom) << c.row << ": " << x << "," << y;
        }
    EXPECT_EQ(changed > 0, c.right > 0) << "row " << c.row;
  }
}

TEST_F(CanvasView, TheKeptLayersOfADragGiveTheFreshComposition) {
  state.moveLayer = true;
  state.selectedLayerRow = 1;
  mouse(QEvent::MouseButtonPress, {50, 40});
  for (const QPointF at : {QPointF(70, 45), QPointF(120, 90), QPointF(95, 62)}) mouse(QEvent::MouseMove, at);
  mouse(QEvent::MouseButtonRelease, {95, 62}, Qt::NoButton);
  EXPECT_EQ(list.characters[0].layers[1].x, 85);
  EXPECT_EQ(shown(), fresh());
  EXPECT_EQ(canvas.cachedBuffers(), 2);
  state.selectedLayerRow = 0;  // another selection drops them
  for (auto& tick : timers.ticks) tick();
  EXPECT_EQ(canvas.cachedBuffers(), 0);
}

}  // namespace
}  // namespace charstack
