// Pictures keep their PNG bytes and what else their files say, and are read whatever their format,
// as image files in "img/" have no extension. (Exact pixels are checked wherever projects are saved.)
#include "platform/image.hpp"


#include <zlib.h>

#include <QBuffer>
#include <QColorSpace>
#include <random>

#include "platform/image_impl.hpp"
#include "platform/png.hpp"
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

std::string bigEndian(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// A PNG chunk with its length and CRC.
std::string chunk(const std::string& type, const std::string& body) {
  const std::string typed = type + body;
  return bigEndian(uint32_t(body.size())) + typed +
         bigEndian(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), uInt(typed.size()))));
}

// The PNG data with one byte of a chunk's body changed, its CRC made right again.
std::string withChunkByte(std::string png, const char* type, size_t offset, char value) {
  const size_t at = png.find(type) - 4;
  const size_t length = size_t(uint8_t(png[at + 2])) << 8 | uint8_t(png[at + 3]);
  std::string body = png.substr(at + 8, length);
  body[offset] = value;
  return png.replace(at, length + 12, chunk(type, body));
}

// Noise, gradients and flat runs: the encoders pick every row filter for some rows.
QImage mixedImage(int width, int height, QImage::Format format) {
  QImage image = testImage(width, height, 9)->impl().qimage().convertToFormat(format);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if ((y / 4) % 3 == 1) image.setPixel(x, y, qRgba(x * 255 / width, y * 255 / height, 90, y % 2 ? 255 : 128));
      else if ((y / 4) % 3 == 2) image.setPixel(x, y, qRgba(10, 20, 30, 255));
  return image;
}

TEST(Image, PngDataDecodesToTheToolkitReadersPixelsAndOursToTheSource) {
  for (QImage::Format format : {QImage::Format_ARGB32, QImage::Format_RGB32, QImage::Format_Grayscale8,
                                QImage::Format_Indexed8, QImage::Format_RGBA64}) {
    const QImage source = mixedImage(61, 37, format);
    // Qt's writer at levels 0, 6 and 9 (libpng picks the filters), then our own data read back by Qt.
    for (int quality : {100, 50, 0}) {
      const std::string png = saveWithQt(source, "PNG", quality);
      DecodedImage decoded = decodeImage(png);
      ASSERT_TRUE(decoded.image) << format << " " << decoded.problem;
      const QImage& ours = decoded.image->impl().qimage();
      const QImage theirs = QImage::fromData(QByteArray::fromStdString(png));
      EXPECT_TRUE(decoded.image->samePixels(*imageFromQImage(theirs))) << format << " at " << quality;
      EXPECT_EQ(std::tuple(ours.dotsPerMeterX(), ours.dotsPerMeterY()), std::tuple(theirs.dotsPerMeterX(), theirs.dotsPerMeterY()));
    }
    ImageRef image = imageFromQImage(source);
    // A pasted picture no open could read back is refused (one bit a pixel: 8 MB to make).
    EXPECT_FALSE(imageFromQImage(QImage(8193, 8192, QImage::Format_Mono)));
    const std::optional<std::string> png = encodePng(*image);
    ASSERT_TRUE(png);
    EXPECT_TRUE(imageFromQImage(QImage::fromData(QByteArray::fromStdString(*png)))->samePixels(*image)) << format;
  }
  // The memory of a decoded picture that is gone goes to the next one, and to one only.
  const std::string a = testing::testPng(40, 30, 3), b = testing::testPng(40, 30, 4);
  decodeImageData(a)->impl().qimage();
  ImageRef second = decodeImageData(b), third = decodeImageData(a);
  second->impl().qimage(), third->impl().qimage();
  EXPECT_TRUE(second->samePixels(*testImage(40, 30, 4)) && third->samePixels(*testImage(40, 30, 3)));
}

TEST(Image, PngDataIsCheckedWithoutDecodingAndBrokenDataIsNoPicture) {
  const std::string png = testing::testPng(40, 30, 3);
  ASSERT_GT(png.find("IDAT"), 0u);
  const size_t idat = png.find("IDAT") + 4;
  // A file still being written: every shorter prefix is refused, and says so.
  for (size_t size = 0; size < png.size(); ++size) {
    DecodedImage cut = decodeImage(png.substr(0, size));
    EXPECT_FALSE(cut.image) << size;
    EXPECT_TRUE(size <= 8 || cut.problem.find("ends too early") != std::string::npos) << size << cut.problem;
  }
  std::string flipped = png, badHeader = withChunkByte(png, "IHDR", 9, 5), notZlib = withChunkByte(png, "IDAT", 0, 0x79);
  flipped[idat + 20] ^= 1;
  std::string noIdat = png, unknown = png;
  noIdat.replace(png.find("IDAT") - 4, png.find("IEND") - png.find("IDAT"), "");
  unknown.replace(png.find("IEND") - 4, 0, chunk("XyZw", ""));  // critical: it would change the picture
  for (const std::string& bad : {flipped, badHeader, notZlib, noIdat, unknown}) {
    DecodedImage decoded = decodeImage(bad);
    EXPECT_FALSE(decoded.image);
    EXPECT_EQ(decoded.problem.rfind("is not an image the editor can read", 0), 0u) << decoded.problem;
  }
  // A small file that announces a huge picture (2,031,656 x 30): refused before any pixel is allocated.
  EXPECT_NE(decodeImage(withChunkByte(png, "IHDR", 1, 0x1f)).problem.find("ends too early"), std::string::npos);
  DecodedImage trailing = decodeImage(png + "trailing bytes");  // after IEND, as other readers allow
  ASSERT_TRUE(trailing.image);
  EXPECT_TRUE(trailing.image->samePixels(*testImage(40, 30, 3)));

  // Sound structure, damaged deflate data: opened, then drawn transparent, and no exported picture.
  DecodedImage damaged = decodeImage(withChunkByte(png, "IDAT", 30, '\x55'));
  ASSERT_TRUE(damaged.image);
  EXPECT_FALSE(damaged.image->impl().decodeFailed());
  ComposedImage composed = composeImages({{damaged.image.get(), 0, 0, false}, {testImage(2, 2, 1).get(), 5, 5}});
  EXPECT_TRUE(!composed.image && damaged.image->impl().decodeFailed()) << composed.problem;
  EXPECT_EQ(damaged.image->pixel(3, 3), 0u);
}

// A picture of kind noise (random pixels, alpha too), flat (one colour), pattern (stripes and
// checks of a few colours: repeats further back than a pixel) or mixed (mixedImage's rows).
QImage bigPicture(const std::string& kind, int width, int height, QImage::Format format) {
  if (kind == "mixed") return mixedImage(width, height, format);
  QImage image(width, height, format);
  std::mt19937 random(uint32_t(width * 7 + height));
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x)
      row[x] = kind == "noise" ? QRgb(random()) : kind == "flat" ? qRgba(30, 140, 200, 255)
                                                  : qRgba((x / 7 + y / 5) % 4 * 60, (x + y) % 9 * 25, y % 3 * 90, 255);
  }
  return image;
}

TEST(Image, BigPicturesAreWrittenInBandsTheSameOnAnyThreadsAndDecodeExactly) {
  // Bands begin at 4 MiB of filtered rows: 1023 RGBA pixels make 4093 bytes a row, 1365 RGB 4096.
  struct Case {
    const char* kind;
    int width, height;
    QImage::Format format;
    bool banded;
  } const cases[] = {{"noise", 1023, 1025, QImage::Format_ARGB32, true},
                     {"noise", 1023, 1024, QImage::Format_ARGB32, false},
                     {"flat", 1365, 1024, QImage::Format_RGB32, true},
                     {"pattern", 1365, 1023, QImage::Format_RGB32, false},
                     {"pattern", 2049, 1111, QImage::Format_ARGB32, true},
                     {"mixed", 777, 2999, QImage::Format_RGB32, true}};
  for (const Case& c : cases) {
    const std::string name = std::string(c.kind) + " " + std::to_string(c.width) + "x" + std::to_string(c.height);
    const QImage source = bigPicture(c.kind, c.width, c.height, c.format);
    const std::optional<png::Encoded> one = png::encodeDirectly(source, 1), several = png::encodeDirectly(source, 3);
    ASSERT_TRUE(one && several) << name;
    EXPECT_EQ(one->checked, c.banded) << name;
    EXPECT_TRUE(one->data == several->data) << name;
    // Ours and the toolkit's reader, which checks the zlib stream's Adler-32 too.
    const ImageRef image = imageFromQImage(source), ours = decodeImageData(one->data);
    const QImage theirs = QImage::fromData(QByteArray::fromStdString(one->data));
    EXPECT_TRUE(ours && ours->samePixels(*image)) << name;
    EXPECT_TRUE(!theirs.isNull() && imageFromQImage(theirs)->samePixels(*image)) << name;
  }
}

}  // namespace
}  // namespace charstack
