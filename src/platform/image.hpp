// Shared, immutable images. The toolkit's image type stays behind this interface.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace charstack {

class Image;
using ImageRef = std::shared_ptr<const Image>;

class Image {
 public:
  struct Impl;  // defined in image_impl.hpp, visible to the platform layer only
  explicit Image(std::unique_ptr<Impl> impl);
  ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  // Size in pixels.
  int pixelWidth() const;
  int pixelHeight() const;
  // Natural size in view units: the size at which the canvas draws the image.
  double width() const;
  double height() const;

  // A pixel as non-premultiplied 0xAARRGGBB.
  uint32_t pixel(int x, int y) const;
  // Same size and the same non-premultiplied pixels.
  bool samePixels(const Image& other) const;

  // An image opened from a file (openImageFile) is read when first needed: why the file is no picture
  // (empty when it is one, or the image did not come from a file), and what a PNG save of it would not
  // keep. Both read the file now when it has not been read.
  std::string readProblem() const;
  std::string readLoss() const;

  const Impl& impl() const { return *impl_; }

  // A number no other image of this process has: tells images apart even when one is freed and a
  // new one later takes its address.
  uint64_t serial() const { return serial_; }

 private:
  static uint64_t nextSerial() {
    static std::atomic<uint64_t> counter{0};
    return ++counter;
  }

  std::unique_ptr<Impl> impl_;
  uint64_t serial_ = nextSerial();
};

// The largest picture the editor opens, in pixels (8192 x 8192: 256 MB of pixels).
inline constexpr int64_t kMaxImagePixels = int64_t{8192} * 8192;

// What decoding image data found.
struct DecodedImage {
  ImageRef image;       // none when the data does not decode
  std::string problem;  // why there is no image, for messages ("is too large to open: 20000x20000")
  std::string loss;     // what a PNG save of the image would not keep ("has 3 frames: ..."); usually empty
};
// The format is detected from the content (PNG, JPEG, GIF, BMP and, with Qt's image format plugins,
// WebP, TIFF and more); formatHint names one to try when the content does not tell (TGA's does not).
DecodedImage decodeImage(std::string_view bytes, std::string_view formatHint = {});
// The same for data that is no longer needed: PNG data is kept without a copy.
DecodedImage decodeImage(std::string&& bytes);

// Decodes an image file whatever its name: the format is detected from the content, or else from
// the name's suffix (a ".tga" file). None when the file is missing or does not decode.
ImageRef decodeImageFile(const std::filesystem::path& path);
// Decodes image data held in memory. None when it does not decode.
ImageRef decodeImageData(std::string_view bytes);
// The same as pixels alone, keeping none of the data: a picture read back from a quick copy
// (encodePngQuickly) is compressed anew when it is saved.
ImageRef decodeImagePixels(std::string_view bytes);

// An image of a file that is read, and checked as decodeImage checks data, only when first needed
// (its size, its pixels, its data): opening a project of many pictures reads none of them. A file
// that turns out to be no picture gives an empty image whose readProblem says why.
ImageRef openImageFile(const std::filesystem::path& path);

// PNG data that decodes back to the same pixels at the same size, alpha included. None on failure.
std::optional<std::string> encodePng(const Image& image);
// The same, quick to write and to read: the rows are stored, not compressed (the image's own PNG data
// when it came from some). For copies that live a short while, such as the recovery of unsaved work.
// Into png, whose memory is reused; false on failure.
bool encodePngQuickly(const Image& image, std::string& png);

// One image of a picture being composed: drawn at its natural size, top-left corner at (x, y).
struct PlacedImage {
  const Image* image = nullptr;
  double x = 0;
  double y = 0;
  // Whether the pixels decoded for drawing stay with the image for later drawings (a picture drawn
  // again, as the canvas does) or go when this composition is done (a picture drawn once).
  bool keepDecoded = true;
};

// A picture made of images drawn one over the other.
struct ComposedImage {
  ImageRef image;    // none when nothing was drawn or the picture could not be made
  int64_t left = 0;  // where the picture's top-left pixel lies among the placed images
  int64_t top = 0;
  std::string problem;  // why there is no picture although there were images to draw
};

// Draws the images in order, source-over at full opacity and at their natural sizes, onto a
// transparent picture just large enough to hold them all: the same pixels a canvas at 100% shows
// where they lie, transparent elsewhere, kept non-premultiplied. The drawing is exact to rounding:
// an image alone keeps every pixel's RGBA (a pixel of alpha 0 becomes 0,0,0,0), and layers come
// within 1 of exact source-over on every channel. The picture always has the same
// resolution (72 dpi), so that the same images give the same PNG data anywhere. An image whose kept
// data no longer decodes gives no picture (a problem) rather than one with a transparent hole. Safe
// to call from several threads at once, also with the same images.
ComposedImage composeImages(const std::vector<PlacedImage>& images);

// The same drawing on the part of the canvas from (left, top), width x height units: what the canvas
// shows there at 100%. A picture whose data no longer decodes is left out (transparent). None when
// the part is empty or larger than kMaxImagePixels.
ImageRef composeRegion(const std::vector<PlacedImage>& images, int64_t left, int64_t top, int width, int height);

// The PNG data of one picture of width x height that holds each image (a composed picture) at its
// place, at whole pixels, inside the picture and apart from the others, and is transparent elsewhere,
// at the resolution of composed pictures. Its rows are made from the images as they are written, in
// bands on up to `threads` threads (0: the machine's cores), and the data is checked as it is
// written; its bytes are the same whatever the number. None when an image does not fit or the
// picture could not be written.
std::optional<std::string> encodeSheetPng(int width, int height, const std::vector<PlacedImage>& images,
                                          size_t threads = 0);

// An image from non-premultiplied 0xAARRGGBB pixels, row by row (width * height values).
ImageRef makeImage(int width, int height, const std::vector<uint32_t>& argb);

}  // namespace charstack
