#include "platform/image.hpp"

#include <QBuffer>
#include <QImage>
#include <gtest/gtest.h>

#include <string>

#include "platform/image_impl.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::TempFolder;
using testing::testImage;
using testing::testPng;

bool isPng(const std::string& bytes) { return bytes.rfind("\x89PNG\r\n\x1a\n", 0) == 0; }

std::string saveWithQt(const QImage& image, const char* format) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format)) << format;
  return std::string(data.constData(), static_cast<size_t>(data.size()));
}

uint32_t crc32(std::string_view bytes) {
  uint32_t crc = 0xffffffffu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string bigEndian(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string chunk(std::string_view type, std::string_view body) {
  std::string typed = std::string(type) + std::string(body);
  return bigEndian(static_cast<uint32_t>(body.size())) + typed + bigEndian(crc32(typed));
}

TEST(Image, MakeImageKeepsPixelsInRowOrderAndComparesEveryPixel) {
  ImageRef image = makeImage(3, 2, {0x00ff8040, 0xff000001, 0x80102030,  //
                                    0x01020304, 0xffffffff, 0x00000000});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixelWidth(), 3);
  EXPECT_EQ(image->height(), 2.0);
  EXPECT_EQ(image->pixel(0, 0), 0x00ff8040u);  // transparent but keeps its colour
  EXPECT_EQ(image->pixel(2, 0), 0x80102030u);
  EXPECT_EQ(image->pixel(0, 1), 0x01020304u);
  EXPECT_FALSE(makeImage(3, 2, {1, 2, 3}));

  ImageRef a = testImage(6, 4, 1);
  EXPECT_TRUE(a->samePixels(*testImage(6, 4, 1)));
  EXPECT_FALSE(a->samePixels(*testImage(4, 6, 1)));
  std::vector<uint32_t> px(24);
  for (int i = 0; i < 24; ++i) px[static_cast<size_t>(i)] = a->pixel(i % 6, i / 6);
  px[23] ^= 0x01000000u;  // only the alpha of the last pixel differs
  EXPECT_FALSE(a->samePixels(*makeImage(6, 4, px)));
}

TEST(Image, PngRoundTripKeepsAlphaAndTransparentColours) {
  ImageRef original = makeImage(4, 1, {0x00ff8040, 0x7f123456, 0xff000000, 0x00000001});
  auto png = encodePng(*original);
  ASSERT_TRUE(png);
  EXPECT_TRUE(isPng(*png));
  ImageRef back = decodeImageData(*png);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->samePixels(*original));
  EXPECT_EQ(back->pixel(0, 0), 0x00ff8040u);
  EXPECT_EQ(back->pixel(3, 0), 0x00000001u);

  ImageRef patterned = decodeImageData(testPng(37, 23, 9));
  ASSERT_TRUE(patterned);
  EXPECT_TRUE(patterned->samePixels(*testImage(37, 23, 9)));
}

TEST(Image, DecodedPngBytesAreReusedByteForByte) {
  TempFolder tmp;
  // Compressed at the highest level: encoding again would give different bytes.
  QImage source(9, 7, QImage::Format_ARGB32);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) source.setPixel(x, y, qRgba(x * 20, y * 30, 77, x == 0 ? 0 : 200));
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(source.save(&buffer, "PNG", 0));
  std::string bytes(data.constData(), static_cast<size_t>(data.size()));
  tmp.write("picture", bytes);

  ImageRef fromFile = decodeImageFile(tmp.path() / "picture");
  ASSERT_TRUE(fromFile);
  EXPECT_EQ(encodePng(*fromFile), bytes);
  ImageRef fromMemory = decodeImageData(bytes);
  ASSERT_TRUE(fromMemory);
  EXPECT_EQ(encodePng(*fromMemory), bytes);
  EXPECT_EQ(fromMemory->pixel(0, 3), qRgba(0, 90, 77, 0));
}

TEST(Image, OtherFormatsDecodeFromFilesWithoutExtension) {
  TempFolder tmp;
  QImage source(16, 8, QImage::Format_RGB32);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) source.setPixel(x, y, x < 8 ? qRgb(200, 40, 40) : qRgb(30, 30, 220));
  for (const char* format : {"BMP", "JPEG"}) {
    tmp.write(format, saveWithQt(source, format));
    ImageRef image = decodeImageFile(tmp.path() / format);
    ASSERT_TRUE(image) << format;
    EXPECT_EQ(image->pixelWidth(), 16) << format;
    EXPECT_EQ(image->pixelHeight(), 8) << format;
    EXPECT_EQ(image->pixel(1, 1) >> 24, 0xffu) << format;
    // Saving turns it into a PNG with the same pixels.
    auto png = encodePng(*image);
    ASSERT_TRUE(png) << format;
    EXPECT_TRUE(isPng(*png)) << format;
    EXPECT_TRUE(decodeImageData(*png)->samePixels(*image)) << format;
  }
  EXPECT_TRUE(decodeImageFile(tmp.path() / "BMP")->samePixels(*imageFromQImage(source)));

  // Qt reads GIF but cannot write it: a 1 x 1 GIF with one red pixel, by hand.
  tmp.write("gif", std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00"  // screen, 2-colour table
                               "\xff\x00\x00\x00\x00\x00"              // red, black
                               ",\x00\x00\x00\x00\x01\x00\x01\x00\x00"  // image 1 x 1
                               "\x02\x02\x44\x01\x00;",                  // LZW: clear, 0, end
                               35));
  ImageRef gif = decodeImageFile(tmp.path() / "gif");
  ASSERT_TRUE(gif);
  EXPECT_EQ(gif->pixelWidth(), 1);
  EXPECT_EQ(gif->pixel(0, 0), 0xffff0000u);
}

TEST(Image, UndecodableDataGivesNone) {
  TempFolder tmp;
  tmp.write("garbage", "this is not an image at all, just some text");
  tmp.write("empty", "");
  EXPECT_FALSE(decodeImageFile(tmp.path() / "garbage"));
  EXPECT_FALSE(decodeImageFile(tmp.path() / "empty"));
  EXPECT_FALSE(decodeImageFile(tmp.path() / "missing"));
  EXPECT_FALSE(decodeImageData(""));
  EXPECT_FALSE(decodeImageData(std::string_view("\x89PNG\r\n\x1a\n", 8)));
}

TEST(Image, AbsurdSizesAreRefused) {
  // A valid PNG header announcing 60000 x 60000 RGBA pixels (over 13 GB decoded).
  std::string ihdr = bigEndian(60000) + bigEndian(60000) + std::string("\x08\x06\x00\x00\x00", 5);
  std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IEND", "");
  EXPECT_FALSE(decodeImageData(png));
}

TEST(Image, QImagesAreStoredWithoutLossAndDrawnPremultiplied) {
  EXPECT_FALSE(imageFromQImage(QImage()));
  QImage rgb(2, 2, QImage::Format_RGB888);
  rgb.fill(QColor(1, 2, 3));
  ImageRef fromRgb = imageFromQImage(rgb);
  EXPECT_TRUE(fromRgb->samePixels(*makeImage(2, 2, std::vector<uint32_t>(4, 0xff010203))));

  ImageRef half = makeImage(1, 1, {0x80ff0000});
  const QImage& drawn = half->impl().premultiplied();
  EXPECT_EQ(drawn.format(), QImage::Format_ARGB32_Premultiplied);
  EXPECT_EQ(&drawn, &half->impl().premultiplied());  // made once
  EXPECT_EQ(half->pixel(0, 0), 0x80ff0000u);         // the stored pixels stay as they were

  QImage hiDpi(8, 6, QImage::Format_ARGB32);
  hiDpi.fill(Qt::transparent);
  hiDpi.setDevicePixelRatio(2.0);
  ImageRef natural = imageFromQImage(hiDpi);
  EXPECT_EQ(natural->pixelWidth(), 8);
  EXPECT_EQ(natural->width(), 4.0);
  EXPECT_EQ(natural->height(), 3.0);
}

}  // namespace
}  // namespace charstack
