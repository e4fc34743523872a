// The editor's PNG writer: the rows filtered as most encoders do, deflated with the coding that suits
// the picture.
#include <libdeflate.h>
#include <zlib.h>

#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QImageWriter>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/parallel.hpp"
#include "platform/png.hpp"

namespace charstack::png {

namespace {

// libdeflate's compressors are not to be shared between threads: each thread keeps its own.
struct CompressorFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

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
  thread_local std::unique_ptr<libdeflate_compressor, CompressorFree> probe(libdeflate_alloc_compressor(kProbeLevel));
  thread_local std::unique_ptr<libdeflate_compressor, CompressorFree> repeats(libdeflate_alloc_compressor(kRepeatsLevel));
  return level == kProbeLevel ? probe.get() : repeats.get();
}

// A buffer that only grows, its bytes left as they are: a thread keeps its buffers for the next
// picture (fresh memory for every picture costs the time of a deflate pass in page faults), unless
// they grew beyond what a picture of two megapixels needs.
class Buffer {
 public:
  unsigned char* room(size_t size) {
    if (size > capacity_) {
      data_.reset(new (std::nothrow) unsigned char[size]);
      capacity_ = data_ ? size : 0;
    }
    return data_.get();
  }
  const unsigned char* data() const { return data_.get(); }
  void trim() {
    if (capacity_ > kKept) data_.reset(), capacity_ = 0;
  }

 private:
  static constexpr size_t kKept = size_t{8} << 20;
  std::unique_ptr<unsigned char[]> data_;
  size_t capacity_ = 0;
};

// Deflated data in a buffer: its size, 0 when the deflating failed.
struct Deflated {
  const Buffer* buffer;
  size_t size = 0;
  const unsigned char* data() const { return buffer->data(); }
};

// zlib's run-length stream, set up once for each thread and reset for each use: with zlib's wrapper
// (windowBits 15) or raw (-15).
struct RunsStream {
  z_stream zs{};
  bool ready;
  explicit RunsStream(int windowBits)
      : ready(deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_RLE) == Z_OK) {}
  RunsStream(const RunsStream&) = delete;
  RunsStream& operator=(const RunsStream&) = delete;
  ~RunsStream() {
    if (ready) deflateEnd(&zs);
  }
};

// zlib run-length data of size bytes at data, into out.
Deflated deflateRuns(const unsigned char* data, size_t size, Buffer& out) {
  thread_local RunsStream stream(15);
  z_stream& zs = stream.zs;
  if (!stream.ready || size > UINT32_MAX || deflateReset(&zs) != Z_OK) return {&out};
  const size_t bound = std::min<size_t>(deflateBound(&zs, static_cast<uLong>(size)), UINT32_MAX);
  unsigned char* room = out.room(bound);
  if (!room) return {&out};
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = static_cast<uInt>(size);
  zs.next_out = room;
  zs.avail_out = static_cast<uInt>(bound);
  return {&out, deflate(&zs, Z_FINISH) == Z_STREAM_END ? static_cast<size_t>(zs.total_out) : 0};
}

// libdeflate's zlib data at a level of size bytes at data, into out.
Deflated deflateLevel(int level, const unsigned char* data, size_t size, Buffer& out) {
  libdeflate_compressor* compressor = threadCompressor(level);
  if (!compressor) return {&out};
  const size_t bound = libdeflate_zlib_compress_bound(compressor, size);
  unsigned char* room = out.room(bound);
  if (!room) return {&out};
  return {&out, libdeflate_zlib_compress(compressor, data, size, room, bound)};
}

// What the writer keeps on each thread for the next picture.
struct Scratch {
  Buffer filtered, sample, best, other;
  std::vector<unsigned char> previous, current, trials;  // rows for filterRow
  void trim() {
    for (Buffer* b : {&filtered, &sample, &best, &other}) b->trim();
  }
};

Scratch& threadScratch() {
  thread_local Scratch scratch;
  return scratch;
}

// Every eighth band of rows, a band being a 64th of the rows (at least one): an eighth of the data,
// spread from the top of the picture to its bottom, which the coding is chosen on. Its size.
size_t sampleOf(const unsigned char* data, size_t rows, size_t rowSize, Buffer& out) {
  const size_t band = std::max<size_t>(1, rows / 64);
  unsigned char* sample = out.room((rows / 8 + band) * rowSize);
  if (!sample) return 0;
  size_t size = 0;
  for (size_t y = 0; y < rows; y += 8 * band) {
    const size_t bytes = std::min(band, rows - y) * rowSize;
    std::memcpy(sample + size, data + y * rowSize, bytes);
    size += bytes;
  }
  return size;
}

enum class Coding { Repeats, Runs, Both };

// Which coding the picture gets, from how its sample deflates: the probe (libdeflate's fastest level)
// and, unless the probe shrinks it below a quarter, runs. Repeats (level 7) where the probe clearly
// beats the runs, runs where the runs clearly beat the probe, both where they come within 5% of
// each other. Pictures of gradients with noise come out at about 1.09 (probe to runs), patterned art
// at 0.23 to 0.42, characters stacked of both at 0.75 to 0.95: each gets the coding that is smallest
// for the whole picture, as both codings of every picture would give, at about half their time.
Coding codingOf(const unsigned char* data, size_t rows, size_t rowSize, Scratch& scratch) {
  const size_t size = sampleOf(data, rows, rowSize, scratch.sample);
  const unsigned char* sample = scratch.sample.data();
  const size_t probe = size ? deflateLevel(kProbeLevel, sample, size, scratch.other).size : 0;
  if (probe == 0) return Coding::Both;
  if (probe < size / 4) return Coding::Repeats;
  const size_t runs = deflateRuns(sample, size, scratch.other).size;
  if (runs == 0) return Coding::Both;
  if (20 * probe <= 19 * runs) return Coding::Repeats;
  if (20 * probe >= 21 * runs) return Coding::Runs;
  return Coding::Both;
}

// zlib data of the filtered rows (rows of rowSize bytes each), as above, in one of scratch's
// buffers; the smaller data where both codings are tried. Its size is 0 on failure.
Deflated deflateRows(const unsigned char* data, size_t rows, size_t rowSize, Scratch& scratch) {
  const size_t size = rows * rowSize;
  const Coding coding = codingOf(data, rows, rowSize, scratch);
  Deflated best{&scratch.best};
  if (coding != Coding::Runs) best = deflateLevel(kRepeatsLevel, data, size, scratch.best);
  if (coding != Coding::Repeats || best.size == 0) {
    const Deflated runs = deflateRuns(data, size, scratch.other);
    if (runs.size && (best.size == 0 || runs.size < best.size)) best = runs;
  }
  // Should one coding fail (memory running out), the other one.
  if (best.size == 0 && coding == Coding::Runs) best = deflateLevel(kRepeatsLevel, data, size, scratch.best);
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

// The RGBA (or RGB) bytes of row y of a picture.
void rawRow(const PixelRows& rows, int y, unsigned char* out) {
  thread_local std::vector<uint32_t> room;
  room.resize(static_cast<size_t>(rows.width));
  const uint32_t* src = rows.row(y, room.data());
  const int width = rows.width;
  if (rows.alpha) {
    for (int x = 0; x < width; ++x, out += 4) {
      const uint32_t p = src[x];
      out[0] = static_cast<unsigned char>(p >> 16);
      out[1] = static_cast<unsigned char>(p >> 8);
      out[2] = static_cast<unsigned char>(p);
      out[3] = static_cast<unsigned char>(p >> 24);
    }
  } else {
    for (int x = 0; x < width; ++x, out += 3) {
      const uint32_t p = src[x];
      out[0] = static_cast<unsigned char>(p >> 16);
      out[1] = static_cast<unsigned char>(p >> 8);
      out[2] = static_cast<unsigned char>(p);
    }
  }
}

// The chunks around the deflated rows: IHDR, pHYs for the picture's resolution, IDAT (in chunks of at
// most a megabyte) and IEND.
std::string assemble(const PixelRows& image, const unsigned char* rows, size_t size) {
  std::string png;
  png.reserve(size + 128 + size / (1u << 20) * 12);
  png.append(kSignature);
  std::string header;
  appendBigEndian(header, static_cast<uint32_t>(image.width));
  appendBigEndian(header, static_cast<uint32_t>(image.height));
  header += static_cast<char>(8);                    // bits per sample
  header += static_cast<char>(image.alpha ? 6 : 2);  // RGBA or RGB
  header.append(3, '\0');                            // deflate, adaptive filtering, not interlaced
  appendChunk(png, "IHDR", header.data(), header.size());
  if (image.dotsPerMeterX > 0 || image.dotsPerMeterY > 0) {
    std::string phys;
    appendBigEndian(phys, static_cast<uint32_t>(image.dotsPerMeterX));
    appendBigEndian(phys, static_cast<uint32_t>(image.dotsPerMeterY));
    phys += static_cast<char>(1);  // per metre
    appendChunk(png, "pHYs", phys.data(), phys.size());
  }
  const auto* data = reinterpret_cast<const char*>(rows);
  for (size_t at = 0; at < size; at += 1u << 20)
    appendChunk(png, "IDAT", data + at, std::min<size_t>(size - at, 1u << 20));
  appendChunk(png, "IEND", nullptr, 0);
  return png;
}

// Each row filtered as filterRow does, the whole deflated as deflateRows does.
std::optional<std::string> encodeWhole(const PixelRows& image, size_t bpp, Scratch& scratch) {
  const size_t height = static_cast<size_t>(image.height);
  const size_t rowBytes = static_cast<size_t>(image.width) * bpp;
  unsigned char* filtered = scratch.filtered.room(height * (rowBytes + 1));
  if (!filtered) return std::nullopt;
  scratch.previous.assign(rowBytes, 0);
  scratch.current.resize(rowBytes);
  for (size_t y = 0; y < height; ++y) {
    rawRow(image, static_cast<int>(y), scratch.current.data());
    filterRow(scratch.current.data(), scratch.previous.data(), rowBytes, bpp, filtered + y * (rowBytes + 1),
              scratch.trials);
    scratch.current.swap(scratch.previous);
  }
  const Deflated rows = deflateRows(filtered, height, rowBytes + 1, scratch);
  if (!rows.size) return std::nullopt;
  return assemble(image, rows.data(), rows.size);
}

// ---- Big pictures, in bands of rows on all cores -------------------------------------------------

// Pictures of at least this many bytes of filtered rows (a megapixel) are filtered, deflated and
// checked in bands of rows, each band on its own and on any core: one deflate stream whose bands
// start afresh, each ending on a byte. Smaller pictures, which Export All writes by the hundred, keep
// to one thread each, as above.
constexpr size_t kBandedFrom = size_t{4} << 20;
// A band's rows hold about this many filtered bytes.
constexpr size_t kBandBytes = size_t{1} << 20;

// A big picture and how its rows (rowBytes bytes, one more filtered) fall into bands of bandRows.
struct Banded {
  const PixelRows& image;
  size_t bpp, rowBytes, rows, bandRows;
  size_t rowSize() const { return rowBytes + 1; }
  size_t bands() const { return (rows + bandRows - 1) / bandRows; }
  size_t first(size_t band) const { return band * bandRows; }
  size_t count(size_t band) const { return std::min(bandRows, rows - first(band)); }
  size_t bytes(size_t band) const { return count(band) * rowSize(); }
};

// Filters the rows of a band into filtered, as encodeWhole does.
void filterBand(const Banded& b, size_t band, unsigned char* filtered) {
  thread_local std::vector<unsigned char> previous, current, trials;
  previous.assign(b.rowBytes, 0);
  current.resize(b.rowBytes);
  const size_t first = b.first(band);
  if (first > 0) rawRow(b.image, static_cast<int>(first - 1), previous.data());
  for (size_t y = 0; y < b.count(band); ++y) {
    rawRow(b.image, static_cast<int>(first + y), current.data());
    filterRow(current.data(), previous.data(), b.rowBytes, b.bpp, filtered + y * b.rowSize(), trials);
    current.swap(previous);
  }
}

// A band's zlib run-length data, raw: ending the stream (last) or, as zlib's sync flush leaves it,
// after an empty stored block that ends on a byte.
bool deflateRunsBand(const unsigned char* data, size_t size, bool last, std::vector<unsigned char>& out) {
  thread_local RunsStream stream(-15);
  z_stream& zs = stream.zs;
  if (!stream.ready || size > UINT32_MAX / 2 || deflateReset(&zs) != Z_OK) return false;
  out.resize(deflateBound(&zs, static_cast<uLong>(size)) + 16);
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = static_cast<uInt>(size);
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&zs, last ? Z_FINISH : Z_SYNC_FLUSH);
  if (last ? status != Z_STREAM_END : status != Z_OK || zs.avail_in != 0 || zs.avail_out == 0) return false;
  out.resize(zs.total_out);
  return true;
}

// A band's libdeflate data at a level, raw, ending the stream (see goOn).
bool deflateLevelBand(int level, const unsigned char* data, size_t size, std::vector<unsigned char>& out) {
  libdeflate_compressor* compressor = threadCompressor(level);
  if (!compressor) return false;
  out.resize(libdeflate_deflate_compress_bound(compressor, size));
  const size_t written = libdeflate_deflate_compress(compressor, data, size, out.data(), out.size());
  out.resize(written);
  return written != 0;
}

// A band's deflate data in its coding, ending the stream (runs that go on end with a sync flush
// instead). A band has its own coding, chosen from its own rows as a picture's is, so that a sheet
// of many pictures side by side codes each band of them as suits it. Where neither coding clearly
// wins, the band mixes repeats with noise: it is coded once, at the probe's level, which for such
// bands comes within 1% of the smaller of both codings at about half their time (a sprite sheet of
// noisy and patterned frames side by side: 30.10 MB against 30.02 MB; level 7 alone gave 30.36 MB).
// Should a coding fail (memory running out), the other one.
bool deflateBand(Coding coding, const unsigned char* data, size_t size, bool last, std::vector<unsigned char>& out) {
  if (coding == Coding::Runs && deflateRunsBand(data, size, last, out)) return true;
  if (deflateLevelBand(coding == Coding::Repeats ? kRepeatsLevel : kProbeLevel, data, size, out)) return true;
  return coding != Coding::Runs && deflateRunsBand(data, size, last, out);
}

// How a band's deflate data inflated, block by block: whether to exactly its rows and all of it,
// ending after a whole block; where the header of the final block lies (in bits; none when the data
// goes on) and how many bits of the last byte are spare.
struct Inflated {
  bool whole = false;
  size_t finalHeader = SIZE_MAX;
  int spare = 0;
};

// Inflates a band's raw deflate data of size filtered bytes into rows (room for one byte more).
Inflated inflateBand(const std::vector<unsigned char>& data, size_t size, unsigned char* rows) {
  Inflated result;
  z_stream zs{};
  if (data.size() > UINT32_MAX || size >= UINT32_MAX || inflateInit2(&zs, -15) != Z_OK) return result;
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = rows;
  zs.avail_out = static_cast<uInt>(size + 1);
  size_t header = 0;  // the bit offset of the next block's header
  bool between = false;
  int status = Z_OK;
  while (status == Z_OK && (zs.avail_in > 0 || result.finalHeader != SIZE_MAX)) {
    status = inflate(&zs, Z_BLOCK);
    between = status == Z_STREAM_END || (status == Z_OK && (zs.data_type & 128));
    if (status != Z_OK || !(zs.data_type & 128)) continue;  // not after a block
    result.spare = zs.data_type & 7;
    if (zs.data_type & 64) result.finalHeader = header;
    header = (data.size() - zs.avail_in) * 8 - static_cast<size_t>(result.spare);
  }
  const bool ended = status == Z_STREAM_END;
  const bool goesOn = status == Z_OK && result.finalHeader == SIZE_MAX && result.spare == 0;
  result.whole = (ended || goesOn) && between && zs.avail_in == 0 && zs.total_out == size;
  inflateEnd(&zs);
  return result;
}

// Makes raw deflate data that ends the stream go on instead, as zlib's sync flush leaves it: its
// final block's flag cleared, and the spare bits of its last byte (with one more byte where they are
// fewer than a block header's three) begin an empty stored block.
void goOn(std::vector<unsigned char>& data, const Inflated& inflated) {
  data[inflated.finalHeader / 8] &= static_cast<unsigned char>(~(1u << (inflated.finalHeader % 8)));
  data.back() &= static_cast<unsigned char>(0xff >> inflated.spare);
  if (inflated.spare < 3) data.push_back(0);
  data.insert(data.end(), {0, 0, 0xff, 0xff});
}

// Whether inflated rows of a band, unfiltered, are exactly the picture's pixels.
bool unfiltersTo(const Banded& b, size_t band, unsigned char* rows) {
  thread_local std::vector<unsigned char> pixels;
  pixels.resize(2 * b.rowBytes);
  unsigned char *prior = pixels.data(), *pixel = prior + b.rowBytes;
  std::memset(prior, 0, b.rowBytes);
  const size_t first = b.first(band);
  if (first > 0) rawRow(b.image, static_cast<int>(first - 1), prior);
  for (size_t y = 0; y < b.count(band); ++y) {
    unsigned char* row = rows + y * b.rowSize();
    rawRow(b.image, static_cast<int>(first + y), pixel);
    if (!unfilterRow(row[0], row + 1, prior, b.rowBytes, b.bpp) || std::memcmp(row + 1, pixel, b.rowBytes) != 0)
      return false;
    std::swap(prior, pixel);
  }
  return true;
}

// A band's deflate data, the Adler-32 of its filtered rows and whether it is coded in runs.
struct Band {
  std::vector<unsigned char> data;
  uint32_t adler = 1;
  bool runs = false;
};

// Filters a band's rows, chooses its coding and deflates it; then checks that its data inflates by
// itself to rows that unfilter to exactly the picture's pixels, and ends the stream (the last band)
// or stops on a byte between blocks, where the next band's data goes on. Data that ends the stream
// where it must go on is made to (see goOn), once its blocks are found by that inflating.
bool encodeBand(const Banded& b, size_t band, Band& out) {
  Scratch& scratch = threadScratch();
  const size_t size = b.bytes(band);
  unsigned char* filtered = scratch.filtered.room(size);
  unsigned char* inflated = scratch.best.room(size + 1);
  if (!filtered || !inflated) return false;
  filterBand(b, band, filtered);
  const Coding coding = codingOf(filtered, b.count(band), b.rowSize(), scratch);
  const bool last = band + 1 == b.bands();
  if (!deflateBand(coding, filtered, size, last, out.data)) return false;
  out.runs = coding == Coding::Runs;
  out.adler = libdeflate_adler32(1, filtered, size);
  const Inflated result = inflateBand(out.data, size, inflated);
  if (!result.whole || (last && result.finalHeader == SIZE_MAX)) return false;
  if (!last && result.finalHeader != SIZE_MAX) goOn(out.data, result);
  return std::memcmp(inflated, filtered, size) == 0 && unfiltersTo(b, band, inflated);
}

// Whether PNG data is sound, CRCs included, and its IDAT chunks hold exactly the zlib stream.
bool holds(std::string_view png, std::string_view zlib) {
  Layout layout;
  if (!readLayout(png, layout).empty()) return false;
  size_t at = 0;
  for (std::string_view chunk : layout.data) {
    if (zlib.substr(at, chunk.size()) != chunk) return false;
    at += chunk.size();
  }
  return at == zlib.size();
}

// The zlib stream of a big picture's bands: its header, the bands' data in order and the Adler-32
// of the filtered rows, made of the bands' own.
std::string zlibStream(const Banded& b, const std::vector<Band>& bands) {
  size_t size = 6;
  bool runs = true;
  for (const Band& band : bands) size += band.data.size(), runs = runs && band.runs;
  std::string zlib;
  zlib.reserve(size);
  zlib += '\x78';
  zlib += static_cast<char>(runs ? 0x01 : 0xda);  // the level as zlib's header says it
  uint32_t adler = 1;
  for (size_t i = 0; i < bands.size(); ++i) {
    zlib.append(reinterpret_cast<const char*>(bands[i].data.data()), bands[i].data.size());
    adler = static_cast<uint32_t>(adler32_combine(adler, bands[i].adler, static_cast<z_off_t>(b.bytes(i))));
  }
  appendBigEndian(zlib, adler);
  return zlib;
}

// A picture's PNG data, its bands filtered, deflated and checked on up to `threads` threads.
std::optional<std::string> encodeInBands(const Banded& b, size_t threads) {
  std::vector<Band> bands(b.bands());
  std::atomic<bool> failed{false};
  parallelFor(
      b.bands(), [&](size_t i) { failed = failed || !encodeBand(b, i, bands[i]); }, threads);
  if (failed) return std::nullopt;
  const std::string zlib = zlibStream(b, bands);
  bands.clear();
  std::string png = assemble(b.image, reinterpret_cast<const unsigned char*>(zlib.data()), zlib.size());
  if (!holds(png, zlib)) return std::nullopt;
  return png;
}

std::optional<std::string> encodeBanded(const PixelRows& rows, size_t threads) {
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  const size_t bpp = rows.alpha ? 4 : 3, rowSize = static_cast<size_t>(rows.width) * bpp + 1;
  const Banded banded{rows, bpp, rowSize - 1, static_cast<size_t>(rows.height),
                      std::max<size_t>(1, kBandBytes / rowSize)};
  return encodeInBands(banded, threads);
}

}  // namespace

std::optional<std::string> encodeRowsInBands(const PixelRows& rows, size_t threads) {
  if (rows.width <= 0 || rows.height <= 0 || !rows.row) return std::nullopt;
  std::optional<std::string> png = encodeBanded(rows, threads);
  threadScratch().trim();
  return png;
}

// The chunks are the ones Qt's writer would give such an image; an image with anything more to say
// (a colour space, text, an offset) is left to Qt's writer.
std::optional<Encoded> encodeDirectly(const QImage& image, size_t threads) {
  const bool alpha = image.format() == QImage::Format_ARGB32;
  if (!alpha && image.format() != QImage::Format_RGB32) return std::nullopt;
  if (image.colorSpace().isValid() || !image.textKeys().isEmpty() || !image.offset().isNull()) return std::nullopt;
  if (image.width() == 0 || image.height() == 0) return std::nullopt;
  const auto row = [&image](int y, uint32_t*) {
    return reinterpret_cast<const uint32_t*>(image.constScanLine(y));
  };
  const PixelRows rows{image.width(), image.height(), alpha, image.dotsPerMeterX(), image.dotsPerMeterY(),
                       row};
  const size_t bpp = alpha ? 4 : 3;
  Scratch& scratch = threadScratch();
  std::optional<Encoded> png;
  if (static_cast<size_t>(image.height()) * (static_cast<size_t>(image.width()) * bpp + 1) < kBandedFrom) {
    if (std::optional<std::string> data = encodeWhole(rows, bpp, scratch)) png = Encoded{std::move(*data)};
  } else if (std::optional<std::string> data = encodeBanded(rows, threads)) {
    png = Encoded{std::move(*data), true};
  }
  scratch.trim();
  return png;
}

std::optional<std::string> encodeWithQt(const QImage& image) {
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


bool encodeStored(const QImage& image, std::string& png) {
  const bool alpha = image.format() == QImage::Format_ARGB32;
  if (!alpha && image.format() != QImage::Format_RGB32) return false;
  const size_t rowBytes = static_cast<size_t>(image.width()) * (alpha ? 4 : 3) + 1;  // and its filter byte
  const size_t size = static_cast<size_t>(image.height()) * rowBytes;
  const PixelRows pixels{image.width(), image.height(), alpha, image.dotsPerMeterX(), image.dotsPerMeterY(),
                         [&image](int y, uint32_t*) { return reinterpret_cast<const uint32_t*>(image.constScanLine(y)); }};
  // The chunks around the pixel data as every picture of the editor has them; IEND goes last again.
  png = assemble(pixels, nullptr, 0);
  png.resize(png.size() - 12);
  // One IDAT per stored block of the zlib stream: its header in the first, its Adler-32 in the last.
  // The rows go straight into them (png's memory is the caller's, kept from picture to picture).
  constexpr size_t kBlock = 65535;
  png.reserve(png.size() + size + (size / kBlock + 1) * 21 + 12);
  uLong adler = adler32(0, nullptr, 0);
  size_t put = 0, left = 0, type = 0, data = 0;  // stream bytes put; room, chunk and data of the open block
  const auto open = [&] {
    const size_t n = std::min(kBlock, size - put);
    const bool first = put == 0, last = put + n == size;
    appendBigEndian(png, static_cast<uint32_t>((first ? 2 : 0) + 5 + n + (last ? 4 : 0)));
    type = png.size();
    png += "IDAT";
    if (first) png += "\x78\x01";
    const char block[5] = {static_cast<char>(last), static_cast<char>(n & 0xff), static_cast<char>(n >> 8),
                           static_cast<char>(~n & 0xff), static_cast<char>((~n >> 8) & 0xff)};
    png.append(block, sizeof block);
    data = png.size(), left = n;
  };
  const auto close = [&] {
    adler = adler32(adler, reinterpret_cast<const Bytef*>(png.data() + data), static_cast<uInt>(png.size() - data));
    if (put == size) appendBigEndian(png, static_cast<uint32_t>(adler));
    appendBigEndian(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(png.data() + type),
                                                     static_cast<uInt>(png.size() - type))));
  };
  thread_local std::vector<unsigned char> row;
  row.resize(rowBytes);
  for (int y = 0; y < image.height(); ++y) {
    row[0] = 0;  // filter "none"
    rawRow(pixels, y, row.data() + 1);
    for (size_t at = 0; at < rowBytes;) {
      if (left == 0) open();
      const size_t n = std::min(rowBytes - at, left);
      png.append(reinterpret_cast<const char*>(row.data() + at), n);
      at += n, put += n, left -= n;
      if (left == 0) close();
    }
  }
  appendChunk(png, "IEND", nullptr, 0);
  return true;
}

}  // namespace charstack::png
