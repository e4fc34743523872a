// The editor's PNG reader: the structure of PNG data checked without inflating it, and its pixels
// decoded, whatever the colour type, depth and interlacing.
#include <libdeflate.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <zlib.h>

#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QImageReader>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/image.hpp"
#include "platform/png.hpp"

namespace charstack::png {

namespace {

// libdeflate's decompressors are not to be shared between threads: each thread keeps its own.
struct DecompressorFree {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

libdeflate_decompressor* threadDecompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> d(libdeflate_alloc_decompressor());
  return d.get();
}

// ---- Structure -----------------------------------------------------------------------------------

constexpr const char* kCutShort = "its PNG data ends too early (is another program still writing it?)";
constexpr const char* kDamaged = "its PNG data is damaged";
// The samples of a pixel of each colour type (2 RGB, 3 palette, 4 grey and alpha, 6 RGBA).
constexpr int kChannels[] = {1, 0, 3, 1, 2, 0, 4};

std::string unreadable(const char* why) { return std::string(kUnreadable) + ": " + why; }

bool validDepth(int colourType, int depth) {
  switch (colourType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2: case 4: case 6: return depth == 8 || depth == 16;
    default: return false;
  }
}

// IHDR: a known colour type and depth, deflate, adaptive filters, no or Adam7 interlacing, and a
// picture within the size bound.
std::string readHeader(std::string_view type, const unsigned char* body, size_t length, Layout& layout) {
  if (type != "IHDR" || length != 13) return unreadable(kDamaged);
  layout.width = bigEndian(body);
  layout.height = bigEndian(body + 4);
  layout.depth = body[8];
  layout.colourType = body[9];
  layout.interlaced = body[12] == 1;
  if (layout.width == 0 || layout.height == 0 || layout.width > 0x7fffffffu || layout.height > 0x7fffffffu ||
      !validDepth(layout.colourType, layout.depth) || body[10] != 0 || body[11] != 0 || body[12] > 1)
    return unreadable(kDamaged);
  if (uint64_t{layout.width} * layout.height > static_cast<uint64_t>(kMaxImagePixels))
    return "is too large to open: " + std::to_string(layout.width) + "x" + std::to_string(layout.height);
  return {};
}

// The transparency of a picture without an alpha channel: each palette entry has at most one alpha;
// grey and RGB name their transparent colour in 2 and 6 bytes. Anything else is damaged.
std::string readTransparency(std::string_view body, bool idatEnded, Layout& layout) {
  if (layout.transparency || idatEnded) return unreadable(kDamaged);
  if (layout.colourType == 3 ? layout.palette.empty() || body.size() > layout.palette.size() / 3
                             : body.size() != (layout.colourType == 0 ? 2u : 6u))
    return unreadable(kDamaged);
  layout.transparency = true;
  layout.transparent = body;
  return {};
}

// A chunk after IHDR other than IDAT and IEND (chunk is the whole chunk, its length and CRC with it).
std::string readChunk(std::string_view type, std::string_view chunk, bool idatEnded, Layout& layout) {
  const std::string_view body = chunk.substr(8, chunk.size() - 12);
  const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
  if (type == "IHDR") return unreadable(kDamaged);
  if (type == "PLTE") {
    if (body.empty() || body.size() % 3 != 0 || body.size() > 768 || idatEnded) return unreadable(kDamaged);
    layout.palette = body;
  } else if (type == "pHYs" && body.size() == 9) {
    if (bytes[8] == 1) {
      layout.dotsPerMeterX = static_cast<int>(std::min<uint32_t>(bigEndian(bytes), INT32_MAX));
      layout.dotsPerMeterY = static_cast<int>(std::min<uint32_t>(bigEndian(bytes + 4), INT32_MAX));
    }
  } else if (type[0] >= 'A' && type[0] <= 'Z') {  // critical: it would change the picture
    return unreadable("its PNG data holds a part the editor does not know");
  } else if (type == "tRNS" && (layout.colourType == 4 || layout.colourType == 6)) {
    // Pictures with an alpha channel have no transparent colour: ignored, as other readers do.
  } else if (type == "tRNS") {
    return readTransparency(body, idatEnded, layout);
  } else if (type != "pHYs") {
    layout.extra.emplace_back(chunk, layout.data.empty());
  }
  return {};
}

// After IEND: image data, the palette a palette picture needs, the zlib header (deflate with a window
// of at most 32 KB, its check bits right, no dictionary), and data long enough for the pixels.
std::string checkData(const Layout& layout) {
  if (layout.data.empty() || (layout.colourType == 3 && layout.palette.empty())) return unreadable(kDamaged);
  unsigned char header[2];
  size_t got = 0;
  for (std::string_view d : layout.data)
    for (size_t i = 0; i < d.size() && got < 2; ++i) header[got++] = static_cast<unsigned char>(d[i]);
  if (got < 2 || (header[0] & 0x0f) != 8 || (header[0] >> 4) > 7 || (header[0] << 8 | header[1]) % 31 != 0 ||
      (header[1] & 0x20) != 0)
    return unreadable(kDamaged);
  // Deflate makes at most 1032 bytes of each byte it reads: data far too short for the pixels its
  // header announces is refused before anything allocates them.
  const uint64_t rowBits = uint64_t{layout.width} * static_cast<uint64_t>(layout.depth * kChannels[layout.colourType]);
  uint64_t stored = 0;
  for (std::string_view d : layout.data) stored += d.size();
  if (layout.height * ((rowBits + 7) / 8) / 1032 > stored) return unreadable(kCutShort);
  return {};
}

}  // namespace

std::string readLayout(std::string_view png, Layout& layout, bool checkCrc) {
  if (png.substr(0, kSignature.size()) != kSignature) return kUnreadable;
  const auto* bytes = reinterpret_cast<const unsigned char*>(png.data());
  size_t at = kSignature.size();
  bool idatEnded = false;
  for (bool first = true;; first = false) {
    if (png.size() - at < 12) return unreadable(kCutShort);
    const uint32_t length = bigEndian(bytes + at);
    if (length > 0x7fffffffu) return unreadable(kDamaged);
    if (png.size() - at - 12 < length) return unreadable(kCutShort);
    const std::string_view type = png.substr(at + 4, 4), chunk = png.substr(at, size_t{length} + 12);
    const unsigned char* body = bytes + at + 8;
    if (checkCrc && libdeflate_crc32(0, bytes + at + 4, size_t{length} + 4) != bigEndian(body + length))
      return unreadable(kDamaged);
    at += chunk.size();
    if (!std::all_of(type.begin(), type.end(), [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }))
      return unreadable(kDamaged);
    std::string problem;
    if (first) {
      problem = readHeader(type, body, length, layout);
    } else if (type == "IDAT") {
      if (idatEnded) return unreadable(kDamaged);
      layout.data.emplace_back(reinterpret_cast<const char*>(body), length);
    } else {
      idatEnded = !layout.data.empty();
      if (type == "IEND") break;
      problem = readChunk(type, chunk, idatEnded, layout);
    }
    if (!problem.empty()) return problem;
  }
  return checkData(layout);
}

namespace {

// ---- Pixels --------------------------------------------------------------------------------------

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

// Inlined where the decoder knows the pixel size, as its own loops need.
[[gnu::always_inline]] inline bool unfilter(int filter, unsigned char* row, const unsigned char* prior, size_t size, size_t bpp) {
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

}  // namespace

bool unfilterRow(int filter, unsigned char* row, const unsigned char* prior, size_t size, size_t bpp) {
  return unfilter(filter, row, prior, size, bpp);
}

namespace {

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

std::vector<Pass> passesOf(const Layout& layout) {
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
  explicit RowConverter(const Layout& layout) : layout_(layout) {
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
    switch (layout_.colourType) {
      case 0: grey(in, width, out, step); return true;
      case 2: rgb(in, width, out, step); return true;
      case 3: return indexed(in, width, out, step);
      case 4: greyAlpha(in, width, out, step); return true;
      default: rgba(in, width, out, step); return true;  // 6
    }
  }

 private:
  // The opaque bits of a pixel, or none where it has the transparent colour.
  uint32_t opaque(bool keyed) const { return layout_.transparency && keyed ? 0u : 0xff000000u; }

  void grey(const unsigned char* in, size_t width, uint32_t* out, size_t step) const {
    const int depth = layout_.depth;
    if (depth == 16) {
      for (size_t x = 0; x < width; ++x, in += 2) {
        const uint32_t v = uint32_t{in[0]} << 8 | in[1], g = to8(v);
        out[x * step] = opaque(v == key_[0]) | g << 16 | g << 8 | g;
      }
      return;
    }
    const uint32_t mask = (1u << depth) - 1, scale = 255 / mask;
    for (size_t x = 0; x < width; ++x) {
      const size_t bit = x * static_cast<size_t>(depth);
      const uint32_t v = (in[bit / 8] >> (8 - depth - static_cast<int>(bit % 8))) & mask, g = v * scale;
      out[x * step] = opaque(v == key_[0]) | g << 16 | g << 8 | g;
    }
  }

  void rgb(const unsigned char* in, size_t width, uint32_t* out, size_t step) const {
    if (layout_.depth == 16) {
      for (size_t x = 0; x < width; ++x, in += 6) {
        const uint32_t r = uint32_t{in[0]} << 8 | in[1], g = uint32_t{in[2]} << 8 | in[3], b = uint32_t{in[4]} << 8 | in[5];
        out[x * step] = opaque(r == key_[0] && g == key_[1] && b == key_[2]) | to8(r) << 16 | to8(g) << 8 | to8(b);
      }
      return;
    }
    for (size_t x = 0; x < width; ++x, in += 3)
      out[x * step] = opaque(in[0] == key_[0] && in[1] == key_[1] && in[2] == key_[2]) | uint32_t{in[0]} << 16 |
                      uint32_t{in[1]} << 8 | in[2];
  }

  bool indexed(const unsigned char* in, size_t width, uint32_t* out, size_t step) const {
    const int depth = layout_.depth;
    const uint32_t mask = (1u << depth) - 1;
    for (size_t x = 0; x < width; ++x) {
      const size_t bit = x * static_cast<size_t>(depth);
      const uint32_t i = (in[bit / 8] >> (8 - depth - static_cast<int>(bit % 8))) & mask;
      if (i >= entries_) return false;
      out[x * step] = palette_[i];
    }
    return true;
  }

  void greyAlpha(const unsigned char* in, size_t width, uint32_t* out, size_t step) const {
    if (layout_.depth == 16) {
      for (size_t x = 0; x < width; ++x, in += 4) {
        const uint32_t g = to8(uint32_t{in[0]} << 8 | in[1]);
        out[x * step] = to8(uint32_t{in[2]} << 8 | in[3]) << 24 | g << 16 | g << 8 | g;
      }
      return;
    }
    for (size_t x = 0; x < width; ++x, in += 2)
      out[x * step] = uint32_t{in[1]} << 24 | uint32_t{in[0]} << 16 | uint32_t{in[0]} << 8 | in[0];
  }

  void rgba(const unsigned char* in, size_t width, uint32_t* out, size_t step) const {
    if (layout_.depth == 16) {
      for (size_t x = 0; x < width; ++x, in += 8)
        out[x * step] = to8(uint32_t{in[6]} << 8 | in[7]) << 24 | to8(uint32_t{in[0]} << 8 | in[1]) << 16 |
                        to8(uint32_t{in[2]} << 8 | in[3]) << 8 | to8(uint32_t{in[4]} << 8 | in[5]);
      return;
    }
    for (size_t x = 0; x < width; ++x, in += 4)
      out[x * step] = uint32_t{in[3]} << 24 | uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
  }

  const Layout& layout_;
  uint32_t palette_[256] = {};
  size_t entries_ = 0;
  uint32_t key_[3] = {};
};

// The pixel buffers of decoded pictures, handed back when their image goes and handed out again for
// the next picture of the same size or a little smaller: an export decodes picture after picture,
// each used once, and the page faults of fresh memory for each cost a third of the inflating. At
// most 32 MB are held, in buffers of at most 8 MB.
class PixelBuffers {
 public:
  // Images may go on any thread, at any time until the program ends: the pool never goes.
  static PixelBuffers& shared() {
    static PixelBuffers* pool = new PixelBuffers;
    return *pool;
  }

  // A buffer of at least size bytes, or null; its pixels start at pixels(buffer).
  void* take(size_t size) {
    {
      std::lock_guard lock(mutex_);
      // The smallest that fits, and wastes at most a quarter.
      auto best = held_.end();
      for (auto it = held_.begin(); it != held_.end(); ++it) {
        const size_t c = capacity(*it);
        if (c >= size && c - size <= size / 4 && (best == held_.end() || c < capacity(*best))) best = it;
      }
      if (best != held_.end()) {
        void* buffer = *best;
        bytes_ -= capacity(buffer);
        held_.erase(best);
        return buffer;
      }
    }
    void* buffer = std::malloc(kHeader + size);
    if (buffer) std::memcpy(buffer, &size, sizeof size);
    return buffer;
  }

  static unsigned char* pixels(void* buffer) { return static_cast<unsigned char*>(buffer) + kHeader; }

  // Takes a buffer back (the cleanup of the image that had it).
  static void give(void* buffer) {
    PixelBuffers& pool = shared();
    {
      std::lock_guard lock(pool.mutex_);
      if (capacity(buffer) <= kLargest && pool.bytes_ + capacity(buffer) <= kHeld) {
        pool.held_.push_back(buffer);
        pool.bytes_ += capacity(buffer);
        return;
      }
    }
    std::free(buffer);
  }

 private:
  // The capacity is kept in front of the pixels, which stay as aligned as malloc's memory is.
  static constexpr size_t kHeader = 64;
  static constexpr size_t kLargest = size_t{8} << 20, kHeld = size_t{32} << 20;
  static size_t capacity(const void* buffer) {
    size_t size;
    std::memcpy(&size, buffer, sizeof size);
    return size;
  }

  std::mutex mutex_;
  std::vector<void*> held_;
  size_t bytes_ = 0;
};

// The image data inflated into exactly size bytes at out. False when it holds more or less.
bool inflateData(const Layout& layout, unsigned char* out, size_t size) {
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
std::optional<QImage> decodeRgbaInPlace(const Layout& layout) {
  const size_t width = layout.width, height = layout.height, rowBytes = width * 4, stride = rowBytes + 1;
  const size_t rawSize = height * stride;
  void* buffer = PixelBuffers::shared().take(rawSize);
  if (!buffer) return std::nullopt;
  std::unique_ptr<void, void (*)(void*)> owner(buffer, PixelBuffers::give);
  unsigned char* raw = PixelBuffers::pixels(buffer);
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
    if (!unfilter(row[0], row + 1, y ? row + 1 - stride : zeros.data(), rowBytes, 4)) return std::nullopt;
    if (y) move(y - 1);
  }
  move(height - 1);
  QImage image(raw, static_cast<int>(width), static_cast<int>(height), static_cast<qsizetype>(rowBytes),
               QImage::Format_ARGB32, PixelBuffers::give, buffer);
  if (image.isNull()) return std::nullopt;
  owner.release();
  return image;
}

// The rows of every pass, inflated into a kept buffer, unfiltered there and handed to row(pass, y of
// the row in the pass, samples) in order. False when the data does not inflate to exactly those
// rows, a row has an unknown filter, or row returns false.
template <typename Row>
bool forEachRow(const Layout& layout, Row&& row) {
  const size_t bitsPerPixel = static_cast<size_t>(kChannels[layout.colourType] * layout.depth);
  const size_t bpp = std::max<size_t>(1, bitsPerPixel / 8);
  const std::vector<Pass> passes = passesOf(layout);
  size_t rawSize = 0;
  for (const Pass& p : passes) rawSize += p.height * (1 + (p.width * bitsPerPixel + 7) / 8);
  RowBuffer buffer;
  unsigned char* raw = buffer.get(rawSize);
  if (!raw || !inflateData(layout, raw, rawSize)) return false;
  const std::vector<unsigned char> zeros((layout.width * bitsPerPixel + 7) / 8, 0);
  unsigned char* at = raw;
  for (const Pass& p : passes) {
    const size_t rowBytes = (p.width * bitsPerPixel + 7) / 8;
    const unsigned char* prior = zeros.data();
    for (size_t j = 0; j < p.height; ++j, at += rowBytes + 1) {
      if (!unfilter(at[0], at + 1, prior, rowBytes, bpp) || !row(p, j, at + 1)) return false;
      prior = at + 1;
    }
  }
  return true;
}

// Pictures of any other kind, row by row into an image of their size.
std::optional<QImage> decodeAnyRows(const Layout& layout) {
  QImage image(static_cast<int>(layout.width), static_cast<int>(layout.height),
               layout.alpha() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (image.isNull()) return std::nullopt;
  const RowConverter converter(layout);
  const bool decoded = forEachRow(layout, [&](const Pass& p, size_t j, const unsigned char* samples) {
    auto* out = reinterpret_cast<uint32_t*>(image.scanLine(static_cast<int>(p.y0 + j * p.dy))) + p.x0;
    return converter.convert(samples, p.width, out, p.dx);
  });
  if (!decoded) return std::nullopt;
  return image;
}

// What the toolkit's reader takes from the chunks beside the pixels (text, a colour space, an
// offset), asked of a picture of one pixel with the same header and the same chunks, so that only
// its own pixels are decoded.
void addMetadata(const Layout& layout, QImage& image) {
  if (layout.extra.empty()) return;
  std::string png(kSignature);
  std::string header;
  appendBigEndian(header, 1);
  appendBigEndian(header, 1);
  header += {static_cast<char>(layout.depth), static_cast<char>(layout.colourType), 0, 0, 0};
  appendChunk(png, "IHDR", header.data(), header.size());
  for (const auto& [chunk, before] : layout.extra)
    if (before) png.append(chunk);
  if (!layout.palette.empty()) appendChunk(png, "PLTE", layout.palette.data(), layout.palette.size());
  if (layout.transparency) appendChunk(png, "tRNS", layout.transparent.data(), layout.transparent.size());
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
  QByteArray bytes = QByteArray::fromRawData(png.data(), static_cast<qsizetype>(png.size()));
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return;
  QImageReader reader(&buffer, "png");
  const QImage described = reader.read();
  if (described.isNull()) return;
  image.setColorSpace(described.colorSpace());
  image.setOffset(described.offset());
  for (const QString& key : described.textKeys()) image.setText(key, described.text(key));
}

// Whether row y of image, ARGB32 or RGB32 (which is opaque whatever its top byte), holds pixels.
bool sameRow(const QImage& image, int y, const uint32_t* pixels) {
  const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
  const uint32_t opaque = image.format() == QImage::Format_RGB32 ? 0xff000000u : 0;
  for (int x = 0; x < image.width(); ++x)
    if ((row[x] | opaque) != pixels[x]) return false;
  return true;
}

}  // namespace

std::optional<QImage> decodeLayout(const Layout& layout) {
  std::optional<QImage> decoded = layout.colourType == 6 && layout.depth == 8 && !layout.interlaced
                                      ? decodeRgbaInPlace(layout)
                                      : decodeAnyRows(layout);
  if (!decoded) return std::nullopt;
  if (layout.dotsPerMeterX > 0) decoded->setDotsPerMeterX(layout.dotsPerMeterX);
  if (layout.dotsPerMeterY > 0) decoded->setDotsPerMeterY(layout.dotsPerMeterY);
  return decoded;
}

QImage decodePixels(std::string_view png, bool checkCrc) {
  Layout layout;
  if (!readLayout(png, layout, checkCrc).empty()) return {};
  std::optional<QImage> image = decodeLayout(layout);
  if (!image) return {};
  addMetadata(layout, *image);
  return std::move(*image);
}

bool decodesTo(std::string_view png, const QImage& image) {
  Layout layout;
  if (!readLayout(png, layout).empty() || layout.width != static_cast<uint32_t>(image.width()) ||
      layout.height != static_cast<uint32_t>(image.height()))
    return false;
  if (image.format() != QImage::Format_ARGB32 && image.format() != QImage::Format_RGB32)
    return decodesTo(png, image.convertToFormat(QImage::Format_ARGB32));
  if (layout.interlaced) {
    const std::optional<QImage> decoded = decodeLayout(layout);
    if (!decoded) return false;
    for (int y = 0; y < image.height(); ++y)
      if (!sameRow(image, y, reinterpret_cast<const uint32_t*>(decoded->constScanLine(y)))) return false;
    return true;
  }
  // Row by row: only the inflated rows are held, in a buffer the thread keeps.
  const RowConverter converter(layout);
  std::vector<uint32_t> pixels(layout.width);
  return forEachRow(layout, [&](const Pass&, size_t y, const unsigned char* samples) {
    return converter.convert(samples, layout.width, pixels.data(), 1) && sameRow(image, static_cast<int>(y), pixels.data());
  });
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
  appendBigEndian(out, libdeflate_crc32(0, out.data() + start, size + 4));
}

}  // namespace charstack::png
