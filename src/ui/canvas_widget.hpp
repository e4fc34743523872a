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
#include "ui/canvas_painter.hpp"
#include "controller/document.hpp"
#include "platform/ui.hpp"

class QContextMenuEvent;
class QPainter;
class QScrollBar;

namespace charstack {

class Editor;
class CanvasInput;

// What shows the records a drag would move: a dashed frame around their drawn images, and a cross at
// the origin of a character whose own picture is not drawn. In screen pixels.
struct CanvasMarks {
  std::optional<QRect> frame;
  std::optional<QPoint> origin;
  bool operator==(const CanvasMarks&) const = default;
};

// Paints the window background, optionally a checkerboard, the composition of the selected character
// at the viewport's zoom and scroll, and, while the pointer is over the canvas, it has the keyboard
// focus or a drag runs, the marks of the records a drag would move. A press with the left button
// picks the record under the pointer and a drag moves it (CanvasInput); the middle button, or Space
// with the left button, pans; Ctrl with the wheel zooms about the pointer. Scroll bars appear at the right and the
// bottom when the drawing reaches beyond the visible area; the drawing stays out of them and of the
// corner between them.
//
// The zoom stays as the user set it, but what the canvas newly draws is brought into view: a
// character just selected, a picture just dropped or pasted, a layer just shown.
class CanvasWidget : public QWidget {
  Q_OBJECT
  friend class CanvasInput;

 public:
  CanvasWidget(CharacterList& list, EditorState& state, QWidget* parent = nullptr);
  ~CanvasWidget() override;

  CanvasScene& view() { return *view_; }
  // The editor that records each drag and nudge as one edit (none moves records without a record).
  // The canvas repaints when its document says that records or the selection changed.
  void setController(Editor* controller);

  // Repaints what would now look different (the records, the selection, the frame).
  void refresh();

  QSize sizeHint() const override { return {480, 400}; }

  // Viewing. The zoom keeps the middle of the visible area in place; fitToView makes the drawn images
  // of the selected character fill the visible area.
  const Viewport& viewport() const { return viewport_; }
  void setZoom(double zoom);
  // One zoom step in (1) or out (-1).
  void zoomBy(int steps);
  void fitToView();
  void scrollTo(int64_t x, int64_t y);
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
  int cachedBuffers() const { return painter_.cachedBuffers(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Everything a paint depends on besides the images: compared to skip paints that change nothing.
  struct Look {
    QSize size;
    qreal ratio = 0;
    Viewport viewport;
    bool checkerboard = false;
    CanvasMarks marks;
    bool operator==(const Look&) const = default;
  };
  bool sameAsLastPaint();
  // The look of current_ as it stands.
  Look lookOfCurrent() const;
  // The calls of current_ from the first to the last record a drag moves: their surroundings are
  // kept while they move.
  std::optional<DrawSpan> movingSpan() const;
  CanvasMarks marks() const;
  // The part of the canvas the drawing shows in: all of it but the scroll bars and their corner.
  QRect drawingArea() const;
  // Scrolls what current_ draws anew into view; true when the view moved.
  bool revealNewDrawing();
  // Lays out the scroll bars and sets their ranges from the drawing and the viewport.
  void updateScrollBars();
  void viewChanged();

  CharacterList& list_;
  EditorState& state_;
  std::unique_ptr<CanvasScene> view_;
  Editor* controller_ = nullptr;
  QScrollBar* hbar_ = nullptr;
  QScrollBar* vbar_ = nullptr;
  bool syncingBars_ = false;

  Viewport viewport_;
  bool checkerboard_ = false;
  CanvasInput* input_ = nullptr;
  // Hears of every change of the document's records and selection.
  struct Listener : TableObserver {
    explicit Listener(CanvasWidget& canvas) : canvas(canvas) {}
    void beginRows(Table, Change, int64_t, int64_t) override {}
    void endRows(Table) override { canvas.refresh(); }
    void rowsChanged(Table, int64_t, int64_t) override { canvas.refresh(); }
    void selectionChanged() override { canvas.refresh(); }
    CanvasWidget& canvas;
  } listener_{*this};

  // The record whose surroundings are kept while it moves, and the painter that keeps them.
  std::optional<RecordAt> cacheTarget_;
  CanvasPainter painter_;

  // What the canvas drew when it last looked for something new to bring into view: the selected row
  // and the images, in drawing order. No row before the canvas was first shown.
  std::optional<int64_t> shownRow_;
  std::vector<uint64_t> shownImages_;

  std::vector<DrawCall> current_;
  std::vector<PaintedCall> painted_;
  Look paintedLook_;
  bool paintedOnce_ = false;
};

// What the pointer and the keys do on the canvas. A left press selects the topmost record whose pixel
// under the pointer is not transparent (a layer among the selected ones keeps the selection) and a
// drag moves what the selection names, all selected layers together, as one step: with Shift only
// along the axis of the larger travel; with Ctrl the character shown with all its layers. A right
// click lists every record under the pointer to select one. The middle button or Space with the left
// button pans, Ctrl with the wheel zooms about the pointer, the arrow keys nudge. It watches the
// canvas's events.
class CanvasInput : public QObject {
 public:
  explicit CanvasInput(CanvasWidget& canvas) : QObject(&canvas), w_(canvas) { canvas.installEventFilter(this); }
  bool dragging() const { return gesture_ == Gesture::Drag; }
  bool hovered() const { return hovered_; }
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool press(QMouseEvent* event);
  bool release(QMouseEvent* event);
  bool move(QMouseEvent* event);
  bool wheel(QWheelEvent* event);
  bool keyPress(QKeyEvent* event);
  bool keyRelease(QKeyEvent* event);
  bool contextMenu(QContextMenuEvent* event);
  // Selects what a press at the canvas point drags (withLayers: the character shown).
  void pick(const QPointF& at, bool withLayers);
  void startPan(const QPointF& at);
  QPointF canvasPoint(const QPointF& screen) const;
  // Tells where the record that a drag or the arrow keys move now stands.
  void reportPosition();

  CanvasWidget& w_;
  enum class Gesture { None, Drag, Pan } gesture_ = Gesture::None;
  QPointF panFrom_;
  bool spaceHeld_ = false;
  bool hovered_ = false;
  int wheelAngle_ = 0;  // Ctrl+wheel angle not yet turned into a zoom step
};

}  // namespace charstack
