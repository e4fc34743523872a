#include "canvas/viewport.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace charstack {

namespace {

// Scroll offsets stay well inside the range of a scroll bar's int.
constexpr double kScrollLimit = 1 << 30;

int64_t scrollValue(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int64_t>(std::clamp(std::round(v), -kScrollLimit, kScrollLimit));
}

ScrollRange rangeOn(double contentLo, double contentHi, int64_t scroll, int visible, bool hasContent) {
  ScrollRange r{scroll, scroll};
  if (!hasContent) return r;
  const int64_t lo = scrollValue(std::floor(contentLo));
  const int64_t hi = scrollValue(std::ceil(contentHi)) - visible;
  r.minimum = std::min(lo, scroll);
  r.maximum = std::max(hi, scroll);
  return r;
}

}  // namespace

std::optional<CanvasBox> drawnBounds(const std::vector<DrawCall>& calls) {
  std::optional<CanvasBox> box;
  for (const DrawCall& c : calls) {
    const CanvasBox b{c.x, c.y, c.x + c.image->width(), c.y + c.image->height()};
    if (!box) {
      box = b;
      continue;
    }
    box->left = std::min(box->left, b.left);
    box->top = std::min(box->top, b.top);
    box->right = std::max(box->right, b.right);
    box->bottom = std::max(box->bottom, b.bottom);
  }
  return box;
}

double clampZoom(double zoom) {
  if (std::isnan(zoom)) return 1.0;
  return std::clamp(zoom, kMinZoom, kMaxZoom);
}

namespace {
// The zooms of Zoom In and Zoom Out, and the ones Fit picks from.
constexpr std::array<double, 18> steps{0.1, 0.15, 0.2, 0.25, 1.0 / 3, 0.5, 2.0 / 3, 1, 1.5,
                                       2,   3,    4,   6,    8,       12,  16,  24,       32};
}  // namespace

double zoomStep(double zoom, int direction) {
  zoom = clampZoom(zoom);
  if (direction > 0) {
    for (double s : steps)
      if (s > zoom * (1 + 1e-9)) return s;
    return kMaxZoom;
  }
  if (direction < 0) {
    for (auto it = steps.rbegin(); it != steps.rend(); ++it)
      if (*it < zoom * (1 - 1e-9)) return *it;
    return kMinZoom;
  }
  return zoom;
}

void Viewport::scrollTo(double x, double y) {
  scrollX = scrollValue(x);
  scrollY = scrollValue(y);
}

void Viewport::zoomAbout(double newZoom, double screenX, double screenY) {
  const double cx = toCanvasX(screenX), cy = toCanvasY(screenY);
  zoom = clampZoom(newZoom);
  scrollX = scrollValue(cx * zoom - screenX);
  scrollY = scrollValue(cy * zoom - screenY);
}

void Viewport::zoomKeeping(double newZoom, const std::optional<CanvasBox>& drawn) {
  // The part of the drawing in view, in canvas units; the whole view when none of it is.
  CanvasBox seen{toCanvasX(0), toCanvasY(0), toCanvasX(width), toCanvasY(height)};
  std::optional<CanvasBox> kept;
  if (drawn) {
    const CanvasBox part{std::max(seen.left, drawn->left), std::max(seen.top, drawn->top),
                         std::min(seen.right, drawn->right), std::min(seen.bottom, drawn->bottom)};
    if (part.width() > 0 && part.height() > 0) kept = part;
  }
  const CanvasBox& about = kept ? *kept : seen;
  // Its centre stays where it is on the screen; what of it then lies outside the view comes back in
  // (or fills the view, when it has grown larger than it).
  zoomAbout(newZoom, toScreenX((about.left + about.right) / 2), toScreenY((about.top + about.bottom) / 2));
  if (kept) reveal(*kept);
}

void Viewport::fit(const CanvasBox& box) {
  if (box.width() <= 0 || box.height() <= 0 || width <= 1 || height <= 1) return;
  // One pixel to spare: an edge between two pixels still covers both. The zoom is the largest step
  // that fits, so that Fit shows a round zoom.
  const double fits = std::min((width - 1) / box.width(), (height - 1) / box.height());
  zoom = kMinZoom;
  for (auto it = steps.rbegin(); it != steps.rend(); ++it)
    if (*it <= fits * (1 + 1e-9)) {
      zoom = *it;
      break;
    }
  auto centre = [this](double lo, double hi, int visible) {
    const int64_t first = scrollValue(std::floor(lo * zoom)), last = scrollValue(std::ceil(hi * zoom));
    return first - (visible - (last - first)) / 2;
  };
  scrollX = centre(box.left, box.right, width);
  scrollY = centre(box.top, box.bottom, height);
}

namespace {

// The offset nearest to scroll at which [lo, hi) and the visible [scroll, scroll + visible) lie one
// inside the other.
int64_t revealOn(double lo, double hi, int64_t scroll, int visible) {
  const int64_t first = scrollValue(std::floor(lo)), last = scrollValue(std::ceil(hi));
  // The offsets that keep the visible area around a smaller box, or inside a larger one.
  const int64_t a = last - visible, b = first;
  return std::clamp(scroll, std::min(a, b), std::max(a, b));
}

}  // namespace

void Viewport::reveal(const CanvasBox& box) {
  scrollX = revealOn(box.left * zoom, box.right * zoom, scrollX, width);
  scrollY = revealOn(box.top * zoom, box.bottom * zoom, scrollY, height);
}

ScrollRange Viewport::horizontalRange(const std::optional<CanvasBox>& content) const {
  return content ? rangeOn(content->left * zoom, content->right * zoom, scrollX, width, true)
                 : rangeOn(0, 0, scrollX, width, false);
}

ScrollRange Viewport::verticalRange(const std::optional<CanvasBox>& content) const {
  return content ? rangeOn(content->top * zoom, content->bottom * zoom, scrollY, height, true)
                 : rangeOn(0, 0, scrollY, height, false);
}

}  // namespace charstack
