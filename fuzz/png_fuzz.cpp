// libFuzzer target for the PNG reader: whatever the bytes of a file in "img/", checking and decoding
// must not crash or read out of bounds, and a picture it accepts must have exactly the pixels that
// libpng gives for the same bytes (tests/platform/png_reference.hpp), and those of Qt's own PNG
// reader where that one is right (not for grey or RGB pictures with a transparent colour).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <zlib.h>

#include "platform/image.hpp"
#include "platform/image_impl.hpp"
#include "platform/png_reference.hpp"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "png_fuzz: %s\n", what);
  std::abort();
}

constexpr unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

uint32_t bigEndian(const std::string& s, size_t at) {
  return uint32_t{static_cast<unsigned char>(s[at])} << 24 | uint32_t{static_cast<unsigned char>(s[at + 1])} << 16 |
         uint32_t{static_cast<unsigned char>(s[at + 2])} << 8 | static_cast<unsigned char>(s[at + 3]);
}

// Gives every whole chunk its right CRC, so that mutations reach the header, the image data and the
// inflating instead of stopping at the checksums.
void fixChecksums(std::string& png) {
  size_t at = sizeof kSignature;
  while (at + 12 <= png.size()) {
    const size_t length = bigEndian(png, at);
    if (length > png.size() - at - 12) return;
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(png.data() + at + 4), static_cast<uInt>(length + 4)));
    for (int i = 0; i < 4; ++i) png[at + 8 + length + static_cast<size_t>(i)] = static_cast<char>(crc >> (24 - 8 * i));
    at += length + 12;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Qt's reader warns about every broken file; the fuzzer's own output is what matters.
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Only PNG data: other formats are read by Qt's plugins, which this target does not test.
  if (size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0) return 0;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  fixChecksums(bytes);
  charstack::DecodedImage decoded = charstack::decodeImage(bytes);
  if (!decoded.image) return 0;
  const charstack::Image& image = *decoded.image;
  const QImage& ours = image.impl().qimage();  // decoded now: the check above only looked
  // A damaged stream behind sound chunk checksums (a wrong Adler-32, too much or too little data,
  // which libpng may read past): no picture.
  if (!image.readProblem().empty() || image.impl().decodeFailed()) return 0;
  if (ours.isNull()) fail("an accepted picture without pixels");
  if (ours.width() != image.pixelWidth() || ours.height() != image.pixelHeight()) fail("the pixels differ from the size");

  const std::vector<uint32_t> reference = charstack::testing::readWithLibpng(bytes);
  if (!reference.empty()) {  // libpng refuses what the editor takes: nothing to compare
    if (reference.size() != size_t(ours.width()) * size_t(ours.height())) fail("a size other than libpng's");
    for (int y = 0; y < ours.height(); ++y)
      for (int x = 0; x < ours.width(); ++x)
        if (image.pixel(x, y) != reference[size_t(y) * size_t(ours.width()) + size_t(x)]) fail("pixels other than libpng's");
  }

  // Qt's reader hands back wrong alpha (and, at 16 bits, memory it never wrote) for grey and RGB
  // pictures with a transparent colour.
  const bool deepKeyed = bytes.size() > 33 && bytes[25] != 3 && bytes.find("tRNS") != std::string::npos;
  QByteArray raw = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&raw);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "png");
  QImage theirs;
  if (deepKeyed || !reader.read(&theirs)) return 0;  // Qt refuses what the editor takes: nothing to compare
  if (theirs.size() != ours.size()) fail("a size other than Qt's");
  const QImage a = ours.convertToFormat(QImage::Format_ARGB32);
  const QImage b = theirs.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < a.height(); ++y)
    if (std::memcmp(a.constScanLine(y), b.constScanLine(y), static_cast<size_t>(a.width()) * 4) != 0)
      fail("pixels other than Qt's");
  return 0;
}
