// A whole pair, as duoscope-cli renders it: two files through the pair loader, then every output
// kind (both anaglyphs, the stereogram as shown and as exported, the wigglegram GIF) and the
// still encoders.
//
// Input: an 11-byte header of render choices, then the image bytes. Header bytes 9–10 (little
// endian) say where the second image starts; 0, or a split outside the data, uses the whole rest
// as both images, so that a single seed image already exercises the pair.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/limits.h"
#include "fuzz_support.h"
#include "io/image_codec.h"
#include "render/anaglyph.h"
#include "render/renderer.h"
#include "render/stereogram.h"
#include "stereo/pair_loader.h"

namespace {

// Larger inputs only make a run slower without reaching other code.
constexpr std::int64_t kMaxPixels = 256 * 256;
constexpr std::size_t kHeaderSize = 11;

bool smallEnough(std::span<const std::uint8_t> bytes) {
  const auto info = duo::readImageInfo(bytes, "fuzz");
  // Unreadable headers are cheap to refuse, and refusing them is the loader's job to check.
  if (!info) return true;
  return std::int64_t{info->width} * info->height <= kMaxPixels;
}

void checkOpaque(const duo::Image& image) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) FUZZ_CHECK(image.pixel(x, y)[3] == 255);
}

// Every still the screen shows is written as PNG, and PNG must give back the same pixels.
void checkPngRoundTrip(const duo::Image& image) {
  const auto png = duo::encodePng(image);
  FUZZ_CHECK(png.ok());
  const auto decoded = duo::decodeImage(*png, "encoded");
  FUZZ_CHECK(decoded.ok());
  FUZZ_CHECK(decoded->samePixels(image));
}

void checkAnaglyph(duo::StereoPair& pair, duo::OutputKind kind, const duo::RenderSettings& settings,
                   const duo::GammaTable& gamma, const duo::CropRect& crop) {
  const auto still = duo::renderStill(pair, kind, settings, gamma);
  FUZZ_CHECK(still.has_value());
  FUZZ_CHECK(still->width() == static_cast<int>(crop.width));
  FUZZ_CHECK(still->height() == static_cast<int>(crop.height));
  checkOpaque(*still);
  // The banded, vectorised renderers are defined by the per-pixel loop.
  const auto reference = duo::blendImagesReference(
      pair.leftImage(), pair.rightImage(), pair.pixelOffset(), crop, static_cast<int>(kind),
      settings.colorMethod, settings.anaglyphEnhance, gamma);
  FUZZ_CHECK(reference.has_value());
  FUZZ_CHECK(still->samePixels(*reference));
  for (const duo::AnaglyphKernel kernel : duo::supportedAnaglyphKernels()) {
    const auto variant = duo::blendImagesWithKernel(
        kernel, pair.leftImage(), pair.rightImage(), pair.pixelOffset(), crop,
        static_cast<int>(kind), settings.colorMethod, settings.anaglyphEnhance, gamma, 2);
    FUZZ_CHECK(variant.has_value());
    FUZZ_CHECK(variant->samePixels(*reference));
  }
  checkPngRoundTrip(*still);
}

void checkStereogram(duo::StereoPair& pair, const duo::RenderSettings& settings,
                     const duo::GammaTable& gamma, const duo::CropRect& crop, int jpegQuality) {
  const auto shown = duo::renderStill(pair, duo::OutputKind::Stereogram, settings, gamma);
  const auto card = duo::renderStereogramCard(pair.leftImage(), pair.rightImage(),
                                              pair.pixelOffset(), crop, settings);
  const auto layout =
      duo::stereogramLayout(pair.leftImage().width(), static_cast<int>(crop.width),
                            static_cast<int>(crop.height), settings.stereogramDots,
                            settings.stereoBorderSize);
  // A card that cannot be allocated is allowed to be missing, but then both paths agree.
  FUZZ_CHECK(shown.has_value() == card.has_value());
  if (!card) {
    FUZZ_CHECK(!duo::limits::imageSizeAllowed(layout.cardWidth, layout.cardHeight));
    return;
  }
  FUZZ_CHECK(card->width() == layout.cardWidth && card->height() == layout.cardHeight);
  FUZZ_CHECK(shown->width() == card->height() && shown->height() == card->width());
  checkOpaque(*shown);
  // Exporting what is shown turns it back to exactly the card cli writes.
  const auto exported = duo::stillImageForExport(duo::OutputKind::Stereogram, &*shown);
  FUZZ_CHECK(exported.has_value());
  FUZZ_CHECK(exported->samePixels(*card));
  const auto jpeg = duo::encodeJpeg(*card, jpegQuality);
  FUZZ_CHECK(jpeg.ok());
  const auto decoded = duo::decodeImage(*jpeg, "encoded");
  FUZZ_CHECK(decoded.ok());
  FUZZ_CHECK(decoded->width() == card->width() && decoded->height() == card->height());
}

void checkWigglegram(duo::StereoPair& pair) {
  const auto gif = duo::buildWigglegramGif(pair);
  FUZZ_CHECK(gif.ok());
  FUZZ_CHECK(gif->size() > 13);
  FUZZ_CHECK(std::equal(gif->begin(), gif->begin() + 6, "GIF89a"));
  FUZZ_CHECK(gif->back() == 0x3B);  // the trailer: a complete file, not a cut-off one
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size <= kHeaderSize) return 0;
  const std::span<const std::uint8_t> header(data, kHeaderSize);
  const std::span<const std::uint8_t> images(data + kHeaderSize, size - kHeaderSize);
  const std::size_t split = header[9] | std::size_t{header[10]} << 8;
  const bool twoImages = split > 0 && split < images.size();
  const auto leftBytes = twoImages ? images.first(split) : images;
  const auto rightBytes = twoImages ? images.subspan(split) : images;
  if (!smallEnough(leftBytes) || !smallEnough(rightBytes)) return 0;

  const auto& folder = duo::fuzz::scratchFolder();
  const auto leftPath = folder / "left.img";
  const auto rightPath = folder / "right.img";
  duo::fuzz::writeBytes(leftPath, leftBytes);
  duo::fuzz::writeBytes(rightPath, rightBytes);

  // 1 % to 128 %: from a one-pixel working copy to full size.
  const float percent = 1.0f + static_cast<float>(header[5]) / 2.0f;
  auto pair = duo::loadStereoPairFiles(leftPath.string(), rightPath.string(), percent);
  if (!pair) return 0;

  const std::uint8_t flags = header[2];
  pair->setAlignOffsetX(static_cast<std::int8_t>(header[0]));
  pair->setAlignOffsetY(static_cast<std::int8_t>(header[1]));
  if (flags & 0x04) pair->swapImages();
  if (flags & 0x08) {
    // The offset measured in points of a result view rather than in pixels.
    pair->setImageView(duo::ImageViewGeometry{static_cast<float>(1 + header[6]),
                                              static_cast<float>(1 + header[7]),
                                              (flags & 0x10) != 0});
  }
  duo::RenderSettings settings;
  settings.colorMethod = header[3] % 6;  // 5 is outside 0–4: renders black, must not fail
  settings.anaglyphEnhance = (flags & 0x01) != 0;
  settings.stereogramDots = (flags & 0x02) != 0;
  settings.stereoBorderSize = static_cast<std::int8_t>(header[4]);  // negatives count as 0
  const int jpegQuality = 1 + header[8] % 100;

  static const duo::GammaTable gamma = duo::updateGammaTable(0.8);
  pair->resizeOriginalImages();
  FUZZ_CHECK(pair->leftImage().width() == pair->rightImage().width());
  FUZZ_CHECK(pair->leftImage().height() == pair->rightImage().height());
  const duo::CropRect crop =
      pair->getAlignmentBounds(pair->leftImage().width(), pair->leftImage().height());
  if (crop.width <= 0 || crop.height <= 0) {
    // No overlap: every kind refuses rather than drawing something half-made.
    FUZZ_CHECK(!duo::renderStill(*pair, duo::OutputKind::ColorAnaglyph, settings, gamma));
    FUZZ_CHECK(!duo::renderStill(*pair, duo::OutputKind::Stereogram, settings, gamma));
    FUZZ_CHECK(!duo::buildWigglegramGif(*pair));
    return 0;
  }
  checkAnaglyph(*pair, duo::OutputKind::ColorAnaglyph, settings, gamma, crop);
  checkAnaglyph(*pair, duo::OutputKind::GreyAnaglyph, settings, gamma, crop);
  checkStereogram(*pair, settings, gamma, crop, jpegQuality);
  checkWigglegram(*pair);
  return 0;
}
