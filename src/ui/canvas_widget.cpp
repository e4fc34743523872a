#include "ui/canvas_widget.hpp"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include "controller/init_layer.hpp"
#include "platform/image_impl.hpp"

namespace charstack {

CanvasWidget::CanvasWidget(CharacterList& list, EditorState& state, TimerService& timers, QWidget* parent)
    : QWidget(parent) {
  setMinimumSize(240, 200);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  // The view paints every pixel itself (background first), so Qt need not clear the widget.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);  // a click gives it the arrow keys
  view_ = std::make_unique<InitLayerView>(list, state, timers, *this);
}

// The view goes first: its timer must not tick into a half-destroyed widget.
CanvasWidget::~CanvasWidget() { view_.reset(); }

// The view asks for a redraw every tick; the widget repaints only when the picture would change.
// Exposes and resizes reach paintEvent on their own.
void CanvasWidget::setNeedsDisplay() {
  if (!sameAsLastPaint()) update();
}

bool CanvasWidget::sameAsLastPaint() {
  if (!paintedOnce_ || size() != paintedSize_) return false;
  view_->composition(current_);
  if (current_.size() != painted_.size()) return false;
  for (size_t i = 0; i < current_.size(); ++i)
    if (!(PaintedCall{current_[i].image->serial(), current_[i].x, current_[i].y} == painted_[i])) return false;
  return true;
}

void CanvasWidget::drawImage(const Image& image, double x, double y, double width, double height) {
  if (!painter_) return;
  painter_->drawImage(QRectF(x, y, width, height), image.impl().premultiplied());
}

void CanvasWidget::paintEvent(QPaintEvent* event) {
  ++paintCount_;
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.setOpacity(1.0);
  painter_ = &painter;
  view_->drawRect(*this);
  painter_ = nullptr;

  // A partial expose leaves the rest of the canvas as it was: only a whole paint is remembered.
  if (!event->rect().contains(rect())) {
    paintedOnce_ = false;
    return;
  }
  view_->composition(current_);
  painted_.clear();
  for (const DrawCall& c : current_) painted_.push_back({c.image->serial(), c.x, c.y});
  paintedSize_ = size();
  paintedOnce_ = true;
}

void CanvasWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  const QPointF p = event->position();
  if (controller_) controller_->beginGesture();
  view_->mouseDown(p.x(), p.y());
}

void CanvasWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && controller_) controller_->endGesture();
  QWidget::mouseReleaseEvent(event);
}

void CanvasWidget::keyPressEvent(QKeyEvent* event) {
  // The arrow keys move what a drag would move, by one unit or, with Shift, by ten.
  const int step = event->modifiers() & Qt::ShiftModifier ? 10 : 1;
  int dx = 0, dy = 0;
  switch (event->key()) {
    case Qt::Key_Left: dx = -step; break;
    case Qt::Key_Right: dx = step; break;
    case Qt::Key_Up: dy = -step; break;
    case Qt::Key_Down: dy = step; break;
    default: QWidget::keyPressEvent(event); return;
  }
  if (!controller_) return;
  controller_->nudge(dx, dy);
  emit dragged();
}

void CanvasWidget::mouseMoveEvent(QMouseEvent* event) {
  // Qt keeps sending moves to the pressed widget while the button is held, even outside it.
  if (!(event->buttons() & Qt::LeftButton)) {
    QWidget::mouseMoveEvent(event);
    return;
  }
  const QPointF p = event->position();
  view_->mouseDragged(p.x(), p.y());
  emit dragged();
}

}  // namespace charstack
