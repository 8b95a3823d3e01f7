#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "image/orientation.h"

namespace duo {

/// An 8-bit RGB image as the renderers draw it: four bytes per pixel in memory order red, green,
/// blue and one ignored byte, rows top first, exactly 4 × width bytes per row, no gaps.
///
/// It also carries the orientation tag of the file it came from (0 Up … 7 RightMirrored; kept
/// as an int so that an invalid tag can reach the checks that reject it). Width and height are
/// the stored grid, before the tag is applied.
///
/// Copying copies the pixels; move when you can.
class Image {
 public:
  static constexpr int kBytesPerPixel = 4;

  /// An empty image (no pixels); isNull() is true.
  Image() = default;

  /// A black canvas (every byte 0). nullopt when the size is not positive, exceeds the limits
  /// of limits.h, or the memory cannot be had.
  static std::optional<Image> create(int width, int height);

  /// Like create(), but the bytes are left uninitialised; for decoders that write every pixel.
  static std::optional<Image> createUninitialized(int width, int height);

  Image(const Image& other);
  Image& operator=(const Image& other);
  Image(Image&&) noexcept = default;
  Image& operator=(Image&&) noexcept = default;
  ~Image() = default;

  bool isNull() const { return !m_pixels; }
  int width() const { return m_width; }
  int height() const { return m_height; }
  std::size_t bytesPerRow() const { return std::size_t(m_width) * kBytesPerPixel; }
  std::size_t byteCount() const { return bytesPerRow() * std::size_t(m_height); }

  int orientationTag() const { return m_orientation; }
  void setOrientationTag(int tag) { m_orientation = tag; }

  /// Upright size: width and height exchanged for the quarter-turn tags. For an invalid tag the
  /// stored size.
  int uprightWidth() const;
  int uprightHeight() const;

  /// Sets the ignored fourth byte of every pixel to 255, the value display code expects of
  /// an opaque picture.
  void makeFourthBytesOpaque();

  std::uint8_t* data() { return m_pixels.get(); }
  const std::uint8_t* data() const { return m_pixels.get(); }
  std::uint8_t* row(int y) { return m_pixels.get() + std::size_t(y) * bytesPerRow(); }
  const std::uint8_t* row(int y) const { return m_pixels.get() + std::size_t(y) * bytesPerRow(); }
  std::uint8_t* pixel(int x, int y) { return row(y) + std::size_t(x) * kBytesPerPixel; }
  const std::uint8_t* pixel(int x, int y) const { return row(y) + std::size_t(x) * kBytesPerPixel; }

  /// True when both images have the same size and the same red, green and blue values
  /// everywhere; the ignored fourth byte and the orientation tag are not compared.
  bool samePixels(const Image& other) const;

 private:
  struct FreePixels {
    FreePixels() noexcept : bytes(0) {}
    explicit FreePixels(std::size_t size) noexcept : bytes(size) {}
    void operator()(std::uint8_t* p) const;
    std::size_t bytes;
  };
  using PixelBuffer = std::unique_ptr<std::uint8_t[], FreePixels>;

  static std::optional<Image> allocate(int width, int height, bool zeroed);
  Image(int width, int height, PixelBuffer pixels)
      : m_width(width), m_height(height), m_pixels(std::move(pixels)) {}

  int m_width = 0;
  int m_height = 0;
  int m_orientation = 0;
  PixelBuffer m_pixels;
};

}  // namespace duo
