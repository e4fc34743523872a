// The toolkit side of Image. Only the platform layer includes this header.
#pragma once

#include <QImage>

#include <mutex>
#include <optional>
#include <string>

#include "platform/image.hpp"

namespace charstack {

struct Image::Impl {
  // image must be in a non-premultiplied 8-bit format (ARGB32, or RGB32 without alpha).
  // png holds the exact PNG data the image was decoded from, if it came from PNG.
  Impl(QImage image, std::optional<std::string> png) : decoded(std::move(image)), pngBytes(std::move(png)) {}

  // The pixels exactly as decoded; this is what gets saved.
  const QImage& qimage() const { return decoded; }

  // A premultiplied copy for fast drawing, made on first use. Never saved: premultiplying loses
  // the colour of transparent pixels.
  const QImage& premultiplied() const {
    std::call_once(premultipliedOnce, [this] {
      premultipliedCopy = decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    });
    return premultipliedCopy;
  }

  QImage decoded;
  std::optional<std::string> pngBytes;

 private:
  mutable std::once_flag premultipliedOnce;
  mutable QImage premultipliedCopy;
};

// An Image from a toolkit image (a drop or a paste), converted without loss to a non-premultiplied
// format. None when the image is null.
ImageRef imageFromQImage(QImage image);

}  // namespace charstack
