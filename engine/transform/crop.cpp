#include "transform/crop.h"

#include <cstring>

namespace duo {

std::optional<Image> cropImage(const Image& image, const CropRect& rect) {
  const auto x = static_cast<long long>(rect.x);
  const auto y = static_cast<long long>(rect.y);
  const auto w = static_cast<long long>(rect.width);
  const auto h = static_cast<long long>(rect.height);
  if (image.isNull() || x < 0 || y < 0 || w <= 0 || h <= 0 || x + w > image.width() ||
      y + h > image.height()) {
    return std::nullopt;
  }
  auto out = Image::createUninitialized(static_cast<int>(w), static_cast<int>(h));
  if (!out) return std::nullopt;
  for (long long row = 0; row < h; ++row) {
    std::memcpy(out->row(static_cast<int>(row)),
                image.pixel(static_cast<int>(x), static_cast<int>(y + row)), out->bytesPerRow());
  }
  return out;
}

}  // namespace duo
