#include "qs_modal_overlay.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPainter>

namespace duo {

namespace {

/// The dimmed screen behind a panel. It lets taps through to the overlay, which treats them as
/// taps outside.
class Backdrop : public QWidget {
 public:
  Backdrop(const QColor& colour, QWidget* parent) : QWidget(parent), m_colour(colour) {}

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), m_colour); }

 private:
  QColor m_colour;
};

/// Gives the focus back to what had it before an overlay took it, unless something else (say,
/// the next alert) has taken it meanwhile.
void restoreFocus(QWidget* self, QWidget* previous) {
  QWidget* focus = QApplication::focusWidget();
  const bool ours = !focus || focus == self || self->isAncestorOf(focus);
  if (ours && previous && previous->isVisible()) previous->setFocus(Qt::OtherFocusReason);
}

}  // namespace

QSModalOverlay::QSModalOverlay() {
  setFocusPolicy(Qt::StrongFocus);
  hide();
}

QSModalOverlay::~QSModalOverlay() {
  if (m_host) m_host->removeEventFilter(this);
}

void QSModalOverlay::showOver(QWidget* host, const QColor& dim, const QString& windowTitle,
                              bool animated) {
  m_shown = true;
  m_previousFocus = QApplication::focusWidget();
  if (host) {
    m_host = host;
    setParent(host);
    setGeometry(host->rect());
    host->installEventFilter(this);
    m_backdrop = new Backdrop(dim, this);
    m_backdrop->setGeometry(rect());
  } else {
    // No application window to cover: the question still has to reach the user, so it becomes
    // a small modal window of its own.
    m_ownWindow = true;
    setParent(nullptr, Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(windowTitle);
  }
  layOutPanel();
  QWidget::show();
  raise();
  if (m_ownWindow) activateWindow();
  QWidget* focus = initialFocus();
  (focus ? focus : this)->setFocus(Qt::OtherFocusReason);
  if (!m_ownWindow) animateIn(animated);
}

bool QSModalOverlay::event(QEvent* event) {
  // Escape belongs to the overlay on top, yet a shortcut of the screen beneath (the share
  // picker's Cancel, the settings screen's Done) would take it first and close that screen under
  // the open question. Claiming the key lets it reach keyPressEvent. The claim lasts until the
  // overlay is hidden, not only while it can answer, so that the repeats of a held key during
  // the fade-out do not close the screen as well.
  if (event->type() == QEvent::ShortcutOverride && isVisible() &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    event->accept();
    return true;
  }
  return QWidget::event(event);
}

bool QSModalOverlay::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_host && event->type() == QEvent::Resize) {
    setGeometry(m_host->rect());
    if (m_backdrop) m_backdrop->setGeometry(rect());
    layOutPanel();
  }
  return QWidget::eventFilter(watched, event);
}

void QSModalOverlay::dismissWithClickedButtonIndex(int index, bool animated) {
  if (m_dismissing) return;
  m_dismissing = true;
  QPointer<QSModalOverlay> self(this);
  if (!m_answered) answerWithButtonIndex(index);
  if (!self) return;
  if (!m_shown || m_ownWindow || !animated) {
    finishDismissal(index);
    return;
  }
  animateOut([self, index](bool) {
    if (self) self->finishDismissal(index);
  });
}

void QSModalOverlay::finishDismissal(int index) {
  QWidget::hide();
  if (m_host) m_host->removeEventFilter(this);
  restoreFocus(this, m_previousFocus);
  emit didDismissWithButtonIndex(index);
  deleteLater();
}

}  // namespace duo
