#pragma once

#include <QColor>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <utility>

namespace duo {

/// What an alert and an action sheet have in common: a modal overlay that covers a whole window
/// (dimming it) or, when there is no window to cover, becomes a small modal window of its own;
/// that answers at most once with the index of a button; and that, once dismissed, goes away
/// and deletes itself (deleteLater), so callers keep a QPointer, never an owning pointer.
/// Escape reaches the overlay while it is up, even when the window beneath has an Escape shortcut.
///
/// A subclass draws its panel and chooses how it comes and goes through the protected hooks,
/// and shows itself with showOver().
class QSModalOverlay : public QWidget {
  Q_OBJECT
 public:
  ~QSModalOverlay() override;

  /// Closes the overlay as if the button had been pressed: the index is reported (unless an
  /// answer was reported already), then the overlay goes away and deletes itself. Only the
  /// first call counts.
  void dismissWithClickedButtonIndex(int index, bool animated);

  bool isShowing() const { return m_shown && !m_dismissing; }

 signals:
  void clickedButtonAtIndex(int index);
  void didDismissWithButtonIndex(int index);

 protected:
  QSModalOverlay();

  /// Shows the overlay over `host`, dimmed with `dim`, or, when `host` is nullptr, as a small
  /// modal window of its own titled `windowTitle`. Then lays out the panel, takes the focus and,
  /// over a host, animates in. Call it once (hasBeenShown() tells).
  void showOver(QWidget* host, const QColor& dim, const QString& windowTitle, bool animated);

  /// Reports the answer: calls `completion`, if any, with `overlay` and the index, then emits
  /// clickedButtonAtIndex, unless the completion deleted the overlay. The completion is dropped
  /// before the call, so that it runs at most once even if it re-enters.
  template <typename Overlay>
  void reportAnswer(std::function<void(Overlay*, int)>& completion, Overlay* overlay, int index) {
    m_answered = true;
    std::function<void(Overlay*, int)> call = std::exchange(completion, {});
    QPointer<QSModalOverlay> self(this);
    if (call) call(overlay, index);
    if (self) emit clickedButtonAtIndex(index);
  }

  /// Answers with `index` through the subclass's public answer method (such as
  /// alertViewClickedButtonAtIndex, which users may override in turn); called by a dismissal
  /// that has not been answered yet.
  virtual void answerWithButtonIndex(int index) = 0;
  /// Builds (or rebuilds) the panel for the overlay's present size and puts it in place: once as
  /// the overlay is shown, and again whenever the window it covers is resized.
  virtual void layOutPanel() = 0;
  /// Brings the panel in over a host, once the overlay is visible and laid out. `animated` is
  /// the caller's wish, which a subclass may overrule for a motion users rely on.
  virtual void animateIn(bool animated) = 0;
  /// Animates the leaving over a host and calls `done` at the end.
  virtual void animateOut(std::function<void(bool finished)> done) = 0;
  /// Where the focus goes once shown; nullptr for the overlay itself.
  virtual QWidget* initialFocus() const { return nullptr; }

  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  bool hasBeenShown() const { return m_shown; }
  bool isDismissing() const { return m_dismissing; }
  /// True when shown as a window of its own rather than over a host.
  bool hasOwnWindow() const { return m_ownWindow; }
  /// The window covered (nullptr in a window of its own).
  QWidget* host() const { return m_host; }
  /// The dimmed screen behind the panel (nullptr in a window of its own). Taps go through it to
  /// the overlay, which takes them as taps outside the panel.
  QWidget* backdrop() const { return m_backdrop; }

 private:
  void finishDismissal(int index);

  QWidget* m_backdrop = nullptr;
  QPointer<QWidget> m_host;
  QPointer<QWidget> m_previousFocus;
  bool m_ownWindow = false;
  bool m_shown = false;
  bool m_answered = false;
  bool m_dismissing = false;
};

}  // namespace duo
