#include "render_job.h"

#include <QCoreApplication>

#include <mutex>

#include "cache/render_cache.h"
#include "qt_image.h"
#include "render/renderer.h"
#include "stereo/output_kind.h"

namespace duo {

namespace {

std::mutex& hookMutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<void(int)>& startHook() {
  static std::function<void(int)> hook;
  return hook;
}

void renderInto(RenderRequest& request, RenderResult& result) {
  StereoPair& pair = request.pair;
  pair.resizeOriginalImages();
  switch (request.mode) {
    case 0:
      result.picture = toQImage(pair.sharedLeftImage());
      result.frames = {toQImage(pair.sharedRightImage())};
      result.ok = !result.picture.isNull() && !result.frames[0].isNull();
      return;
    case 1:
    case 2:
    case 3: {
      const auto kind = static_cast<OutputKind>(request.mode);
      if (request.cache) result.still = loadCachedStill(kind, *request.cache);
      result.fromCache = result.still != nullptr;
      if (!result.still) {
        auto rendered = renderStill(pair, kind, request.settings, request.gamma);
        if (!rendered) return;  // nothing overlaps at this offset
        // Opaque fourth bytes let the picture be shown without a copy; the cached PNG and the
        // exports never read that byte.
        rendered->makeFourthBytesOpaque();
        result.still = std::make_shared<const Image>(std::move(*rendered));
      }
      result.picture = toQImage(result.still);
      result.ok = !result.picture.isNull();
      return;
    }
    case 4: {
      // The two crops are shown as they lie in the working copies: views into the shared
      // photographs rather than copies of a quarter of a gigabyte on a large pair.
      const Image& left = pair.leftImage();
      const CropRect crop = pair.getAlignmentBounds(left.width(), left.height());
      const PixelOffset offset = pair.pixelOffset();
      result.frames = {toQImage(pair.sharedLeftImage(), crop),
                       toQImage(pair.sharedRightImage(), rightCropFor(crop, offset))};
      result.ok = !result.frames[0].isNull() && !result.frames[1].isNull();
      return;
    }
    default:
      return;
  }
}

}  // namespace

RenderResult runRender(RenderRequest request) {
  RenderResult result;
  result.mode = request.mode;
  result.generation = request.generation;
  result.outputGeneration = request.outputGeneration;
  result.sourceLeft = request.pair.sharedLeftImage();
  result.sourceRight = request.pair.sharedRightImage();
  if (request.live &&
      !request.live->current(request.mode, request.generation, request.outputGeneration)) {
    result.skipped = true;
    result.pair = std::move(request.pair);
    return result;
  }
  {
    std::function<void(int)> hook;
    {
      std::lock_guard lock(hookMutex());
      hook = startHook();
    }
    if (hook) hook(request.mode);
  }
  try {
    renderInto(request, result);
  } catch (const std::exception&) {
    // Out of memory, or a pair without a usable working size: nothing to show, and the screen
    // stays usable rather than the application ending.
    result.still.reset();
    result.picture = QImage();
    result.frames.clear();
    result.ok = false;
  }
  result.pair = std::move(request.pair);
  return result;
}

QThreadPool& renderThreadPool() {
  // Lives as long as the application and finishes the render under way when it goes.
  static QThreadPool* pool = [] {
    auto* created = new QThreadPool(QCoreApplication::instance());
    created->setMaxThreadCount(1);
    created->setObjectName(QStringLiteral("render"));
    return created;
  }();
  return *pool;
}

void setRenderStartHookForTesting(std::function<void(int mode)> hook) {
  std::lock_guard lock(hookMutex());
  startHook() = std::move(hook);
}

}  // namespace duo
