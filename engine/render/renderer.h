#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "cache/render_cache.h"
#include "core/result.h"
#include "image/image.h"
#include "render/anaglyph.h"
#include "render/render_settings.h"
#include "stereo/output_kind.h"
#include "stereo/stereo_pair.h"

namespace duo {

/// Renders one still output kind of a pair as it is shown: the anaglyphs as rendered, the
/// stereogram turned a quarter clockwise. Makes the working copies first. The alignment view
/// and the wigglegram have no still rendering (nullopt), nor has an offset that leaves no
/// overlap or a canvas that cannot be allocated.
std::optional<Image> renderStill(StereoPair& pair, OutputKind kind, const RenderSettings& settings,
                                 const GammaTable& gamma);

/// The cached output of a still kind (1–3) as it was shown: the image the cache remembers for
/// the file, or the file decoded. Null when there is no file or it no longer decodes (it is
/// then rendered again rather than trusted). Safe on any thread.
std::shared_ptr<const Image> loadCachedStill(OutputKind kind, RenderCache& cache);

/// The result screen's render-or-load step for kinds 1–3: the cached file of the kind if there
/// is one (a cached file that no longer decodes is rendered again rather than trusted), else a
/// fresh render that is then queued for the cache. `fromCache` tells which.
struct StillOutcome {
  std::shared_ptr<const Image> image;
  bool fromCache = false;
};
std::optional<StillOutcome> renderOrLoadStill(StereoPair& pair, OutputKind kind,
                                              const RenderSettings& settings,
                                              const GammaTable& gamma, RenderCache& cache);

/// The wigglegram's GIF for export: the cached bytes if present; otherwise, only while the
/// wigglegram is the selected kind, built from the pair's two crops and queued for the cache.
/// An error when nothing can be returned.
Result<std::vector<std::uint8_t>> animatedGifDataToSend(StereoPair& pair, OutputKind selected,
                                                        RenderCache& cache);

/// Builds the wigglegram GIF of a pair without any cache.
Result<std::vector<std::uint8_t>> buildWigglegramGif(StereoPair& pair);

}  // namespace duo
