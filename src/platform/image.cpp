#include "platform/image.hpp"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QImageWriter>

#include <cstring>

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

QImage readImage(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > static_cast<size_t>(INT32_MAX)) return {};
  QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer);
  reader.setDecideFormatFromContent(true);
  // QImageReader's allocation limit (256 MB by default) turns away absurd sizes before decoding.
  QImage image;
  if (!reader.read(&image)) return {};
  return image;
}

}  // namespace

Image::Image(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Image::~Image() = default;

int Image::pixelWidth() const { return impl_->decoded.width(); }
int Image::pixelHeight() const { return impl_->decoded.height(); }

double Image::width() const {
  double ratio = impl_->decoded.devicePixelRatio();
  return ratio > 0 ? impl_->decoded.width() / ratio : impl_->decoded.width();
}

double Image::height() const {
  double ratio = impl_->decoded.devicePixelRatio();
  return ratio > 0 ? impl_->decoded.height() / ratio : impl_->decoded.height();
}

uint32_t Image::pixel(int x, int y) const {
  const QImage& image = impl_->decoded;
  if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return 0;
  return image.pixel(x, y);  // ARGB32 / RGB32: already non-premultiplied 0xAARRGGBB
}

bool Image::samePixels(const Image& other) const {
  if (this == &other) return true;
  QImage a = impl_->decoded;
  QImage b = other.impl_->decoded;
  if (a.size() != b.size()) return false;
  // RGB32 stores 0xffRRGGBB, so an opaque ARGB32 image compares equal to its RGB32 twin.
  if (a.format() != QImage::Format_ARGB32) a = a.convertToFormat(QImage::Format_ARGB32);
  if (b.format() != QImage::Format_ARGB32) b = b.convertToFormat(QImage::Format_ARGB32);
  const size_t rowBytes = static_cast<size_t>(a.width()) * 4;
  for (int y = 0; y < a.height(); ++y)
    if (std::memcmp(a.constScanLine(y), b.constScanLine(y), rowBytes) != 0) return false;
  return true;
}

ImageRef imageFromQImage(QImage image) {
  if (image.isNull()) return nullptr;
  return std::make_shared<const Image>(std::make_unique<Image::Impl>(toStoredFormat(std::move(image)), std::nullopt));
}

ImageRef decodeImageData(std::string_view bytes) {
  QImage image = readImage(bytes);
  if (image.isNull()) return nullptr;
  std::optional<std::string> png;
  if (bytes.substr(0, pngSignature.size()) == pngSignature) png = std::string(bytes);
  return std::make_shared<const Image>(std::make_unique<Image::Impl>(toStoredFormat(std::move(image)), std::move(png)));
}

ImageRef decodeImageFile(const std::filesystem::path& path) {
  auto bytes = ProjectFolder(path.parent_path()).readFile(path.filename().string());
  if (!bytes) return nullptr;
  return decodeImageData(*bytes);
}

std::optional<std::string> encodePng(const Image& image) {
  const Image::Impl& impl = image.impl();
  if (impl.pngBytes) return impl.pngBytes;
  QByteArray data;
  QBuffer buffer(&data);
  if (!buffer.open(QIODevice::WriteOnly)) return std::nullopt;
  QImageWriter writer(&buffer, "png");
  // For PNG the quality picks the zlib level, (100 - quality) * 9 / 91: 80 gives level 1, the
  // fastest level that still compresses. Saving speed matters more here than the last few bytes.
  writer.setQuality(80);
  if (!writer.write(impl.decoded)) return std::nullopt;
  std::string png(data.constData(), static_cast<size_t>(data.size()));
  // The saved file must bring back exactly these pixels; refuse to hand out data that would not.
  ImageRef check = decodeImageData(png);
  if (!check || !check->samePixels(image)) return std::nullopt;
  return png;
}

ImageRef makeImage(int width, int height, const std::vector<uint32_t>& argb) {
  if (width <= 0 || height <= 0) return nullptr;
  if (argb.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) return nullptr;
  QImage image(width, height, QImage::Format_ARGB32);
  if (image.isNull()) return nullptr;
  for (int y = 0; y < height; ++y)
    std::memcpy(image.scanLine(y), argb.data() + static_cast<size_t>(y) * static_cast<size_t>(width),
                static_cast<size_t>(width) * 4);
  return std::make_shared<const Image>(std::make_unique<Image::Impl>(std::move(image), std::nullopt));
}

}  // namespace charstack
