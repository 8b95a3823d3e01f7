#pragma once

#include <QImage>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "render/anaglyph.h"
#include "render/render_settings.h"
#include "stereo/stereo_pair.h"

namespace duo {

class RenderCache;

/// Everything one render of the result screen reads, fixed when the render starts: a copy of
/// the pair (it shares the photographs, which nobody changes in place), the settings and the
/// gamma table of that moment. A render never looks at the screen's live state, so a swap, a
/// drag or a settings change while it runs cannot tear what it reads.
struct RenderRequest {
  int mode = 0;  ///< the view mode: 0 alignment view, 1–3 the still outputs, 4 the wigglegram
  StereoPair pair;
  RenderSettings settings;
  GammaTable gamma{};
  /// Where a still output may already be cached; only read here, never written.
  std::shared_ptr<RenderCache> cache;
  std::uint64_t generation = 0;        ///< the screen's count of started renders
  std::uint64_t outputGeneration = 0;  ///< the screen's count of output invalidations
};

/// What a render hands back to the screen, ready to show.
struct RenderResult {
  int mode = 0;
  std::uint64_t generation = 0;
  std::uint64_t outputGeneration = 0;
  /// The pair as the render left it: working copies made if the request's pair had none.
  StereoPair pair;
  /// The photographs the request started from, to tell whether the screen still holds them.
  std::shared_ptr<const Image> sourceLeft;
  std::shared_ptr<const Image> sourceRight;
  /// Still outputs (1–3): the output as shown, and whether it came from the cache.
  std::shared_ptr<const Image> still;
  bool fromCache = false;
  /// What to show: the still output, or in the alignment view the left image and in frames[0]
  /// the right one; the wigglegram's two frames.
  QImage picture;
  std::vector<QImage> frames;
  bool ok = false;  ///< false: nothing to show (no overlap at this offset, out of memory)
};

/// Runs one render; meant for a worker thread. Never throws: a failure is a result with
/// ok == false.
RenderResult runRender(RenderRequest request);

/// A hook run on the worker at the start of every render (null: none). Tests use it to hold a
/// render at a known point while the screen moves on.
void setRenderStartHookForTesting(std::function<void(int mode)> hook);

}  // namespace duo
