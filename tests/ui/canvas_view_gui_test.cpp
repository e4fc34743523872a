// The canvas at other zooms and scrolls: drags in canvas units and the positions they report, today's
// pixels without the checkerboard, the outline of what a drag would move, the kept layers of a drag,
// what comes into view, and what it paints at scale factors 1 and 1.5.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cmath>

#include "platform/image_impl.hpp"
#include "support/fakes.hpp"
#include "ui/at_scale.hpp"
#include "controller/editor.hpp"
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
    tick();
    QCoreApplication::processEvents();
  }
  void tick() { canvas.refresh(); }
  QImage shown() { return canvas.grab().toImage().convertToFormat(QImage::Format_RGB32); }
  // The exported picture of the composition drawn over the window background: what the canvas at rest
  // shows at 100%.
  QImage fresh() {
    QImage image(canvas.size(), QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), canvas.palette().window());
    std::vector<PlacedImage> placed;
    for (const DrawCall& c : canvas.view().composition()) placed.push_back({c.image, c.x, c.y});
    const ComposedImage composed = composeImages(placed);
    painter.drawImage(QPointF(double(composed.left), double(composed.top)), composed.image->impl().qimage());
    return image;
  }

  CharacterList list;
  EditorState state;
  CanvasWidget canvas{list, state};
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
  QSignalSpy reported(&canvas, &CanvasWidget::positionChanged), pointer(&canvas, &CanvasWidget::pointerMoved);
  for (const auto& c : cases) {
    list.characters[0].x = 30, list.characters[0].y = 20;
    canvas.setZoom(c.zoom);
    canvas.scrollTo(c.scrollX, c.scrollY);
    mouse(QEvent::MouseButtonPress, {100, 50});
    for (const auto& [at, x, y] : c.moves) {
      mouse(QEvent::MouseMove, at);
      EXPECT_EQ(std::make_pair(list.characters[0].x, list.characters[0].y), std::make_pair(x, y)) << c.zoom;
      EXPECT_EQ(reported.takeFirst(), (QList<QVariant>{x, y}));
      // Screen point plus scroll, in canvas units, rounded down.
      EXPECT_EQ(pointer.takeFirst(), (QList<QVariant>{static_cast<int>(std::floor((at.x() + c.scrollX) / c.zoom)),
                                                      static_cast<int>(std::floor((at.y() + c.scrollY) / c.zoom))}));
    }
    mouse(QEvent::MouseButtonRelease, {}, Qt::NoButton);
    EXPECT_TRUE(pointer.isEmpty());
    EXPECT_EQ(reported.takeFirst(),
              (QList<QVariant>{std::get<1>(c.moves.back()), std::get<2>(c.moves.back())}));
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
  EXPECT_EQ(canvas.cachedBuffers(), 1);  // at rest: the exact composition, not the layers of the drag
  state.selectedLayerRow = 0;  // another selection drops it
  canvas.refresh();
  EXPECT_EQ(canvas.cachedBuffers(), 0);
}

// At the zoom fitted to a small character, another character, a picture pasted into a new one at
// (0, 0) and a layer shown far away each come into view; moving a record away scrolls nothing.
TEST_F(CanvasView, WhatIsNewlyDrawnComesIntoViewAtTheSameZoom) {
  auto placed = [](auto record, int x, int y) { return record.x = x, record.y = y, record; };
  list.characters.push_back(placed(testing::character("small", 10, testImage(16, 16, 5)), 500, 400));
  list.characters.push_back(placed(testing::character("wide", 10, testImage(60, 12, 6)), -400, 30));
  list.characters.push_back(testing::character("new"));
  list.characters[3].layers = {placed(layer("far", 20, testImage(8, 8, 7)), 900, -300)};
  list.characters[3].layers[0].visible = 0;
  state.selectedCharacterRow = 1;
  tick();
  canvas.fitToView();
  const double zoom = canvas.viewport().zoom, pixel = 1 / zoom;  // about 12
  // Each step and what it brings into view; none: the view stays.
  const std::tuple<std::function<void()>, std::optional<CanvasBox>> steps[] = {
      {[&] { state.selectedCharacterRow = 2; }, CanvasBox{-400, 30, -340, 42}},
      {[&] { state.selectedCharacterRow = 3; }, std::nullopt},  // nothing to draw
      {[&] { list.characters[3].image = testImage(20, 20, 8); }, CanvasBox{0, 0, 20, 20}},
      {[&] { list.characters[3].layers[0].visible = 1; }, CanvasBox{900, -300, 908, -292}},
      {[&] { list.characters[3].x = 5000; }, std::nullopt}};
  // Along each axis the picture lies inside the visible area, or the area inside the picture.
  auto nested = [&](double lo, double hi, double from, double to) {
    return (lo >= from - pixel && hi <= to + pixel) || (from >= lo - pixel && to <= hi + pixel);
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    const auto& [step, shown] = steps[i];
    const Viewport before = canvas.viewport();
    step();
    tick();
    const Viewport& v = canvas.viewport();
    EXPECT_EQ(v.zoom, zoom);
    EXPECT_TRUE(shown ? nested(shown->left, shown->right, v.toCanvasX(0), v.toCanvasX(v.width)) &&
                            nested(shown->top, shown->bottom, v.toCanvasY(0), v.toCanvasY(v.height))
                      : v.scrollX == before.scrollX && v.scrollY == before.scrollY)
        << i;
  }
}

// Rendered without its children, the canvas leaves the scroll bars' pixels alone, fills the corner
// between them with the window background and paints all of the rest.
TEST_F(CanvasView, PaintsNothingOverItsScrollBarsOrTheirCornerAtAnyZoomAndScale) {
  testing::expectPassesAtScaleFactor15();
  const qreal ratio = canvas.devicePixelRatioF();
  const QRgb unpainted = qRgb(255, 0, 255), background = canvas.palette().window().color().rgb();
  for (const bool checkerboard : {false, true})
    for (const double zoom : {3.0, 12.0, 32.0}) {
      canvas.setCheckerboard(checkerboard);
      canvas.setZoom(zoom);
      canvas.scrollTo(static_cast<int64_t>(60 * zoom), static_cast<int64_t>(40 * zoom));
      const QRect h = canvas.horizontalScrollBar()->geometry(), v = canvas.verticalScrollBar()->geometry();
      ASSERT_TRUE(canvas.horizontalScrollBar()->isVisible() && canvas.verticalScrollBar()->isVisible());
      const QRect corner(v.x(), h.y(), v.width(), h.height()), drawing(0, 0, v.x(), h.y());
      QImage target((QSizeF(canvas.size()) * ratio).toSize(), QImage::Format_RGB32);
      target.setDevicePixelRatio(ratio);
      target.fill(unpainted);
      canvas.render(&target, QPoint(), QRegion(), QWidget::RenderFlags());
      int wrong = 0;
      for (int y = 0; y < target.height(); ++y)
        for (int x = 0; x < target.width(); ++x) {
          // Whether the device pixel, the logical square [x, x + 1) / ratio, lies inside r.
          auto in = [&](const QRect& r) {
            return QRectF(r).contains(QRectF(x / ratio, y / ratio, 1 / ratio, 1 / ratio));
          };
          const QRgb p = target.pixel(x, y);
          wrong += ((in(h) || in(v)) && p != unpainted) + (in(corner) && p != background) +
                   (in(drawing) && p == unpainted);
        }
      EXPECT_EQ(wrong, 0) << "zoom " << zoom << (checkerboard ? " over the checkerboard" : "");
    }
}

// The canvas as a tool over a project: a press picks what it drags, a right click lists what lies
// under the pointer, Shift keeps a drag on one axis and Ctrl takes the character with its layers.
struct CanvasPicking : testing::ControllerTest {
  void SetUp() override {
    // 4x4 pictures, transparent in their first row and column. K covers units 0..3, A 2..5; H is hidden.
    open("K,100, 0, 0\n####\nA,150,1, 2, 2\nH,200,0, 0, 0\n$$$$\nW,50, 0, 0\n####\n$$$$\n");
    clickCharacter(0);
    canvas = std::make_unique<CanvasWidget>(list, state);
    canvas->setController(controller.get());
    canvas->resize(300, 200);
    canvas->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(canvas.get()));
    canvas->setZoom(10);
  }
  QPointF screen(double x, double y) const {
    return {canvas->viewport().toScreenX(x), canvas->viewport().toScreenY(y)};
  }
  void mouse(QEvent::Type type, double x, double y, Qt::KeyboardModifiers keys = Qt::NoModifier) {
    const QPointF at = screen(x, y);
    QMouseEvent e(type, at, canvas->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, keys);
    QCoreApplication::sendEvent(canvas.get(), &e);
  }
  void drag(double x, double y, double toX, double toY, Qt::KeyboardModifiers keys = Qt::NoModifier) {
    mouse(QEvent::MouseButtonPress, x, y, keys);
    mouse(QEvent::MouseMove, toX, toY, keys);
    mouse(QEvent::MouseButtonRelease, toX, toY, keys);
  }
  // "c" for the character as the drag target, "l<row>" for a layer.
  std::string target() const {
    return state.moveCharacter ? "c" : state.moveLayer ? "l" + std::to_string(state.selectedLayerRow) : "-";
  }
  std::string positions() const {
    std::string out;
    forEachRecord(list, [&](const auto& r, int64_t, int64_t k, auto) {
      if (k == 0) out += (out.empty() ? "" : " ") + std::to_string(r.x) + "," + std::to_string(r.y);
    });
    return out;
  }
  std::unique_ptr<CanvasWidget> canvas;
};

TEST_F(CanvasPicking, APressPicksTheTopmostPictureAndTheDragMovesIt) {
  clickLayer(0);
  // Right-click where A lies over K: both listed, topmost first; the second is chosen.
  QStringList listed;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    for (QAction* action : menu->actions()) listed << action->text();
    menu->actions().at(1)->trigger();
    menu->close();
  });
  QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, screen(3.5, 3.5).toPoint(),
                              canvas->mapToGlobal(screen(3.5, 3.5).toPoint()));
  QCoreApplication::sendEvent(canvas.get(), &menuEvent);
  EXPECT_EQ(listed, (QStringList{"Layer A", "Character K"}));
  EXPECT_EQ(target(), "c");

  QUndoStack& history = controller->document().history();
  const struct {
    std::function<void()> act;
    const char* target;
    const char* positions;  // K, A, H
    const char* undo;
  } steps[] = {
      {[&] { drag(4.5, 4.5, 6.5, 4.5); }, "l0", "0,0 4,2 0,0", "Move Layer"},
      // The hidden H above K is passed through; Shift keeps the travel (1, 4) vertical.
      {[&] { drag(1.5, 1.5, 2.5, 5.5, Qt::ShiftModifier); }, "c", "0,4 4,2 0,0", "Move Character"},
      // Over no picture the drag moves what is selected.
      {[&] { clickLayer(0), drag(10.5, 10.5, 11.5, 10.5); }, "l0", "0,4 5,2 0,0", "Move Layer"},
      // K's transparent first column lets the press through to nothing: the selection stays.
      {[&] { drag(0.5, 6.5, 0.5, 7.5); }, "l0", "0,4 5,3 0,0", "Move Layer"},
      {[&] { drag(6.5, 3.5, 7.5, 4.5, Qt::ControlModifier); }, "c", "1,5 6,4 1,1", "Move Character and Layers"},
      // Alt takes the character with its layers to the arrow keys, a run of them one step.
      {[&] { clickLayer(0), QTest::keyClick(canvas.get(), Qt::Key_Right, Qt::AltModifier),
             QTest::keyClick(canvas.get(), Qt::Key_Down, Qt::AltModifier | Qt::ShiftModifier); },
       "c", "2,15 7,14 2,11", "Move Character and Layers"},
      {[&] { history.undo(); }, "c", "1,5 6,4 1,1", "Move Character and Layers"},
      {[&] { history.undo(); }, "c", "0,4 5,3 0,0", "Move Layer"},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    steps[i].act();
    EXPECT_EQ(std::tuple(target(), positions(), history.undoText().toStdString()),
              std::tuple(std::string(steps[i].target), std::string(steps[i].positions), std::string(steps[i].undo)))
        << "step " << i;
  }
}

}  // namespace
}  // namespace charstack
