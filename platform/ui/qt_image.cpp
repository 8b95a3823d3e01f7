#include "qt_image.h"

#include <bit>
#include <cstring>
#include <optional>

namespace duo {

namespace {

static_assert(std::endian::native == std::endian::little,
              "the fourth byte of a pixel is the high byte of its 32-bit word");
constexpr std::uint32_t kFourthByte = 0xFF000000u;

// The engine leaves the fourth byte of a pixel unspecified (renderers may leave it 0); Qt's
// RGBX format wants 255 there and, when scaling, would read anything else as transparency.
bool fourthBytesAreOpaque(const Image& image) {
  std::uint32_t all = kFourthByte;
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(image.row(y));
    for (int x = 0; x < image.width(); ++x) all &= row[x];
    if (all != kFourthByte) return false;
  }
  return true;
}

}  // namespace

QImage toQImage(const Image& image) {
  if (image.isNull()) return {};
  QImage copy(image.width(), image.height(), QImage::Format_RGBX8888);
  if (copy.isNull()) return {};
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(copy.scanLine(y));
    std::memcpy(row, image.row(y), image.bytesPerRow());
    for (int x = 0; x < image.width(); ++x) row[x] |= kFourthByte;
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

QImage toQImage(std::shared_ptr<const Image> image, const CropRect& rect) {
  if (!image || image->isNull()) return {};
  const auto x = static_cast<long long>(rect.x), y = static_cast<long long>(rect.y);
  const auto w = static_cast<long long>(rect.width), h = static_cast<long long>(rect.height);
  if (x < 0 || y < 0 || w <= 0 || h <= 0 || x + w > image->width() || y + h > image->height())
    return {};
  if (!fourthBytesAreOpaque(*image)) {
    const QImage whole = toQImage(*image);
    return whole.copy(int(x), int(y), int(w), int(h));
  }
  auto* keeper = new std::shared_ptr<const Image>(image);
  return QImage(
      image->pixel(int(x), int(y)), int(w), int(h), qsizetype(image->bytesPerRow()),
      QImage::Format_RGBX8888,
      [](void* info) { delete static_cast<std::shared_ptr<const Image>*>(info); }, keeper);
}

Image fromQImage(const QImage& image) {
  if (image.isNull()) return {};
  // RGBX8888 is the engine's byte order exactly; the conversion is free when it already is.
  const QImage rgbx = image.convertToFormat(QImage::Format_RGBX8888);
  if (rgbx.isNull()) return {};
  std::optional<Image> copy = Image::createUninitialized(rgbx.width(), rgbx.height());
  if (!copy) return {};
  for (int y = 0; y < copy->height(); ++y)
    std::memcpy(copy->row(y), rgbx.constScanLine(y), copy->bytesPerRow());
  return std::move(*copy);
}

}  // namespace duo
