#include "image/image.h"

#include <cstring>
#include <new>

#include "core/limits.h"
#include "image/pixel_pool.h"

namespace duo {

void Image::FreePixels::operator()(std::uint8_t* p) const { pixel_pool::give(p, bytes); }

std::optional<Image> Image::allocate(int width, int height, bool zeroed) {
  if (!limits::imageSizeAllowed(width, height)) return std::nullopt;
  const std::size_t bytes = std::size_t(width) * std::size_t(height) * kBytesPerPixel;
  PixelBuffer pixels(pixel_pool::take(bytes), FreePixels{bytes});
  if (!pixels) return std::nullopt;
  if (zeroed) std::memset(pixels.get(), 0, bytes);
  return Image(width, height, std::move(pixels));
}

std::optional<Image> Image::create(int width, int height) { return allocate(width, height, true); }

std::optional<Image> Image::createUninitialized(int width, int height) {
  return allocate(width, height, false);
}

Image::Image(const Image& other)
    : m_width(other.m_width), m_height(other.m_height), m_orientation(other.m_orientation) {
  if (other.m_pixels) {
    m_pixels = PixelBuffer(pixel_pool::take(other.byteCount()), FreePixels{other.byteCount()});
    if (!m_pixels) throw std::bad_alloc();
    std::memcpy(m_pixels.get(), other.m_pixels.get(), other.byteCount());
  }
}

Image& Image::operator=(const Image& other) {
  if (this != &other) *this = Image(other);
  return *this;
}

int Image::uprightWidth() const {
  if (isValidOrientationTag(m_orientation) && swapsSides(static_cast<Orientation>(m_orientation)))
    return m_height;
  return m_width;
}

int Image::uprightHeight() const {
  if (isValidOrientationTag(m_orientation) && swapsSides(static_cast<Orientation>(m_orientation)))
    return m_width;
  return m_height;
}

void Image::makeFourthBytesOpaque() {
  std::uint8_t* bytes = data();
  const std::size_t count = byteCount();
  for (std::size_t i = 3; i < count; i += 4) bytes[i] = 0xFF;
}

bool Image::samePixels(const Image& other) const {
  if (m_width != other.m_width || m_height != other.m_height) return false;
  if (isNull() || other.isNull()) return isNull() == other.isNull();
  for (int y = 0; y < m_height; ++y) {
    const std::uint8_t* a = row(y);
    const std::uint8_t* b = other.row(y);
    for (int x = 0; x < m_width; ++x, a += 4, b += 4) {
      if (a[0] != b[0] || a[1] != b[1] || a[2] != b[2]) return false;
    }
  }
  return true;
}

}  // namespace duo
