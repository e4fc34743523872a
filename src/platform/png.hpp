// The editor's own PNG reader (png_decode.cpp) and writer (png_encode.cpp), for image.cpp. Only the
// platform layer includes this header.
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace charstack::png {

inline constexpr std::string_view kSignature("\x89PNG\r\n\x1a\n", 8);
inline constexpr const char* kUnreadable = "is not an image the editor can read";

// What the chunks of PNG data say, read without inflating the pixels.
struct Layout {
  uint32_t width = 0;
  uint32_t height = 0;
  int depth = 0;
  int colourType = 0;
  bool interlaced = false;
  bool transparency = false;     // a tRNS chunk
  std::string_view palette;      // the PLTE chunk's contents
  std::string_view transparent;  // the tRNS chunk's contents
  // The chunks besides IHDR, PLTE, tRNS, pHYs, IDAT and IEND (text, a colour profile, an offset),
  // whole, and whether each came before the image data: what the toolkit's reader takes from the file
  // besides the pixels, which it is asked for on a picture of one pixel (see decodePixels).
  std::vector<std::pair<std::string_view, bool>> extra;
  int dotsPerMeterX = 0;  // from pHYs when it counts per metre; 0 otherwise
  int dotsPerMeterY = 0;
  std::vector<std::string_view> data;  // the IDAT chunks' contents in order

  bool alpha() const { return colourType == 4 || colourType == 6 || transparency; }
};

// Reads the chunks of PNG data: the signature, a sane IHDR within the size bound, every chunk whole
// with its CRC (when checkCrc), a palette where one is needed, IDAT chunks in one run beginning a
// valid zlib stream, and IEND. Bytes after IEND are ignored, as other readers do. Returns why the
// data is no picture the editor opens, phrased to follow a file name; empty when it is sound.
std::string readLayout(std::string_view png, Layout& layout, bool checkCrc = true);

// Decodes the pixels of PNG data whose structure readLayout accepted, whatever its colour type, bit
// depth, transparency and interlacing, to ARGB32 (with an alpha channel or a transparent colour) or
// RGB32, with the file's resolution. 16-bit samples are rounded to the nearest 8-bit value. None when
// the data does not inflate to exactly the rows the header announces, a row has an unknown filter,
// or a palette index lies beyond the palette.
std::optional<QImage> decodeLayout(const Layout& layout);

// The pixels of PNG data in their stored format with what the file says beside them (text, a colour
// space, an offset), or a null image when the data does not decode. checkCrc: whether the chunks'
// CRCs are checked again (data read at load was checked then and is not changed since).
QImage decodePixels(std::string_view png, bool checkCrc);

// Whether PNG data is sound, CRCs included, and decodes to exactly the pixels of image (ARGB32 or
// RGB32), without keeping a decoded copy.
bool decodesTo(std::string_view png, const QImage& image);

// PNG data written by the editor, and whether the writer has already checked that it decodes to
// exactly the image's pixels (a big picture's, band by band on all cores; see encodeDirectly).
struct Encoded {
  std::string data;
  bool checked = false;
};

// A picture as the writer reads it, row by row: row(y, room) gives row y's width pixels as ARGB32
// (with alpha: RGBA data) or RGB32 (RGB data), written into room (width of them) or kept elsewhere.
// row is called from several threads at once. The resolution goes into pHYs when either is set.
struct PixelRows {
  int width = 0, height = 0;
  bool alpha = true;
  int dotsPerMeterX = 0, dotsPerMeterY = 0;
  std::function<const uint32_t*(int y, uint32_t* room)> row;
};

// The PNG data of such a picture, filtered, deflated and checked in bands of rows on up to `threads`
// threads (0: the machine's cores) as a big picture's (see encodeDirectly), whatever its size: no
// picture of the whole is ever held. Its bytes are the same whatever the number of threads.
std::optional<std::string> encodeRowsInBands(const PixelRows& rows, size_t threads = 0);

// The PNG data of an ARGB32 (RGBA) or RGB32 (RGB) image, written by the editor; none for another
// format or an image with more to say than its pixels and resolution (see encodeWithQt). A big
// picture is filtered, deflated and checked in bands on up to `threads` threads (0: the machine's
// cores); its bytes are the same whatever the number.
std::optional<Encoded> encodeDirectly(const QImage& image, size_t threads = 0);
// The same with the rows unfiltered and stored in the zlib stream, not compressed: about as fast as
// copying them. Into png, whose memory is reused; false for another format.
bool encodeStored(const QImage& image, std::string& png);
// The same written by the toolkit's writer, which keeps a colour space, text and an offset too.
std::optional<std::string> encodeWithQt(const QImage& image);

// Undoes a row's filter in place; prior is the row above, unfiltered (zeros for the first row).
// False for an unknown filter.
bool unfilterRow(int filter, unsigned char* row, const unsigned char* prior, size_t size, size_t bpp);

// The chunk helpers both sides use.
inline uint32_t bigEndian(const unsigned char* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
void appendBigEndian(std::string& out, uint32_t v);
void appendChunk(std::string& out, const char* type, const char* body, size_t size);

}  // namespace charstack::png
