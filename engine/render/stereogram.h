#pragma once

#include <optional>

#include "core/result.h"
#include "image/image.h"
#include "render/render_settings.h"
#include "stereo/stereo_pair.h"

namespace duo {

/// A rectangle on the stereogram card in drawing coordinates: origin at the card's bottom-left
/// corner, x to the right, y upward, pixels in 32-bit floats (fractions are kept).
struct CardRect {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
  bool operator==(const CardRect&) const = default;
};

/// Every size and position of a stereogram card: two crops reduced to 75 % side by side on
/// black, a border around and between them, and optionally a band above them holding one white
/// dot centred over each half.
///
/// Each value keeps the precision of its field's type — double for l and u, 32-bit float for
/// the dot sizes and every position, truncation toward zero for b and the card size — in a
/// fixed order of operations, so a card renders to the same pixels wherever it is made.
struct StereogramLayout {
  int border = 0;         ///< b = trunc(W × 0.75 / 288 × borderSize), W the full left width
  int cropWidth = 0;      ///< cw
  int cropHeight = 0;     ///< ch
  double halfWidth = 0;   ///< l = cw × 0.75
  double halfHeight = 0;  ///< u = ch × 0.75
  float dotDiameter = 0;  ///< m = l / 30 with dots, else 0
  float dotBand = 0;      ///< k = 4 × m
  int cardWidth = 0;      ///< trunc(3b + 2cw × 0.75)
  int cardHeight = 0;     ///< trunc(2b + u + k)
  CardRect leftHalf;      ///< (b, b, l, u)
  CardRect rightHalf;     ///< (2b + l, b, l, u)
  bool dots = false;
  CardRect leftDot;   ///< square the left dot is inscribed in; meaningful when `dots`
  CardRect rightDot;  ///< the same over the right half

  /// Top edge of a card rectangle measured from the card's top row (the canvas convention).
  double topOf(const CardRect& r) const {
    return double(cardHeight) - double(r.y) - double(r.height);
  }
};

/// The layout of a card for a left working copy `leftWidth` pixels wide and a common crop of
/// cropWidth × cropHeight. A negative borderSize counts as 0. Sizes beyond int saturate (such
/// a card cannot be allocated anyway).
StereogramLayout stereogramLayout(int leftWidth, int cropWidth, int cropHeight, bool dots,
                                  int borderSize);

/// The upright stereogram card as renderStereogramCard draws it, or why there is none:
/// InvalidArgument when the images differ in size or the crop is empty or outside them ("the
/// offset leaves no overlap …") or too small to give the card a row or column ("the crop of
/// W×H pixels is too small for a stereogram card"); TooLarge when the card would exceed the
/// limits in limits.h ("the stereogram card would be W×H pixels, over the limit of N pixels")
/// or its memory cannot be had.
Result<Image> makeStereogramCard(const Image& left, const Image& right, PixelOffset offset,
                                 const CropRect& crop, const RenderSettings& settings);

/// The upright stereogram card of a pair of working copies (same size) under the pixel offset
/// and its common crop rectangle (alignmentBoundsFor): the left crop on the left, the right crop
/// on the right, black elsewhere, with the dots of `settings.stereogramDots` and the border of
/// `settings.stereoBorderSize`. Swapping the images beforehand gives the cross-viewing card.
/// nullopt when the crop is empty or outside the images, or the card cannot be allocated.
std::optional<Image> renderStereogramCard(const Image& left, const Image& right, PixelOffset offset,
                                          const CropRect& crop, const RenderSettings& settings);

/// The card as shown and cached: renderStereogramCard turned a quarter turn clockwise (its
/// width is the card's height). Exports turn it back upright. nullopt as for the card.
std::optional<Image> createStereogram(const Image& left, const Image& right, PixelOffset offset,
                                      const CropRect& crop, const RenderSettings& settings);

}  // namespace duo
