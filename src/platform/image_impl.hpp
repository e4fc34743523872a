// The toolkit side of Image. Only the platform layer includes this header.
#pragma once

#include <QImage>
#include <QSize>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "platform/image.hpp"

namespace charstack {

struct Image::Impl {
  // An image that holds its pixels from the start. image must be in a non-premultiplied 8-bit
  // format (ARGB32, or RGB32 without alpha).
  explicit Impl(QImage image);
  // An image decoded from PNG data that keeps only the data: its pixels are decoded again from it
  // when first needed. size, alpha and ratio are those of the image the data decodes to.
  Impl(std::string png, QSize size, bool alpha, qreal ratio);
  // An image whose file is read when it is first needed, whichever thread asks first: its data, size
  // and pixels come from the file then, as decodeImage makes them. A file that cannot be read as a
  // picture gives an empty image that says why (readProblem).
  explicit Impl(std::filesystem::path file);

  // The pixels exactly as decoded; this is what gets saved. An image that keeps PNG data decodes
  // them on the first call, once, whichever thread asks first.
  const QImage& qimage() const;

  // The same pixels for one use: the kept ones when they are decoded, else decoded now and not kept.
  QImage pixelsForOneUse() const;

  // A premultiplied copy for fast drawing, made on first use and kept. Never saved: premultiplying
  // loses the colour of transparent pixels. An image whose pixels are not decoded yet makes it
  // straight from its PNG data and still does not keep the pixels themselves.
  const QImage& premultiplied() const;
  // The same pixels for one drawing: the kept copy when there is one, else a copy made now and not
  // kept (an export drawing a picture once holds it only while it draws).
  QImage premultipliedForOneUse() const;

  // The exact PNG data the image was decoded from, if it came from PNG.
  const std::optional<std::string>& pngData() const { return read(), png_; }

  QSize pixelSize() const { return read(), size_; }
  qreal devicePixelRatio() const { return ratio_; }

  // For an image read from a file: why the file is no picture (empty when it is one), and what a PNG
  // save of it would not keep. Reading it first when it has not been read.
  const std::string& readProblem() const { return read(), problem_; }
  const std::string& readLoss() const { return read(), loss_; }

  // Whether the pixels are held now (tests check that loading and saving leave them alone).
  bool pixelsLoaded() const { return pixelsLoaded_.load(std::memory_order_acquire); }
  // Whether the kept PNG data failed to decode when its pixels were asked for (they are transparent),
  // or the image's file could not be read.
  bool decodeFailed() const { return read(), decodeFailed_.load(std::memory_order_acquire); }

 private:
  // Reads the image's file, once; nothing for an image that did not come from a file.
  void read() const {
    if (file_ && !readDone_.load(std::memory_order_acquire)) readFile();
  }
  void readFile() const;
  // The pixels decoded from the PNG data, in the format they are kept in.
  QImage decodePng() const;

  const std::optional<std::filesystem::path> file_;
  mutable std::once_flag readOnce_;
  mutable std::atomic<bool> readDone_{false};
  // Set at construction, or once when the file is read.
  mutable std::optional<std::string> png_;
  mutable QSize size_;
  mutable bool alpha_ = false;
  const qreal ratio_ = 1.0;
  mutable std::string problem_, loss_;

  mutable std::once_flag pixelsOnce_;
  mutable std::atomic<bool> pixelsLoaded_;
  mutable QImage pixels_;

  mutable std::atomic<bool> decodeFailed_{false};

  mutable std::once_flag premultipliedOnce_;
  mutable std::atomic<bool> premultipliedKept_{false};
  mutable QImage premultipliedCopy_;
};

// An Image from a toolkit image (a drop or a paste), converted without loss to a non-premultiplied
// format. None when the image is null or larger than kMaxImagePixels.
ImageRef imageFromQImage(QImage image);

}  // namespace charstack
