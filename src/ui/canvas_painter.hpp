// How the canvas paints a composition: exactly at rest (the export's pixels), and from kept buffers of
// the records below and above the one that moves while a drag runs.
#pragma once

#include <QImage>
#include <QRect>
#include <QRgb>
#include <QSize>

#include <cstdint>
#include <optional>
#include <vector>

#include "canvas/canvas_scene.hpp"
#include "canvas/viewport.hpp"

class QBrush;
class QPainter;

namespace charstack {

// Where the composition is drawn. Direct: straight onto the widget at the zoom. Units: into a buffer
// of one pixel per canvas unit covering the visible area, which is then enlarged with
// nearest-neighbour sampling (each unit covers two device pixels or more, so this draws far fewer
// pixels and gives the same picture).
struct CanvasSurface {
  bool units = false;
  qreal ratio = 1;  // device pixels per screen pixel
  QSize size;       // widget size (direct) or unit buffer size, in device pixels or units
  double zoom = 1;
  int64_t originX = 0, originY = 0;  // scroll (direct) or first unit (units)
  bool checkerboard = false;
  QRgb background = 0;
  bool operator==(const CanvasSurface&) const = default;
};
CanvasSurface surfaceFor(const Viewport& viewport, QSize widgetSize, qreal ratio, bool checkerboard, QRgb background);

// Light and dark grey squares of 8 screen pixels behind the drawing, fixed to the screen.
const QBrush& checkerBrush();

// One drawn image (by serial) and its position.
struct PaintedCall {
  uint64_t image;
  float x, y;
  bool operator==(const PaintedCall&) const = default;
};
std::vector<PaintedCall> paintedCalls(const std::vector<DrawCall>& calls, size_t from = 0, size_t to = SIZE_MAX);

// The draw calls from first to last (both included): those around the records a drag moves.
struct DrawSpan {
  size_t first = 0, last = 0;
  bool operator==(const DrawSpan&) const = default;
};

class CanvasPainter {
 public:
  // Paints `calls` onto the widget's area; `moving`: the span of the records a drag moves, whose
  // surroundings (the calls below and above it) are kept while they move.
  void paint(QPainter& painter, const QRect& area, const CanvasSurface& surface, const Viewport& viewport,
             const std::vector<DrawCall>& calls, std::optional<DrawSpan> moving);
  void dropCaches();
  // How many image buffers are kept between paints (tests and benchmarks check the bound).
  int cachedBuffers() const;

 private:
  // A composition drawn once and kept: the records below or above the moving ones.
  struct Layered {
    QImage image;
    CanvasSurface surface;
    std::vector<PaintedCall> calls;
  };
  static void paintBackground(QPainter& painter, const QRect& area, const CanvasSurface& surface);
  // Draws calls [from, to) with the surface's mapping from canvas units.
  void drawCalls(QPainter& painter, const CanvasSurface& surface, size_t from, size_t to) const;
  // The composition onto the surface's target: plain, or from the kept layers around `moving`.
  void compose(QPainter& painter, const CanvasSurface& surface, std::optional<DrawSpan> moving);
  void compose(QImage& target, const CanvasSurface& surface, std::optional<DrawSpan> moving);
  static bool drawsExactly(const CanvasSurface& surface);
  // Draws the exact composition on the surface's part of the canvas, made anew when the drawing or
  // the surface changed.
  void drawExact(QPainter& painter, const CanvasSurface& surface);
  // Draws calls [from, to) into the kept layer unless it already holds them on this surface.
  void keep(Layered& layer, const CanvasSurface& surface, size_t from, size_t to, bool withBackground);

  const std::vector<DrawCall>* calls_ = nullptr;  // what the paint that runs draws
  QRect area_;
  // The kept buffers: the records below the moving one (with the background), those above it, and
  // the unit buffer when the zoom draws through one; the exact composition shown at rest.
  Layered below_, above_, exact_;
  QImage units_;
};

}  // namespace charstack
