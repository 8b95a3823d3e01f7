#include "blend_view_controller.h"

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <cmath>

#include "align/auto_align.h"
#include "cache/render_cache.h"
#include "large_output_window.h"
#include "qs_alert_view.h"
#include "qs_modal_overlay.h"
#include "view_animation.h"

// The user's hands on the result screen: touches and the loupe in the alignment view, keys and
// nudges, mouse movement over the bars, and the large view.

namespace duo {

bool BlendViewController::handleKey(const QKeyEvent& event) {
  const int key = event.key();
  const Qt::KeyboardModifiers modifiers =
      event.modifiers() &
      (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  if (modifiers == Qt::NoModifier && key >= Qt::Key_1 && key <= Qt::Key_5) {
    const int mode = key - Qt::Key_1;
    if (viewMode() != mode) {
      m_segmentedControl->setSelectedSegmentIndex(mode);
      viewModeClick();
    }
    return true;
  }
  if (modifiers == Qt::NoModifier && key == Qt::Key_F) {
    showLargeView();
    return true;
  }
  if (modifiers != Qt::NoModifier && modifiers != Qt::ShiftModifier) return false;
  const int step = modifiers == Qt::ShiftModifier ? 10 : 1;
  switch (key) {
    case Qt::Key_Left:
      nudgeAlignment(-step, 0);
      return true;
    case Qt::Key_Right:
      nudgeAlignment(step, 0);
      return true;
    case Qt::Key_Up:
      nudgeAlignment(0, -step);
      return true;
    case Qt::Key_Down:
      nudgeAlignment(0, step);
      return true;
    default:
      return false;
  }
}

bool BlendViewController::acceptsKeys() const {
  const QWidget* root = m_imageView ? m_imageView->parentWidget() : nullptr;
  if (!root || !root->isVisible() || presentedViewController() || m_isShowingModal ||
      m_isFadeTimerStopped || m_isGesturing)
    return false;
  // An alert or a sheet over the screen has the keys.
  for (const QSModalOverlay* overlay : root->window()->findChildren<QSModalOverlay*>())
    if (overlay->isVisible()) return false;
  return true;
}

bool BlendViewController::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->isWidgetType() && isViewLoaded()) {
    // Keys meant for this screen: those sent to it or to a widget inside it, or to its window
    // while the focus is in the screen or nowhere. Anything else (another window, a screen or
    // sheet presented over this one) keeps its keys.
    auto* widget = static_cast<QWidget*>(watched);
    QWidget* root = view();
    const auto inside = [root](const QWidget* w) { return w == root || root->isAncestorOf(w); };
    const QWidget* focus = QApplication::focusWidget();
    const bool ours = inside(widget) || (widget == root->window() && (!focus || inside(focus)));
    if (ours && acceptsKeys() && handleKey(*static_cast<QKeyEvent*>(event))) return true;
  }
  if (event->type() == QEvent::MouseMove && watched->isWidgetType()) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    auto* widget = static_cast<QWidget*>(watched);
    QWidget* root = isViewLoaded() ? view() : nullptr;
    if (root && mouse->buttons() == Qt::NoButton && widget->window() == root->window() &&
        (widget == root || root->isAncestorOf(widget)))
      pointerMoved(root->mapFromGlobal(mouse->globalPosition()));
  }
  return ViewController::eventFilter(watched, event);
}

void BlendViewController::touchesBegan(QPointF point) {
  if (!m_isFadeTimerStopped && m_navigationBar && m_toolbar) {
    if (viewTargetAlpha(m_navigationBar) < 1 || viewTargetAlpha(m_toolbar) < 1)
      resetFadeItems();
    else
      fadeItems();
  }
  if (m_isGesturing || viewMode() != 0) return;
  m_isGesturing = true;
  m_gestureLastPoint = point;
  m_alignmentTouchDownPoint = QPointF(point.x() - m_alignOffsetX, point.y() - m_alignOffsetY);

  delete m_loupe.data();
  // Beside the screen's view, not in it, so the loupe never magnifies itself.
  QWidget* host = view()->parentWidget() ? view()->parentWidget() : view();
  m_loupe = new MagnifierView(host);
  m_loupe->setViewToMagnify(view());
  m_loupe->show();
  m_loupe->raise();
  m_loupe->setTouchPoint(point);
  m_loupe->update();
}

void BlendViewController::touchesMoved(QPointF point) {
  if (!m_isGesturing) return;
  if (point == m_gestureLastPoint) return;
  const float cx = float(point.x() - m_alignmentTouchDownPoint.x());
  const float cy = float(point.y() - m_alignmentTouchDownPoint.y());
  // Each axis stops at its last value within the limit; the other goes on following.
  if (std::abs(std::trunc(cx)) <= kMaxAlignOffset) m_alignOffsetX = cx;
  if (std::abs(std::trunc(cy)) <= kMaxAlignOffset) m_alignOffsetY = cy;
  setOverlayTranslation();
  m_gestureLastPoint = point;
  if (m_loupe) {
    m_loupe->setTouchPoint(point);
    m_loupe->update();
  }
}

void BlendViewController::touchesEnded(QPointF) {
  if (!m_isGesturing) return;
  m_isGesturing = false;
  resetFadeItems();
  if (m_loupe) m_loupe->hide();
  // Every output depends on the offset, also after a tap that did not move it.
  invalidateOutputs();
  m_cache->removeCachedFilesForMask(kCacheMaskAll);
}

void BlendViewController::touchesCancelled() { touchesEnded(m_gestureLastPoint); }

void BlendViewController::showLargeView() {
  const int mode = viewMode();
  if (mode < 1 || mode > 4 || !m_imageView) return;
  std::vector<QImage> frames;
  double cycle = 0;
  if (mode == 4) {
    frames = m_imageView->animationImages();
    cycle = m_imageView->animationDuration();
  } else if (!m_imageView->image().isNull()) {
    // The stereogram is shown turned a quarter clockwise to fit the tall screen; a large window
    // has room for the card upright.
    frames = {mode == 3 ? m_imageView->image().transformed(QTransform().rotate(-90))
                        : m_imageView->image()};
  }
  if (frames.empty()) return;  // still rendering
  auto* window = qobject_cast<LargeOutputWindow*>(m_largeView.data());
  if (!window) {
    // A window of its own that belongs to the main one: it goes with it, and does not keep the
    // application running once the main window has been closed.
    window = new LargeOutputWindow(view()->window());
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setAttribute(Qt::WA_QuitOnClose, false);
    m_largeView = window;
  }
  window->setOutput(m_navigationBar ? m_navigationBar->title() : QString(), std::move(frames),
                    cycle);
  window->show();
  window->raise();
  window->activateWindow();
}

void BlendViewController::pointerMoved(QPointF point) {
  if (m_isFadeTimerStopped || m_isGesturing || !m_navigationBar || !m_toolbar) return;
  if (m_navigationBar->geometry().contains(point.toPoint()) ||
      m_toolbar->geometry().contains(point.toPoint()))
    resetFadeItems();
}

float BlendViewController::alignmentViewScale() const {
  if (!m_alignImageView || !m_imageView) return 0;
  // The scale of the picture on screen: the working copies the overlay shows.
  const QImage& overlay = m_alignImageView->image();
  return scaleForImageView(
      ImageViewGeometry{float(m_imageView->width()), float(m_imageView->height()), true},
      overlay.width(), overlay.height());
}

void BlendViewController::alignmentChanged() {
  setOverlayTranslation();
  resetFadeItems();
  invalidateOutputs();
  m_cache->removeCachedFilesForMask(kCacheMaskAll);
}

void BlendViewController::nudgeAlignment(int dx, int dy) {
  if (viewMode() != 0 || m_isGesturing || !m_alignImageView || !m_imageView) return;
  const float scale = alignmentViewScale();
  const PixelOffset now = pixelOffsetFor(scale, m_alignOffsetX, m_alignOffsetY);
  const auto nudged = [scale](float offset, int pixel, int delta) {
    if (delta == 0) return offset;
    const float points = pointsForPixel(scale, pixel + delta);
    return std::abs(std::trunc(points)) <= kMaxAlignOffset ? points : offset;
  };
  m_alignOffsetX = nudged(m_alignOffsetX, now.x, dx);
  m_alignOffsetY = nudged(m_alignOffsetY, now.y, dy);
  // Ends like a touch: the bars come back and every output depends on the new offset.
  alignmentChanged();
}

// ---------------------------------------------------------------------------------------------
// Suggested alignment

void BlendViewController::autoAlignButtonClick() {
#ifdef DUOSCOPE_HAVE_AUTO_ALIGN
  if (viewMode() != 0 || m_estimatingAlignment || m_isGesturing || !m_alignImageView) return;
  const std::shared_ptr<const Image> left = m_pair.sharedLeftImage();
  const std::shared_ptr<const Image> right = m_pair.sharedRightImage();
  if (!m_pair.resizedOriginalImages() || !left || !right) return;  // no working copies yet
  m_estimatingAlignment = true;
  if (m_autoAlignButton) m_autoAlignButton->setEnabled(false);
  m_activityIndicator->startAnimating();
  stopFadeItems();
  auto* watcher = new QFutureWatcher<Result<AlignmentSuggestion>>(this);
  connect(watcher, &QFutureWatcher<Result<AlignmentSuggestion>>::finished, this,
          [this, watcher, left, right] {
            watcher->deleteLater();
            m_estimatingAlignment = false;
            m_activityIndicator->stopAnimating();
            updateButtons();
            const Result<AlignmentSuggestion> found = watcher->result();
            // The pair may have been swapped meanwhile: the suggestion is for the order it read.
            const bool current = m_pair.sharedLeftImage() == left && m_pair.sharedRightImage() == right;
            const auto tell = [this](const QString& title, const QString& message) {
              auto* alert = new QSAlertView(title, message, QStringLiteral("Continue"));
              alert->showWithCompletion([guard = QPointer<BlendViewController>(this)](QSAlertView*, int) {
                if (guard) guard->resetFadeItems();
              });
            };
            if (!found) {
              tell(QStringLiteral("No Suggestion"), QString::fromStdString(found.error().message));
              return;
            }
            if (found->confidence < kMinimumAlignmentConfidence) {
              tell(QStringLiteral("No Clear Suggestion"),
                   QStringLiteral("Too few details match between the two photographs to suggest an "
                                  "alignment. Nothing was changed."));
              return;
            }
            const float scale = alignmentViewScale();
            if (!current || viewMode() != 0 || scale <= 0) {
              resetFadeItems();
              return;
            }
            const float x = pointsForPixel(scale, found->dx);
            const float y = pointsForPixel(scale, found->dy);
            // The alignment view moves the right image by at most kMaxAlignOffset points each
            // way; a suggestion beyond that is not cut to the limit, which would look aligned
            // and be wrong.
            if (std::abs(std::trunc(x)) > kMaxAlignOffset || std::abs(std::trunc(y)) > kMaxAlignOffset) {
              tell(QStringLiteral("Too Far Apart"),
                   QStringLiteral("The photographs are %1, %2 pixels out of register, more than "
                                  "the alignment view can move. Nothing was changed.")
                       .arg(found->dx)
                       .arg(found->dy));
              return;
            }
            m_alignOffsetX = x;
            m_alignOffsetY = y;
            alignmentChanged();
          });
  watcher->setFuture(QtConcurrent::run([left, right] { return suggestAlignment(*left, *right); }));
#endif
}

}  // namespace duo
