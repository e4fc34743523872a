#include "platform/image.hpp"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QImageReader>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/files.hpp"
#include "platform/image_impl.hpp"
#include "platform/png.hpp"

namespace charstack {

namespace {

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

// More than 8 bits per channel, which the stored 8-bit pixels cannot keep.
bool deepColour(const QImage& image) {
  return image.depth() > 32 || image.format() == QImage::Format_Grayscale16;
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

namespace {

// What data makes as a picture: PNG data kept as it is with its size, or the pixels of any other
// format; or why it is none.
struct Parts {
  std::optional<std::string> png;
  QSize size;
  bool alpha = false;
  QImage pixels;
  std::string problem, loss;
};

// PNG data is kept for saving, so its pixels can come from it when first used: here only its
// structure is checked, which finds a file cut short or damaged without inflating anything. It is
// saved back byte for byte. Other formats are decoded now.
Parts decodeParts(std::string&& bytes, std::string_view formatHint) {
  Parts parts;
  if (std::string_view(bytes).substr(0, png::kSignature.size()) == png::kSignature) {
    png::Layout layout;
    parts.problem = png::readLayout(bytes, layout);
    if (!parts.problem.empty()) return parts;
    parts.alpha = layout.alpha();
    // A palette shorter than its indices reach may have pixels that name no colour: such data is
    // damaged, and is found here, where the other damage is, by decoding it once.
    if (layout.colourType == 3 && layout.palette.size() / 3 < (size_t{1} << layout.depth) && !png::decodeLayout(layout)) {
      parts.problem = std::string(png::kUnreadable) + ": its PNG data is damaged";
      return parts;
    }
    parts.size = QSize(static_cast<int>(layout.width), static_cast<int>(layout.height));
    parts.png = std::move(bytes);
    return parts;
  }
  Reading r = readImageData(bytes, formatHint);
  if (r.tooLarge) {
    parts.problem = "is too large to open: " + std::to_string(r.size.width()) + "x" + std::to_string(r.size.height());
    return parts;
  }
  if (r.image.isNull()) {
    parts.problem = png::kUnreadable;
    return parts;
  }
  if (r.frames > 1)
    parts.loss = "has " + std::to_string(r.frames) + " frames; the next save keeps only the first, as a PNG";
  else if (deepColour(r.image))
    parts.loss = "has more than 8 bits per colour; the next save stores 8, as a PNG";
  parts.pixels = toStoredFormat(std::move(r.image));
  parts.size = parts.pixels.size();
  parts.alpha = parts.pixels.hasAlphaChannel();
  return parts;
}

DecodedImage decodedOf(Parts&& parts) {
  DecodedImage decoded;
  decoded.problem = std::move(parts.problem);
  decoded.loss = std::move(parts.loss);
  if (parts.png)
    decoded.image = std::make_shared<const Image>(std::make_unique<Image::Impl>(std::move(*parts.png), parts.size, parts.alpha, 1.0));
  else if (!parts.pixels.isNull())
    decoded.image = std::make_shared<const Image>(std::make_unique<Image::Impl>(std::move(parts.pixels)));
  return decoded;
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

Image::Impl::Impl(std::filesystem::path file) : file_(std::move(file)), pixelsLoaded_(false) {}

void Image::Impl::readFile() const {
  std::call_once(readOnce_, [this] {
    FileRead file = readFileAt(*file_, kMaxFileBytes);
    Parts parts;
    if (file.read()) parts = decodeParts(std::move(file.bytes), {});
    else parts.problem = file.outcome == FileRead::Outcome::Missing ? "is gone" : file.reason;
    png_ = std::move(parts.png);
    size_ = parts.size;
    alpha_ = parts.alpha;
    problem_ = std::move(parts.problem);
    loss_ = std::move(parts.loss);
    if (!png_) {
      // The pixels of another format, or none for a file that is no picture: an empty image.
      pixels_ = std::move(parts.pixels);
      if (!problem_.empty()) decodeFailed_.store(true, std::memory_order_release);
      pixelsLoaded_.store(true, std::memory_order_release);
    }
    readDone_.store(true, std::memory_order_release);
  });
}

QImage Image::Impl::decodePng() const {
  read();
  if (!png_) return pixels_;  // a file that gave no picture: empty
  QImage image = png::decodePixels(*png_, false);
  // The data's structure was checked when it was read; should the pixels still not decode (damaged
  // deflate data, memory running out), the image is drawn and read as transparent rather than with
  // another size, and says so.
  if (image.size() != size_) {
    decodeFailed_.store(true, std::memory_order_release);
    image = QImage(size_, alpha_ ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(0);
  }
  return image;
}

const QImage& Image::Impl::qimage() const {
  read();
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
    premultipliedCopy_ = premultipliedForOneUse();
    premultipliedKept_.store(true, std::memory_order_release);
  });
  return premultipliedCopy_;
}

QImage Image::Impl::pixelsForOneUse() const {
  read();
  if (pixelsLoaded()) return pixels_;
  return decodePng();
}

QImage Image::Impl::premultipliedForOneUse() const {
  read();
  if (premultipliedKept_.load(std::memory_order_acquire)) return premultipliedCopy_;
  if (pixelsLoaded()) return pixels_.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  // Converted in place: only one buffer of pixels is ever held for the drawn copy.
  QImage image = decodePng();
  image.convertTo(QImage::Format_ARGB32_Premultiplied);
  return image;
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
  // A picture larger than the editor opens would be saved into a file that no open could read back.
  if (image.isNull() || int64_t{image.width()} * image.height() > kMaxImagePixels) return nullptr;
  return std::make_shared<const Image>(std::make_unique<Image::Impl>(toStoredFormat(std::move(image))));
}

DecodedImage decodeImage(std::string&& bytes) { return decodedOf(decodeParts(std::move(bytes), {})); }

DecodedImage decodeImage(std::string_view bytes, std::string_view formatHint) {
  return decodedOf(decodeParts(std::string(bytes), formatHint));
}

ImageRef decodeImageData(std::string_view bytes) { return decodeImage(bytes).image; }

ImageRef openImageFile(const std::filesystem::path& path) {
  return std::make_shared<const Image>(std::make_unique<Image::Impl>(path));
}

std::string Image::readProblem() const { return impl_->readProblem(); }
std::string Image::readLoss() const { return impl_->readLoss(); }

ImageRef decodeImageFile(const std::filesystem::path& path) {
  auto bytes = ProjectFolder(path.parent_path()).readFile(path.filename().string());
  if (!bytes) return nullptr;
  const std::string suffix = path.extension().string();
  return decodeImage(*bytes, std::string_view(suffix).substr(suffix.empty() ? 0 : 1)).image;
}

std::optional<std::string> encodePng(const Image& image) {
  const Image::Impl& impl = image.impl();
  if (impl.pngData()) return impl.pngData();
  const QImage& pixels = impl.qimage();
  std::optional<png::Encoded> encoded = png::encodeDirectly(pixels);
  if (!encoded) {
    std::optional<std::string> data = png::encodeWithQt(pixels);
    if (!data) return std::nullopt;
    encoded = png::Encoded{std::move(*data)};
  }
  // The saved file must bring back exactly these pixels, its structure and CRCs sound; refuse to hand
  // out data that would not. (A big picture's writer checks it so itself, on all cores.)
  if (!encoded->checked && !png::decodesTo(encoded->data, pixels)) return std::nullopt;
  return std::move(encoded->data);
}

ImageRef decodeImagePixels(std::string_view bytes) {
  const ImageRef decoded = decodeImageData(bytes);
  if (!decoded || !decoded->readProblem().empty()) return nullptr;
  return std::make_shared<const Image>(std::make_unique<Image::Impl>(QImage(decoded->impl().qimage())));
}

bool encodePngQuickly(const Image& image, std::string& png) {
  const Image::Impl& impl = image.impl();
  if (const auto& data = impl.pngData()) return png = *data, true;
  if (png::encodeStored(impl.qimage(), png)) return true;
  std::optional<std::string> encoded = encodePng(image);
  if (encoded) png = std::move(*encoded);
  return encoded.has_value();
}

namespace {

constexpr int kDotsPerMetre = 2835;  // the resolution of composed pictures: 72 dpi

// The straight pixels of an image that reaches the picture, at its natural size (a high-resolution
// picture is scaled to it as the canvas draws it, nearest pixel), and where it lies in the picture.
struct LayerPixels {
  QImage pixels;
  int x, y;
};

// The layers of the images that reach a picture of W x H pixels whose top-left pixel lies at (left,
// top) among them. Images outside it are not decoded. Should a picture's data no longer decode, why
// when damaged is set (its pixels are transparent otherwise).
std::string layersOf(const std::vector<PlacedImage>& images, double left, double top, int W, int H, bool damaged,
                     std::vector<LayerPixels>& layers) {
  for (const PlacedImage& p : images) {
    if (!p.image || p.image->width() <= 0 || p.image->height() <= 0) continue;
    const double x = std::floor(p.x) - left, y = std::floor(p.y) - top;
    const int w = static_cast<int>(std::lround(p.image->width())), h = static_cast<int>(std::lround(p.image->height()));
    if (x >= W || y >= H || x + w <= 0 || y + h <= 0) continue;
    const Image::Impl& impl = p.image->impl();
    QImage pixels = p.keepDecoded ? impl.qimage() : impl.pixelsForOneUse();
    if (impl.decodeFailed()) {
      if (damaged) return "could not be made: one of its pictures no longer decodes from its file's data";
      continue;
    }
    if (pixels.size() != QSize(w, h)) pixels = pixels.scaled(w, h, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (pixels.format() != QImage::Format_ARGB32 && pixels.format() != QImage::Format_RGB32)
      pixels = pixels.convertToFormat(QImage::Format_ARGB32);
    layers.push_back({std::move(pixels), static_cast<int>(x), static_cast<int>(y)});
  }
  return {};
}

// Draws row y of a layer (picture row y + l.y) source-over onto the picture's row of premultiplied
// floats (0..255), each pixel's floats in the order of its bytes in memory: blue, green, red, alpha.
void blendRow(const LayerPixels& l, int y, int W, float* row) {
  const auto* in = reinterpret_cast<const uint32_t*>(l.pixels.constScanLine(y));
  const uint32_t opaque = l.pixels.format() == QImage::Format_RGB32 ? 0xff000000u : 0;
  const int from = std::max(0, -l.x), to = std::min(l.pixels.width(), W - l.x);
  float* out = row + static_cast<ptrdiff_t>(l.x + from) * 4;
  for (int x = from; x < to; ++x, out += 4) {
    const uint32_t p = in[x] | opaque;
    const uint32_t a = p >> 24;
    if (a == 0) continue;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    const __m128 source =
        _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p)), zero), zero));
    if (a == 255) {
      _mm_storeu_ps(out, source);
      continue;
    }
    const float k = static_cast<float>(a) * (1.0f / 255.0f);
    // Colours times alpha, alpha itself; then the picture below through what the pixel leaves.
    const __m128 premultiplied = _mm_mul_ps(source, _mm_setr_ps(k, k, k, 1.0f));
    _mm_storeu_ps(out, _mm_add_ps(premultiplied, _mm_mul_ps(_mm_loadu_ps(out), _mm_set1_ps(1.0f - k))));
#else
    const float b = static_cast<float>(p & 0xff), g = static_cast<float>((p >> 8) & 0xff),
                r = static_cast<float>((p >> 16) & 0xff);
    if (a == 255) {
      out[0] = b, out[1] = g, out[2] = r, out[3] = 255.0f;
      continue;
    }
    const float k = static_cast<float>(a) * (1.0f / 255.0f), rest = 1.0f - k;
    out[0] = b * k + out[0] * rest;
    out[1] = g * k + out[1] * rest;
    out[2] = r * k + out[2] * rest;
    out[3] = static_cast<float>(a) + out[3] * rest;
#endif
  }
}

// A row of premultiplied floats divided back into straight 8-bit ARGB32, rounded to the nearest.
void straightRow(const float* row, int W, uint32_t* out) {
  for (int x = 0; x < W; ++x) {
    const float* p = row + static_cast<size_t>(x) * 4;
    const float a = p[3];
    if (a < 0.5f) {
      out[x] = 0;
      continue;
    }
    const float unit = 255.0f / a;
    const auto channel = [&](float v) { return static_cast<uint32_t>(std::min(255.0f, v * unit + 0.5f)); };
    out[x] = static_cast<uint32_t>(a + 0.5f) << 24 | channel(p[2]) << 16 | channel(p[1]) << 8 | channel(p[0]);
  }
}

// Draws the images source-over onto picture (ARGB32, straight), whose top-left pixel lies at (left, top)
// among them: in premultiplied floats row by row, exact to far below what 8 bits show where 8-bit
// premultiplied pixels lose the colour of faint ones; what no image covers, or covers with alpha 0,
// is 0,0,0,0. Why it failed when a picture's data no longer decodes (see layersOf); empty otherwise.
std::string composeInto(QImage& picture, double left, double top, const std::vector<PlacedImage>& images, bool damaged) {
  const int W = picture.width(), H = picture.height();
  std::vector<LayerPixels> layers;
  if (std::string problem = layersOf(images, left, top, W, H, damaged, layers); !problem.empty()) return problem;
  std::vector<float> row(static_cast<size_t>(W) * 4);
  for (int y = 0; y < H; ++y) {
    std::fill(row.begin(), row.end(), 0.0f);
    for (const LayerPixels& l : layers)
      if (y >= l.y && y < l.y + l.pixels.height()) blendRow(l, y - l.y, W, row.data());
    straightRow(row.data(), W, reinterpret_cast<uint32_t*>(picture.scanLine(y)));
  }
  return {};
}

}  // namespace

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
  QImage picture(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
  if (picture.isNull()) {
    composed.problem = "could not be made: not enough memory";
    return composed;
  }
  composed.problem = composeInto(picture, left, top, images, true);
  if (!composed.problem.empty()) return composed;
  picture.setDotsPerMeterX(kDotsPerMetre);
  picture.setDotsPerMeterY(kDotsPerMetre);
  composed.image = std::make_shared<const Image>(std::make_unique<Image::Impl>(std::move(picture)));
  composed.left = static_cast<int64_t>(left);
  composed.top = static_cast<int64_t>(top);
  return composed;
}

ImageRef composeRegion(const std::vector<PlacedImage>& images, int64_t left, int64_t top, int width, int height) {
  if (width <= 0 || height <= 0 || int64_t{width} * height > kMaxImagePixels) return nullptr;
  QImage picture(width, height, QImage::Format_ARGB32);
  if (picture.isNull()) return nullptr;
  composeInto(picture, static_cast<double>(left), static_cast<double>(top), images, false);
  return std::make_shared<const Image>(std::make_unique<Image::Impl>(std::move(picture)));
}

namespace {

// An image on a sheet: its pixels (ARGB32, as composed pictures are) and where they lie.
struct SheetPiece {
  const QImage* pixels;
  int x, y;
};

// Row y of a sheet of width pixels holding the pieces, in room.
const uint32_t* sheetRow(const std::vector<SheetPiece>& pieces, int width, int y, uint32_t* room) {
  std::fill_n(room, width, 0u);
  for (const SheetPiece& p : pieces) {
    if (y < p.y || y >= p.y + p.pixels->height()) continue;
    std::memcpy(room + p.x, p.pixels->constScanLine(y - p.y), static_cast<size_t>(p.pixels->width()) * 4);
  }
  return room;
}

}  // namespace

std::optional<std::string> encodeSheetPng(int width, int height, const std::vector<PlacedImage>& images,
                                          size_t threads) {
  if (width <= 0 || height <= 0 || int64_t{width} * height > kMaxImagePixels) return std::nullopt;
  std::vector<SheetPiece> pieces;
  for (const PlacedImage& p : images) {
    if (!p.image) continue;
    const QImage& pixels = p.image->impl().qimage();  // decoded here, before the threads read it
    const int x = static_cast<int>(p.x), y = static_cast<int>(p.y);
    if (pixels.format() != QImage::Format_ARGB32 || x < 0 || y < 0 || x > width - pixels.width() ||
        y > height - pixels.height())
      return std::nullopt;
    pieces.push_back({&pixels, x, y});
  }
  const auto row = [&](int y, uint32_t* room) { return sheetRow(pieces, width, y, room); };
  const png::PixelRows rows{width, height, true, kDotsPerMetre, kDotsPerMetre, row};
  return png::encodeRowsInBands(rows, threads);
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
