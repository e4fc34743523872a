// Images: exact pixels, PNG data kept and written again as it was, other formats, and pixels that
// are decoded only on first use.
#include "platform/image.hpp"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColorSpace>
#include <QImage>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "platform/image_impl.hpp"
#include "project/project_io.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::TempFolder;
using testing::testImage;
using testing::testPng;

std::string saveWithQt(const QImage& image, const char* format, int quality = -1) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format, quality)) << format;
  return data.toStdString();
}

TEST(Image, PixelsStayExactInRowOrderWithAlphaAndTransparentColours) {
  const std::vector<uint32_t> px = {0x00ff8040, 0xff000001, 0x80102030, 0x01020304, 0xffffffff, 0x00000000};
  ImageRef image = makeImage(3, 2, px);
  ASSERT_TRUE(image && image->pixelWidth() == 3 && image->height() == 2.0);
  EXPECT_FALSE(makeImage(3, 2, {1, 2, 3}));
  std::vector<uint32_t> otherAlpha = px;
  otherAlpha[5] ^= 0x01000000u;
  EXPECT_FALSE(image->samePixels(*makeImage(3, 2, otherAlpha)));
  EXPECT_FALSE(image->samePixels(*makeImage(2, 3, px)));

  auto png = encodePng(*image);
  ASSERT_TRUE(png);
  ImageRef back = decodeImageData(*png);
  ASSERT_TRUE(back);
  for (const ImageRef& i : {image, back})
    for (int k = 0; k < 6; ++k) EXPECT_EQ(i->pixel(k % 3, k / 3), px[static_cast<size_t>(k)]) << k;

  // Toolkit images (drops, pastes) convert without loss; a high-resolution one keeps its natural size.
  EXPECT_FALSE(imageFromQImage(QImage()));
  QImage rgb(2, 2, QImage::Format_RGB888);
  rgb.fill(QColor(1, 2, 3));
  EXPECT_TRUE(imageFromQImage(rgb)->samePixels(*makeImage(2, 2, std::vector<uint32_t>(4, 0xff010203))));
  QImage hiDpi(8, 6, QImage::Format_ARGB32);
  hiDpi.fill(Qt::transparent);
  hiDpi.setDevicePixelRatio(2.0);
  ImageRef natural = imageFromQImage(hiDpi);
  EXPECT_TRUE(natural->pixelWidth() == 8 && natural->width() == 4.0 && natural->height() == 3.0);
}

TEST(Image, PngDataIsWrittenAgainByteForByteAndDecodedOnlyOnFirstUse) {
  // Compressed at the highest level: encoding the pixels again would give other bytes.
  ImageRef original = testImage(37, 23, 5);  // transparent first row and column, with colours
  const std::string png = saveWithQt(original->impl().qimage(), "PNG", 0);
  ASSERT_NE(png, testPng(37, 23, 5));
  TempFolder tmp;
  tmp.write("picture", png);
  for (const ImageRef& image : {decodeImageFile(tmp.path() / "picture"), decodeImageData(png)}) {
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->pixelWidth() == 37 && image->pixelHeight() == 23 && image->width() == 37.0);
    EXPECT_EQ(encodePng(*image), png);
    EXPECT_FALSE(image->impl().pixelsLoaded());
    EXPECT_TRUE(image->samePixels(*original));
    EXPECT_EQ(image->pixel(0, 4), original->pixel(0, 4));
    EXPECT_EQ(encodePng(*image), png);
  }
  EXPECT_FALSE(decodeImageData(png)->samePixels(*decodeImageData(testPng(37, 23, 6))));

  // The premultiplied copy for drawing loses transparent colours; pixels decoded afterwards do not.
  ImageRef drawnFirst = decodeImageData(png);
  EXPECT_EQ(drawnFirst->impl().premultiplied(), original->impl().premultiplied());
  EXPECT_FALSE(drawnFirst->impl().pixelsLoaded());
  EXPECT_TRUE(drawnFirst->samePixels(*original));

  // A project loaded and saved elsewhere gets the same bytes, still without decoding.
  tmp.write("data.txt", "A,1, 0, 0\n####\n$$$$\n");
  tmp.write("img/A1", png);
  LoadResult loaded = loadProject(ProjectFolder(tmp.path()));
  ASSERT_TRUE(loaded.list.size() == 1 && loaded.list.characters[0].image);
  TempFolder copy;
  EditorState state;
  EXPECT_TRUE(saveProject(loaded.list, state, ProjectFolder(copy.path())).ok());
  EXPECT_EQ(copy.read("img/A1"), png);
  EXPECT_FALSE(loaded.list.characters[0].image->impl().pixelsLoaded());
}

TEST(Image, EncodedPngKeepsFormatResolutionTextAndColourSpace) {
  QImage rgb = testImage(33, 5, 2)->impl().qimage().convertToFormat(QImage::Format_RGB32);
  rgb.setDotsPerMeterX(5000);
  rgb.setDotsPerMeterY(2000);
  QImage tagged = testImage(8, 8, 1)->impl().qimage();  // only Qt's writer stores these two
  tagged.setText("Author", "someone");
  tagged.setColorSpace(QColorSpace::DisplayP3);
  for (const QImage& source : {rgb, tagged}) {
    ImageRef image = imageFromQImage(source);
    ImageRef back = decodeImageData(encodePng(*image).value_or(""));
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->samePixels(*image));
    const QImage& got = back->impl().qimage();
    EXPECT_EQ(got.format(), source.format());
    EXPECT_EQ(got.dotsPerMeterX(), source.dotsPerMeterX());
    EXPECT_EQ(got.dotsPerMeterY(), source.dotsPerMeterY());
    EXPECT_EQ(got.text("Author"), source.text("Author"));
    EXPECT_EQ(got.colorSpace(), source.colorSpace());
  }
}

TEST(Image, OtherFormatsDecodeFromFilesWithoutExtension) {
  TempFolder tmp;
  QImage source(16, 8, QImage::Format_RGB32);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) source.setPixel(x, y, x < 8 ? qRgb(200, 40, 40) : qRgb(30, 30, 220 - y));
  for (const char* format : {"BMP", "JPEG"}) tmp.write(format, saveWithQt(source, format));
  // Qt reads GIF but cannot write it: a 1 x 1 GIF with one red pixel, by hand.
  tmp.write("GIF", std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00"     // screen, 2-colour table
                               "\xff\x00\x00\x00\x00\x00"               // red, black
                               ",\x00\x00\x00\x00\x01\x00\x01\x00\x00"  // image 1 x 1
                               "\x02\x02\x44\x01\x00;",                 // LZW: clear, 0, end
                               35));
  for (const char* name : {"BMP", "JPEG", "GIF"}) ASSERT_TRUE(decodeImageFile(tmp.path() / name)) << name;
  ImageRef bmp = decodeImageFile(tmp.path() / "BMP"),
           bmpAsPng = decodeImageData(encodePng(*bmp).value_or(""));
  EXPECT_TRUE(bmp->samePixels(*imageFromQImage(source)));
  EXPECT_TRUE(bmpAsPng && bmpAsPng->samePixels(*bmp));  // saved as PNG
  ImageRef jpeg = decodeImageFile(tmp.path() / "JPEG");
  EXPECT_TRUE(jpeg->pixelWidth() == 16 && jpeg->pixelHeight() == 8 && jpeg->pixel(1, 1) >> 24 == 0xffu);
  ImageRef gif = decodeImageFile(tmp.path() / "GIF");
  EXPECT_EQ(gif->pixelWidth(), 1);
  EXPECT_EQ(gif->pixel(0, 0), 0xffff0000u);
}

TEST(Image, GarbageEmptyAndMissingGiveNone) {
  TempFolder tmp;
  tmp.write("garbage", "this is not an image at all, just some text");
  tmp.write("empty", "");
  for (const char* name : {"garbage", "empty", "missing"})
    EXPECT_FALSE(decodeImageFile(tmp.path() / name)) << name;
  EXPECT_FALSE(decodeImageData(""));
  EXPECT_FALSE(decodeImageData(std::string_view("\x89PNG\r\n\x1a\n", 8)));  // the signature alone
}

TEST(Image, FirstUseFromManyThreadsAtOnceDecodesOneSetOfPixels) {
  const std::string png = testPng(64, 48, 11);
  ImageRef original = testImage(64, 48, 11);
  for (int round = 0; round < 20; ++round) {
    ImageRef image = decodeImageData(png);
    constexpr int kThreads = 8;
    std::latch start(kThreads);
    std::vector<const QImage*> seen(kThreads);
    std::vector<int> same(kThreads, 0);
    std::vector<std::thread> threads;
    const std::function<bool()> uses[] = {
        [&] { return image->samePixels(*original); },
        [&] { return image->pixel(63, 47) == original->pixel(63, 47); },
        [&] { return image->impl().premultiplied() == original->impl().premultiplied(); },
        [&] { return encodePng(*image) == png; }};
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        start.arrive_and_wait();
        same[t] = uses[t % 4]();
        seen[t] = &image->impl().qimage();
      });
    for (std::thread& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_TRUE(same[t]) << "round " << round << " thread " << t;
      EXPECT_EQ(seen[t], seen[0]);
    }
  }
}

}  // namespace
}  // namespace charstack
