#pragma once

#include <QImage>
#include <QThreadPool>

#include <atomic>
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

/// The result screen's counts of started renders and of output invalidations. A render is
/// current while both still equal the values it started with; shared with the worker so that a
/// render superseded while it waited for its turn never starts.
struct RenderGenerations {
  std::atomic<std::uint64_t> mode{0};
  std::atomic<std::uint64_t> output{0};

  /// Whether a render of `mode` that started at these counts is still wanted. The alignment
  /// view shows the images as they are and places the overlay at the offset of the moment it
  /// is shown, so only a newer mode change supersedes it.
  bool current(int viewMode, std::uint64_t modeCount, std::uint64_t outputCount) const {
    return modeCount == mode.load() && (viewMode == 0 || outputCount == output.load());
  }
};

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
  /// The screen's live counts: a render no longer current when its turn comes is skipped.
  std::shared_ptr<const RenderGenerations> live;
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
  bool skipped = false;  ///< superseded before it started: nothing was done
};

/// Runs one render; meant for a worker thread. Never throws: a failure is a result with
/// ok == false.
RenderResult runRender(RenderRequest request);

/// The one worker thread renders run on. One at a time: a large pair's render holds a few
/// hundred megabytes, and a second core is better spent on the cache's PNG encoding.
QThreadPool& renderThreadPool();

/// A hook run on the worker at the start of every render (null: none). Tests use it to hold a
/// render at a known point while the screen moves on.
void setRenderStartHookForTesting(std::function<void(int mode)> hook);

}  // namespace duo
