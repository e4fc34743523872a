// Export of every character on several threads: the files a character-by-character export would
// write, in character order, and a cancelled export leaves only whole files; scaled, trimmed, named
// without numbers, or as one sprite sheet with its JSON.
#include "canvas/export.hpp"

#include <QJsonDocument>
#include <QJsonObject>
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

  const std::vector<std::string> names = {"a11.png", "hero2.png", "b6.png", "b7.png", "b8.png", "b9.png", "b10.png",
                                          "a11 (2).png"};
  EXPECT_EQ(report.written, names);
  EXPECT_EQ(told, names);
  EXPECT_EQ(report.skipped, std::vector<std::string>{"character 3 \"empty\""});
  EXPECT_TRUE(report.problems.empty());
  using Renamed = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(report.renamed, (Renamed{{"character 9 \"a\"", "a11 (2).png"}}));
  EXPECT_EQ(progress.size(), 9u);
  EXPECT_EQ(progress.back(), 909u);
  EXPECT_EQ(out.list("").size(), names.size());  // and no temporary file
  for (const auto& [k, row] : {std::pair{0, 0}, {1, 1}, {2, 3}, {7, 8}})  // the same bytes as the picture alone
    EXPECT_EQ(out.read(names[size_t(k)]), characterPicture(list.characters[size_t(row)]).png.value_or("")) << names[size_t(k)];

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

// The picture an export with these options must give: the character's picture alone, cropped to its
// pixels that are not fully transparent when trimmed, each pixel a scale x scale block. Its pixels
// row by row, its width, and where it lies in the scaled whole picture.
struct Expected {
  std::vector<uint32_t> argb;
  int w = 0, h = 0, x = 0, y = 0, wholeW = 0, wholeH = 0;
};
Expected expectedPicture(const Character& c, int scale, bool trim) {
  const ImageRef whole = decodeImageData(characterPicture(c).png.value_or(""));
  Expected e;
  if (!whole) return e;
  int x0 = 0, y0 = 0, x1 = whole->pixelWidth() - 1, y1 = whole->pixelHeight() - 1;
  const auto clear = [&](int x, int y) { return trim && whole->pixel(x, y) >> 24 == 0; };
  const auto clearRow = [&](int y) { for (int x = x0; x <= x1; ++x) if (!clear(x, y)) return false; return true; };
  const auto clearColumn = [&](int x) { for (int y = y0; y <= y1; ++y) if (!clear(x, y)) return false; return true; };
  while (y0 <= y1 && clearRow(y0)) ++y0;
  while (y1 >= y0 && clearRow(y1)) --y1;
  while (x0 <= x1 && clearColumn(x0)) ++x0;
  while (x1 >= x0 && clearColumn(x1)) --x1;
  e = {{}, (x1 - x0 + 1) * scale, (y1 - y0 + 1) * scale, x0 * scale, y0 * scale,
       whole->pixelWidth() * scale, whole->pixelHeight() * scale};
  for (int y = 0; y < e.h; ++y)
    for (int x = 0; x < e.w; ++x) e.argb.push_back(whole->pixel(x0 + x / scale, y0 + y / scale));
  return e;
}

// The pixels of image at (x, y), w x h.
std::vector<uint32_t> pixelsOf(const Image& image, int x, int y, int w, int h) {
  std::vector<uint32_t> argb;
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) argb.push_back(image.pixel(x + i, y + j));
  return argb;
}

TEST(Export, ScalesTrimsAndNamesWithOrWithoutNumbers) {
  // Two characters of one name, one whose name is the second one's unique name and one whose name
  // differs only in case (É too); a layer beside the picture leaves a transparent corner;
  // testImage's first row and column are transparent.
  CharacterList list;
  list.characters = {character("Héro", 0, testImage(6, 5, 1)), character("Héro", 0, testImage(3, 4, 2)),
                     character("Héro (2)", 0, testImage(5, 5, 3)), character("hÉRO", 0, testImage(2, 3, 4)),
                     character("empty")};
  list.characters[0].layers = {layer("cape", 1, testImage(4, 4, 4))};
  list.characters[0].layers[0].x = 5, list.characters[0].layers[0].y = 3;
  const struct {
    int scale;
    bool trim, numbers;
    std::vector<std::string> names;
    std::vector<std::string> renamed;  // the names given instead of one an earlier character has
  } cases[] = {
      {1, false, true, {"Héro1.png", "Héro3.png", "Héro (2)4.png", "hÉRO5.png"}, {}},
      {1, true, true, {"Héro1.png", "Héro3.png", "Héro (2)4.png", "hÉRO5.png"}, {}},
      {3, false, false, {"Héro.png", "Héro (3).png", "Héro (2).png", "hÉRO (4).png"}, {"Héro (3).png", "hÉRO (4).png"}},
      {8, true, false, {"Héro.png", "Héro (3).png", "Héro (2).png", "hÉRO (4).png"}, {"Héro (3).png", "hÉRO (4).png"}},
  };
  for (const auto& c : cases) {
    const std::string what = "scale " + std::to_string(c.scale) + (c.trim ? " trimmed" : "");
    testing::TempFolder out;
    ExportOptions options;
    options.scale = c.scale, options.trim = c.trim, options.numbers = c.numbers, options.threads = 2;
    const ExportReport report = exportAllCharacters(list, ProjectFolder(out.path()), {}, options);
    EXPECT_EQ(report.written, c.names) << what;
    EXPECT_EQ(report.skipped.size(), 1u) << what;
    std::vector<std::string> renamed;
    for (const auto& r : report.renamed) renamed.push_back(r.second);
    EXPECT_EQ(renamed, c.renamed) << what;
    for (size_t k = 0; k < c.names.size(); ++k) {
      const Expected e = expectedPicture(list.characters[k], c.scale, c.trim);
      const ImageRef got = decodeImageData(out.read(c.names[k]));
      ASSERT_TRUE(got) << what << " " << c.names[k];
      ASSERT_EQ(got->pixelWidth(), e.w) << what << " " << c.names[k];
      ASSERT_EQ(got->pixelHeight(), e.h) << what << " " << c.names[k];
      EXPECT_EQ(pixelsOf(*got, 0, 0, e.w, e.h), e.argb) << what << " " << c.names[k];
    }
  }
}

// Every frame the JSON names, cut out of the sheet, is the character's picture as a file export with
// the same options writes it; the frames keep their padding; the same list gives the same bytes.
TEST(Export, SpriteSheetFramesAreTheCharactersPicturesScaledAndTrimmed) {
  const CharacterList list = exportedList();
  for (const auto& [scale, trim] : {std::pair{1, false}, {2, true}}) {
    testing::TempFolder out, again;
    ExportOptions options;
    options.scale = scale, options.trim = trim, options.sheet = "atlas", options.threads = 3;
    size_t progress = 0;
    options.progress = [&](size_t done, size_t total) { progress = done * 100 + total; };
    const ExportReport report = exportAllCharacters(list, ProjectFolder(out.path()), {}, options);
    EXPECT_EQ(progress, 1010u);  // the nine characters, then the sheet
    ASSERT_EQ(report.written, (std::vector<std::string>{"atlas.png", "atlas.json"}));
    EXPECT_EQ(report.frames, 8u);
    EXPECT_EQ(out.list(""), (std::vector<std::string>{"atlas.json", "atlas.png"}));
    const ImageRef sheet = decodeImageData(out.read("atlas.png"));
    ASSERT_TRUE(sheet);
    const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(out.read("atlas.json"))).object();
    const QJsonObject meta = json["meta"].toObject(), frames = json["frames"].toObject();
    EXPECT_EQ(meta["image"].toString(), "atlas.png");
    EXPECT_EQ(meta["scale"].toString(), QString::number(scale));
    EXPECT_EQ(meta["size"].toObject()["w"].toInt(), sheet->pixelWidth());
    EXPECT_EQ(meta["size"].toObject()["h"].toInt(), sheet->pixelHeight());
    const std::vector<std::pair<std::string, size_t>> names = {{"a11.png", 0}, {"hero2.png", 1}, {"b6.png", 3},
                                                               {"b10.png", 7}, {"a11 (2).png", 8}};
    EXPECT_EQ(frames.size(), 8);
    std::vector<QJsonObject> rects;
    for (const auto& [name, row] : names) {
      const QJsonObject f = frames[QString::fromStdString(name)].toObject();
      const QJsonObject r = f["frame"].toObject(), source = f["spriteSourceSize"].toObject();
      const Expected e = expectedPicture(list.characters[row], scale, trim);
      EXPECT_EQ(pixelsOf(*sheet, r["x"].toInt(), r["y"].toInt(), r["w"].toInt(), r["h"].toInt()), e.argb) << name;
      EXPECT_EQ(r["w"].toInt(), e.w) << name;
      EXPECT_EQ(QJsonObject({{"x", e.x}, {"y", e.y}, {"w", e.w}, {"h", e.h}}), source) << name;
      EXPECT_EQ(QJsonObject({{"w", e.wholeW}, {"h", e.wholeH}}), f["sourceSize"].toObject()) << name;
      EXPECT_EQ(f["trimmed"].toBool(), e.w != e.wholeW || e.h != e.wholeH) << name;
    }
    for (const QJsonValue& f : frames) rects.push_back(f.toObject()["frame"].toObject());
    for (size_t i = 0; i < rects.size(); ++i)
      for (size_t j = i + 1; j < rects.size(); ++j) {
        const QJsonObject &a = rects[i], &b = rects[j];
        const bool apart = a["x"].toInt() + a["w"].toInt() + kSheetPadding <= b["x"].toInt() ||
                           b["x"].toInt() + b["w"].toInt() + kSheetPadding <= a["x"].toInt() ||
                           a["y"].toInt() + a["h"].toInt() + kSheetPadding <= b["y"].toInt() ||
                           b["y"].toInt() + b["h"].toInt() + kSheetPadding <= a["y"].toInt();
        EXPECT_TRUE(apart) << "frames " << i << " and " << j;
      }
    options.threads = 1;
    exportAllCharacters(list, ProjectFolder(again.path()), {}, options);
    EXPECT_EQ(testing::filesOf(again), testing::filesOf(out));
  }
  // Names that are not UTF-8 and differ only there still give a frame each, and so do names that
  // differ only in case, under their own names.
  CharacterList latin1;
  latin1.characters = {character("caf\xE9", 0, testImage(3, 3, 1)), character("caf\xE8", 0, testImage(3, 3, 2)),
                       character("Hero", 0, testImage(3, 3, 3)), character("hero", 0, testImage(3, 3, 4))};
  testing::TempFolder out;
  ExportOptions options;
  options.numbers = false, options.sheet = "s";
  EXPECT_EQ(exportAllCharacters(latin1, ProjectFolder(out.path()), {}, options).renamed.size(), 1u);
  const QJsonObject frames = QJsonDocument::fromJson(QByteArray::fromStdString(out.read("s.json")))["frames"].toObject();
  EXPECT_EQ(frames.keys(), (QStringList{"Hero.png", "caf\uFFFD (2).png", "caf\uFFFD.png", "hero.png"}));
}

}  // namespace
}  // namespace charstack
