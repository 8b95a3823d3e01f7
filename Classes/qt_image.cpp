#include "qt_image.h"

#include <cstring>

namespace duo {

namespace {

// The engine leaves the fourth byte of a pixel unspecified (renderers may leave it 0); Qt's
// RGBX format wants 255 there and, when scaling, would read anything else as transparency.
bool fourthBytesAreOpaque(const Image& image) {
  const std::uint8_t* bytes = image.data();
  const std::size_t count = image.byteCount();
  for (std::size_t i = 3; i < count; i += 4)
    if (bytes[i] != 0xFF) return false;
  return true;
}

}  // namespace

QImage toQImage(const Image& image) {
  if (image.isNull()) return {};
  QImage copy(image.width(), image.height(), QImage::Format_RGBX8888);
  if (copy.isNull()) return {};
  for (int y = 0; y < image.height(); ++y) {
    std::uint8_t* row = copy.scanLine(y);
    std::memcpy(row, image.row(y), image.bytesPerRow());
    for (int x = 3; x < int(image.bytesPerRow()); x += 4) row[x] = 0xFF;
  }
  return copy;
}

QImage toQImage(std::shared_ptr<const Image> image) {
  if (!image || image->isNull()) return {};
  if (!fourthBytesAreOpaque(*image)) return toQImage(*image);
  auto* keeper = new std::shared_ptr<const Image>(image);
  return QImage(
      image->data(), image->width(), image->height(), qsizetype(image->bytesPerRow()),
      QImage::Format_RGBX8888,
      [](void* info) { delete static_cast<std::shared_ptr<const Image>*>(info); }, keeper);
}

}  // namespace duo
