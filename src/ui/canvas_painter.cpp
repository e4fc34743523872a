#include "ui/canvas_painter.hpp"

#include <QBrush>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>

#include "platform/image_impl.hpp"

namespace charstack {

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

std::vector<PaintedCall> paintedCalls(const std::vector<DrawCall>& calls, size_t from, size_t to) {
  std::vector<PaintedCall> out;
  for (size_t i = from; i < std::min(to, calls.size()); ++i) out.push_back({calls[i].image->serial(), calls[i].x, calls[i].y});
  return out;
}

CanvasSurface surfaceFor(const Viewport& viewport, QSize widgetSize, qreal ratio, bool checkerboard, QRgb background) {
  CanvasSurface s;
  s.zoom = viewport.zoom;
  s.checkerboard = checkerboard;
  s.background = background;
  if (viewport.zoom >= 1 && viewport.zoom * ratio >= 2) {
    s.units = true;
    const double left = std::floor(viewport.toCanvasX(0)), top = std::floor(viewport.toCanvasY(0));
    const double right = std::ceil(viewport.toCanvasX(widgetSize.width())), bottom = std::ceil(viewport.toCanvasY(widgetSize.height()));
    s.originX = static_cast<int64_t>(left);
    s.originY = static_cast<int64_t>(top);
    s.size = QSize(std::max(1, static_cast<int>(right - left)), std::max(1, static_cast<int>(bottom - top)));
    return s;
  }
  s.ratio = ratio;
  s.size = QSize(static_cast<int>(std::ceil(widgetSize.width() * ratio)), static_cast<int>(std::ceil(widgetSize.height() * ratio)));
  s.originX = viewport.scrollX;
  s.originY = viewport.scrollY;
  return s;
}

void CanvasPainter::paintBackground(QPainter& painter, const QRect& area, const CanvasSurface& surface) {
  painter.fillRect(area, QColor::fromRgba(surface.background));
  if (surface.checkerboard) painter.fillRect(area, checkerBrush());
}

void CanvasPainter::drawCalls(QPainter& painter, const CanvasSurface& surface, size_t from, size_t to) const {
  // Surface coordinates: unit pixels, or the widget's screen pixels.
  const double scale = surface.units ? 1.0 : surface.zoom;
  const double dx = -static_cast<double>(surface.originX), dy = -static_cast<double>(surface.originY);
  const double right = surface.size.width() / surface.ratio, bottom = surface.size.height() / surface.ratio;
  painter.save();
  painter.setTransform(QTransform(scale, 0, 0, scale, dx, dy));
  painter.setRenderHint(QPainter::SmoothPixmapTransform, !surface.units && surface.zoom < 1);
  for (size_t i = from; i < to; ++i) {
    const DrawCall& c = (*calls_)[i];
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
bool CanvasPainter::drawsExactly(const CanvasSurface& surface) {
  return surface.units || (surface.zoom == 1 && surface.ratio == 1);
}

void CanvasPainter::drawExact(QPainter& painter, const CanvasSurface& surface) {
  std::vector<PaintedCall> calls = paintedCalls(*calls_);
  if (exact_.image.isNull() || !(exact_.surface == surface) || exact_.calls != calls) {
    std::vector<PlacedImage> placed;
    for (const DrawCall& c : (*calls_)) placed.push_back({c.image, c.x, c.y});
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

void CanvasPainter::keep(Layered& layer, const CanvasSurface& surface, size_t from, size_t to, bool withBackground) {
  std::vector<PaintedCall> calls = paintedCalls(*calls_, from, to);
  if (!layer.image.isNull() && layer.surface == surface && layer.calls == calls) return;
  if (!withBackground && calls.empty()) {  // nothing to keep
    layer = Layered{};
    return;
  }
  if (layer.image.size() != surface.size) layer.image = QImage(surface.size, QImage::Format_ARGB32_Premultiplied);
  layer.image.setDevicePixelRatio(surface.ratio);
  layer.image.fill(Qt::transparent);
  QPainter painter(&layer.image);
  if (withBackground) paintBackground(painter, QRect(QPoint(0, 0), layer.image.deviceIndependentSize().toSize()), surface);
  drawCalls(painter, surface, from, to);
  layer.surface = surface;
  layer.calls = std::move(calls);
}

void CanvasPainter::compose(QPainter& painter, const CanvasSurface& surface, std::optional<DrawSpan> moving) {
  if (!moving) {
    paintBackground(painter, area_, surface);
    if (drawsExactly(surface)) drawExact(painter, surface);
    else drawCalls(painter, surface, 0, (*calls_).size());
    return;
  }
  keep(below_, surface, 0, moving->first, true);
  keep(above_, surface, moving->last + 1, (*calls_).size(), false);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(QPointF(0, 0), below_.image);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  drawCalls(painter, surface, moving->first, moving->last + 1);
  if (!above_.image.isNull()) painter.drawImage(QPointF(0, 0), above_.image);
}

// Over the plain background the unit buffer starts from it, as the widget would; over the
// checkerboard, which is fixed to the screen, it starts transparent.
void CanvasPainter::compose(QImage& target, const CanvasSurface& surface, std::optional<DrawSpan> moving) {
  const bool opaque = !surface.checkerboard;
  if (target.size() != surface.size) target = QImage(surface.size, QImage::Format_ARGB32_Premultiplied);
  if (moving) {
    keep(below_, surface, 0, moving->first, opaque);
    keep(above_, surface, moving->last + 1, (*calls_).size(), false);
  }
  const bool fromBelow = moving && !below_.image.isNull();
  if (!fromBelow && !opaque) target.fill(Qt::transparent);
  QPainter painter(&target);
  if (fromBelow) {
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPointF(0, 0), below_.image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  } else if (opaque) {
    paintBackground(painter, target.rect(), surface);
  }
  if (!moving) {
    drawExact(painter, surface);
    return;
  }
  drawCalls(painter, surface, moving->first, moving->last + 1);
  if (!above_.image.isNull()) painter.drawImage(QPointF(0, 0), above_.image);
}

int CanvasPainter::cachedBuffers() const {
  return int{!below_.image.isNull()} + int{!above_.image.isNull()} + int{!units_.isNull()} + int{!exact_.image.isNull()};
}

void CanvasPainter::paint(QPainter& painter, const QRect& area, const CanvasSurface& surface, const Viewport& viewport,
                          const std::vector<DrawCall>& calls, std::optional<DrawSpan> moving) {
  calls_ = &calls;
  area_ = area;
  if (!moving) below_ = above_ = Layered{};
  else exact_ = Layered{};
  if (surface.units) {
    compose(units_, surface, moving);
    if (surface.checkerboard) paintBackground(painter, area, surface);
    else painter.fillRect(area, QColor::fromRgba(surface.background));  // around the enlarged buffer
    const double zoom = viewport.zoom;
    if (!surface.checkerboard) painter.setCompositionMode(QPainter::CompositionMode_Source);  // opaque
    painter.drawImage(QRectF(viewport.toScreenX(static_cast<double>(surface.originX)),
                             viewport.toScreenY(static_cast<double>(surface.originY)),
                             surface.size.width() * zoom, surface.size.height() * zoom),
                      units_);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  } else {
    units_ = QImage();
    compose(painter, surface, moving);
  }
  calls_ = nullptr;
}

void CanvasPainter::dropCaches() {
  below_ = above_ = exact_ = Layered{};
  units_ = QImage();
}

}  // namespace charstack
