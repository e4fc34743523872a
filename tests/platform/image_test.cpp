// Pictures keep their exact pixels, their PNG bytes and what else their files say, and are read
// whatever their format, as image files in "img/" have no extension.
#include "platform/image.hpp"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColorSpace>
#include <QImage>

#include "platform/image_impl.hpp"
#include "project/project_io.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::TempFolder;
using testing::testImage;

std::string saveWithQt(const QImage& image, const char* format, int quality = -1) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format, quality)) << format;
  return data.toStdString();
}

TEST(Image, PixelsStayExactWithAlphaAndTheColoursOfTransparentPixels) {
  const std::vector<uint32_t> px = {0x00ff8040, 0xff000001, 0x80102030, 0x01020304, 0xffffffff, 0x00000000};
  ImageRef image = makeImage(3, 2, px);
  ImageRef back = decodeImageData(encodePng(*image).value_or(""));
  ASSERT_TRUE(back && back->pixelWidth() == 3 && back->height() == 2.0);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(back->pixel(k % 3, k / 3), px[size_t(k)]) << k;
  std::vector<uint32_t> otherAlpha = px;
  otherAlpha[5] ^= 0x01000000u;
  EXPECT_FALSE(image->samePixels(*makeImage(3, 2, otherAlpha)));
  EXPECT_FALSE(image->samePixels(*makeImage(2, 3, px)));

  // Dropped or pasted pictures convert without loss; a high-resolution one keeps its natural size.
  QImage rgb(2, 2, QImage::Format_RGB888);
  rgb.fill(QColor(1, 2, 3));
  EXPECT_TRUE(imageFromQImage(rgb)->samePixels(*makeImage(2, 2, std::vector<uint32_t>(4, 0xff010203))));
  QImage half(2, 2, QImage::Format_ARGB32);
  half.fill(QColor(255, 0, 0, 128));
  EXPECT_EQ(imageFromQImage(half)->pixel(1, 1), 0x80ff0000u);
  half.setDevicePixelRatio(2.0);
  EXPECT_EQ(imageFromQImage(half)->width(), 1.0);
}

TEST(Image, SavingKeepsThePngBytesAndWhatTheFileSaysBesideThePixels) {
  // Compressed at the highest level: encoding the pixels again would give other bytes.
  const std::string png = saveWithQt(testImage(37, 23, 5)->impl().qimage(), "PNG", 0);
  ASSERT_NE(png, testing::testPng(37, 23, 5));
  TempFolder dir, copy;
  dir.write("data.txt", "A,1, 0, 0\n####\n$$$$\n");
  dir.write("img/A1", png);
  LoadResult loaded = loadProject(ProjectFolder(dir.path()));
  ASSERT_TRUE(loaded.list.size() == 1 && loaded.list.characters[0].image);
  EXPECT_TRUE(loaded.list.characters[0].image->samePixels(*testImage(37, 23, 5)));
  EXPECT_TRUE(testing::saveInto(loaded.list, copy).ok());
  EXPECT_EQ(copy.read("img/A1"), png);

  QImage rgb = testImage(33, 5, 2)->impl().qimage().convertToFormat(QImage::Format_RGB32);
  rgb.setDotsPerMeterX(5000);
  rgb.setDotsPerMeterY(2000);
  QImage tagged = testImage(8, 8, 1)->impl().qimage();
  tagged.setText("Author", "someone");
  tagged.setColorSpace(QColorSpace::DisplayP3);
  for (const QImage& source : {rgb, tagged}) {
    ImageRef image = imageFromQImage(source), back = decodeImageData(encodePng(*image).value_or(""));
    ASSERT_TRUE(back && back->samePixels(*image));
    const QImage& got = back->impl().qimage();
    EXPECT_EQ(got.format(), source.format());
    EXPECT_EQ(got.dotsPerMeterX(), source.dotsPerMeterX());
    EXPECT_EQ(got.dotsPerMeterY(), source.dotsPerMeterY());
    EXPECT_EQ(got.text("Author"), source.text("Author"));
    EXPECT_EQ(got.colorSpace(), source.colorSpace());
  }
}

TEST(Image, FilesDecodeByTheirContentAndAnythingElseGivesNone) {
  TempFolder dir;
  QImage source(16, 8, QImage::Format_RGB32);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) source.setPixel(x, y, x < 8 ? qRgb(200, 40, 40) : qRgb(30, 30, 220 - y));
  dir.write("bmp", saveWithQt(source, "BMP"));
  dir.write("jpeg", saveWithQt(source, "JPEG"));
  // A 1 x 1 GIF with one red pixel, by hand: the toolkit reads GIF but does not write it.
  dir.write("gif", std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
                               ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;", 35));
  ImageRef bmp = decodeImageFile(dir.path() / "bmp");
  ASSERT_TRUE(bmp);
  EXPECT_TRUE(bmp->samePixels(*imageFromQImage(source)));
  ImageRef jpeg = decodeImageFile(dir.path() / "jpeg");
  EXPECT_TRUE(jpeg && jpeg->pixelWidth() == 16 && jpeg->pixelHeight() == 8);
  ImageRef gif = decodeImageFile(dir.path() / "gif");
  EXPECT_TRUE(gif && gif->pixel(0, 0) == 0xffff0000u);

  dir.write("garbage", "this is not an image at all");
  dir.write("empty", "");
  for (const char* name : {"garbage", "empty", "missing"}) EXPECT_FALSE(decodeImageFile(dir.path() / name)) << name;
  EXPECT_FALSE(decodeImageData(std::string_view("\x89PNG\r\n\x1a\n", 8)));
}

}  // namespace
}  // namespace charstack
