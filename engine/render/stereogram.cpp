#include "render/stereogram.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>
#include <string>

#include "core/limits.h"
#include "transform/crop.h"
#include "transform/draw_into_rect.h"
#include "transform/image_tools.h"

namespace duo {

namespace {

// The card is shown turned a quarter clockwise (image orientation "Right"), with a limit that
// never reduces it.
constexpr int kTurnClockwise = 3;
constexpr float kNoReduction = 65535;

int truncToInt(double value) {
  return static_cast<int>(std::clamp(std::trunc(value), double(INT_MIN), double(INT_MAX)));
}

/// The part of `image` inside `rect`: the image itself when the rectangle is all of it (the
/// common case of an unshifted pair), else a copy kept in `storage`. Null when the rectangle
/// does not lie inside the image.
const Image* cropped(const Image& image, const CropRect& rect, std::optional<Image>& storage) {
  if (rect.x == 0 && rect.y == 0 && rect.width == float(image.width()) &&
      rect.height == float(image.height())) {
    return &image;
  }
  storage = cropImage(image, rect);
  return storage ? &*storage : nullptr;
}

}  // namespace

StereogramLayout stereogramLayout(int leftWidth, int cropWidth, int cropHeight, bool dots,
                                  int borderSize) {
  // A negative border setting would give a negative border and a card narrower than its two
  // halves, cutting into the right one; it means "no border".
  const int borderSetting = std::max(borderSize, 0);

  StereogramLayout layout;
  layout.border = truncToInt(((double(leftWidth) * 0.75) / 288) * borderSetting);
  layout.cropWidth = cropWidth;
  layout.cropHeight = cropHeight;
  layout.halfWidth = double(cropWidth) * 0.75;
  layout.halfHeight = double(cropHeight) * 0.75;
  layout.dots = dots;
  layout.dotDiameter = dots ? static_cast<float>(layout.halfWidth / 30) : 0.0f;
  layout.dotBand = 4 * layout.dotDiameter;

  const double b = layout.border;
  layout.cardWidth = truncToInt(3 * b + (2 * double(cropWidth)) * 0.75);
  layout.cardHeight = truncToInt((2 * b + layout.halfHeight) + double(layout.dotBand));

  const float l = static_cast<float>(layout.halfWidth);
  const float u = static_cast<float>(layout.halfHeight);
  const float rightX = static_cast<float>(2 * b + layout.halfWidth);
  layout.leftHalf = {float(layout.border), float(layout.border), l, u};
  layout.rightHalf = {rightX, float(layout.border), l, u};

  if (dots) {
    const float m = layout.dotDiameter;
    const float inset = static_cast<float>(layout.halfWidth * 0.5 - double(m * 0.5f));
    const float dotY =
        static_cast<float>((2 * b + layout.halfHeight) + double(layout.dotBand * 0.5f - m * 0.5f));
    layout.leftDot = {float(layout.border) + inset, dotY, m, m};
    layout.rightDot = {rightX + inset, dotY, m, m};
  }
  return layout;
}

Result<Image> makeStereogramCard(const Image& left, const Image& right, PixelOffset offset,
                                 const CropRect& crop, const RenderSettings& settings) {
  const Error noOverlap =
      makeError(ErrorCode::InvalidArgument, "the offset leaves no overlap between the two images");
  if (left.isNull() || right.isNull() || left.width() != right.width() ||
      left.height() != right.height() || !(crop.width > 0 && crop.height > 0)) {
    return noOverlap;
  }
  std::optional<Image> leftStorage;
  std::optional<Image> rightStorage;
  const Image* leftCrop = cropped(left, crop, leftStorage);
  const Image* rightCrop = cropped(right, rightCropFor(crop, offset), rightStorage);
  if (!leftCrop || !rightCrop) return noOverlap;

  const StereogramLayout layout =
      stereogramLayout(left.width(), leftCrop->width(), leftCrop->height(), settings.stereogramDots,
                       settings.stereoBorderSize);
  const std::string size =
      std::to_string(layout.cardWidth) + "×" + std::to_string(layout.cardHeight) + " pixels";
  // Without a border a crop one pixel high is reduced to three quarters of a row: no card.
  if (layout.cardWidth <= 0 || layout.cardHeight <= 0) {
    return makeError(ErrorCode::InvalidArgument,
                     "the crop of " + std::to_string(leftCrop->width()) + "×" +
                         std::to_string(leftCrop->height()) +
                         " pixels is too small for a stereogram card (it would be " + size + ")");
  }
  if (!limits::imageSizeAllowed(layout.cardWidth, layout.cardHeight)) {
    const bool sideTooLong =
        layout.cardWidth > limits::kMaxImageSide || layout.cardHeight > limits::kMaxImageSide;
    return makeError(ErrorCode::TooLarge,
                     "the stereogram card would be " + size + ", over the limit of " +
                         (sideTooLong ? std::to_string(limits::kMaxImageSide) + " pixels a side"
                                      : std::to_string(limits::kMaxImagePixels) + " pixels"));
  }
  auto card = createBitmapContext(layout.cardWidth, layout.cardHeight);
  if (!card) {
    return makeError(ErrorCode::TooLarge, "not enough memory for the stereogram card of " + size);
  }

  drawImageIntoRect(*card, *leftCrop, layout.leftHalf.x, layout.topOf(layout.leftHalf),
                    layout.leftHalf.width, layout.leftHalf.height);
  drawImageIntoRect(*card, *rightCrop, layout.rightHalf.x, layout.topOf(layout.rightHalf),
                    layout.rightHalf.width, layout.rightHalf.height);
  if (layout.dots) {
    for (const CardRect& dot : {layout.leftDot, layout.rightDot}) {
      fillEllipseInRect(*card, dot.x, layout.topOf(dot), dot.width, dot.height, 255, 255, 255);
    }
  }
  return std::move(*card);
}

std::optional<Image> renderStereogramCard(const Image& left, const Image& right, PixelOffset offset,
                                          const CropRect& crop, const RenderSettings& settings) {
  auto card = makeStereogramCard(left, right, offset, crop, settings);
  if (!card) return std::nullopt;
  return std::move(card).value();
}

std::optional<Image> createStereogram(const Image& left, const Image& right, PixelOffset offset,
                                      const CropRect& crop, const RenderSettings& settings) {
  auto card = renderStereogramCard(left, right, offset, crop, settings);
  if (!card) return std::nullopt;
  try {
    Image shown = ImageTools::scaleAndRotateImage(*card, kTurnClockwise, kNoReduction);
    // Shown straight from memory by the screen, which reads the fourth byte as opacity.
    shown.makeFourthBytesOpaque();
    return shown;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace duo
