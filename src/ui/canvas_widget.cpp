#include "ui/canvas_widget.hpp"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <QWheelEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

#include "controller/editor.hpp"

namespace charstack {

namespace {


int screenEdge(double v) {
  constexpr double limit = 1 << 24;  // far outside any screen, well inside int
  return static_cast<int>(std::clamp(std::round(v), -limit, limit));
}

// The frame in black dashes on white, the origin as a black cross on a white one.
void drawMarks(QPainter& painter, const CanvasMarks& marks) {
  if (marks.frame) {
    painter.setPen(QPen(Qt::white, 0));
    painter.drawRect(*marks.frame);
    painter.setPen(QPen(Qt::black, 0, Qt::DashLine));
    painter.drawRect(*marks.frame);
  }
  if (marks.origin) {
    constexpr int arm = 6;
    const QPoint o = *marks.origin;
    for (const auto& [pen, width] : {std::pair(Qt::white, 3), std::pair(Qt::black, 1)}) {
      painter.setPen(QPen(pen, width, Qt::SolidLine, Qt::FlatCap));
      painter.drawLine(o - QPoint(arm, 0), o + QPoint(arm, 0));
      painter.drawLine(o - QPoint(0, arm), o + QPoint(0, arm));
    }
  }
}

}  // namespace

CanvasWidget::CanvasWidget(CharacterList& list, EditorState& state, QWidget* parent)
    : QWidget(parent), list_(list), state_(state) {
  setMinimumSize(240, 200);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  // The view paints every pixel itself (background first), so Qt need not clear the widget.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);  // a click gives it the arrow keys
  hbar_ = new QScrollBar(Qt::Horizontal, this);
  vbar_ = new QScrollBar(Qt::Vertical, this);
  for (QScrollBar* bar : {hbar_, vbar_}) {
    bar->setFocusPolicy(Qt::NoFocus);
    bar->setSingleStep(20);
    bar->hide();
    connect(bar, &QScrollBar::sliderReleased, this, &CanvasWidget::updateScrollBars);
  }
  connect(hbar_, &QScrollBar::valueChanged, this, [this](int v) {
    if (!syncingBars_) scrollTo(v, viewport_.scrollY);
  });
  connect(vbar_, &QScrollBar::valueChanged, this, [this](int v) {
    if (!syncingBars_) scrollTo(viewport_.scrollX, v);
  });
  view_ = std::make_unique<CanvasScene>(list, state);
  input_ = new CanvasInput(*this);
}

CanvasWidget::~CanvasWidget() {
  if (controller_) controller_->document().removeObserver(&listener_);
}

void CanvasWidget::setController(Editor* controller) {
  if (controller_) controller_->document().removeObserver(&listener_);
  controller_ = controller;
  if (controller_) controller_->document().addObserver(&listener_);
  refresh();
}

// The widget repaints only when the picture would change. Exposes and resizes reach paintEvent on
// their own.
void CanvasWidget::refresh() {
  if (cacheTarget_ && dragTarget(list_, state_) != cacheTarget_) cacheTarget_.reset(), painter_.dropCaches();
  view_->composition(current_);
  if (revealNewDrawing()) {
    viewChanged();
    return;
  }
  if (sameAsLastPaint()) return;
  updateScrollBars();
  update(drawingArea());
}

// The canvas without its scroll bars and the corner between them: a drag step repaints the drawing,
// not the bars.
QRect CanvasWidget::drawingArea() const {
  return QRect(0, 0, vbar_->isHidden() ? width() : vbar_->x(), hbar_->isHidden() ? height() : hbar_->y());
}

// Moving records brings nothing into view, so that a drag never scrolls under the pointer: only a
// character just selected (all of it) or images that were not drawn at the last look (a picture
// dropped or pasted, a layer shown, a change undone).
bool CanvasWidget::revealNewDrawing() {
  if (!isVisible() || input_->dragging()) return false;
  const int64_t row = state_.selectedCharacterRow;
  bool same = shownRow_ == row && shownImages_.size() == current_.size();
  for (size_t i = 0; same && i < current_.size(); ++i) same = current_[i].image->serial() == shownImages_[i];
  if (same) return false;

  std::optional<CanvasBox> box;
  if (shownRow_ != row) {
    box = drawnBounds(current_);
  } else {
    std::sort(shownImages_.begin(), shownImages_.end());
    std::vector<DrawCall> fresh;
    for (const DrawCall& c : current_)
      if (!std::binary_search(shownImages_.begin(), shownImages_.end(), c.image->serial()))
        fresh.push_back(c);
    box = drawnBounds(fresh);
  }
  shownRow_ = row;
  shownImages_.clear();
  for (const DrawCall& c : current_) shownImages_.push_back(c.image->serial());
  if (!box) return false;
  const Viewport before = viewport_;
  // The visible area is what the scroll bars leave, and they come and go with the scroll.
  for (int round = 0; round < 3; ++round) {
    updateScrollBars();
    const Viewport last = viewport_;
    viewport_.reveal(*box);
    if (viewport_ == last) break;
  }
  return !(viewport_ == before);
}

CanvasWidget::Look CanvasWidget::lookOfCurrent() const {
  return Look{size(), devicePixelRatioF(), viewport_, checkerboard_, marks()};
}

bool CanvasWidget::sameAsLastPaint() {
  const Look look = lookOfCurrent();
  if (!paintedOnce_ || !(look == paintedLook_) || current_.size() != painted_.size()) return false;
  for (size_t i = 0; i < current_.size(); ++i)
    if (!(PaintedCall{current_[i].image->serial(), current_[i].x, current_[i].y} == painted_[i])) return false;
  return true;
}


// ---- Painting -------------------------------------------------------------------------------------









// Only while a drag runs: then the layers around the moving records are kept as 8-bit premultiplied
// buffers, fast enough for every step; the canvas at rest shows the exact composition.
std::optional<DrawSpan> CanvasWidget::movingSpan() const {
  if (!input_->dragging() || !cacheTarget_ || dragTarget(list_, state_) != cacheTarget_) return std::nullopt;
  const std::vector<size_t> drawn = view_->drawIndicesOf(view_->moving());
  if (drawn.empty()) return std::nullopt;
  return DrawSpan{drawn.front(), drawn.back()};
}

CanvasMarks CanvasWidget::marks() const {
  // Shown while the canvas is being worked on: under the pointer, with the keyboard focus, dragging.
  if (!input_->hovered() && !hasFocus() && !input_->dragging()) return {};
  const std::vector<RecordAt> targets = input_->dragging() ? view_->moving() : dragTargets(list_, state_);
  if (targets.empty() || targets.front().characterRow != state_.selectedCharacterRow) return {};
  CanvasMarks marks;
  std::vector<DrawCall> calls;
  for (const size_t i : view_->drawIndicesOf(targets))
    if (i < current_.size()) calls.push_back(current_[i]);
  if (const std::optional<CanvasBox> box = drawnBounds(calls)) {
    const int left = screenEdge(viewport_.toScreenX(box->left)), top = screenEdge(viewport_.toScreenY(box->top));
    const int right = screenEdge(viewport_.toScreenX(box->right)), bottom = screenEdge(viewport_.toScreenY(box->bottom));
    // A one-pixel pen draws a rectangle's right and bottom edges one pixel further: the frame lies
    // just outside the images.
    marks.frame = QRect(left - 1, top - 1, right - left + 1, bottom - top + 1);
  }
  const RecordAt& first = targets.front();
  if (first.layerRow < 0 && !view_->drawIndexOf(first)) {
    const Character& character = list_.characters[static_cast<size_t>(first.characterRow)];
    marks.origin = QPoint(screenEdge(viewport_.toScreenX(character.x)), screenEdge(viewport_.toScreenY(character.y)));
  }
  return marks;
}

void CanvasWidget::paintEvent(QPaintEvent* event) {
  view_->composition(current_);
  const Look look = lookOfCurrent();
  const std::optional<DrawSpan> moving = movingSpan();
  const CanvasSurface surface =
      surfaceFor(viewport_, size(), devicePixelRatioF(), checkerboard_, palette().window().color().rgba());

  QPainter painter(this);
  const QRect area = drawingArea();
  if (area != rect()) {
    // Between two scroll bars lies a corner of plain background, as in a scroll area.
    if (!hbar_->isHidden() && !vbar_->isHidden())
      painter.fillRect(
          QRect(area.right() + 1, area.bottom() + 1, width() - area.width(), height() - area.height()),
          palette().window());
    painter.setClipRect(area);
  }
  painter_.paint(painter, rect(), surface, viewport_, current_, moving);
  drawMarks(painter, look.marks);

  // A partial expose leaves the rest of the canvas as it was: only a whole paint is remembered.
  if (!(QRegion(drawingArea()) - event->region()).isEmpty()) {
    paintedOnce_ = false;
    return;
  }
  painted_ = paintedCalls(current_);
  paintedLook_ = look;
  paintedOnce_ = true;
}

// ---- Viewing --------------------------------------------------------------------------------------

void CanvasWidget::updateScrollBars() {
  view_->composition(current_);
  const std::optional<CanvasBox> content = drawnBounds(current_);
  const int across = vbar_->sizeHint().width(), down = hbar_->sizeHint().height();
  bool needH = false, needV = false;
  ScrollRange hr, vr;
  // Each bar takes room from the other's direction; three rounds settle it.
  for (int round = 0; round < 3; ++round) {
    viewport_.width = std::max(0, width() - (needV ? across : 0));
    viewport_.height = std::max(0, height() - (needH ? down : 0));
    hr = viewport_.horizontalRange(content);
    vr = viewport_.verticalRange(content);
    const bool h = hr.maximum > hr.minimum, v = vr.maximum > vr.minimum;
    if (h == needH && v == needV) break;
    needH = h;
    needV = v;
  }
  syncingBars_ = true;
  auto apply = [](QScrollBar* bar, ScrollRange r, int64_t value, int page, bool need) {
    if (bar->isSliderDown()) {  // the range does not shrink under the user's hand
      r.minimum = std::min<int64_t>(r.minimum, bar->minimum());
      r.maximum = std::max<int64_t>(r.maximum, bar->maximum());
      need = true;
    }
    bar->setRange(static_cast<int>(r.minimum), static_cast<int>(r.maximum));
    bar->setPageStep(std::max(1, page));
    bar->setValue(static_cast<int>(value));
    bar->setVisible(need);
  };
  apply(hbar_, hr, viewport_.scrollX, viewport_.width, needH);
  apply(vbar_, vr, viewport_.scrollY, viewport_.height, needV);
  syncingBars_ = false;
  hbar_->setGeometry(0, height() - down, viewport_.width, down);
  vbar_->setGeometry(width() - across, 0, across, viewport_.height);
}

void CanvasWidget::viewChanged() {
  updateScrollBars();
  update(drawingArea());
}

void CanvasWidget::setZoom(double zoom) {
  const double before = viewport_.zoom;
  view_->composition(current_);
  viewport_.zoomKeeping(zoom, drawnBounds(current_));
  viewChanged();
  if (viewport_.zoom != before) emit zoomChanged(viewport_.zoom);
}

void CanvasWidget::zoomBy(int steps) { setZoom(zoomStep(viewport_.zoom, steps)); }

void CanvasWidget::fitToView() {
  view_->composition(current_);
  const std::optional<CanvasBox> content = drawnBounds(current_);
  if (!content) return;
  const double before = viewport_.zoom;
  // Once it fits, no scroll bar takes room.
  viewport_.width = width();
  viewport_.height = height();
  viewport_.fit(*content);
  viewChanged();
  if (viewport_.zoom != before) emit zoomChanged(viewport_.zoom);
}

void CanvasWidget::scrollTo(int64_t x, int64_t y) {
  Viewport next = viewport_;
  next.scrollTo(x, y);
  if (next == viewport_) return;
  viewport_ = next;
  viewChanged();
}

void CanvasWidget::setCheckerboard(bool on) {
  if (checkerboard_ == on) return;
  checkerboard_ = on;
  update(drawingArea());
}

void CanvasWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  updateScrollBars();
}

// Shown for the first time, or again, the canvas brings the selected character into view.
void CanvasWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  view_->composition(current_);
  revealNewDrawing();
  viewChanged();
}

// ---- Input ----------------------------------------------------------------------------------------

void CanvasInput::reportPosition() {
  const std::optional<RecordAt> at = dragTarget(w_.list_, w_.state_);
  if (!at) return;
  const Character& character = w_.list_.characters[static_cast<size_t>(at->characterRow)];
  if (at->layerRow < 0) {
    emit w_.positionChanged(character.x, character.y);
    return;
  }
  const Layer& layer = character.layers[static_cast<size_t>(at->layerRow)];
  emit w_.positionChanged(layer.x, layer.y);
}

void CanvasInput::startPan(const QPointF& at) {
  gesture_ = Gesture::Pan;
  panFrom_ = at;
  w_.setCursor(Qt::ClosedHandCursor);
}

QPointF CanvasInput::canvasPoint(const QPointF& screen) const {
  return {w_.viewport_.toCanvasX(screen.x()), w_.viewport_.toCanvasY(screen.y())};
}

bool CanvasInput::press(QMouseEvent* event) {
  if (gesture_ != Gesture::None) return true;  // another button during a gesture
  if (event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && spaceHeld_)) {
    startPan(event->position());
    return true;
  }
  if (event->button() != Qt::LeftButton) return false;
  gesture_ = Gesture::Drag;
  const QPointF p = canvasPoint(event->position());
  const bool withLayers = event->modifiers() & Qt::ControlModifier;
  if (w_.controller_) pick(p, withLayers);
  // The composition around the records is kept while they move.
  w_.cacheTarget_ = dragTarget(w_.list_, w_.state_);
  if (w_.controller_) w_.controller_->moves().beginGesture(withLayers);
  w_.view_->pressAt(p.x(), p.y(), withLayers);
  return true;
}

bool CanvasInput::release(QMouseEvent* event) {
  if (gesture_ == Gesture::Pan && (event->button() == Qt::MiddleButton || event->button() == Qt::LeftButton)) {
    gesture_ = Gesture::None;
    if (spaceHeld_) w_.setCursor(Qt::OpenHandCursor);
    else w_.unsetCursor();
    return true;
  }
  if (event->button() == Qt::LeftButton && gesture_ == Gesture::Drag) {
    gesture_ = Gesture::None;
    if (w_.controller_) w_.controller_->moves().endGesture();
    reportPosition();
  }
  return false;
}

bool CanvasInput::move(QMouseEvent* event) {
  if (gesture_ == Gesture::Pan) {
    const QPointF d = event->position() - panFrom_;
    const int64_t dx = std::lround(d.x()), dy = std::lround(d.y());
    panFrom_ += QPointF(static_cast<double>(dx), static_cast<double>(dy));
    w_.scrollTo(w_.viewport_.scrollX - dx, w_.viewport_.scrollY - dy);
    return true;
  }
  // Qt keeps sending moves to the pressed widget while the button is held, even outside it.
  if (!(event->buttons() & Qt::LeftButton)) return false;
  const QPointF p = canvasPoint(event->position());
  w_.view_->dragTo(p.x(), p.y(), event->modifiers() & Qt::ShiftModifier);
  w_.refresh();
  emit w_.dragged();
  emit w_.pointerMoved(static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y())));
  reportPosition();
  return true;
}

void CanvasInput::pick(const QPointF& at, bool withLayers) {
  Selection& selection = w_.controller_->selection();
  const int64_t shown = w_.state_.selectedCharacterRow;
  if (withLayers) {
    if (shown >= 0 && shown < w_.list_.size()) selection.selectRecord({shown, -1});
    return;
  }
  const std::vector<RecordAt> under = w_.view_->recordsAt(at.x(), at.y());
  if (under.empty()) return;  // no picture there: the drag moves what is selected
  const RecordAt& top = under.front();
  if (top.layerRow >= 0 && w_.state_.moveLayer) {
    const std::vector<int64_t> selected = selection.selectedLayers();
    if (std::find(selected.begin(), selected.end(), top.layerRow) != selected.end()) return;
  }
  selection.selectRecord(top);
}

bool CanvasInput::contextMenu(QContextMenuEvent* event) {
  if (gesture_ != Gesture::None || !w_.controller_) return true;
  const QPointF at = canvasPoint(event->pos());
  QMenu menu(&w_);
  for (const RecordAt& record : w_.view_->recordsAt(at.x(), at.y())) {
    const Character& character = w_.list_.characters[static_cast<size_t>(record.characterRow)];
    const bool layer = record.layerRow >= 0;
    const std::string& name = layer ? character.layers[static_cast<size_t>(record.layerRow)].name : character.name;
    const QString text = layer ? QCoreApplication::translate("CanvasInput", "Layer %1")
                               : QCoreApplication::translate("CanvasInput", "Character %1");
    // An ampersand in a name is no shortcut.
    menu.addAction(text.arg(QString::fromStdString(name).replace(QLatin1Char('&'), QStringLiteral("&&"))),
                   [this, record] {
                     if (w_.controller_) w_.controller_->selection().selectRecord(record);
                   });
  }
  if (!menu.isEmpty()) menu.exec(event->globalPos());
  return true;
}

bool CanvasInput::wheel(QWheelEvent* event) {
  if (event->modifiers() & Qt::ControlModifier) {
    wheelAngle_ += event->angleDelta().y();
    const int steps = wheelAngle_ / 120;
    wheelAngle_ -= steps * 120;
    if (steps != 0) {
      double zoom = w_.viewport_.zoom;
      for (int i = 0; i < std::abs(steps); ++i) zoom = zoomStep(zoom, steps);
      const double before = w_.viewport_.zoom;
      w_.viewport_.zoomAbout(zoom, event->position().x(), event->position().y());
      w_.viewChanged();
      if (w_.viewport_.zoom != before) emit w_.zoomChanged(w_.viewport_.zoom);
    }
    event->accept();
    return true;
  }
  const QPoint delta = event->angleDelta();
  QScrollBar* bar = std::abs(delta.x()) > std::abs(delta.y()) ? w_.hbar_ : w_.vbar_;
  if (!bar->isHidden()) QCoreApplication::sendEvent(bar, event);
  return true;
}

bool CanvasInput::keyPress(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space) {
    if (!event->isAutoRepeat()) {
      spaceHeld_ = true;
      if (gesture_ == Gesture::None) w_.setCursor(Qt::OpenHandCursor);
    }
    return true;
  }
  // The arrow keys move what a drag would move, by one unit or, with Shift, by ten. With Alt they
  // move the character with all its layers, as Ctrl does for a drag: Ctrl+Up and Ctrl+Down are the
  // Edit menu's Move Up and Move Down, which act on the rows while the canvas has the focus too.
  const int step = event->modifiers() & Qt::ShiftModifier ? 10 : 1;
  const bool withLayers = event->modifiers() & Qt::AltModifier;
  int dx = 0, dy = 0;
  switch (event->key()) {
    case Qt::Key_Left: dx = -step; break;
    case Qt::Key_Right: dx = step; break;
    case Qt::Key_Up: dy = -step; break;
    case Qt::Key_Down: dy = step; break;
    default: return false;
  }
  if (!w_.controller_) return true;
  if (withLayers) pick({}, true);
  w_.cacheTarget_ = dragTarget(w_.list_, w_.state_);
  w_.controller_->moves().nudge(dx, dy, withLayers);
  emit w_.dragged();
  reportPosition();
  return true;
}

bool CanvasInput::keyRelease(QKeyEvent* event) {
  if (event->key() != Qt::Key_Space) return false;
  if (event->isAutoRepeat()) return true;
  spaceHeld_ = false;
  if (gesture_ != Gesture::Pan) w_.unsetCursor();
  return true;
}

bool CanvasInput::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &w_) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress: return press(static_cast<QMouseEvent*>(event));
    case QEvent::MouseButtonRelease: return release(static_cast<QMouseEvent*>(event));
    case QEvent::MouseMove: return move(static_cast<QMouseEvent*>(event));
    case QEvent::Wheel: return wheel(static_cast<QWheelEvent*>(event));
    case QEvent::KeyPress: return keyPress(static_cast<QKeyEvent*>(event));
    case QEvent::KeyRelease: return keyRelease(static_cast<QKeyEvent*>(event));
    case QEvent::ContextMenu: return contextMenu(static_cast<QContextMenuEvent*>(event));
    // The frame of what a drag moves shows while the canvas has the pointer or the focus.
    case QEvent::FocusOut:
      spaceHeld_ = false;
      if (gesture_ != Gesture::Pan) w_.unsetCursor();
      break;
    case QEvent::Enter:
      hovered_ = true;
      break;
    case QEvent::Leave:
      hovered_ = false;
      break;
    case QEvent::FocusIn:
      break;
    default:
      return false;
  }
  w_.refresh();
  return false;
}

}  // namespace charstack
