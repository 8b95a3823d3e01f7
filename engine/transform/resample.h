#pragma once

#include <optional>

#include "image/image.h"
#include "image/orientation.h"

namespace duo {

/// Draws the whole of `source` onto a new black canvas of canvasWidth × canvasHeight, turned
/// or mirrored by `orientation`, so that it fills the canvas exactly. For the quarter-turn
/// orientations the source's width runs along the canvas height.
///
/// Reductions average the exact area each canvas pixel covers (a box filter with fractional
/// edges), so fine detail becomes an honest mean instead of aliasing. Same-size draws copy the
/// pixels exactly. The result has tag Up; nullopt when the canvas cannot be allocated.
std::optional<Image> drawOriented(const Image& source, Orientation orientation, int canvasWidth,
                                  int canvasHeight);

}  // namespace duo
