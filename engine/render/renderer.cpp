#include "render/renderer.h"

#include <filesystem>

#include "io/file_io.h"
#include "io/image_codec.h"
#include "render/stereogram.h"
#include "render/wigglegram.h"

namespace duo {

namespace {

CropRect cropOf(StereoPair& pair) {
  pair.resizeOriginalImages();
  const Image& left = pair.leftImage();
  return pair.getAlignmentBounds(left.width(), left.height());
}

}  // namespace

std::optional<Image> renderStill(StereoPair& pair, OutputKind kind, const RenderSettings& settings,
                                 const GammaTable& gamma) {
  const CropRect crop = cropOf(pair);
  const PixelOffset offset = pair.pixelOffset();
  switch (kind) {
    case OutputKind::ColorAnaglyph:
    case OutputKind::GreyAnaglyph:
      return blendImages(pair.leftImage(), pair.rightImage(), offset, crop, static_cast<int>(kind),
                         settings.colorMethod, settings.anaglyphEnhance, gamma);
    case OutputKind::Stereogram:
      return createStereogram(pair.leftImage(), pair.rightImage(), offset, crop, settings);
    case OutputKind::Alignment:
    case OutputKind::Wigglegram:
      break;
  }
  return std::nullopt;
}

std::shared_ptr<const Image> loadCachedStill(OutputKind kind, RenderCache& cache) {
  if (kind == OutputKind::Wigglegram) return nullptr;
  const std::string path = cache.fullPathToCachedImageForImageType(static_cast<unsigned>(kind));
  std::error_code ignored;
  if (path.empty() || !std::filesystem::exists(path, ignored)) return nullptr;
  // The image this cache wrote there, when the file is still that one: no decoding needed.
  if (auto remembered = cache.rememberedImage(path)) return remembered;
  if (auto cached = decodeImageFile(path)) return std::make_shared<const Image>(std::move(*cached));
  return nullptr;
}

std::optional<StillOutcome> renderOrLoadStill(StereoPair& pair, OutputKind kind,
                                              const RenderSettings& settings,
                                              const GammaTable& gamma, RenderCache& cache) {
  const std::string path = cache.fullPathToCachedImageForImageType(static_cast<unsigned>(kind));
  if (path.empty() || kind == OutputKind::Wigglegram) return std::nullopt;
  if (auto cached = loadCachedStill(kind, cache)) return StillOutcome{std::move(cached), true};
  auto rendered = renderStill(pair, kind, settings, gamma);
  if (!rendered) return std::nullopt;
  auto shown = std::make_shared<const Image>(std::move(*rendered));
  cache.cacheImage(shown, nullptr, path);
  return StillOutcome{shown, false};
}

Result<std::vector<std::uint8_t>> buildWigglegramGif(StereoPair& pair) {
  const CropRect crop = cropOf(pair);
  auto frames = wiggleFrames(pair.leftImage(), pair.rightImage(), pair.pixelOffset(), crop);
  if (!frames) {
    return makeError(ErrorCode::InvalidArgument,
                     "the alignment offset leaves no overlap between the two images");
  }
  return wigglegramGif(*frames);
}

Result<std::vector<std::uint8_t>> animatedGifDataToSend(StereoPair& pair, OutputKind selected,
                                                        RenderCache& cache) {
  const std::string path =
      cache.fullPathToCachedImageForImageType(static_cast<unsigned>(OutputKind::Wigglegram));
  std::error_code ignored;
  if (std::filesystem::exists(path, ignored)) {
    if (auto bytes = readFileBytes(path)) return bytes;
  }
  if (selected != OutputKind::Wigglegram) {
    return makeError(ErrorCode::InvalidArgument, "the wigglegram is not the selected output");
  }
  auto gif = buildWigglegramGif(pair);
  if (!gif) return gif.error();
  cache.cacheImage(nullptr, std::make_shared<const std::vector<std::uint8_t>>(*gif), path);
  return gif;
}

}  // namespace duo
