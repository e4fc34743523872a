// Draws the bundled sample project: a few characters built from shapes with soft (anti-aliased)
// edges, with layers at several depths and one hidden layer, saved as an ordinary project.
// Usage: charstack_make_sample FOLDER   (the folder should be empty)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "model/model.hpp"
#include "platform/files.hpp"
#include "platform/image.hpp"
#include "project/project_io.hpp"

namespace {

using charstack::Character;
using charstack::ImageRef;
using charstack::Layer;

struct Rgb {
  uint8_t r, g, b;
};

// A picture in non-premultiplied 0xAARRGGBB, painted with source-over.
class Picture {
 public:
  Picture(int w, int h) : w_(w), h_(h), px_(static_cast<size_t>(w * h), 0) {}

  // Fills the pixels whose centre distance to the shape is inside, with a one-pixel soft edge.
  // inside(x, y) returns a signed distance: negative inside, positive outside.
  template <typename Shape>
  void fill(Shape inside, Rgb c, double opacity = 1.0) {
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) {
        const double d = inside(x + 0.5, y + 0.5);
        const double coverage = std::clamp(0.5 - d, 0.0, 1.0) * opacity;
        if (coverage > 0) blend(x, y, c, coverage);
      }
  }

  void ellipse(double cx, double cy, double rx, double ry, Rgb c, double opacity = 1.0) {
    fill(
        [=](double x, double y) {
          const double nx = (x - cx) / rx, ny = (y - cy) / ry;
          // Distance in pixels, close enough for smooth edges on moderate aspect ratios.
          return (std::sqrt(nx * nx + ny * ny) - 1.0) * std::min(rx, ry);
        },
        c, opacity);
  }

  void roundRect(double x0, double y0, double x1, double y1, double radius, Rgb c, double opacity = 1.0) {
    fill(
        [=](double x, double y) {
          const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
          const double hx = (x1 - x0) / 2 - radius, hy = (y1 - y0) / 2 - radius;
          const double qx = std::abs(x - cx) - hx, qy = std::abs(y - cy) - hy;
          const double ox = std::max(qx, 0.0), oy = std::max(qy, 0.0);
          return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0) - radius;
        },
        c, opacity);
  }

  // A triangle, its corners in either winding.
  void triangle(double ax, double ay, double bx, double by, double cx, double cy, Rgb c) {
    const double winding = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax) > 0 ? -1.0 : 1.0;
    fill(
        [=](double x, double y) {
          // Distance to each edge's line, positive on the outer side; the largest one wins.
          auto edge = [&](double x0, double y0, double x1, double y1) {
            const double ex = x1 - x0, ey = y1 - y0;
            return winding * (ex * (y - y0) - ey * (x - x0)) / std::hypot(ex, ey);
          };
          return std::max({edge(ax, ay, bx, by), edge(bx, by, cx, cy), edge(cx, cy, ax, ay)});
        },
        c);
  }

  ImageRef image() const { return charstack::makeImage(w_, h_, px_); }

 private:
  void blend(int x, int y, Rgb c, double a) {
    uint32_t& p = px_[static_cast<size_t>(y * w_ + x)];
    const double da = ((p >> 24) & 0xff) / 255.0;
    const double oa = a + da * (1 - a);
    auto channel = [&](int shift, uint8_t s) {
      const double d = ((p >> shift) & 0xff) / 255.0;
      return oa > 0 ? (s / 255.0 * a + d * da * (1 - a)) / oa : 0.0;
    };
    auto byte = [](double v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    p = byte(oa) << 24 | byte(channel(16, c.r)) << 16 | byte(channel(8, c.g)) << 8 | byte(channel(0, c.b));
  }

  int w_, h_;
  std::vector<uint32_t> px_;
};

Layer layer(const char* name, int64_t depth, bool visible, int x, int y, const Picture& picture) {
  Layer l;
  l.name = name;
  l.value = depth;
  l.visible = visible ? 1 : 0;
  l.x = x;
  l.y = y;
  l.image = picture.image();
  return l;
}

Character knight() {
  Character c;
  c.name = "knight";
  c.value = 100;
  c.x = 150;
  c.y = 120;
  Picture body(140, 230);
  body.roundRect(30, 70, 110, 200, 24, {70, 90, 140});          // tunic
  body.ellipse(70, 50, 36, 38, {238, 200, 170});                // head
  body.roundRect(38, 190, 62, 230, 8, {60, 50, 45});            // legs
  body.roundRect(78, 190, 102, 230, 8, {60, 50, 45});
  body.ellipse(57, 50, 4, 5, {40, 30, 30});                     // eyes
  body.ellipse(83, 50, 4, 5, {40, 30, 30});
  c.image = body.image();

  Picture cape(170, 200);
  cape.roundRect(10, 10, 160, 195, 40, {170, 30, 40}, 0.92);
  c.layers.push_back(layer("cape", 50, true, 135, 175, cape));

  Picture helmet(100, 70);
  helmet.ellipse(50, 48, 46, 40, {180, 185, 195});
  helmet.roundRect(6, 48, 94, 66, 6, {150, 155, 165});
  helmet.triangle(44, 10, 56, 10, 50, 0, {220, 190, 60});
  c.layers.push_back(layer("helmet", 200, true, 170, 96, helmet));

  Picture shield(90, 110);
  shield.roundRect(4, 4, 86, 70, 14, {200, 170, 60});
  shield.triangle(4, 60, 86, 60, 45, 108, {200, 170, 60});
  shield.roundRect(38, 14, 52, 80, 4, {150, 30, 35});
  shield.roundRect(16, 34, 74, 48, 4, {150, 30, 35});
  c.layers.push_back(layer("shield", 300, true, 110, 220, shield));

  Picture sword(40, 170);
  sword.roundRect(16, 0, 24, 130, 3, {210, 215, 225});
  sword.roundRect(2, 128, 38, 138, 4, {120, 90, 40});
  sword.roundRect(15, 138, 25, 168, 4, {90, 60, 30});
  c.layers.push_back(layer("sword", 250, false, 285, 170, sword));  // hidden until needed
  return c;
}

Character slime() {
  Character c;
  c.name = "slime";
  c.value = 100;
  c.x = 140;
  c.y = 200;
  Picture body(220, 160);
  body.ellipse(110, 100, 105, 60, {80, 190, 110}, 0.85);
  body.ellipse(110, 70, 70, 62, {80, 190, 110}, 0.85);
  body.ellipse(80, 50, 18, 10, {255, 255, 255}, 0.55);  // shine
  c.image = body.image();

  Picture eyes(110, 40);
  eyes.ellipse(25, 20, 16, 18, {255, 255, 255});
  eyes.ellipse(85, 20, 16, 18, {255, 255, 255});
  eyes.ellipse(28, 23, 8, 9, {20, 30, 40});
  eyes.ellipse(88, 23, 8, 9, {20, 30, 40});
  c.layers.push_back(layer("eyes", 200, true, 195, 250, eyes));

  Picture mouth(60, 30);
  mouth.ellipse(30, 12, 24, 11, {120, 40, 50});
  mouth.ellipse(30, 17, 12, 5, {230, 110, 120});
  c.layers.push_back(layer("mouth", 210, true, 220, 300, mouth));

  Picture hat(120, 90);
  hat.triangle(60, 0, 110, 80, 10, 80, {90, 60, 160});
  hat.ellipse(60, 80, 58, 10, {70, 45, 130});
  hat.ellipse(60, 4, 8, 8, {250, 220, 90});
  c.layers.push_back(layer("hat", 300, true, 190, 140, hat));

  Picture shadow(240, 40);
  shadow.ellipse(120, 20, 115, 16, {0, 0, 0}, 0.35);
  c.layers.push_back(layer("shadow", 20, true, 130, 340, shadow));
  return c;
}

Character lantern() {
  Character c;
  c.name = "lantern";
  c.value = 500;
  c.x = 190;
  c.y = 150;
  Picture frame(120, 200);
  frame.roundRect(20, 30, 100, 180, 12, {60, 55, 50});
  frame.roundRect(30, 40, 90, 170, 8, {250, 230, 170}, 0.6);
  frame.ellipse(60, 16, 24, 14, {60, 55, 50});
  frame.roundRect(10, 180, 110, 196, 6, {60, 55, 50});
  c.image = frame.image();

  Picture glow(220, 260);
  glow.ellipse(110, 130, 105, 125, {255, 210, 90}, 0.25);
  glow.ellipse(110, 130, 70, 85, {255, 210, 90}, 0.3);
  c.layers.push_back(layer("glow", 400, true, 140, 120, glow));

  Picture flame(40, 70);
  flame.ellipse(20, 45, 16, 24, {255, 140, 40});
  flame.ellipse(20, 50, 9, 14, {255, 235, 140});
  c.layers.push_back(layer("flame", 600, true, 230, 230, flame));
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  charstack::CharacterList list;
  list.characters = {knight(), slime(), lantern()};
  charstack::EditorState state;
  const std::filesystem::path folder(argv[1]);
  std::filesystem::create_directories(folder);
  const charstack::SaveReport report = charstack::saveProject(list, state, charstack::ProjectFolder(folder));
  for (const charstack::Problem& p : report.problems)
    std::fprintf(stderr, "%s: %s\n", p.file.c_str(), p.reason.c_str());
  return report.ok() ? 0 : 1;
}
