// The widget that hosts the canvas logic.
#pragma once

#include <QImage>
#include <QRegion>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "canvas/canvas_scene.hpp"
#include "canvas/viewport.hpp"
#include "controller/document.hpp"
#include "platform/ui.hpp"

class QPainter;
class QScrollBar;

namespace charstack {

class Editor;

// Paints the window background, optionally a checkerboard, the composition of the selected character
// at the viewport's zoom and scroll, and, while the pointer is over the canvas, it has the keyboard
// focus or a drag runs, a dashed frame around the record a drag would move. A press
// and a drag with the left button move that record; the middle button, or Space with the left
// button, pans; Ctrl with the wheel zooms about the pointer. Scroll bars appear at the right and the
// bottom when the drawing reaches beyond the visible area; the drawing stays out of them and of the
// corner between them.
//
// The zoom stays as the user set it, but what the canvas newly draws is brought into view: a
// character just selected, a picture just dropped or pasted, a layer just shown.
class CanvasWidget : public QWidget, public TableObserver {
  Q_OBJECT

 public:
  CanvasWidget(CharacterList& list, EditorState& state, QWidget* parent = nullptr);
  ~CanvasWidget() override;

  CanvasScene& view() { return *view_; }
  // The editor that records each drag and nudge as one edit (none moves records without a record).
  // The canvas repaints when its document says that records or the selection changed.
  void setController(Editor* controller);

  // Repaints what would now look different (the records, the selection, the frame).
  void refresh();
  void beginRows(Table, Change, int64_t, int64_t) override {}
  void endRows(Table) override { refresh(); }
  void rowsChanged(Table, int64_t, int64_t) override { refresh(); }
  void selectionChanged() override { refresh(); }

  QSize sizeHint() const override { return {480, 400}; }

  // Viewing. The zoom keeps the middle of the visible area in place; fitToView makes the drawn images
  // of the selected character fill the visible area.
  const Viewport& viewport() const { return viewport_; }
  void setZoom(double zoom);
  void zoomIn();
  void zoomOut();
  void fitToView();
  void scrollTo(int64_t x, int64_t y);
  bool checkerboard() const { return checkerboard_; }
  void setCheckerboard(bool on);
  QScrollBar* horizontalScrollBar() const { return hbar_; }
  QScrollBar* verticalScrollBar() const { return vbar_; }

 signals:
  // A drag step has moved the pointer with the button held.
  void dragged();
  void zoomChanged(double zoom);
  // Where the record that a drag or the arrow keys move now stands, in canvas units (its x and y):
  // at every drag step, when the drag ends, and after every nudge.
  void positionChanged(int x, int y);
  // Where the pointer is on the canvas, in canvas units, at every drag step (just before
  // positionChanged).
  void pointerMoved(int x, int y);

 public:
  // How many image buffers the canvas keeps between paints (tests and benchmarks check the bound).
  int cachedBuffers() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  // One drawn image (by serial) and its position.
  struct PaintedCall {
    uint64_t image;
    float x, y;
    bool operator==(const PaintedCall&) const = default;
  };
  // Where the composition is drawn. Direct: straight onto the widget at the zoom. Units: into a
  // buffer of one pixel per canvas unit covering the visible area, which is then enlarged with
  // nearest-neighbour sampling (each unit covers two device pixels or more, so this draws far fewer
  // pixels and gives the same picture).
  struct Surface {
    bool units = false;
    qreal ratio = 1;  // device pixels per screen pixel
    QSize size;       // widget size (direct) or unit buffer size, in device pixels or units
    double zoom = 1;
    int64_t originX = 0, originY = 0;  // scroll (direct) or first unit (units)
    bool checkerboard = false;
    QRgb background = 0;
    bool operator==(const Surface&) const = default;
  };
  // Everything a paint depends on besides the images: compared to skip paints that change nothing.
  struct Look {
    QSize size;
    qreal ratio = 0;
    Viewport viewport;
    bool checkerboard = false;
    std::optional<QRect> outline;
    bool operator==(const Look&) const = default;
  };
  // A composition drawn once and kept: the records below or above the moving one.
  struct Layered {
    QImage image;
    Surface surface;
    std::vector<PaintedCall> calls;
  };

  bool sameAsLastPaint();
  // Reads the composition into current_ and works out the look it would be painted with.
  Look currentLook();
  // The look of current_ as it stands.
  Look lookOfCurrent() const;
  Surface surfaceFor(qreal ratio) const;
  // Draws calls [from, to) of current_ with the surface's mapping from canvas units.
  void drawCalls(QPainter& painter, const Surface& surface, size_t from, size_t to) const;
  void paintBackground(QPainter& painter, const QRect& area) const;
  // The composition onto the surface's target: plain, or from the kept layers around `moving`.
  void compose(QPainter& painter, const Surface& surface, std::optional<size_t> moving);
  void compose(QImage& target, const Surface& surface, std::optional<size_t> moving);
  bool drawsExactly(const Surface& surface) const;
  // Draws the exact composition of current_ on the surface's part of the canvas, made anew when the
  // drawing or the surface changed.
  void drawExact(QPainter& painter, const Surface& surface);
  // Draws calls [from, to) into the kept layer unless it already holds them on this surface.
  void refresh(Layered& layer, const Surface& surface, size_t from, size_t to, bool withBackground);
  void dropCaches();
  // The index in current_ of the record whose surroundings are kept while it moves.
  std::optional<size_t> movingIndex() const;
  std::optional<QRect> outlineRect() const;
  // The part of the canvas the drawing shows in: all of it but the scroll bars and their corner.
  QRect drawingArea() const;
  QRegion drawingRegion() const { return QRegion(drawingArea()); }
  // Scrolls what current_ draws anew into view; true when the view moved.
  bool revealNewDrawing();
  void reportPosition();
  // Lays out the scroll bars and sets their ranges from the drawing and the viewport.
  void updateScrollBars();
  void viewChanged();
  QPointF canvasPoint(const QPointF& screen) const;
  void startPan(const QPointF& at);

  CharacterList& list_;
  EditorState& state_;
  std::unique_ptr<CanvasScene> view_;
  Editor* controller_ = nullptr;
  QScrollBar* hbar_ = nullptr;
  QScrollBar* vbar_ = nullptr;
  bool syncingBars_ = false;

  Viewport viewport_;
  bool checkerboard_ = false;
  enum class Gesture { None, Drag, Pan } gesture_ = Gesture::None;
  QPointF panFrom_;
  bool spaceHeld_ = false;
  bool hovered_ = false;
  int wheelAngle_ = 0;  // Ctrl+wheel angle not yet turned into a zoom step

  // The record whose surroundings are kept while it moves, and the kept buffers: the records below it
  // (with the background), those above it, and the unit buffer when the zoom draws through one.
  std::optional<RecordAt> cacheTarget_;
  Layered below_, above_;
  QImage units_;
  // The exact composition shown at rest (straight ARGB32) and what it was made of.
  Layered exact_;

  // What the canvas drew when it last looked for something new to bring into view: the selected row
  // and the images, in drawing order. No row before the canvas was first shown.
  std::optional<int64_t> shownRow_;
  std::vector<uint64_t> shownImages_;

  std::vector<DrawCall> current_;
  std::vector<PaintedCall> painted_;
  Look paintedLook_;
  bool paintedOnce_ = false;
};

}  // namespace charstack
