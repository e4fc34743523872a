#include "ui/canvas_widget.hpp"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

#include "controller/editor.hpp"
#include "platform/image_impl.hpp"

namespace charstack {

namespace {

// Light and dark grey squares of 8 screen pixels behind the drawing, fixed to the screen.
const QBrush& checkerBrush() {
  static const QBrush brush = [] {
    QPixmap tile(16, 16);
    tile.fill(QColor(0xcc, 0xcc, 0xcc));
    QPainter p(&tile);
    p.fillRect(0, 0, 8, 8, QColor(0xff, 0xff, 0xff));
    p.fillRect(8, 8, 8, 8, QColor(0xff, 0xff, 0xff));
    return QBrush(tile);
  }();
  return brush;
}

int screenEdge(double v) {
  constexpr double limit = 1 << 24;  // far outside any screen, well inside int
  return static_cast<int>(std::clamp(std::round(v), -limit, limit));
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
}

CanvasWidget::~CanvasWidget() {
  if (controller_) controller_->document().removeObserver(this);
}

void CanvasWidget::setController(Editor* controller) {
  if (controller_) controller_->document().removeObserver(this);
  controller_ = controller;
  if (controller_) controller_->document().addObserver(this);
  refresh();
}

// The widget repaints only when the picture would change. Exposes and resizes reach paintEvent on
// their own.
void CanvasWidget::refresh() {
  if (cacheTarget_ && dragTarget(list_, state_) != cacheTarget_) dropCaches();
  view_->composition(current_);
  if (revealNewDrawing()) {
    viewChanged();
    return;
  }
  if (sameAsLastPaint()) return;
  updateScrollBars();
  update(drawingRegion());
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
  if (!isVisible() || gesture_ == Gesture::Drag) return false;
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
  return Look{size(), devicePixelRatioF(), viewport_, checkerboard_, outlineRect()};
}

CanvasWidget::Look CanvasWidget::currentLook() {
  view_->composition(current_);
  return lookOfCurrent();
}

bool CanvasWidget::sameAsLastPaint() {
  const Look look = lookOfCurrent();
  if (!paintedOnce_ || !(look == paintedLook_) || current_.size() != painted_.size()) return false;
  for (size_t i = 0; i < current_.size(); ++i)
    if (!(PaintedCall{current_[i].image->serial(), current_[i].x, current_[i].y} == painted_[i])) return false;
  return true;
}

int CanvasWidget::cachedBuffers() const {
  return int{!below_.image.isNull()} + int{!above_.image.isNull()} + int{!units_.isNull()} + int{!exact_.image.isNull()};
}

// ---- Painting -------------------------------------------------------------------------------------

CanvasWidget::Surface CanvasWidget::surfaceFor(qreal ratio) const {
  Surface s;
  s.zoom = viewport_.zoom;
  s.checkerboard = checkerboard_;
  s.background = palette().window().color().rgba();
  if (viewport_.zoom >= 1 && viewport_.zoom * ratio >= 2) {
    s.units = true;
    const double left = std::floor(viewport_.toCanvasX(0)), top = std::floor(viewport_.toCanvasY(0));
    const double right = std::ceil(viewport_.toCanvasX(width())), bottom = std::ceil(viewport_.toCanvasY(height()));
    s.originX = static_cast<int64_t>(left);
    s.originY = static_cast<int64_t>(top);
    s.size = QSize(std::max(1, static_cast<int>(right - left)), std::max(1, static_cast<int>(bottom - top)));
    return s;
  }
  s.ratio = ratio;
  s.size = QSize(static_cast<int>(std::ceil(width() * ratio)), static_cast<int>(std::ceil(height() * ratio)));
  s.originX = viewport_.scrollX;
  s.originY = viewport_.scrollY;
  return s;
}

void CanvasWidget::paintBackground(QPainter& painter, const QRect& area) const {
  painter.fillRect(area, palette().window());
  if (checkerboard_) painter.fillRect(area, checkerBrush());
}

void CanvasWidget::drawCalls(QPainter& painter, const Surface& surface, size_t from, size_t to) const {
  // Surface coordinates: unit pixels, or the widget's screen pixels.
  const double scale = surface.units ? 1.0 : surface.zoom;
  const double dx = -static_cast<double>(surface.originX), dy = -static_cast<double>(surface.originY);
  const double right = surface.size.width() / surface.ratio, bottom = surface.size.height() / surface.ratio;
  painter.save();
  painter.setTransform(QTransform(scale, 0, 0, scale, dx, dy));
  painter.setRenderHint(QPainter::SmoothPixmapTransform, !surface.units && surface.zoom < 1);
  for (size_t i = from; i < to; ++i) {
    const DrawCall& c = current_[i];
    const double w = c.image->width(), h = c.image->height();
    const double x = c.x * scale + dx, y = c.y * scale + dy;
    // Images outside the surface are passed over (far away they would strain the rasteriser).
    if (x >= right || y >= bottom || x + w * scale <= 0 || y + h * scale <= 0) continue;
    painter.drawImage(QRectF(c.x, c.y, w, h), c.image->impl().premultiplied());
  }
  painter.restore();
}

// One canvas unit a device pixel or more, the composition drawn afresh: the exact composition of the
// surface's part of the canvas (the export's pixels), kept until the drawing or the surface changes.
bool CanvasWidget::drawsExactly(const Surface& surface) const {
  return surface.units || (surface.zoom == 1 && surface.ratio == 1);
}

void CanvasWidget::drawExact(QPainter& painter, const Surface& surface) {
  std::vector<PaintedCall> calls;
  for (const DrawCall& c : current_) calls.push_back({c.image->serial(), c.x, c.y});
  if (exact_.image.isNull() || !(exact_.surface == surface) || exact_.calls != calls) {
    std::vector<PlacedImage> placed;
    for (const DrawCall& c : current_) placed.push_back({c.image, c.x, c.y});
    const ImageRef composed =
        composeRegion(placed, surface.originX, surface.originY, surface.size.width(), surface.size.height());
    exact_.image = composed ? composed->impl().qimage() : QImage();
    exact_.surface = surface;
    exact_.calls = std::move(calls);
  }
  painter.save();
  painter.resetTransform();
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.drawImage(QPointF(0, 0), exact_.image);
  painter.restore();
}

void CanvasWidget::refresh(Layered& layer, const Surface& surface, size_t from, size_t to, bool withBackground) {
  std::vector<PaintedCall> calls;
  for (size_t i = from; i < to; ++i) calls.push_back({current_[i].image->serial(), current_[i].x, current_[i].y});
  if (!layer.image.isNull() && layer.surface == surface && layer.calls == calls) return;
  if (!withBackground && calls.empty()) {  // nothing to keep
    layer = Layered{};
    return;
  }
  if (layer.image.size() != surface.size) layer.image = QImage(surface.size, QImage::Format_ARGB32_Premultiplied);
  layer.image.setDevicePixelRatio(surface.ratio);
  layer.image.fill(Qt::transparent);
  QPainter painter(&layer.image);
  if (withBackground) paintBackground(painter, QRect(QPoint(0, 0), layer.image.deviceIndependentSize().toSize()));
  drawCalls(painter, surface, from, to);
  layer.surface = surface;
  layer.calls = std::move(calls);
}

void CanvasWidget::compose(QPainter& painter, const Surface& surface, std::optional<size_t> moving) {
  if (!moving) {
    paintBackground(painter, rect());
    if (drawsExactly(surface)) drawExact(painter, surface);
    else drawCalls(painter, surface, 0, current_.size());
    return;
  }
  refresh(below_, surface, 0, *moving, true);
  refresh(above_, surface, *moving + 1, current_.size(), false);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(QPointF(0, 0), below_.image);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  drawCalls(painter, surface, *moving, *moving + 1);
  if (!above_.image.isNull()) painter.drawImage(QPointF(0, 0), above_.image);
}

// Over the plain background the unit buffer starts from it, as the widget would; over the
// checkerboard, which is fixed to the screen, it starts transparent.
void CanvasWidget::compose(QImage& target, const Surface& surface, std::optional<size_t> moving) {
  const bool opaque = !surface.checkerboard;
  if (target.size() != surface.size) target = QImage(surface.size, QImage::Format_ARGB32_Premultiplied);
  if (moving) {
    refresh(below_, surface, 0, *moving, opaque);
    refresh(above_, surface, *moving + 1, current_.size(), false);
  }
  const bool fromBelow = moving && !below_.image.isNull();
  if (!fromBelow && !opaque) target.fill(Qt::transparent);
  QPainter painter(&target);
  if (fromBelow) {
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPointF(0, 0), below_.image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  } else if (opaque) {
    paintBackground(painter, target.rect());
  }
  if (!moving) {
    drawExact(painter, surface);
    return;
  }
  drawCalls(painter, surface, *moving, *moving + 1);
  if (!above_.image.isNull()) painter.drawImage(QPointF(0, 0), above_.image);
}

// Only while a drag runs: then the layers around the moving record are kept as 8-bit premultiplied
// buffers, fast enough for every step; the canvas at rest shows the exact composition.
std::optional<size_t> CanvasWidget::movingIndex() const {
  if (gesture_ != Gesture::Drag || !cacheTarget_ || dragTarget(list_, state_) != cacheTarget_) return std::nullopt;
  return view_->drawIndexOf(*cacheTarget_);
}

std::optional<QRect> CanvasWidget::outlineRect() const {
  // Shown while the canvas is being worked on: under the pointer, with the keyboard focus, dragging.
  if (!hovered_ && !hasFocus() && gesture_ != Gesture::Drag) return std::nullopt;
  const std::optional<RecordAt> at = dragTarget(list_, state_);
  if (!at) return std::nullopt;
  const std::optional<size_t> i = view_->drawIndexOf(*at);
  if (!i || *i >= current_.size()) return std::nullopt;
  const DrawCall& c = current_[*i];
  const int left = screenEdge(viewport_.toScreenX(c.x)), top = screenEdge(viewport_.toScreenY(c.y));
  const int right = screenEdge(viewport_.toScreenX(c.x + c.image->width()));
  const int bottom = screenEdge(viewport_.toScreenY(c.y + c.image->height()));
  // A one-pixel pen draws a rectangle's right and bottom edges one pixel further: the frame lies
  // just outside the image.
  return QRect(left - 1, top - 1, right - left + 1, bottom - top + 1);
}

void CanvasWidget::paintEvent(QPaintEvent* event) {
  const Look look = currentLook();
  const std::optional<size_t> moving = movingIndex();
  if (!moving) below_ = above_ = Layered{};
  else exact_ = Layered{};
  const Surface surface = surfaceFor(devicePixelRatioF());

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
  if (surface.units) {
    compose(units_, surface, moving);
    if (surface.checkerboard) paintBackground(painter, rect());
    else painter.fillRect(rect(), palette().window());  // around the enlarged buffer
    const double zoom = viewport_.zoom;
    if (!surface.checkerboard) painter.setCompositionMode(QPainter::CompositionMode_Source);  // opaque
    painter.drawImage(QRectF(viewport_.toScreenX(static_cast<double>(surface.originX)),
                             viewport_.toScreenY(static_cast<double>(surface.originY)),
                             surface.size.width() * zoom, surface.size.height() * zoom),
                      units_);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  } else {
    units_ = QImage();
    compose(painter, surface, moving);
  }
  if (look.outline) {
    painter.setPen(QPen(Qt::white, 0));
    painter.drawRect(*look.outline);
    painter.setPen(QPen(Qt::black, 0, Qt::DashLine));
    painter.drawRect(*look.outline);
  }

  // A partial expose leaves the rest of the canvas as it was: only a whole paint is remembered.
  if (!(drawingRegion() - event->region()).isEmpty()) {
    paintedOnce_ = false;
    return;
  }
  painted_.clear();
  for (const DrawCall& c : current_) painted_.push_back({c.image->serial(), c.x, c.y});
  paintedLook_ = look;
  paintedOnce_ = true;
}

void CanvasWidget::dropCaches() {
  cacheTarget_.reset();
  below_ = above_ = exact_ = Layered{};
  units_ = QImage();
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
  update(drawingRegion());
}

void CanvasWidget::setZoom(double zoom) {
  const double before = viewport_.zoom;
  view_->composition(current_);
  viewport_.zoomKeeping(zoom, drawnBounds(current_));
  viewChanged();
  if (viewport_.zoom != before) emit zoomChanged(viewport_.zoom);
}

void CanvasWidget::zoomIn() { setZoom(zoomStep(viewport_.zoom, 1)); }
void CanvasWidget::zoomOut() { setZoom(zoomStep(viewport_.zoom, -1)); }

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
  update(drawingRegion());
}

QPointF CanvasWidget::canvasPoint(const QPointF& screen) const {
  return {viewport_.toCanvasX(screen.x()), viewport_.toCanvasY(screen.y())};
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

void CanvasWidget::reportPosition() {
  const std::optional<RecordAt> at = dragTarget(list_, state_);
  if (!at) return;
  const Character& character = list_.characters[static_cast<size_t>(at->characterRow)];
  if (at->layerRow < 0) {
    emit positionChanged(character.x, character.y);
    return;
  }
  const Layer& layer = character.layers[static_cast<size_t>(at->layerRow)];
  emit positionChanged(layer.x, layer.y);
}

// ---- Input ----------------------------------------------------------------------------------------

void CanvasWidget::startPan(const QPointF& at) {
  gesture_ = Gesture::Pan;
  panFrom_ = at;
  setCursor(Qt::ClosedHandCursor);
}

void CanvasWidget::mousePressEvent(QMouseEvent* event) {
  if (gesture_ != Gesture::None) return;  // another button during a gesture
  if (event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && spaceHeld_)) {
    startPan(event->position());
    return;
  }
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  gesture_ = Gesture::Drag;
  // The composition around the record is kept while it moves.
  cacheTarget_ = dragTarget(list_, state_);
  if (controller_) controller_->moves().beginGesture();
  const QPointF p = canvasPoint(event->position());
  view_->mouseDown(p.x(), p.y());
}

void CanvasWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (gesture_ == Gesture::Pan && (event->button() == Qt::MiddleButton || event->button() == Qt::LeftButton)) {
    gesture_ = Gesture::None;
    if (spaceHeld_) setCursor(Qt::OpenHandCursor);
    else unsetCursor();
    return;
  }
  if (event->button() == Qt::LeftButton && gesture_ == Gesture::Drag) {
    gesture_ = Gesture::None;
    if (controller_) controller_->moves().endGesture();
    reportPosition();
  }
  QWidget::mouseReleaseEvent(event);
}

void CanvasWidget::mouseMoveEvent(QMouseEvent* event) {
  if (gesture_ == Gesture::Pan) {
    const QPointF d = event->position() - panFrom_;
    const int64_t dx = std::lround(d.x()), dy = std::lround(d.y());
    panFrom_ += QPointF(static_cast<double>(dx), static_cast<double>(dy));
    scrollTo(viewport_.scrollX - dx, viewport_.scrollY - dy);
    return;
  }
  // Qt keeps sending moves to the pressed widget while the button is held, even outside it.
  if (!(event->buttons() & Qt::LeftButton)) {
    QWidget::mouseMoveEvent(event);
    return;
  }
  const QPointF p = canvasPoint(event->position());
  view_->mouseDragged(p.x(), p.y());
  refresh();
  emit dragged();
  emit pointerMoved(static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y())));
  reportPosition();
}

void CanvasWidget::wheelEvent(QWheelEvent* event) {
  if (event->modifiers() & Qt::ControlModifier) {
    wheelAngle_ += event->angleDelta().y();
    const int steps = wheelAngle_ / 120;
    wheelAngle_ -= steps * 120;
    if (steps != 0) {
      double zoom = viewport_.zoom;
      for (int i = 0; i < std::abs(steps); ++i) zoom = zoomStep(zoom, steps);
      const double before = viewport_.zoom;
      viewport_.zoomAbout(zoom, event->position().x(), event->position().y());
      viewChanged();
      if (viewport_.zoom != before) emit zoomChanged(viewport_.zoom);
    }
    event->accept();
    return;
  }
  const QPoint delta = event->angleDelta();
  QScrollBar* bar = std::abs(delta.x()) > std::abs(delta.y()) ? hbar_ : vbar_;
  if (!bar->isHidden()) QCoreApplication::sendEvent(bar, event);
}

void CanvasWidget::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space) {
    if (!event->isAutoRepeat()) {
      spaceHeld_ = true;
      if (gesture_ == Gesture::None) setCursor(Qt::OpenHandCursor);
    }
    return;
  }
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
  cacheTarget_ = dragTarget(list_, state_);
  controller_->moves().nudge(dx, dy);
  emit dragged();
  reportPosition();
}

void CanvasWidget::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Space) {
    QWidget::keyReleaseEvent(event);
    return;
  }
  if (event->isAutoRepeat()) return;
  spaceHeld_ = false;
  if (gesture_ != Gesture::Pan) unsetCursor();
}

void CanvasWidget::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  refresh();
}

void CanvasWidget::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  spaceHeld_ = false;
  if (gesture_ != Gesture::Pan) unsetCursor();
  refresh();
}

void CanvasWidget::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  hovered_ = true;
  refresh();
}

void CanvasWidget::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  hovered_ = false;
  refresh();
}

}  // namespace charstack
