#include "qt_image.h"

namespace duo {

QImage toQImage(const Image& image) {
  if (image.isNull()) return {};
  return QImage(image.data(), image.width(), image.height(), qsizetype(image.bytesPerRow()),
                QImage::Format_RGBX8888)
      .copy();
}

QImage toQImage(std::shared_ptr<const Image> image) {
  if (!image || image->isNull()) return {};
  auto* keeper = new std::shared_ptr<const Image>(image);
  return QImage(
      image->data(), image->width(), image->height(), qsizetype(image->bytesPerRow()),
      QImage::Format_RGBX8888,
      [](void* info) { delete static_cast<std::shared_ptr<const Image>*>(info); }, keeper);
}

}  // namespace duo
