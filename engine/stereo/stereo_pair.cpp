#include "stereo/stereo_pair.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

#include "transform/image_tools.h"

namespace duo {

float scaleForImageView(const std::optional<ImageViewGeometry>& view, int imageWidth,
                        int imageHeight) {
  if (!view || !view->aspectFit || imageWidth <= 0 || imageHeight <= 0) return 1.0f;
  const float widthFit = view->width / static_cast<float>(imageWidth);
  const float heightFit = view->height / static_cast<float>(imageHeight);
  const float fit = widthFit < heightFit ? widthFit : heightFit;
  if (!(fit > 0)) return 1.0f;  // a collapsed view has no meaningful scale
  return 1.0f / fit;
}

PixelOffset pixelOffsetFor(float scale, float alignOffsetX, float alignOffsetY) {
  const auto toPixels = [scale](float offset) {
    const double product = static_cast<double>(scale) * static_cast<double>(offset);
    // Converting an out-of-range double to int is undefined; offsets that large only arise
    // from nonsense input and are clamped far outside any image instead.
    constexpr double kLimit = std::numeric_limits<int>::max() / 2;
    if (!(std::fabs(product) < kLimit)) return product < 0 ? -int(kLimit) : int(kLimit);
    return static_cast<int>(product);  // truncates toward zero
  };
  return {toPixels(alignOffsetX), toPixels(alignOffsetY)};
}

float pointsForPixel(float scale, int pixel) {
  const auto toPixel = [scale](float points) { return pixelOffsetFor(scale, points, 0).x; };
  float points = float(double(pixel) / double(scale));
  const float outward = pixel < 0 ? -INFINITY : INFINITY;
  // A few units in the last place either way make up for the rounding of the division.
  for (int i = 0; i < 64 && toPixel(points) != pixel; ++i) points = std::nextafter(points, outward);
  for (int i = 0; i < 64 && points != 0 && toPixel(std::nextafter(points, 0.0f)) == pixel; ++i)
    points = std::nextafter(points, 0.0f);
  return points;
}

float pointsForSentPixels(int sentPixels, int sentLength, int workingLength, float scale) {
  if (sentLength <= 0 || workingLength <= 0 || !(scale > 0)) return 0.0f;
  // Whole pixels, because the renders use whole pixels: a quotient a hair short of one would
  // otherwise be truncated to the pixel before it.
  const double workingPixels = double(sentPixels) * double(workingLength) / double(sentLength);
  constexpr double kLimit = std::numeric_limits<int>::max() / 2;
  if (!(std::fabs(workingPixels) < kLimit)) return workingPixels < 0 ? -INFINITY : INFINITY;
  return pointsForPixel(scale, int(std::lround(workingPixels)));
}

CropRect alignmentBoundsFor(int width, int height, PixelOffset offset) {
  const long long w = static_cast<long long>(width) - std::llabs(offset.x);
  const long long h = static_cast<long long>(height) - std::llabs(offset.y);
  const bool empty = w <= 0 || h <= 0;
  return CropRect{static_cast<float>(offset.x > 0 ? offset.x : 0),
                  static_cast<float>(offset.y > 0 ? offset.y : 0),
                  empty ? 0.0f : static_cast<float>(w), empty ? 0.0f : static_cast<float>(h)};
}

CropRect rightCropFor(const CropRect& leftCrop, PixelOffset offset) {
  return CropRect{leftCrop.x - static_cast<float>(offset.x),
                  leftCrop.y - static_cast<float>(offset.y), leftCrop.width, leftCrop.height};
}

std::optional<Image> createBitmapContext(int width, int height) {
  return Image::create(width, height);
}

std::optional<Image> stillImageForExport(OutputKind selected, const Image* shown) {
  if (!shown || shown->isNull() || selected == OutputKind::Wigglegram) return std::nullopt;
  if (selected == OutputKind::Stereogram) {
    return ImageTools::scaleAndRotateImage(*shown, static_cast<int>(Orientation::Left), 65535);
  }
  return *shown;
}

StereoPair::StereoPair(Image left, Image right, float maximumResolution)
    : m_left(std::make_shared<const Image>(std::move(left))),
      m_right(std::make_shared<const Image>(std::move(right))),
      m_maximumResolution(maximumResolution) {}

StereoPair StereoPair::fromWorkingCopies(Image left, Image right, float maximumResolution) {
  StereoPair pair(std::move(left), std::move(right), maximumResolution);
  pair.m_resized = true;
  return pair;
}

void StereoPair::resizeOriginalImages() {
  if (m_resized) return;
  m_left = std::make_shared<const Image>(
      ImageTools::scaleAndRotateImage(*m_left, ImageTools::kKeepOrientation, m_maximumResolution));
  m_right = std::make_shared<const Image>(
      ImageTools::scaleAndRotateImage(*m_right, ImageTools::kKeepOrientation, m_maximumResolution));
  m_resized = true;
}

bool StereoPair::adoptWorkingCopies(const StereoPair& resized,
                                    const std::shared_ptr<const Image>& fromLeft,
                                    const std::shared_ptr<const Image>& fromRight) {
  if (m_resized || !resized.m_resized || m_left != fromLeft || m_right != fromRight) return false;
  m_left = resized.m_left;
  m_right = resized.m_right;
  m_resized = true;
  return true;
}

float StereoPair::scaleForImageView() const {
  return duo::scaleForImageView(m_imageView, m_left->width(), m_left->height());
}

PixelOffset StereoPair::pixelOffset() const {
  return pixelOffsetFor(scaleForImageView(), m_alignOffsetX, m_alignOffsetY);
}

CropRect StereoPair::getAlignmentBounds(int width, int height) const {
  return alignmentBoundsFor(width, height, pixelOffset());
}

void StereoPair::swapImages() {
  std::swap(m_left, m_right);
  m_swapped = !m_swapped;
}

}  // namespace duo
