// Export of every character on several threads: the files a character-by-character export would
// write, in character order, and a cancelled export leaves only whole files.
#include "canvas/export.hpp"

#include <cmath>
#include <random>

#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::character;
using testing::layer;
using testing::testImage;

// Characters sharing pictures, one with nothing to draw, one that draws only a layer, and two whose
// file names are the same ("a1" is record 1, "a" record 11).
CharacterList exportedList() {
  CharacterList list;
  const ImageRef shared = testImage(30, 20, 1);
  list.characters = {character("a1", 0, shared), character("hero", 5, testImage(9, 9, 2)), character("empty"),
                     character("a", 0, testImage(3, 3, 3))};
  list.characters[1].layers = {layer("arm", 10, shared), layer("fx", 1, testImage(4, 7, 4))};
  list.characters[1].layers[1].x = -3;
  for (int k = 0; k < 5; ++k) list.characters.insert(list.characters.begin() + 3, character("b", 1, testImage(5, 5, 10 + uint32_t(k))));
  return list;
}

TEST(Export, ThreadsWriteWhatEachCharactersPictureIsInCharacterOrder) {
  const CharacterList list = exportedList();
  testing::TempFolder out;
  std::vector<std::string> told;
  std::vector<size_t> progress;
  ExportOptions options;
  options.threads = 3;
  options.progress = [&](size_t done, size_t total) { progress.push_back(done * 100 + total); };
  ExportReport report = exportAllCharacters(list, ProjectFolder(out.path()), [&](const std::string& f) { told.push_back(f); }, options);

  const std::vector<std::string> names = {"a11.png", "hero2.png", "b6.png", "b7.png", "b8.png", "b9.png", "b10.png"};
  EXPECT_EQ(report.written, names);
  EXPECT_EQ(told, names);
  EXPECT_EQ(report.skipped, std::vector<std::string>{"character 3 \"empty\""});
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].file, "a11.png");
  EXPECT_EQ(progress.size(), 9u);
  EXPECT_EQ(progress.back(), 909u);
  EXPECT_EQ(out.list("").size(), names.size());  // and no temporary file
  for (size_t k = 0; k < 3; ++k) {  // the same bytes as the picture made on its own
    const size_t row = k == 2 ? 3 : k;
    EXPECT_EQ(out.read(names[k]), characterPicture(list.characters[row]).png.value_or("")) << names[k];
  }

  // Again on one thread: the same files, byte for byte.
  testing::TempFolder again;
  options.threads = 1;
  exportAllCharacters(list, ProjectFolder(again.path()), {}, options);
  EXPECT_EQ(testing::filesOf(again), testing::filesOf(out));
}

TEST(Export, CancellingLeavesOnlyTheWholeFilesWrittenBefore) {
  const CharacterList list = exportedList();
  testing::TempFolder out;
  std::atomic<bool> cancel{false};
  ExportOptions options;
  options.threads = 4;
  options.cancel = &cancel;
  options.progress = [&](size_t done, size_t) { cancel = done == 4; };
  ExportReport report = exportAllCharacters(list, ProjectFolder(out.path()), {}, options);
  EXPECT_TRUE(report.cancelled);
  EXPECT_EQ(report.written, (std::vector<std::string>{"a11.png", "hero2.png", "b6.png"}));
  // No temporary file of the characters made ahead is left behind.
  EXPECT_EQ(out.list(""), (std::vector<std::string>{"a11.png", "b6.png", "hero2.png"}));
  for (const std::string& name : report.written) EXPECT_TRUE(decodeImageData(out.read(name))) << name;
}

// Source-over in doubles on straight RGBA, the images at their places in drawing order: the picture an
// export must give to within rounding. Returns w x h values of {r, g, b, a} in 0..255 units.
std::vector<std::array<double, 4>> exactComposition(const std::vector<std::tuple<ImageRef, int, int>>& images, int left,
                                                    int top, int w, int h) {
  std::vector<std::array<double, 4>> out(size_t(w * h), {0, 0, 0, 0});
  for (const auto& [image, ix, iy] : images)
    for (int y = 0; y < image->pixelHeight(); ++y)
      for (int x = 0; x < image->pixelWidth(); ++x) {
        const uint32_t p = image->pixel(x, y);
        const double sa = (p >> 24) / 255.0;
        auto& d = out[size_t((iy + y - top) * w + ix + x - left)];
        const double da = d[3] / 255.0, a = sa + da * (1 - sa);
        for (int c = 0; c < 3; ++c) {
          const double s = (p >> (16 - 8 * c)) & 0xff;
          d[size_t(c)] = a > 0 ? (s * sa + d[size_t(c)] * da * (1 - sa)) / a : 0;
        }
        d[3] = a * 255;
      }
  return out;
}

ImageRef randomImage(int w, int h, std::mt19937& random, uint32_t maxAlpha) {
  std::vector<uint32_t> argb(size_t(w * h));
  for (uint32_t& p : argb) p = uint32_t(random() % (maxAlpha + 1)) << 24 | (random() & 0xffffff);
  return makeImage(w, h, argb);
}

TEST(Export, PicturesAreTheExactCompositionOfTheirImages) {
  std::mt19937 random(26);
  struct Case {
    const char* what;
    std::vector<std::tuple<ImageRef, int, int>> images;  // the character's picture, then its layers
    int tolerance;  // per channel, where the exact alpha is at least 1; a picture alone is exact
  };
  const std::vector<Case> cases = {
      {"faint pixels alone", {{makeImage(2, 1, {0x01c80a1eu, 0x031163fau}), 0, 0}}, 0},
      {"every alpha alone", {{randomImage(64, 16, random, 255), -5, 3}}, 0},
      {"faint layers", {{randomImage(9, 7, random, 20), 0, 0}, {randomImage(9, 7, random, 20), 0, 0},
                        {randomImage(9, 7, random, 40), 0, 0}, {randomImage(9, 7, random, 20), 0, 0}}, 1},
      {"overlapping layers", {{randomImage(20, 10, random, 255), 0, 0}, {randomImage(9, 13, random, 128), 15, -2},
                              {randomImage(7, 5, random, 255), 3, 4}, {randomImage(30, 2, random, 64), -4, 6},
                              {randomImage(11, 11, random, 200), 8, 1}}, 1},
  };
  for (const Case& c : cases) {
    Character ch = character("c", 0, std::get<0>(c.images[0]));
    ch.x = std::get<1>(c.images[0]), ch.y = std::get<2>(c.images[0]);
    for (size_t i = 1; i < c.images.size(); ++i) {
      ch.layers.push_back(layer("l", int64_t(i), std::get<0>(c.images[i])));
      ch.layers.back().x = std::get<1>(c.images[i]), ch.layers.back().y = std::get<2>(c.images[i]);
    }
    const CharacterPicture picture = characterPicture(ch);
    ImageRef got = decodeImageData(picture.png.value_or(""));
    ASSERT_TRUE(got) << c.what;
    const int w = got->pixelWidth(), h = got->pixelHeight();
    const auto exact = exactComposition(c.images, int(picture.left), int(picture.top), w, h);
    double worst = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const auto& e = exact[size_t(y * w + x)];
        const uint32_t p = got->pixel(x, y);
        if (e[3] < 1) {  // no alpha to speak of: a transparent pixel, whatever its colour
          EXPECT_EQ(p >> 24, 0u) << c.what << " at " << x << "," << y;
          continue;
        }
        for (int k = 0; k < 4; ++k)
          worst = std::max(worst, std::abs(double((p >> (k == 3 ? 24 : 16 - 8 * k)) & 0xff) - e[size_t(k)]));
      }
    EXPECT_LE(worst, c.tolerance + 1e-6) << c.what;
  }
}

}  // namespace
}  // namespace charstack
