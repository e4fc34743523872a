// What part of the canvas the widget shows and how large: a zoom and a scroll offset, the conversion
// between screen pixels and canvas units, the scrollable area and fitting the drawing into view.
// Screen positions are the widget's (logical) pixels; canvas positions are the units of the records'
// x and y.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "canvas/canvas_scene.hpp"

namespace charstack {

inline constexpr double kMinZoom = 0.1;
inline constexpr double kMaxZoom = 32.0;

// A rectangle in canvas units; right and bottom are exclusive.
struct CanvasBox {
  double left = 0, top = 0, right = 0, bottom = 0;
  double width() const { return right - left; }
  double height() const { return bottom - top; }
  bool operator==(const CanvasBox&) const = default;
};

// What the images of a composition cover; none when it draws nothing.
std::optional<CanvasBox> drawnBounds(const std::vector<DrawCall>& calls);

// The values a scroll bar offers on one axis.
struct ScrollRange {
  int64_t minimum = 0;
  int64_t maximum = 0;
  bool operator==(const ScrollRange&) const = default;
};

// The zoom clamped to 10%..3200%; a value that is no number gives 100%.
double clampZoom(double zoom);
// The next zoom of the menu's steps above (direction > 0) or below (direction < 0) the zoom.
double zoomStep(double zoom, int direction);

struct Viewport {
  double zoom = 1.0;  // screen pixels per canvas unit
  // The canvas origin is shown at screen position (-scrollX, -scrollY). Whole pixels, so that at 100%
  // every unit falls on one pixel.
  int64_t scrollX = 0;
  int64_t scrollY = 0;
  // The visible area in screen pixels.
  int width = 0;
  int height = 0;

  double toCanvasX(double screenX) const { return (screenX + static_cast<double>(scrollX)) / zoom; }
  double toCanvasY(double screenY) const { return (screenY + static_cast<double>(scrollY)) / zoom; }
  double toScreenX(double canvasX) const { return canvasX * zoom - static_cast<double>(scrollX); }
  double toScreenY(double canvasY) const { return canvasY * zoom - static_cast<double>(scrollY); }

  // Sets the scroll offsets, kept within the range a scroll bar can show.
  void scrollTo(double x, double y);
  // Sets the zoom (clamped) and keeps the canvas point under the screen position where it is.
  void zoomAbout(double newZoom, double screenX, double screenY);
  // Sets the zoom (clamped) and keeps in view what of the drawing was in view: about the middle of
  // that part, scrolled as little as it takes to show it (or the middle of the view, with none).
  void zoomKeeping(double newZoom, const std::optional<CanvasBox>& drawn);
  // The largest zoom step at which the box fits the visible area, and the scroll that centres it.
  void fit(const CanvasBox& box);
  // Scrolls as little as it takes to show the box at this zoom: afterwards the box lies inside the
  // visible area or, along an axis where it is larger than that area, the area lies inside the box.
  void reveal(const CanvasBox& box);
  // The scroll offsets that keep the visible area inside the union of the content (at this zoom) and
  // the visible area itself: the current offset is always in range, and all of the content can be
  // reached, negative positions included. Without content the range holds only the current offset.
  ScrollRange horizontalRange(const std::optional<CanvasBox>& content) const;
  ScrollRange verticalRange(const std::optional<CanvasBox>& content) const;

  bool operator==(const Viewport&) const = default;
};

}  // namespace charstack
