#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "image/image.h"
#include "stereo/stereo_pair.h"

namespace duo {

/// Output brightening table of both anaglyph kinds, indexed by a mixed channel value.
using GammaTable = std::array<std::uint8_t, 256>;

/// Entry i = trunc(255 × (i / 255)^exponent), in double precision. The result screen fills its
/// table once with the exponent 0.8 (entry 64 is 84, entry 128 is 146).
GammaTable updateGammaTable(double exponent);

/// Anaglyph modes; the numbers are those of the output kinds. Any other number renders black.
inline constexpr int kAnaglyphColour = 1;
inline constexpr int kAnaglyphGrey = 2;

/// One 8-bit colour.
struct Rgb8 {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  bool operator==(const Rgb8&) const = default;
};

/// Hue (degrees 0–359, −1 for grey), saturation and value (0–255) as the enhancement uses them.
struct Hsv16 {
  std::int16_t h = 0;
  std::int16_t s = 0;
  std::int16_t v = 0;
  bool operator==(const Hsv16&) const = default;
};

/// An RGB colour before it is narrowed to bytes.
struct RgbInt {
  int r = 0;
  int g = 0;
  int b = 0;
  bool operator==(const RgbInt&) const = default;
};

// The per-pixel building blocks below define the anaglyph's arithmetic exactly: which steps are
// double or single precision, where values are truncated and in which order products are added.
// Both renderers produce the same bytes as these functions.

/// trunc((0.299 r + 0.587 g) + 0.114 b) in double precision. The products do not add up exactly,
/// so some greys lose a step: luma(128, 128, 128) is 127, luma(255, 255, 255) is 255.
std::uint8_t luma(std::uint8_t r, std::uint8_t g, std::uint8_t b);

/// Grey mode: (luma of left, luma of right, luma of right).
Rgb8 mixGrey(Rgb8 left, Rgb8 right);

/// ColorMethod 4: Dubois' least-squares red–cyan projection. Each channel is the sum of six
/// products in the order left r, g, b, right r, g, b, in double precision, truncated toward zero
/// and clamped to 0–255.
Rgb8 mixDubois(Rgb8 left, Rgb8 right);

/// Colour mode, ColorMethod 0–4:
///  0 (Rl, Gr, Br); 1 (luma(left), Gr, Br); 2 (trunc(0.7 Gl + 0.3 Bl), Gr, Br);
///  3 (luma(left), 0, luma(right)); 4 mixDubois.
/// nullopt for any other method: that rule assigns nothing.
std::optional<Rgb8> mixColour(int colorMethod, Rgb8 left, Rgb8 right);

/// The mixing rule of a mode (kAnaglyphColour, kAnaglyphGrey); nullopt when the mode or the
/// colour method assigns nothing.
std::optional<Rgb8> mixPixel(int mode, int colorMethod, Rgb8 left, Rgb8 right);

/// Integer HSV: V = max, S = (max − min) × 255 / max (integer division), H in whole degrees
/// from single-precision arithmetic; grey (S = 0, including black) has H = −1.
Hsv16 rgbToHsv(std::uint8_t r, std::uint8_t g, std::uint8_t b);

/// Back from integer HSV; each result is 0–255. S and V are clamped to 0–255 first; H is taken
/// modulo one turn (−1 is 359, 360 is 0). Sector values are computed in single precision
/// except p, q and t, which are evaluated in double from single-precision inputs (and the
/// single-precision product s × f) and rounded back to single; × 255 is single precision,
/// truncated.
RgbInt hsvToRgb(int h, int s, int v);

/// The colour enhancement: saturation × 1.2 and value × 1.35 (double precision, truncated), hue
/// kept; the low 8 bits of each converted channel. enhanceColour({200, 100, 50}) is
/// {255, 102, 25}; a grey stays grey.
Rgb8 enhanceColour(Rgb8 mixed);

/// gamma[c] per channel.
inline Rgb8 applyGamma(const GammaTable& gamma, Rgb8 c) {
  return {gamma[c.r], gamma[c.g], gamma[c.b]};
}

/// The anaglyph of a pair: for every pixel (x, y) of `crop` (whole numbers held in floats, as
/// alignmentBoundsFor makes them) the left pixel (x, y) and the right pixel (x − ox, y − oy) are
/// mixed by the mode's rule, enhanced when `enhance` is set, and passed through `gamma`. The
/// result is trunc(width) × trunc(height) pixels with 255 in every fourth byte.
///
/// A mixing rule that assigns nothing (a mode other than 1 and 2, a colour method outside 0–4)
/// leaves the mixed colour at its start value, black, so the image is gamma[0] everywhere.
///
/// nullopt when the crop is empty, does not lie inside the left image, or its shifted partner
/// does not lie inside the right image, or when the canvas cannot be allocated.
///
/// This is the plain per-pixel loop; it defines the result of blendImages().
std::optional<Image> blendImagesReference(const Image& left, const Image& right, PixelOffset offset,
                                          const CropRect& crop, int mode, int colorMethod,
                                          bool enhance, const GammaTable& gamma);

/// The same image as blendImagesReference(), byte for byte, rendered in row bands on `threads`
/// threads (0: one per hardware thread; small images use fewer).
std::optional<Image> blendImages(const Image& left, const Image& right, PixelOffset offset,
                                 const CropRect& crop, int mode, int colorMethod, bool enhance,
                                 const GammaTable& gamma, int threads = 0);

/// The instruction-set variants of the fast renderer. All give the same bytes; blendImages()
/// uses the first of supportedAnaglyphKernels().
enum class AnaglyphKernel {
  Portable,  ///< plain C++, vectorised by the compiler for the baseline instruction set
  Avx2,      ///< the same loops compiled for AVX2
  Avx512,    ///< hand-written AVX-512 (F, BW, DQ, VL and VBMI)
};

/// "portable", "avx2", "avx512".
std::string_view toString(AnaglyphKernel kernel);

/// The variants this CPU can run, fastest first; Portable is always there.
std::vector<AnaglyphKernel> supportedAnaglyphKernels();

/// blendImages() with a chosen variant, so that tests can hold each one to the reference;
/// nullopt also when this CPU cannot run the variant.
std::optional<Image> blendImagesWithKernel(AnaglyphKernel kernel, const Image& left,
                                           const Image& right, PixelOffset offset,
                                           const CropRect& crop, int mode, int colorMethod,
                                           bool enhance, const GammaTable& gamma, int threads = 0);

}  // namespace duo
