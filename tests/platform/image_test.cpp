// Pictures keep their PNG bytes and what else their files say, and are read whatever their format,
// as image files in "img/" have no extension. (Exact pixels are checked wherever projects are saved.)
#include "platform/image.hpp"


#include <QBuffer>
#include <QColorSpace>

#include "platform/image_impl.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::testImage;

std::string saveWithQt(const QImage& image, const char* format, int quality = -1) {
  QByteArray data;
  QBuffer buffer(&data);
  EXPECT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, format, quality)) << format;
  return data.toStdString();
}

TEST(Image, SavingKeepsThePngBytesAndWhatTheFileSaysBesideThePixels) {
  // Compressed at the highest level: encoding the pixels again would give other bytes.
  const std::string png = saveWithQt(testImage(37, 23, 5)->impl().qimage(), "PNG", 0);
  ASSERT_NE(png, testing::testPng(37, 23, 5));
  testing::TempFolder dir, copy;
  dir.write("data.txt", "A,1, 0, 0\n####\n$$$$\n");
  dir.write("img/A1", png);
  LoadResult loaded = loadProject(ProjectFolder(dir.path()));
  ASSERT_TRUE(loaded.list.size() == 1 && loaded.list.characters[0].image);
  EXPECT_TRUE(testing::saveInto(loaded.list, copy).ok());
  EXPECT_EQ(copy.read("img/A1"), png);

  QImage rgb = testImage(33, 5, 2)->impl().qimage().convertToFormat(QImage::Format_RGB32), tagged = rgb;
  rgb.setDotsPerMeterX(5000);
  rgb.setDotsPerMeterY(2000);
  tagged.setText("Author", "someone");
  tagged.setColorSpace(QColorSpace::DisplayP3);
  for (const QImage& source : {rgb, tagged}) {
    ImageRef image = imageFromQImage(source), back = decodeImageData(encodePng(*image).value_or(""));
    ASSERT_TRUE(back && back->samePixels(*image));
    const QImage& got = back->impl().qimage();
    EXPECT_EQ(std::tuple(got.format(), got.dotsPerMeterX(), got.dotsPerMeterY(), got.text("Author"), got.colorSpace()),
              std::tuple(source.format(), source.dotsPerMeterX(), source.dotsPerMeterY(), source.text("Author"),
                         source.colorSpace()));
  }
  QImage hiDpi(8, 6, QImage::Format_ARGB32);  // a dropped high-resolution picture keeps its natural size
  hiDpi.fill(Qt::transparent);
  hiDpi.setDevicePixelRatio(2.0);
  EXPECT_EQ(imageFromQImage(hiDpi)->width(), 4.0);
}

TEST(Image, FilesDecodeByTheirContentAndAnythingElseGivesNone) {
  testing::TempFolder dir;
  QImage source(16, 8, QImage::Format_RGB32);
  source.fill(qRgb(200, 40, 40));
  dir.write("bmp", saveWithQt(source, "BMP"));
  dir.write("jpeg", saveWithQt(source, "JPEG"));
  // A 1 x 1 GIF with one red pixel, by hand: the toolkit reads GIF but does not write it.
  dir.write("gif", std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
                               ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;", 35));
  dir.write("garbage", "this is not an image at all");
  dir.write("empty", "");
  ImageRef bmp = decodeImageFile(dir.path() / "bmp"), jpeg = decodeImageFile(dir.path() / "jpeg");
  EXPECT_TRUE(bmp && bmp->samePixels(*imageFromQImage(source)));
  EXPECT_TRUE(jpeg && jpeg->pixelWidth() == 16 && jpeg->pixelHeight() == 8);
  EXPECT_EQ(decodeImageFile(dir.path() / "gif")->pixel(0, 0), 0xffff0000u);
  for (const char* name : {"garbage", "empty", "missing"}) EXPECT_FALSE(decodeImageFile(dir.path() / name)) << name;
  EXPECT_FALSE(decodeImageData(std::string_view("\x89PNG\r\n\x1a\n", 8)));
}

}  // namespace
}  // namespace charstack
