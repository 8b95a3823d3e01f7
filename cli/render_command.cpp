#include "render_command.h"

#include <filesystem>
#include <optional>
#include <span>
#include <thread>

#include "io/file_io.h"
#include "io/image_codec.h"
#include "render/anaglyph.h"
#include "render/renderer.h"
#include "render/stereogram.h"
#include "stereo/pair_loader.h"
#include "transform/image_tools.h"

namespace duo::cli {

namespace {

namespace fs = std::filesystem;

Result<StereoPair> loadPair(const std::string& leftPath, const std::string& rightPath,
                            const RenderOptions& options) {
  auto pair = loadStereoPairFiles(leftPath, rightPath, options.imageSize);
  if (!pair) return pair.error();
  pair->setAlignOffsetX(static_cast<float>(options.offsetX));
  pair->setAlignOffsetY(static_cast<float>(options.offsetY));
  if (options.swap) pair->swapImages();
  return pair;
}

Status noOverlap() {
  return makeError(ErrorCode::InvalidArgument,
                   "the offset leaves no overlap between the two images");
}

Status writeKind(StereoPair& pair, OutputKind kind, const RenderOptions& options,
                 const GammaTable& gamma, const std::string& path) {
  if (kind == OutputKind::Wigglegram) {
    auto gif = buildWigglegramGif(pair);
    if (!gif) return gif.error();
    return writeFileAtomically(path, *gif);
  }
  std::optional<Image> image;
  if (kind == OutputKind::Stereogram) {
    // Exports get the upright card; drawing it upright saves turning it twice.
    const CropRect crop =
        pair.getAlignmentBounds(pair.leftImage().width(), pair.leftImage().height());
    image = renderStereogramCard(pair.leftImage(), pair.rightImage(), pair.pixelOffset(), crop,
                                 options.settings);
  } else {
    image = renderStill(pair, kind, options.settings, gamma);
  }
  if (!image) return noOverlap();
  return writeImageFile(*image, path, options.jpegQuality);
}

}  // namespace

Status renderPairToOutput(const std::string& left, const std::string& right,
                          const RenderOptions& options, const std::string& output) {
  auto pair = loadPair(left, right, options);
  if (!pair) return pair.error();
  const CropRect crop =
      pair->getAlignmentBounds(pair->leftImage().width(), pair->leftImage().height());
  if (crop.width <= 0 || crop.height <= 0) return noOverlap();

  static const GammaTable gamma = updateGammaTable(0.8);
  if (!options.all) return writeKind(*pair, options.kinds.front(), options, gamma, output);

  std::error_code error;
  fs::create_directories(output, error);
  if (error) {
    return makeError(ErrorCode::Io,
                     output + ": cannot create the folder (" + error.message() + ")");
  }
  for (OutputKind kind : options.kinds) {
    const std::string path = (fs::path(output) / std::string(cacheFileName(kind))).string();
    const Status written = writeKind(*pair, kind, options, gamma, path);
    if (!written) return written;
  }
  return Ok{};
}

}  // namespace duo::cli
