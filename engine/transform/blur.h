#pragma once

#include <optional>

#include "image/image.h"

namespace duo {

/// A colour with alpha, channels 0–1.
struct TintColor {
  float red = 0;
  float green = 0;
  float blue = 0;
  float alpha = 0;
};

/// Box size of the blur for a radius in pixels: three box passes of this size approximate a
/// Gaussian of that radius. Always odd.
int blurBoxSize(double radiusPixels);

/// The frosted-glass effect: the image blurred with three box passes (edge pixels extended
/// beyond the border) of radius `radius` points at `scale` pixels per point, its saturation
/// changed by `saturation` (1 leaves it), then covered with `tint` (source-over; nullopt for
/// none). With a mask (same size; its red channel is the coverage), the blurred image shows only
/// where the mask does and the original elsewhere. nullopt for an empty image or a mask of
/// another size.
std::optional<Image> applyBlur(const Image& image, float radius, float scale,
                               std::optional<TintColor> tint, float saturation,
                               const Image* mask = nullptr);

}  // namespace duo
