#pragma once

#include <cstdint>

#include "image/image.h"

namespace duo {

/// Draws the whole of `source` scaled into the rectangle of `canvas` whose top-left corner is
/// (x, y) and whose size is width × height. Coordinates are canvas pixels with the origin at
/// the canvas's top-left corner, y downward; pixel (i, j) is the unit square [i, i+1) × [j, j+1),
/// so any of the four values may be fractional.
///
/// Each canvas pixel receives the average of the source area it shows: reductions average the
/// exact fractional footprint (a box filter), enlargements interpolate linearly between the
/// nearest source pixels. A pixel only partly covered by the rectangle is blended with what the
/// canvas already holds, in proportion to the covered fraction, as an anti-aliased draw would.
/// Whole-pixel rectangles of the source's size copy it exactly. Everything outside the canvas
/// is clipped; an empty or non-finite rectangle, or a null image, draws nothing. The ignored
/// fourth byte of the canvas is left as it is.
void drawImageIntoRect(Image& canvas, const Image& source, double x, double y, double width,
                       double height);

/// Fills the ellipse inscribed in the rectangle (x, y, width, height) — same coordinates as
/// drawImageIntoRect — with the opaque colour (red, green, blue). Edge pixels are blended with
/// the canvas in proportion to the part of them the ellipse covers, so the outline is smooth.
/// Clipped to the canvas; an empty or non-finite rectangle draws nothing.
void fillEllipseInRect(Image& canvas, double x, double y, double width, double height,
                       std::uint8_t red, std::uint8_t green, std::uint8_t blue);

}  // namespace duo
