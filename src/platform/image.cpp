#include "platform/image.hpp"

#include <libdeflate.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <zlib.h>

#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>
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

uint32_t bigEndian(const unsigned char* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

void appendBigEndian(std::string& out, uint32_t v) {
  const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                         static_cast<char>(v)};
  out.append(bytes, 4);
}

uint32_t crc32Of(const void* data, size_t size) { return libdeflate_crc32(0, data, size); }

void appendChunk(std::string& out, const char* type, const char* body, size_t size) {
  appendBigEndian(out, static_cast<uint32_t>(size));
  const size_t start = out.size();
  out.append(type, 4);
  out.append(body, size);
  appendBigEndian(out, crc32Of(out.data() + start, size + 4));
}

// libdeflate's (de)compressors are not to be shared between threads: each thread keeps its own.
struct DeflateFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

libdeflate_decompressor* threadDecompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, DeflateFree> d(libdeflate_alloc_decompressor());
  return d.get();
}

// ---- PNG structure -----------------------------------------------------------------------------

constexpr const char* kUnreadable = "is not an image the editor can read";

// What the chunks of PNG data say, read without inflating the pixels.
struct PngLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  int depth = 0;
  int colourType = 0;
  bool interlaced = false;
  bool transparency = false;  // a tRNS chunk
  std::string_view palette;   // the PLTE chunk's contents
  std::string_view transparent;  // the tRNS chunk's contents
  // The chunks besides IHDR, PLTE, tRNS, pHYs, IDAT and IEND (text, a colour profile, an offset),
  // whole, and whether each came before the image data: what the toolkit's reader takes from the file
  // besides the pixels, which it is asked for on a picture of one pixel (metadataOf).
  std::vector<std::pair<std::string_view, bool>> extra;
  int dotsPerMeterX = 0;  // from pHYs when it counts per metre; 0 otherwise
  int dotsPerMeterY = 0;
  std::vector<std::string_view> data;  // the IDAT chunks' contents in order
};

bool validDepth(int colourType, int depth) {
  switch (colourType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2: case 4: case 6: return depth == 8 || depth == 16;
    default: return false;
  }
}

// Reads the chunks of PNG data: the signature, a sane IHDR within the size bound, every chunk whole
// with its CRC (when checkCrc), a palette where one is needed, IDAT chunks in one run beginning a
// valid zlib stream, and IEND. Bytes after IEND are ignored, as other readers do. Returns why the
// data is no picture the editor opens, phrased to follow a file name; empty when it is sound.
std::string readPngLayout(std::string_view png, PngLayout& layout, bool checkCrc = true) {
  const auto fail = [](const char* why) { return std::string(kUnreadable) + ": " + why; };
  constexpr const char* kCutShort = "its PNG data ends too early (is another program still writing it?)";
  constexpr const char* kDamaged = "its PNG data is damaged";
  if (png.substr(0, pngSignature.size()) != pngSignature) return kUnreadable;
  const auto* bytes = reinterpret_cast<const unsigned char*>(png.data());
  size_t at = pngSignature.size();
  bool palette = false, idatEnded = false;
  for (bool first = true;; first = false) {
    if (png.size() - at < 12) return fail(kCutShort);
    const uint32_t length = bigEndian(bytes + at);
    if (length > 0x7fffffffu) return fail(kDamaged);
    if (png.size() - at - 12 < length) return fail(kCutShort);
    const std::string_view type = png.substr(at + 4, 4);
    const unsigned char* body = bytes + at + 8;
    if (checkCrc && crc32Of(bytes + at + 4, size_t{length} + 4) != bigEndian(body + length)) return fail(kDamaged);
    at += size_t{length} + 12;
    for (char c : type)
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return fail(kDamaged);
    const bool critical = type[0] >= 'A' && type[0] <= 'Z';

    if (first) {
      if (type != "IHDR" || length != 13) return fail(kDamaged);
      layout.width = bigEndian(body);
      layout.height = bigEndian(body + 4);
      layout.depth = body[8];
      layout.colourType = body[9];
      layout.interlaced = body[12] == 1;
      if (layout.width == 0 || layout.height == 0 || layout.width > 0x7fffffffu || layout.height > 0x7fffffffu ||
          !validDepth(layout.colourType, layout.depth) || body[10] != 0 || body[11] != 0 || body[12] > 1)
        return fail(kDamaged);
      if (uint64_t{layout.width} * layout.height > static_cast<uint64_t>(kMaxImagePixels))
        return "is too large to open: " + std::to_string(layout.width) + "x" + std::to_string(layout.height);
      continue;
    }
    if (type == "IDAT") {
      if (idatEnded) return fail(kDamaged);
      layout.data.emplace_back(reinterpret_cast<const char*>(body), length);
      continue;
    }
    idatEnded = !layout.data.empty();
    if (type == "IEND") break;
    if (type == "IHDR") return fail(kDamaged);
    if (type == "PLTE") {
      if (length == 0 || length % 3 != 0 || length > 768 || idatEnded) return fail(kDamaged);
      palette = true;
      layout.palette = std::string_view(reinterpret_cast<const char*>(body), length);
    } else if (type == "pHYs" && length == 9) {
      if (body[8] == 1) {
        layout.dotsPerMeterX = static_cast<int>(std::min<uint32_t>(bigEndian(body), INT32_MAX));
        layout.dotsPerMeterY = static_cast<int>(std::min<uint32_t>(bigEndian(body + 4), INT32_MAX));
      }
    } else if (critical) {
      return fail("its PNG data holds a part the editor does not know");
    } else if (type == "tRNS" && (layout.colourType == 4 || layout.colourType == 6)) {
      // Pictures with an alpha channel have no transparent colour: ignored, as other readers do.
    } else if (type == "tRNS") {
      if (layout.transparency || idatEnded) return fail(kDamaged);
      // Each palette entry has at most one alpha; grey and RGB name their transparent colour in 2 and
      // 6 bytes. Anything else is damaged.
      if (layout.colourType == 3 ? !palette || length > layout.palette.size() / 3
                                 : length != (layout.colourType == 0 ? 2u : 6u))
        return fail(kDamaged);
      layout.transparency = true;
      layout.transparent = std::string_view(reinterpret_cast<const char*>(body), length);
    } else if (type != "pHYs") {
      layout.extra.emplace_back(png.substr(at - length - 12, size_t{length} + 12), layout.data.empty());
    }
  }
  if (layout.data.empty()) return fail(kDamaged);
  if (layout.colourType == 3 && !palette) return fail(kDamaged);
  // The zlib header: deflate with a window of at most 32 KB, its check bits right, no dictionary.
  unsigned char header[2];
  size_t got = 0;
  for (std::string_view d : layout.data)
    for (size_t i = 0; i < d.size() && got < 2; ++i) header[got++] = static_cast<unsigned char>(d[i]);
  if (got < 2 || (header[0] & 0x0f) != 8 || (header[0] >> 4) > 7 || (header[0] << 8 | header[1]) % 31 != 0 ||
      (header[1] & 0x20) != 0)
    return fail(kDamaged);
  // Deflate makes at most 1032 bytes of each byte it reads: data far too short for the pixels its
  // header announces is refused before anything allocates them.
  static constexpr int kChannels[] = {1, 0, 3, 1, 2, 0, 4};
  const uint64_t rowBits = uint64_t{layout.width} * static_cast<uint64_t>(layout.depth * kChannels[layout.colourType]);
  uint64_t stored = 0;
  for (std::string_view d : layout.data) stored += d.size();
  if (layout.height * ((rowBits + 7) / 8) / 1032 > stored) return fail(kCutShort);
  return {};
}

inline int paethPredictor(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

#ifdef __SSE2__
// Four-byte pixels (RGBA) undone a pixel at a time in SSE2 registers, the way libpng does it: Sub,
// Average and Paeth each depend on the pixel to the left, so their bytes cannot simply be run in
// wide lanes.
__m128i loadPixel(const unsigned char* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}

void storePixel(unsigned char* p, __m128i v) {
  const int32_t t = _mm_cvtsi128_si32(v);
  std::memcpy(p, &t, 4);
}

bool unfilterRgbaRow(int filter, unsigned char* row, const unsigned char* prior, size_t size) {
  const __m128i zero = _mm_setzero_si128();
  __m128i a = zero;  // the pixel to the left, unfiltered
  switch (filter) {
    case 1:
      for (size_t i = 0; i < size; i += 4) {
        a = _mm_add_epi8(a, loadPixel(row + i));
        storePixel(row + i, a);
      }
      return true;
    case 3:
      for (size_t i = 0; i < size; i += 4) {
        const __m128i b = loadPixel(prior + i);
        // floor((a + b) / 2): the rounded-up average less the bit it rounded up by.
        const __m128i average = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
        a = _mm_add_epi8(loadPixel(row + i), average);
        storePixel(row + i, a);
      }
      return true;
    case 4: {
      __m128i c = zero;  // the pixel above-left, in 16-bit lanes like a and b
      for (size_t i = 0; i < size; i += 4) {
        const __m128i b = _mm_unpacklo_epi8(loadPixel(prior + i), zero);
        __m128i pa = _mm_sub_epi16(b, c);  // p - a
        __m128i pb = _mm_sub_epi16(a, c);  // p - b
        __m128i pc = _mm_add_epi16(pa, pb);  // p - c
        pa = _mm_max_epi16(pa, _mm_sub_epi16(zero, pa));
        pb = _mm_max_epi16(pb, _mm_sub_epi16(zero, pb));
        pc = _mm_max_epi16(pc, _mm_sub_epi16(zero, pc));
        const __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
        // a when pa is smallest, else b when pb is, else c.
        const __m128i takeB = _mm_cmpeq_epi16(smallest, pb), takeA = _mm_cmpeq_epi16(smallest, pa);
        __m128i predictor = _mm_or_si128(_mm_and_si128(takeB, b), _mm_andnot_si128(takeB, c));
        predictor = _mm_or_si128(_mm_and_si128(takeA, a), _mm_andnot_si128(takeA, predictor));
        const __m128i pixel = _mm_add_epi8(loadPixel(row + i), _mm_packus_epi16(predictor, predictor));
        storePixel(row + i, pixel);
        a = _mm_unpacklo_epi8(pixel, zero);
        c = b;
      }
      return true;
    }
    default:
      return false;
  }
}
#endif

// Undoes a row's filter in place; prior is the row above, unfiltered (zeros for the first row).
bool unfilterRow(int filter, unsigned char* row, const unsigned char* prior, size_t size, size_t bpp) {
  if (filter == 0) return true;
  if (filter == 2) {
    for (size_t i = 0; i < size; ++i) row[i] = static_cast<unsigned char>(row[i] + prior[i]);
    return true;
  }
#ifdef __SSE2__
  if (bpp == 4) return unfilterRgbaRow(filter, row, prior, size);
#endif
  switch (filter) {
    case 1:
      for (size_t i = bpp; i < size; ++i) row[i] = static_cast<unsigned char>(row[i] + row[i - bpp]);
      return true;
    case 3:
      for (size_t i = 0; i < bpp; ++i) row[i] = static_cast<unsigned char>(row[i] + (prior[i] >> 1));
      for (size_t i = bpp; i < size; ++i) row[i] = static_cast<unsigned char>(row[i] + ((row[i - bpp] + prior[i]) >> 1));
      return true;
    case 4:
      for (size_t i = 0; i < bpp; ++i) row[i] = static_cast<unsigned char>(row[i] + prior[i]);
      for (size_t i = bpp; i < size; ++i)
        row[i] = static_cast<unsigned char>(row[i] + paethPredictor(row[i - bpp], prior[i], prior[i - bpp]));
      return true;
    default:
      return false;
  }
}

// A buffer for inflated rows that each thread keeps for the next picture, unless it grew beyond
// what pictures of a few megapixels need.
class RowBuffer {
 public:
  unsigned char* get(size_t size) {
    if (size > kKept) {
      large_.reset(new (std::nothrow) unsigned char[size]);
      return large_.get();
    }
    thread_local std::vector<unsigned char> kept;
    if (kept.size() < size) kept.resize(size);
    return kept.data();
  }

 private:
  static constexpr size_t kKept = size_t{8} << 20;
  std::unique_ptr<unsigned char[]> large_;
};

// 16-bit samples rounded to the nearest 8-bit value (v * 255 / 65535).
inline uint32_t to8(uint32_t v) { return (v * 255u + 32895u) >> 16; }

// One of the seven passes of an interlaced picture (Adam7), or the whole picture of another.
struct Pass {
  size_t x0, y0, dx, dy, width, height;
};

std::vector<Pass> passesOf(const PngLayout& layout) {
  const size_t w = layout.width, h = layout.height;
  if (!layout.interlaced) return {{0, 0, 1, 1, w, h}};
  static constexpr size_t kAdam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                          {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  std::vector<Pass> passes;
  for (const auto& p : kAdam7) {
    const size_t pw = w > p[0] ? (w - p[0] + p[2] - 1) / p[2] : 0, ph = h > p[1] ? (h - p[1] + p[3] - 1) / p[3] : 0;
    if (pw && ph) passes.push_back({p[0], p[1], p[2], p[3], pw, ph});  // an empty pass has no rows at all
  }
  return passes;
}

// Turns one unfiltered row of samples into 0xAARRGGBB pixels, every step-th one of out. False when a
// palette index lies beyond the palette: such data is damaged, whatever colour another reader makes up.
class RowConverter {
 public:
  explicit RowConverter(const PngLayout& layout) : layout_(layout) {
    const auto* t = reinterpret_cast<const unsigned char*>(layout.transparent.data());
    if (layout.colourType == 3) {
      const auto* p = reinterpret_cast<const unsigned char*>(layout.palette.data());
      entries_ = layout.palette.size() / 3;
      for (size_t i = 0; i < entries_; ++i)
        palette_[i] = uint32_t{i < layout.transparent.size() ? t[i] : 255u} << 24 | uint32_t{p[3 * i]} << 16 |
                      uint32_t{p[3 * i + 1]} << 8 | p[3 * i + 2];
    } else if (layout.transparency) {
      // Only the bits of the picture's depth count, as other readers take them.
      const uint32_t mask = (1u << layout.depth) - 1;
      for (size_t i = 0; i < layout.transparent.size() / 2; ++i) key_[i] = (uint32_t{t[2 * i]} << 8 | t[2 * i + 1]) & mask;
    }
  }

  bool convert(const unsigned char* in, size_t width, uint32_t* out, size_t step) const {
    const int depth = layout_.depth;
    const bool keyed = layout_.transparency;
    switch (layout_.colourType) {
      case 0:
        if (depth == 16) {
          for (size_t x = 0; x < width; ++x, in += 2) {
            const uint32_t v = uint32_t{in[0]} << 8 | in[1], g = to8(v);
            out[x * step] = (keyed && v == key_[0] ? 0u : 0xff000000u) | g << 16 | g << 8 | g;
          }
        } else {
          const uint32_t mask = (1u << depth) - 1, scale = 255 / mask;
          for (size_t x = 0; x < width; ++x) {
            const size_t bit = x * static_cast<size_t>(depth);
            const uint32_t v = (in[bit / 8] >> (8 - depth - static_cast<int>(bit % 8))) & mask, g = v * scale;
            out[x * step] = (keyed && v == key_[0] ? 0u : 0xff000000u) | g << 16 | g << 8 | g;
          }
        }
        return true;
      case 2:
        if (depth == 16) {
          for (size_t x = 0; x < width; ++x, in += 6) {
            const uint32_t r = uint32_t{in[0]} << 8 | in[1], g = uint32_t{in[2]} << 8 | in[3], b = uint32_t{in[4]} << 8 | in[5];
            const bool clear = keyed && r == key_[0] && g == key_[1] && b == key_[2];
            out[x * step] = (clear ? 0u : 0xff000000u) | to8(r) << 16 | to8(g) << 8 | to8(b);
          }
        } else {
          for (size_t x = 0; x < width; ++x, in += 3) {
            const bool clear = keyed && in[0] == key_[0] && in[1] == key_[1] && in[2] == key_[2];
            out[x * step] = (clear ? 0u : 0xff000000u) | uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
          }
        }
        return true;
      case 3: {
        const uint32_t mask = (1u << depth) - 1;
        for (size_t x = 0; x < width; ++x) {
          const size_t bit = x * static_cast<size_t>(depth);
          const uint32_t i = (in[bit / 8] >> (8 - depth - static_cast<int>(bit % 8))) & mask;
          if (i >= entries_) return false;
          out[x * step] = palette_[i];
        }
        return true;
      }
      case 4:
        if (depth == 16) {
          for (size_t x = 0; x < width; ++x, in += 4) {
            const uint32_t g = to8(uint32_t{in[0]} << 8 | in[1]);
            out[x * step] = to8(uint32_t{in[2]} << 8 | in[3]) << 24 | g << 16 | g << 8 | g;
          }
        } else {
          for (size_t x = 0; x < width; ++x, in += 2)
            out[x * step] = uint32_t{in[1]} << 24 | uint32_t{in[0]} << 16 | uint32_t{in[0]} << 8 | in[0];
        }
        return true;
      default:  // 6
        if (depth == 16) {
          for (size_t x = 0; x < width; ++x, in += 8)
            out[x * step] = to8(uint32_t{in[6]} << 8 | in[7]) << 24 | to8(uint32_t{in[0]} << 8 | in[1]) << 16 |
                            to8(uint32_t{in[2]} << 8 | in[3]) << 8 | to8(uint32_t{in[4]} << 8 | in[5]);
        } else {
          for (size_t x = 0; x < width; ++x, in += 4)
            out[x * step] = uint32_t{in[3]} << 24 | uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
        }
        return true;
    }
  }

 private:
  const PngLayout& layout_;
  uint32_t palette_[256] = {};
  size_t entries_ = 0;
  uint32_t key_[3] = {};
};

void freeBuffer(void* buffer) { std::free(buffer); }

// The image data inflated into exactly size bytes at out. False when it holds more or less.
bool inflateData(const PngLayout& layout, unsigned char* out, size_t size) {
  std::string joined;
  std::string_view stream = layout.data.front();
  if (layout.data.size() > 1) {
    size_t total = 0;
    for (std::string_view d : layout.data) total += d.size();
    joined.reserve(total);
    for (std::string_view d : layout.data) joined.append(d);
    stream = joined;
  }
  size_t inflated = 0;
  return libdeflate_zlib_decompress(threadDecompressor(), stream.data(), stream.size(), out, size, &inflated) ==
             LIBDEFLATE_SUCCESS &&
         inflated == size;
}

// 8-bit RGBA without interlacing, what the editor and most paint programs write: inflated straight
// into the buffer that becomes the picture's, each row unfiltered there and then moved up over the
// filter bytes of the rows above it as ARGB32. One allocation, no copy.
std::optional<QImage> decodeRgbaInPlace(const PngLayout& layout) {
  const size_t width = layout.width, height = layout.height, rowBytes = width * 4, stride = rowBytes + 1;
  const size_t rawSize = height * stride;
  auto* raw = static_cast<unsigned char*>(std::malloc(rawSize));
  if (!raw) return std::nullopt;
  std::unique_ptr<void, void (*)(void*)> owner(raw, freeBuffer);
  if (!inflateData(layout, raw, rawSize)) return std::nullopt;
  // Row y is unfiltered against row y - 1 while that one is still in place; then row y - 1 moves to
  // its place in the picture, (y - 1) * rowBytes, which lies before its own bytes and row y's.
  const auto move = [&](size_t y) {
    const unsigned char* in = raw + y * stride + 1;
    unsigned char* out = raw + y * rowBytes;
    for (size_t x = 0; x < rowBytes; x += 4) {
      const uint32_t p = uint32_t{in[x + 3]} << 24 | uint32_t{in[x]} << 16 | uint32_t{in[x + 1]} << 8 | in[x + 2];
      std::memcpy(out + x, &p, 4);
    }
  };
  std::vector<unsigned char> zeros(rowBytes, 0);
  for (size_t y = 0; y < height; ++y) {
    unsigned char* row = raw + y * stride;
    if (!unfilterRow(row[0], row + 1, y ? row + 1 - stride : zeros.data(), rowBytes, 4)) return std::nullopt;
    if (y) move(y - 1);
  }
  move(height - 1);
  QImage image(raw, static_cast<int>(width), static_cast<int>(height), static_cast<qsizetype>(rowBytes),
               QImage::Format_ARGB32, freeBuffer, raw);
  if (image.isNull()) return std::nullopt;
  owner.release();
  return image;
}

// Decodes the pixels of PNG data whose structure readPngLayout accepted, whatever its colour type,
// bit depth, transparency and interlacing, to ARGB32 (with an alpha channel or a transparent colour)
// or RGB32, with the file's resolution. 16-bit samples are rounded to the nearest 8-bit value. None
// when the data does not inflate to exactly the rows the header announces, a row has an unknown
// filter, or a palette index lies beyond the palette.
std::optional<QImage> decodePngLayout(const PngLayout& layout) {
  std::optional<QImage> decoded;
  static constexpr int kChannels[] = {1, 0, 3, 1, 2, 0, 4};
  const bool alpha = layout.colourType == 4 || layout.colourType == 6 || layout.transparency;
  if (layout.colourType == 6 && layout.depth == 8 && !layout.interlaced) {
    decoded = decodeRgbaInPlace(layout);
  } else {
    const size_t bitsPerPixel = static_cast<size_t>(kChannels[layout.colourType] * layout.depth);
    const size_t bpp = std::max<size_t>(1, bitsPerPixel / 8);
    const std::vector<Pass> passes = passesOf(layout);
    size_t rawSize = 0;
    for (const Pass& p : passes) rawSize += p.height * (1 + (p.width * bitsPerPixel + 7) / 8);
    RowBuffer buffer;
    unsigned char* raw = buffer.get(rawSize);
    if (!raw || !inflateData(layout, raw, rawSize)) return std::nullopt;
    QImage image(static_cast<int>(layout.width), static_cast<int>(layout.height),
                 alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) return std::nullopt;
    const RowConverter converter(layout);
    const std::vector<unsigned char> zeros((layout.width * bitsPerPixel + 7) / 8, 0);
    unsigned char* row = raw;
    for (const Pass& p : passes) {
      const size_t rowBytes = (p.width * bitsPerPixel + 7) / 8;
      const unsigned char* prior = zeros.data();
      for (size_t j = 0; j < p.height; ++j, row += rowBytes + 1) {
        if (!unfilterRow(row[0], row + 1, prior, rowBytes, bpp)) return std::nullopt;
        prior = row + 1;
        auto* out = reinterpret_cast<uint32_t*>(image.scanLine(static_cast<int>(p.y0 + j * p.dy))) + p.x0;
        if (!converter.convert(row + 1, p.width, out, p.dx)) return std::nullopt;
      }
    }
    decoded = std::move(image);
  }
  if (!decoded) return std::nullopt;
  if (layout.dotsPerMeterX > 0) decoded->setDotsPerMeterX(layout.dotsPerMeterX);
  if (layout.dotsPerMeterY > 0) decoded->setDotsPerMeterY(layout.dotsPerMeterY);
  return decoded;
}

// What the toolkit's reader takes from the chunks beside the pixels (text, a colour space, an
// offset), asked of a picture of one pixel with the same header and the same chunks, so that only
// its own pixels are decoded.
void addMetadata(const PngLayout& layout, QImage& image) {
  if (layout.extra.empty()) return;
  std::string png(pngSignature);
  std::string header;
  appendBigEndian(header, 1);
  appendBigEndian(header, 1);
  header += {static_cast<char>(layout.depth), static_cast<char>(layout.colourType), 0, 0, 0};
  appendChunk(png, "IHDR", header.data(), header.size());
  for (const auto& [chunk, before] : layout.extra)
    if (before) png.append(chunk);
  if (!layout.palette.empty()) appendChunk(png, "PLTE", layout.palette.data(), layout.palette.size());
  if (layout.transparency) appendChunk(png, "tRNS", layout.transparent.data(), layout.transparent.size());
  static constexpr int kChannels[] = {1, 0, 3, 1, 2, 0, 4};
  const std::string row(1 + (kChannels[layout.colourType] * layout.depth + 7) / 8, '\0');
  std::string data(compressBound(static_cast<uLong>(row.size())), '\0');
  uLongf size = static_cast<uLongf>(data.size());
  if (compress2(reinterpret_cast<Bytef*>(data.data()), &size, reinterpret_cast<const Bytef*>(row.data()),
                static_cast<uLong>(row.size()), 9) != Z_OK)
    return;
  data.resize(size);
  appendChunk(png, "IDAT", data.data(), data.size());
  for (const auto& [chunk, before] : layout.extra)
    if (!before) png.append(chunk);
  appendChunk(png, "IEND", nullptr, 0);
  const QImage described = readImage(png);
  if (described.isNull()) return;
  image.setColorSpace(described.colorSpace());
  image.setOffset(described.offset());
  for (const QString& key : described.textKeys()) image.setText(key, described.text(key));
}

// The pixels of PNG data in their stored format, or a null image when the data does not decode.
// checkCrc: whether the chunks' CRCs are checked again (data read at load was checked then and is
// not changed since).
QImage decodePngPixels(std::string_view png, bool checkCrc) {
  PngLayout layout;
  if (!readPngLayout(png, layout, checkCrc).empty()) return {};
  std::optional<QImage> image = decodePngLayout(layout);
  if (!image) return {};
  addMetadata(layout, *image);
  return std::move(*image);
}

// ---- PNG encoding ---------------------------------------------------------------------------------

// Pictures are deflated with zlib's run-length strategy, which codes noisy, painted or photographic
// pixels better than any level of zlib or libdeflate, and fast; or with libdeflate's level 7 where
// the picture has repeats further back than a pixel (flat colours, outlines, patterns, text), which
// libdeflate's fastest level (the probe) finds on a sample of the rows. Measured on 40 pictures of
// 256x256 each (gradients with noise; patterned art), against zlib's level 6 with its default
// strategy: noise 5.34 MB (run-length) against 5.91 MB; patterned art 0.64 MB (level 7) against
// 0.67 MB, where run-length coding gives 3.34 MB and libdeflate's level 6 0.68 MB; level 7 takes
// about half zlib's time there, levels 8 and 9 more than zlib's.
constexpr int kProbeLevel = 1, kRepeatsLevel = 7;

libdeflate_compressor* threadCompressor(int level) {
  thread_local std::unique_ptr<libdeflate_compressor, DeflateFree> probe(libdeflate_alloc_compressor(kProbeLevel));
  thread_local std::unique_ptr<libdeflate_compressor, DeflateFree> repeats(libdeflate_alloc_compressor(kRepeatsLevel));
  return level == kProbeLevel ? probe.get() : repeats.get();
}

// zlib run-length data of the filtered rows; empty on failure.
std::string deflateRuns(const unsigned char* data, size_t size) {
  std::string runs;
  z_stream zs{};
  if (size > UINT32_MAX || deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK) return runs;
  runs.resize(deflateBound(&zs, static_cast<uLong>(size)));
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = static_cast<uInt>(size);
  zs.next_out = reinterpret_cast<Bytef*>(runs.data());
  zs.avail_out = static_cast<uInt>(std::min<size_t>(runs.size(), UINT32_MAX));
  runs.resize(deflate(&zs, Z_FINISH) == Z_STREAM_END ? zs.total_out : 0);
  deflateEnd(&zs);
  return runs;
}

std::string deflateLevel(int level, const unsigned char* data, size_t size) {
  libdeflate_compressor* compressor = threadCompressor(level);
  if (!compressor) return {};
  std::string out(libdeflate_zlib_compress_bound(compressor, size), '\0');
  out.resize(libdeflate_zlib_compress(compressor, data, size, out.data(), out.size()));
  return out;
}

// Every eighth band of rows, a band being a 64th of the rows (at least one): an eighth of the data,
// spread from the top of the picture to its bottom, which the coding is chosen on.
std::string sampleOf(const unsigned char* data, size_t rows, size_t rowSize) {
  const size_t band = std::max<size_t>(1, rows / 64);
  std::string sample;
  sample.reserve((rows / 8 + band) * rowSize);
  for (size_t y = 0; y < rows; y += 8 * band)
    sample.append(reinterpret_cast<const char*>(data + y * rowSize), std::min(band, rows - y) * rowSize);
  return sample;
}

enum class Coding { Repeats, Runs, Both };

// Which coding the picture gets, from how its sample deflates: the probe (libdeflate's fastest level)
// and, unless the probe shrinks it below a quarter, runs. Repeats (level 7) where the probe clearly
// beats the runs, runs where the runs clearly beat the probe, both where they come within 5% of
// each other. Pictures of gradients with noise come out at about 1.09 (probe to runs), patterned art
// at 0.23 to 0.42, characters stacked of both at 0.75 to 0.95: each gets the coding that is smallest
// for the whole picture, as both codings of every picture would give, at about half their time.
Coding codingOf(const std::string& sample) {
  const auto* data = reinterpret_cast<const unsigned char*>(sample.data());
  const size_t probe = deflateLevel(kProbeLevel, data, sample.size()).size();
  if (probe == 0) return Coding::Both;
  if (probe < sample.size() / 4) return Coding::Repeats;
  const size_t runs = deflateRuns(data, sample.size()).size();
  if (runs == 0) return Coding::Both;
  if (20 * probe <= 19 * runs) return Coding::Repeats;
  if (20 * probe >= 21 * runs) return Coding::Runs;
  return Coding::Both;
}

// zlib data of the filtered rows (rows of rowSize bytes each), as above; the smaller data where both
// codings are tried. None on failure.
std::optional<std::string> deflateRows(const unsigned char* data, size_t rows, size_t rowSize) {
  const size_t size = rows * rowSize;
  const Coding coding = codingOf(sampleOf(data, rows, rowSize));
  std::string best;
  if (coding != Coding::Runs) best = deflateLevel(kRepeatsLevel, data, size);
  if (coding != Coding::Repeats || best.empty()) {
    std::string runs = deflateRuns(data, size);
    if (!runs.empty() && (best.empty() || runs.size() < best.size())) best = std::move(runs);
  }
  // Should one coding fail (memory running out), the other one.
  if (best.empty() && coding == Coding::Runs) best = deflateLevel(kRepeatsLevel, data, size);
  if (best.empty()) return std::nullopt;
  return best;
}

// Filters a row for PNG the way most encoders do: of the five filters it takes the one whose bytes,
// read as signed, add up to the least, which usually deflates best. row and prior (the row above,
// zeros for the first) are raw; out gets the filter type and rowBytes filtered bytes. Each filter is
// its own loop over the raw rows, which the compiler vectorizes.
void filterRow(const unsigned char* row, const unsigned char* prior, size_t rowBytes, size_t bpp,
               unsigned char* out, std::vector<unsigned char>& scratch) {
  scratch.resize(4 * rowBytes);
  unsigned char* filtered[5] = {nullptr, scratch.data(), scratch.data() + rowBytes, scratch.data() + 2 * rowBytes,
                                scratch.data() + 3 * rowBytes};
  unsigned char* const sub = filtered[1];
  unsigned char* const up = filtered[2];
  unsigned char* const average = filtered[3];
  unsigned char* const paeth = filtered[4];
  for (size_t i = 0; i < bpp; ++i) {
    sub[i] = row[i];
    average[i] = static_cast<unsigned char>(row[i] - (prior[i] >> 1));
    paeth[i] = static_cast<unsigned char>(row[i] - prior[i]);
  }
  for (size_t i = bpp; i < rowBytes; ++i) sub[i] = static_cast<unsigned char>(row[i] - row[i - bpp]);
  for (size_t i = 0; i < rowBytes; ++i) up[i] = static_cast<unsigned char>(row[i] - prior[i]);
  for (size_t i = bpp; i < rowBytes; ++i)
    average[i] = static_cast<unsigned char>(row[i] - ((row[i - bpp] + prior[i]) >> 1));
  for (size_t i = bpp; i < rowBytes; ++i) {
    const int a = row[i - bpp], b = prior[i], c = prior[i - bpp];
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    paeth[i] = static_cast<unsigned char>(row[i] - (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
  }
  const auto cost = [rowBytes](const unsigned char* bytes) {
    uint32_t sum = 0;
    for (size_t i = 0; i < rowBytes; ++i) sum += static_cast<uint32_t>(std::abs(static_cast<signed char>(bytes[i])));
    return sum;
  };
  filtered[0] = const_cast<unsigned char*>(row);
  int best = 0;
  uint32_t least = cost(row);
  for (int f = 1; f < 5; ++f) {
    const uint32_t c = cost(filtered[f]);
    if (c < least) least = c, best = f;
  }
  out[0] = static_cast<unsigned char>(best);
  std::memcpy(out + 1, filtered[best], rowBytes);
}

// Writes the PNG of an ARGB32 (RGBA) or RGB32 (RGB) image directly: each row filtered as above, the
// whole deflated as above. The chunks are the ones Qt's writer
// would give such an image (IHDR, pHYs for its resolution, IDAT, IEND); an image with anything more
// to say (a colour space, text, an offset) is left to Qt's writer: none then.
std::optional<std::string> encodePngDirectly(const QImage& image) {
  const bool alpha = image.format() == QImage::Format_ARGB32;
  if (!alpha && image.format() != QImage::Format_RGB32) return std::nullopt;
  if (image.colorSpace().isValid() || !image.textKeys().isEmpty() || !image.offset().isNull()) return std::nullopt;
  const size_t width = static_cast<size_t>(image.width());
  const size_t height = static_cast<size_t>(image.height());
  if (width == 0 || height == 0) return std::nullopt;
  const size_t bpp = alpha ? 4 : 3;
  const size_t rowBytes = width * bpp;

  const size_t filteredSize = height * (rowBytes + 1);
  std::unique_ptr<unsigned char[]> filtered(new (std::nothrow) unsigned char[filteredSize]);
  if (!filtered) return std::nullopt;
  std::vector<unsigned char> previous(rowBytes, 0), current(rowBytes), scratch;
  for (size_t y = 0; y < height; ++y) {
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
    filterRow(current.data(), previous.data(), rowBytes, bpp, filtered.get() + y * (rowBytes + 1), scratch);
    current.swap(previous);
  }

  std::optional<std::string> compressed = deflateRows(filtered.get(), height, rowBytes + 1);
  filtered.reset();
  if (!compressed) return std::nullopt;
  const size_t compressedSize = compressed->size();

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
    appendChunk(png, "IDAT", compressed->data() + at, std::min<size_t>(compressedSize - at, 1u << 20));
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
  if (std::string_view(bytes).substr(0, pngSignature.size()) == pngSignature) {
    PngLayout layout;
    parts.problem = readPngLayout(bytes, layout);
    if (!parts.problem.empty()) return parts;
    parts.alpha = layout.colourType == 4 || layout.colourType == 6 || layout.transparency;
    // A palette shorter than its indices reach may have pixels that name no colour: such data is
    // damaged, and is found here, where the other damage is, by decoding it once.
    if (layout.colourType == 3 && layout.palette.size() / 3 < (size_t{1} << layout.depth) && !decodePngLayout(layout)) {
      parts.problem = std::string(kUnreadable) + ": its PNG data is damaged";
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
    parts.problem = kUnreadable;
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
  QImage image = decodePngPixels(*png_, false);
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
  std::optional<std::string> png = encodePngDirectly(pixels);
  if (!png) png = encodePngWithQt(pixels);
  if (!png) return std::nullopt;
  // The saved file must bring back exactly these pixels, its structure and CRCs sound; refuse to hand
  // out data that would not.
  if (!samePixelsOf(decodePngPixels(*png, true), pixels)) return std::nullopt;
  return png;
}

namespace {

// Draws the images source-over onto picture (ARGB32, straight), whose top-left pixel lies at (left, top)
// among them: in premultiplied floats (0..255) row by row, exact to far below what 8 bits show where
// 8-bit premultiplied pixels lose the colour of faint ones, then divided back into straight 8-bit
// RGBA rounded to the nearest; what no image covers, or covers with alpha 0, is 0,0,0,0. Images
// outside the picture are not decoded. Why it failed when a picture's data no longer decodes (its
// pixels are then transparent), with damaged set; empty otherwise.
std::string composeInto(QImage& picture, double left, double top, const std::vector<PlacedImage>& images, bool damaged) {
  // The straight pixels of each image that reaches the picture, at its natural size (a high-resolution
  // picture is scaled to it as the canvas draws it, nearest pixel).
  struct Layer {
    QImage pixels;
    int x, y;
  };
  std::vector<Layer> layers;
  const int W = picture.width(), H = picture.height();
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

  // Each pixel's floats in the order of its bytes in memory: blue, green, red, alpha.
  std::vector<float> row(static_cast<size_t>(W) * 4);
  for (int y = 0; y < H; ++y) {
    std::fill(row.begin(), row.end(), 0.0f);
    for (const Layer& l : layers) {
      if (y < l.y || y >= l.y + l.pixels.height()) continue;
      const auto* in = reinterpret_cast<const uint32_t*>(l.pixels.constScanLine(y - l.y));
      const uint32_t opaque = l.pixels.format() == QImage::Format_RGB32 ? 0xff000000u : 0;
      const int from = std::max(0, -l.x), to = std::min(l.pixels.width(), W - l.x);
      float* out = row.data() + static_cast<ptrdiff_t>(l.x + from) * 4;
      for (int x = from; x < to; ++x, out += 4) {
        const uint32_t p = in[x] | opaque;
        const uint32_t a = p >> 24;
        if (a == 0) continue;
#ifdef __SSE2__
        const __m128i zero = _mm_setzero_si128();
        const __m128 source = _mm_cvtepi32_ps(
            _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p)), zero), zero));
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
    auto* out = reinterpret_cast<uint32_t*>(picture.scanLine(y));
    for (int x = 0; x < W; ++x) {
      const float* p = row.data() + static_cast<size_t>(x) * 4;
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
  constexpr int kDotsPerMetre = 2835;  // 72 dpi
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
