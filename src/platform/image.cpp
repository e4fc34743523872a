#include "platform/image.hpp"

#include <zlib.h>

#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/files.hpp"
#include "platform/image_impl.hpp"

namespace charstack {

namespace {

constexpr std::string_view pngSignature("\x89PNG\r\n\x1a\n", 8);

// A format that keeps every pixel of the decoded image as non-premultiplied 8-bit values.
QImage toStoredFormat(QImage image) {
  QImage::Format wanted = image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
  if (image.format() != wanted) image = image.convertToFormat(wanted);
  return image;
}

struct Reading {
  QImage image;
  QSize size;      // as the header says; invalid when the format does not tell before decoding
  int frames = 1;
  bool tooLarge = false;
};

Reading readWith(QImageReader& reader) {
  Reading r;
  r.size = reader.size();
  if (r.size.isValid() && int64_t{r.size.width()} * r.size.height() > kMaxImagePixels) {
    r.tooLarge = true;
    return r;
  }
  // The size is checked above; the reader's own limit (256 MB by default, which turns away
  // pictures well below 8192 x 8192) only has to stop formats that do not tell their size first.
  reader.setAllocationLimit(static_cast<int>(kMaxImagePixels * 8 >> 20));
  r.frames = std::max(1, reader.imageCount());
  if (!reader.read(&r.image)) r.image = QImage();
  if (!r.image.isNull() && int64_t{r.image.width()} * r.image.height() > kMaxImagePixels) {
    r.size = r.image.size();
    r.image = QImage();
    r.tooLarge = true;
  }
  return r;
}

// The format comes from the content; formatHint (a file name's suffix, such as "tga") names a format
// to try when the content does not tell, as a TGA file's does not.
Reading readImageData(std::string_view bytes, std::string_view formatHint = {}) {
  if (bytes.empty() || bytes.size() > static_cast<size_t>(INT32_MAX)) return {};
  QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer);
  reader.setDecideFormatFromContent(true);
  Reading r = readWith(reader);
  const QByteArray hint = QByteArray(formatHint.data(), static_cast<qsizetype>(formatHint.size())).toLower();
  if (r.image.isNull() && !r.tooLarge && !hint.isEmpty() && QImageReader::supportedImageFormats().contains(hint) &&
      buffer.seek(0)) {
    QImageReader hinted(&buffer, hint);
    hinted.setAutoDetectImageFormat(false);
    Reading h = readWith(hinted);
    if (!h.image.isNull() || h.tooLarge) r = h;
  }
  return r;
}

QImage readImage(std::string_view bytes) { return readImageData(bytes).image; }

// More than 8 bits per channel, which the stored 8-bit pixels cannot keep.
bool deepColour(const QImage& image) {
  return image.depth() > 32 || image.format() == QImage::Format_Grayscale16;
}

void appendBigEndian(std::string& out, uint32_t v) {
  const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                         static_cast<char>(v)};
  out.append(bytes, 4);
}

void appendChunk(std::string& out, const char* type, const char* body, size_t size) {
  appendBigEndian(out, static_cast<uint32_t>(size));
  const size_t start = out.size();
  out.append(type, 4);
  out.append(body, size);
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32_z(crc, reinterpret_cast<const Bytef*>(out.data() + start), size + 4);
  appendBigEndian(out, static_cast<uint32_t>(crc));
}

// Writes the PNG of an ARGB32 (RGBA) or RGB32 (RGB) image directly with zlib: every row gets the "Up"
// filter and the data is deflated at level 1. Qt's writer, even at its fastest level, tries every
// filter on every row and takes several times as long. The chunks are the ones Qt's writer would
// give such an image (IHDR, pHYs for its resolution, IDAT, IEND); an image with anything more to say
// (a colour space, text, an offset) is left to Qt's writer: none then.
std::optional<std::string> encodePngDirectly(const QImage& image) {
  const bool alpha = image.format() == QImage::Format_ARGB32;
  if (!alpha && image.format() != QImage::Format_RGB32) return std::nullopt;
  if (image.colorSpace().isValid() || !image.textKeys().isEmpty() || !image.offset().isNull()) return std::nullopt;
  const size_t width = static_cast<size_t>(image.width());
  const size_t height = static_cast<size_t>(image.height());
  if (width == 0 || height == 0) return std::nullopt;
  const size_t channels = alpha ? 4 : 3;
  const size_t rowBytes = width * channels;

  z_stream zs{};
  if (deflateInit2(&zs, 1, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return std::nullopt;
  std::string compressed(deflateBound(&zs, static_cast<uLong>((rowBytes + 1) * height)), '\0');
  zs.next_out = reinterpret_cast<Bytef*>(compressed.data());
  zs.avail_out = static_cast<uInt>(std::min<size_t>(compressed.size(), UINT32_MAX));

  // One filtered row at a time: the filter byte, then each byte minus the one above it.
  std::vector<unsigned char> previous(rowBytes, 0), current(rowBytes), filtered(rowBytes + 1);
  filtered[0] = 2;  // Up
  bool ok = true;
  for (size_t y = 0; y < height && ok; ++y) {
    const uint32_t* src = reinterpret_cast<const uint32_t*>(image.constScanLine(static_cast<int>(y)));
    unsigned char* row = current.data();
    if (alpha) {
      for (size_t x = 0; x < width; ++x, row += 4) {
        const uint32_t p = src[x];
        row[0] = static_cast<unsigned char>(p >> 16);
        row[1] = static_cast<unsigned char>(p >> 8);
        row[2] = static_cast<unsigned char>(p);
        row[3] = static_cast<unsigned char>(p >> 24);
      }
    } else {
      for (size_t x = 0; x < width; ++x, row += 3) {
        const uint32_t p = src[x];
        row[0] = static_cast<unsigned char>(p >> 16);
        row[1] = static_cast<unsigned char>(p >> 8);
        row[2] = static_cast<unsigned char>(p);
      }
    }
    for (size_t i = 0; i < rowBytes; ++i)
      filtered[i + 1] = static_cast<unsigned char>(current[i] - previous[i]);
    current.swap(previous);

    zs.next_in = filtered.data();
    zs.avail_in = static_cast<uInt>(filtered.size());
    const int flush = y + 1 == height ? Z_FINISH : Z_NO_FLUSH;
    const int rc = deflate(&zs, flush);
    ok = flush == Z_FINISH ? rc == Z_STREAM_END : rc == Z_OK && zs.avail_in == 0;
  }
  const size_t compressedSize = zs.total_out;
  deflateEnd(&zs);
  if (!ok) return std::nullopt;

  std::string png;
  png.reserve(compressedSize + 128 + compressedSize / (1u << 20) * 12);
  png.append(pngSignature);
  std::string header;
  appendBigEndian(header, static_cast<uint32_t>(width));
  appendBigEndian(header, static_cast<uint32_t>(height));
  header += static_cast<char>(8);               // bits per sample
  header += static_cast<char>(alpha ? 6 : 2);   // RGBA or RGB
  header.append(3, '\0');                      // deflate, adaptive filtering, not interlaced
  appendChunk(png, "IHDR", header.data(), header.size());
  if (image.dotsPerMeterX() > 0 || image.dotsPerMeterY() > 0) {
    std::string phys;
    appendBigEndian(phys, static_cast<uint32_t>(image.dotsPerMeterX()));
    appendBigEndian(phys, static_cast<uint32_t>(image.dotsPerMeterY()));
    phys += static_cast<char>(1);  // per metre
    appendChunk(png, "pHYs", phys.data(), phys.size());
  }
  for (size_t at = 0; at < compressedSize; at += 1u << 20)
    appendChunk(png, "IDAT", compressed.data() + at, std::min<size_t>(compressedSize - at, 1u << 20));
  appendChunk(png, "IEND", nullptr, 0);
  return png;
}

std::optional<std::string> encodePngWithQt(const QImage& image) {
  QByteArray data;
  QBuffer buffer(&data);
  if (!buffer.open(QIODevice::WriteOnly)) return std::nullopt;
  QImageWriter writer(&buffer, "png");
  // For PNG the quality picks the zlib level, (100 - quality) * 9 / 91: 80 gives level 1, the
  // fastest level that still compresses.
  writer.setQuality(80);
  if (!writer.write(image)) return std::nullopt;
  return std::string(data.constData(), static_cast<size_t>(data.size()));
}

// Same size and the same non-premultiplied pixels, whatever the two stored formats.
bool samePixelsOf(QImage a, QImage b) {
  if (a.size() != b.size()) return false;
  // RGB32 stores 0xffRRGGBB, so an opaque ARGB32 image compares equal to its RGB32 twin.
  if (a.format() != QImage::Format_ARGB32) a = a.convertToFormat(QImage::Format_ARGB32);
  if (b.format() != QImage::Format_ARGB32) b = b.convertToFormat(QImage::Format_ARGB32);
  const size_t rowBytes = static_cast<size_t>(a.width()) * 4;
  for (int y = 0; y < a.height(); ++y)
    if (std::memcmp(a.constScanLine(y), b.constScanLine(y), rowBytes) != 0) return false;
  return true;
}

}  // namespace

Image::Impl::Impl(QImage image)
    : size_(image.size()),
      alpha_(image.hasAlphaChannel()),
      ratio_(image.devicePixelRatio()),
      pixelsLoaded_(true),
      pixels_(std::move(image)) {}

Image::Impl::Impl(std::string png, QSize size, bool alpha, qreal ratio)
    : png_(std::move(png)), size_(size), alpha_(alpha), ratio_(ratio), pixelsLoaded_(false) {}

QImage Image::Impl::decodePng() const {
  QImage image = toStoredFormat(readImage(*png_));
  // The data decoded once already; should it fail now (memory running out), the image is drawn
  // and read as transparent rather than with another size.
  if (image.size() != size_) {
    image = QImage(size_, alpha_ ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(0);
  }
  return image;
}

const QImage& Image::Impl::qimage() const {
  if (!pixelsLoaded()) {
    std::call_once(pixelsOnce_, [this] {
      pixels_ = decodePng();
      pixelsLoaded_.store(true, std::memory_order_release);
    });
  }
  return pixels_;
}

const QImage& Image::Impl::premultiplied() const {
  std::call_once(premultipliedOnce_, [this] {
    if (pixelsLoaded()) {
      premultipliedCopy_ = pixels_.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    } else {
      // Converted in place: only one buffer of pixels is ever held for the drawn copy.
      QImage image = decodePng();
      image.convertTo(QImage::Format_ARGB32_Premultiplied);
      premultipliedCopy_ = std::move(image);
    }
  });
  return premultipliedCopy_;
}

Image::Image(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Image::~Image() = default;

int Image::pixelWidth() const { return impl_->pixelSize().width(); }
int Image::pixelHeight() const { return impl_->pixelSize().height(); }

double Image::width() const {
  double ratio = impl_->devicePixelRatio();
  return ratio > 0 ? impl_->pixelSize().width() / ratio : impl_->pixelSize().width();
}

double Image::height() const {
  double ratio = impl_->devicePixelRatio();
  return ratio > 0 ? impl_->pixelSize().height() / ratio : impl_->pixelSize().height();
}

uint32_t Image::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= pixelWidth() || y >= pixelHeight()) return 0;
  const QImage& image = impl_->qimage();
  if (x >= image.width() || y >= image.height()) return 0;
  return image.pixel(x, y);  // ARGB32 / RGB32: already non-premultiplied 0xAARRGGBB
}

bool Image::samePixels(const Image& other) const {
  if (this == &other) return true;
  if (impl_->pixelSize() != other.impl_->pixelSize()) return false;
  return samePixelsOf(impl_->qimage(), other.impl_->qimage());
}

ImageRef imageFromQImage(QImage image) {
  if (image.isNull()) return nullptr;
  return std::make_shared<const Image>(std::make_unique<Image::Impl>(toStoredFormat(std::move(image))));
}

DecodedImage decodeImage(std::string_view bytes, std::string_view formatHint) {
  DecodedImage decoded;
  Reading r = readImageData(bytes, formatHint);
  if (r.tooLarge) {
    decoded.problem = "is too large to open: " + std::to_string(r.size.width()) + "x" + std::to_string(r.size.height());
    return decoded;
  }
  if (r.image.isNull()) {
    decoded.problem = "is not an image the editor can read";
    return decoded;
  }
  // PNG data is kept for saving, so the pixels can come back from it: they are dropped until used.
  if (bytes.substr(0, pngSignature.size()) == pngSignature) {
    decoded.image = std::make_shared<const Image>(std::make_unique<Image::Impl>(
        std::string(bytes), r.image.size(), r.image.hasAlphaChannel(), r.image.devicePixelRatio()));
    return decoded;  // saved back byte for byte
  }
  if (r.frames > 1)
    decoded.loss = "has " + std::to_string(r.frames) + " frames; the next save keeps only the first, as a PNG";
  else if (deepColour(r.image))
    decoded.loss = "has more than 8 bits per colour; the next save stores 8, as a PNG";
  decoded.image = std::make_shared<const Image>(std::make_unique<Image::Impl>(toStoredFormat(std::move(r.image))));
  return decoded;
}

ImageRef decodeImageData(std::string_view bytes) { return decodeImage(bytes).image; }

ImageRef decodeImageFile(const std::filesystem::path& path) {
  auto bytes = ProjectFolder(path.parent_path()).readFile(path.filename().string());
  if (!bytes) return nullptr;
  const std::string suffix = path.extension().string();
  return decodeImage(*bytes, std::string_view(suffix).substr(suffix.empty() ? 0 : 1)).image;
}

std::optional<std::string> encodePng(const Image& image) {
  const Image::Impl& impl = image.impl();
  if (impl.pngData()) return impl.pngData();
  // Saving speed matters more here than the last few bytes.
  const QImage& pixels = impl.qimage();
  std::optional<std::string> png = encodePngDirectly(pixels);
  if (!png) png = encodePngWithQt(pixels);
  if (!png) return std::nullopt;
  // The saved file must bring back exactly these pixels; refuse to hand out data that would not.
  if (!samePixelsOf(toStoredFormat(readImage(*png)), pixels)) return std::nullopt;
  return png;
}

ComposedImage composeImages(const std::vector<PlacedImage>& images) {
  ComposedImage composed;
  // The bounds in doubles: positions far apart must not overflow the picture's int sizes.
  double left = 0, top = 0, right = 0, bottom = 0;
  bool any = false;
  for (const PlacedImage& p : images) {
    if (!p.image || p.image->width() <= 0 || p.image->height() <= 0) continue;
    const double r = p.x + p.image->width(), b = p.y + p.image->height();
    left = any ? std::min(left, p.x) : p.x;
    top = any ? std::min(top, p.y) : p.y;
    right = any ? std::max(right, r) : r;
    bottom = any ? std::max(bottom, b) : b;
    any = true;
  }
  if (!any) return composed;
  left = std::floor(left), top = std::floor(top), right = std::ceil(right), bottom = std::ceil(bottom);
  const double width = right - left, height = bottom - top;
  if (width * height > static_cast<double>(kMaxImagePixels)) {
    composed.problem = "would be " + std::to_string(static_cast<int64_t>(width)) + "x" +
                       std::to_string(static_cast<int64_t>(height)) +
                       " pixels, more than the editor makes (8192x8192): its pictures lie too far apart";
    return composed;
  }
  QImage picture(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32_Premultiplied);
  if (picture.isNull()) {
    composed.problem = "could not be made: not enough memory";
    return composed;
  }
  picture.fill(Qt::transparent);
  {
    // The canvas's own drawing: premultiplied copies, source-over, full opacity.
    QPainter painter(&picture);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.translate(-left, -top);
    for (const PlacedImage& p : images)
      if (p.image && p.image->width() > 0 && p.image->height() > 0)
        painter.drawImage(QRectF(p.x, p.y, p.image->width(), p.image->height()),
                          p.image->impl().premultiplied());
  }
  picture.convertTo(QImage::Format_ARGB32);
  constexpr int kDotsPerMetre = 2835;  // 72 dpi
  picture.setDotsPerMeterX(kDotsPerMetre);
  picture.setDotsPerMeterY(kDotsPerMetre);
  composed.image = std::make_shared<const Image>(std::make_unique<Image::Impl>(std::move(picture)));
  composed.left = static_cast<int64_t>(left);
  composed.top = static_cast<int64_t>(top);
  return composed;
}

ImageRef makeImage(int width, int height, const std::vector<uint32_t>& argb) {
  if (width <= 0 || height <= 0) return nullptr;
  if (argb.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) return nullptr;
  QImage image(width, height, QImage::Format_ARGB32);
  if (image.isNull()) return nullptr;
  for (int y = 0; y < height; ++y)
    std::memcpy(image.scanLine(y), argb.data() + static_cast<size_t>(y) * static_cast<size_t>(width),
                static_cast<size_t>(width) * 4);
  return std::make_shared<const Image>(std::make_unique<Image::Impl>(std::move(image)));
}

}  // namespace charstack
