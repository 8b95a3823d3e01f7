#include "blend_view_controller.h"

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include "cache/render_cache.h"
#include "render/wigglegram.h"
#include "run_loop.h"
#include "view_animation.h"

// The view modes and their renders: what a mode change puts on screen at once, the render it
// starts on the worker, and what the screen shows when a current result comes back.

namespace duo {

void BlendViewController::viewModeClick() {
  resetFadeItems();
  cleanupImageTransition();
  const int mode = viewMode();
  if (mode >= 1 && mode <= 3) {
    showVignette(1);
    m_activityIndicator->raise();
    m_activityIndicator->startAnimating();
  }
  if (mode >= 0 && mode <= 4) {
    const std::string_view title = m_pair.titleFor(static_cast<OutputKind>(mode));
    m_navigationBar->setTitle(QString::fromUtf8(title.data(), qsizetype(title.size())));
    scheduleRender(mode);
  }
  updateButtons();
}

void BlendViewController::scheduleRender(int mode) {
  // Deferred by one turn of the loop so that the title, the cleared picture and the spinner are
  // drawn before the render starts; a render for a mode left meanwhile never starts.
  const std::uint64_t generation = ++m_generations->mode;
  performAfterDelay(0, [guard = QPointer<BlendViewController>(this), generation, mode] {
    if (!guard || guard->m_generations->mode != generation) return;
    // A zero delay does not wait for the screen to be drawn: draw it now, so the new title and
    // the spinner are up before the worker takes a core.
    if (QWidget* window = guard->view()->window(); window->isVisible()) window->repaint();
    switch (mode) {
      case 0:
        guard->alignImages();
        break;
      case 1:
        guard->blendImages(1);
        break;
      case 2:
        guard->blendImages(2);
        break;
      case 3:
        guard->createStereogram();
        break;
      case 4:
        guard->wiggleImages();
        break;
    }
  });
}

void BlendViewController::invalidateOutputs() { ++m_generations->output; }

void BlendViewController::startRender(int mode) {
  syncPairGeometry();
  RenderRequest request;
  request.mode = mode;
  request.pair = m_pair;  // shares the photographs; later swaps and drags do not reach it
  request.settings = renderSettings();
  request.gamma = m_gammaTable;
  request.cache = m_cache;
  request.generation = m_generations->mode;
  request.outputGeneration = m_generations->output;
  request.live = m_generations;
  ++m_rendersRunning;
  auto* watcher = new QFutureWatcher<RenderResult>(this);
  connect(watcher, &QFutureWatcher<RenderResult>::finished, this, [this, watcher] {
    watcher->deleteLater();
    --m_rendersRunning;
    renderFinished(watcher->result());
  });
  watcher->setFuture(QtConcurrent::run(&renderThreadPool(), &runRender, std::move(request)));
}

void BlendViewController::renderFinished(RenderResult result) {
  // Working copies made by any render are kept, as long as the pair is still the one it read.
  m_pair.adoptWorkingCopies(result.pair, result.sourceLeft, result.sourceRight);
  if (!m_generations->current(result.mode, result.generation, result.outputGeneration)) {
    ++m_supersededCount;
    return;
  }
  switch (result.mode) {
    case 0:
      if (result.ok) {
        m_imageView->setImage(result.picture);
        delete m_alignImageView.data();
        m_alignImageView = new ImageView(result.frames.front(), view());
        m_alignImageView->setContentMode(m_imageView->contentMode());
        m_alignImageView->setGeometry(m_imageView->geometry());
        m_alignImageView->setAttribute(Qt::WA_TransparentForMouseEvents);
        setViewAlpha(m_alignImageView, kAlignOverlayOpacity);
        setOverlayTranslation();
        insertSubviewAbove(m_alignImageView, m_imageView);  // above the picture, below the rest
        m_alignImageView->show();
        // Once more a second later, from the offset of that moment.
        performAfterDelay(1.0, [guard = QPointer<BlendViewController>(this)] {
          if (guard) guard->setOverlayTranslation();
        });
      }
      break;
    case 1:
    case 2:
    case 3:
      if (result.ok) {
        ++(result.fromCache ? m_cacheLoadCount : m_renderCount);
        m_imageView->setImage(result.picture);
        m_shownStill = result.still;
        // Cached only now that it is known to be current: a render superseded by a removal
        // never puts its stale output back.
        if (!result.fromCache)
          m_cache->cacheImage(result.still, nullptr,
                              m_cache->fullPathToCachedImageForImageType(unsigned(result.mode)));
      }
      break;
    case 4:
      if (result.ok) {
        m_imageView->setAnimationImages(std::move(result.frames), kWiggleCycleSeconds);
        m_imageView->startAnimating();
      }
      break;
  }
  m_activityIndicator->stopAnimating();
  hideVignette();
}

void BlendViewController::updateButtons() {
  const int mode = viewMode();
  if (m_actionButton) m_actionButton->setEnabled(mode != 0);
  if (m_photoButton) m_photoButton->setEnabled(true);
  for (int i = 0; m_segmentedControl && i < m_segmentedControl->numberOfSegments(); ++i)
    m_segmentedControl->setEnabledForSegment(true, i);
  if (m_swapButton) m_swapButton->setEnabled(mode >= 1 && mode <= 3);
  if (m_autoAlignButton && m_toolbar) {
    BarButtonItem* last = mode == 0 ? m_autoAlignButton.data() : m_swapButton.data();
    m_toolbar->setItems({m_toolbarSpaces[0].data(), m_segmentedControl.data(),
                         m_toolbarSpaces[1].data(), last});
    m_autoAlignButton->setEnabled(mode == 0 && !m_estimatingAlignment);
  }
}

void BlendViewController::cleanupImageTransition() {
  if (m_imageView) {
    if (m_imageView->isAnimating()) {
      m_imageView->stopAnimating();
      m_imageView->setAnimationImages({}, 0);
    }
    m_imageView->setImage({});
  }
  m_shownStill.reset();
  if (m_alignImageView) {
    removeFromSuperview(m_alignImageView);
    delete m_alignImageView.data();
  }
}

void BlendViewController::syncPairGeometry() {
  // The working copies are made by the render that first needs them, off this thread.
  if (m_imageView)
    m_pair.setImageView(
        ImageViewGeometry{float(m_imageView->width()), float(m_imageView->height()), true});
  m_pair.setAlignOffsetX(m_alignOffsetX);
  m_pair.setAlignOffsetY(m_alignOffsetY);
}

void BlendViewController::alignImages() { startRender(0); }

void BlendViewController::setOverlayTranslation() {
  if (m_alignImageView)
    setViewTransform(m_alignImageView, QTransform::fromTranslate(m_alignOffsetX, m_alignOffsetY));
}

void BlendViewController::blendImages(int kind) { startRender(kind == 2 ? 2 : 1); }

void BlendViewController::createStereogram() { startRender(3); }

void BlendViewController::wiggleImages() { startRender(4); }

void BlendViewController::showVignette(int type) {
  if (!m_vignetteView) {
    m_vignetteView = new VignetteView(view());
    m_vignetteView->setGeometry(view()->rect());
    m_vignetteView->setAttribute(Qt::WA_TransparentForMouseEvents);
    setViewAlpha(m_vignetteView, 0);
    m_vignetteView->show();
  }
  m_vignetteView->raise();
  if (m_navigationBar) m_navigationBar->raise();
  if (m_toolbar) m_toolbar->raise();
  m_vignetteView->setType(type);
  animateViews(kVignetteFadeSeconds, AnimationCurve::EaseInOut,
               {{m_vignetteView.data(), 1.0, {}, {}}});
}

void BlendViewController::hideVignette() {
  if (!m_vignetteView) return;
  QPointer<VignetteView> fading = m_vignetteView;
  animateViews(kVignetteFadeSeconds, AnimationCurve::EaseInOut, {{fading.data(), 0.0, {}, {}}},
               [guard = QPointer<BlendViewController>(this), fading](bool) {
                 // A vignette brought back by a newer render while this fade ran stays: only
                 // a vignette still on its way out is taken away.
                 if (!guard || !fading || guard->m_vignetteView != fading) return;
                 if (viewAlpha(fading) > 0.0) return;
                 delete fading.data();
               });
}
}  // namespace duo
