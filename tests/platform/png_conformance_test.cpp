// Every kind of PNG picture the standard allows (each colour type and bit depth, with and without a
// transparent colour or palette alpha, interlaced or not), written by libpng with all its row filters,
// decodes to exactly the 8-bit RGBA that libpng itself reads (16-bit samples rounded to the nearest).
// tests/CMakeLists.txt also runs these cases under valgrind: no uninitialised byte may reach a picture.
#include <png.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/image.hpp"
#include "platform/png_reference.hpp"

namespace charstack {
namespace {

struct Kind {
  int colourType, depth;
  bool transparent, interlaced;
  int width, height;
};

// A picture of random samples with libpng, every filter allowed. A transparent colour is one the
// picture uses; a palette is shorter than its indices could reach (but every index names an entry),
// with alpha for its first entries only. outOfRange puts an index beyond the palette.
std::string writePng(const Kind& k, uint32_t seed, bool outOfRange = false) {
  std::mt19937 random(seed);
  const int channels = k.colourType == 0 || k.colourType == 3 ? 1 : k.colourType == 4 ? 2 : k.colourType == 2 ? 3 : 4;
  const int maxSample = (1 << k.depth) - 1;
  const int entries = k.colourType == 3 ? std::max(1, maxSample * 3 / 4) : 0;
  std::vector<std::vector<int>> samples(size_t(k.height), std::vector<int>(size_t(k.width * channels)));
  for (auto& row : samples)
    for (int& s : row) s = int(random() % uint32_t(k.colourType == 3 ? entries : maxSample + 1));
  if (outOfRange) samples.back().back() = entries;
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, [](png_structp p, png_bytep data, size_t size) {
    static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), size);
  }, nullptr);
  png_set_IHDR(png, info, png_uint_32(k.width), png_uint_32(k.height), k.depth, k.colourType,
               k.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, 0, PNG_ALL_FILTERS);
  std::vector<png_color> palette;
  std::vector<png_byte> alphas;
  for (int i = 0; i < entries; ++i) palette.push_back({png_byte(random()), png_byte(random()), png_byte(random())});
  for (int i = 0; k.transparent && i < entries / 2 + 1; ++i) alphas.push_back(png_byte(random()));
  if (entries) png_set_PLTE(png, info, palette.data(), entries);
  if (k.transparent && k.colourType == 3) png_set_tRNS(png, info, alphas.data(), int(alphas.size()), nullptr);
  if (k.transparent && k.colourType != 3) {
    png_color_16 key{};
    const std::vector<int>& row = samples[size_t(k.height / 2)];
    key.gray = png_uint_16(row[0]);
    if (k.colourType == 2) key.red = png_uint_16(row[0]), key.green = png_uint_16(row[1]), key.blue = png_uint_16(row[2]);
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  png_write_info(png, info);
  const int bits = channels * k.depth;
  std::vector<std::vector<png_byte>> rows;
  for (const auto& row : samples) {
    std::vector<png_byte> bytes(size_t((k.width * bits + 7) / 8));
    for (size_t i = 0; i < row.size(); ++i) {
      if (k.depth == 16) {
        bytes[2 * i] = png_byte(row[i] >> 8), bytes[2 * i + 1] = png_byte(row[i]);
      } else {
        const size_t bit = i * size_t(k.depth);
        bytes[bit / 8] = png_byte(bytes[bit / 8] | row[i] << (8 - k.depth - int(bit % 8)));
      }
    }
    rows.push_back(std::move(bytes));
  }
  std::vector<png_bytep> pointers;
  for (auto& r : rows) pointers.push_back(r.data());
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::vector<Kind> everyKind() {
  std::vector<Kind> kinds;
  const std::vector<std::pair<int, std::vector<int>>> depths = {
      {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
  for (const auto& [type, list] : depths)
    for (int depth : list)
      for (bool transparent : {false, true})
        for (bool interlaced : {false, true})
          if (!transparent || type < 4)
            for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{37, 19}})
              kinds.push_back({type, depth, transparent, interlaced, w, h});
  return kinds;
}

TEST(PngConformance, EveryKindDecodesToTheReferenceReadersPixels) {
  uint32_t seed = 1;
  for (const Kind& k : everyKind()) {
    const std::string png = writePng(k, seed++);
    const std::vector<uint32_t> expected = testing::readWithLibpng(png);
    DecodedImage decoded = decodeImage(png);
    const std::string what = "type " + std::to_string(k.colourType) + ", " + std::to_string(k.depth) + " bits" +
                             (k.transparent ? ", tRNS" : "") + (k.interlaced ? ", interlaced" : "") + ", " +
                             std::to_string(k.width) + "x" + std::to_string(k.height);
    ASSERT_TRUE(decoded.image && expected.size() == size_t(k.width * k.height)) << what << ": " << decoded.problem;
    std::vector<uint32_t> ours;
    for (int y = 0; y < k.height; ++y)
      for (int x = 0; x < k.width; ++x) ours.push_back(decoded.image->pixel(x, y));
    EXPECT_EQ(ours, expected) << what;
    // A palette index beyond the palette is damage, found when the picture is checked.
    if (k.colourType == 3) {
      DecodedImage bad = decodeImage(writePng(k, seed, true));
      EXPECT_TRUE(!bad.image && bad.problem.find("damaged") != std::string::npos) << what << ": " << bad.problem;
    }
  }
}

}  // namespace
}  // namespace charstack
