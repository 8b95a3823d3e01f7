#pragma once

#include <QAbstractButton>
#include <QLineEdit>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <vector>

#include "qs_modal_overlay.h"

namespace duo {

class BarButtonItem;
class Toolbar;

/// A phone-style alert that reports the pressed button through a completion instead of a
/// delegate. It appears over the key window as a rounded dark card on a dimmed screen (or, with
/// no key window, as a small window of its own), and after a button has been pressed it goes
/// away and deletes itself (deleteLater): callers keep a QPointer, never an owning pointer.
/// dismissWithClickedButtonIndex(), isShowing() and the signals come from QSModalOverlay.
///
/// Button indices are the platform's: the cancel button (when there is one) is 0, then the
/// other buttons in the order given, then buttons added with addButtonWithTitle(). Return presses
/// the first other button and Escape the cancel button (either key the only button, if alone).
class QSAlertView : public QSModalOverlay {
  Q_OBJECT
 public:
  using Completion = std::function<void(QSAlertView* alert, int buttonIndex)>;
  enum class Style { Default, SecureTextInput, PlainTextInput, LoginAndPasswordInput };

  /// An empty `cancelButtonTitle` means no cancel button.
  QSAlertView(const QString& title, const QString& message, const QString& cancelButtonTitle = {},
              const QStringList& otherButtonTitles = {});

  QString title() const { return m_title; }
  void setTitle(const QString& title) { m_title = title; }
  QString message() const { return m_message; }
  void setMessage(const QString& message) { m_message = message; }

  /// Appends a button; returns its index. Buttons added after show() are not shown.
  int addButtonWithTitle(const QString& title);
  int numberOfButtons() const { return int(m_buttonTitles.size()); }
  /// -1 when there is no cancel button.
  int cancelButtonIndex() const { return m_cancelIndex; }
  /// The first button that is not the cancel button, -1 when there is none.
  int firstOtherButtonIndex() const;
  /// Empty for an index out of range.
  QString buttonTitleAtIndex(int index) const;

  Style alertViewStyle() const { return m_style; }
  /// Chooses the text fields the alert shows (none, one or two). Set it before showing.
  void setAlertViewStyle(Style style);
  /// The text fields of the style: 0 is the text (or login) field, 1 the password field of the
  /// login style. nullptr for an index the style does not have.
  QLineEdit* textFieldAtIndex(int index) const;

  const Completion& alertCompletion() const { return m_completion; }
  void setAlertCompletion(Completion completion) { m_completion = std::move(completion); }

  /// Shows the alert (once; later calls do nothing). Hides QWidget::show on purpose: an alert
  /// chooses its own place.
  void show();
  /// Stores `completion` (which may be empty: the alert then reports nothing) and shows.
  void showWithCompletion(Completion completion);

  /// The alert's answer, as its own delegate: calls the completion, if any, with the alert and
  /// the index, then drops it, so the completion runs at most once. Emits clickedButtonAtIndex.
  virtual void alertViewClickedButtonAtIndex(int index);

  /// The widget of button `index` once the alert is showing (nullptr before, or out of range).
  QAbstractButton* buttonAtIndex(int index) const;
  /// The card the alert draws (nullptr before show()).
  QWidget* card() const { return m_card; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

  void answerWithButtonIndex(int index) override { alertViewClickedButtonAtIndex(index); }
  void layOutPanel() override;
  void animateIn(bool animated) override;
  void animateOut(std::function<void(bool finished)> done) override;
  QWidget* initialFocus() const override;

 private:
  void buildCard();

  QString m_title;
  QString m_message;
  QStringList m_buttonTitles;
  int m_cancelIndex = -1;
  Style m_style = Style::Default;
  std::vector<QLineEdit*> m_fields;
  Completion m_completion;

  // Fades and zooms apply to the whole alert, which covers the window from its origin, never to
  // the card inside it: Qt draws nested graphics effects (our view opacity and transform), and
  // QWidget::render() any effect that sits away from the window's origin, at the wrong place.
  QWidget* m_card = nullptr;
  std::vector<QAbstractButton*> m_buttons;  // by index
};

/// A list of choices that reports the pressed button through a completion. On a phone it slides
/// up from the bottom of the window over a dimmed screen, the cancel button apart at the bottom;
/// on a tablet it is a panel pointing at the bar button that opened it, without the cancel
/// button, and a tap outside it answers with the cancel index (as on the phone, where a tap
/// outside also counts as Cancel). With no cancel button that answer is -1. Like QSAlertView it
/// deletes itself once answered, and has dismissWithClickedButtonIndex(), isShowing() and the
/// signals from QSModalOverlay.
///
/// Button indices are the platform's: the destructive button first, then the other buttons,
/// then the cancel button, then buttons added with addButtonWithTitle().
class QSActionSheet : public QSModalOverlay {
  Q_OBJECT
 public:
  using Completion = std::function<void(QSActionSheet* sheet, int buttonIndex)>;
  enum class Style { Automatic, Default, BlackTranslucent, BlackOpaque };

  /// Empty titles mean none (no title line, no cancel or destructive button).
  explicit QSActionSheet(const QString& title = {}, const QString& cancelButtonTitle = {},
                         const QString& destructiveButtonTitle = {},
                         const QStringList& otherButtonTitles = {});

  QString title() const { return m_title; }
  void setTitle(const QString& title) { m_title = title; }
  int addButtonWithTitle(const QString& title);
  int numberOfButtons() const { return int(m_buttonTitles.size()); }
  QString buttonTitleAtIndex(int index) const;
  /// -1 when there is none. Setting an index out of range means none.
  int cancelButtonIndex() const { return m_cancelIndex; }
  void setCancelButtonIndex(int index);
  int destructiveButtonIndex() const { return m_destructiveIndex; }
  void setDestructiveButtonIndex(int index);
  /// The first button that is neither cancel nor destructive, -1 when there is none.
  int firstOtherButtonIndex() const;
  Style actionSheetStyle() const { return m_style; }
  /// How see-through the button groups are: translucent, opaque, or slightly see-through.
  void setActionSheetStyle(Style style) { m_style = style; }

  const Completion& actionCompletion() const { return m_completion; }
  void setActionCompletion(Completion completion) { m_completion = std::move(completion); }

  /// Stores the completion and shows the sheet: on a tablet as a panel anchored to the item's
  /// button (fading in when `animated`); on a phone sliding up over the toolbar's window.
  /// Either anchor may be nullptr; the sheet then uses what it has, down to the key window.
  void showFromBarButtonItem(BarButtonItem* item, Toolbar* toolbar, bool animated,
                             Completion completion);

  /// The sheet's answer, as its own delegate: calls the completion, if any, then drops it.
  virtual void actionSheetClickedButtonAtIndex(int index);

  /// True when shown as the tablet's anchored panel.
  bool isPopover() const { return m_popover; }
  /// The widget of button `index` while showing (nullptr when not shown, e.g. the tablet's
  /// cancel button).
  QAbstractButton* buttonAtIndex(int index) const;
  /// The panel holding the buttons (nullptr before showing).
  QWidget* panel() const { return m_panel; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

  void answerWithButtonIndex(int index) override { actionSheetClickedButtonAtIndex(index); }
  void layOutPanel() override;
  void animateIn(bool animated) override;
  void animateOut(std::function<void(bool finished)> done) override;

 private:
  QString m_title;
  QStringList m_buttonTitles;
  int m_cancelIndex = -1;
  int m_destructiveIndex = -1;
  Style m_style = Style::Automatic;
  Completion m_completion;

  QWidget* m_panel = nullptr;
  std::vector<QAbstractButton*> m_buttons;  // by index; nullptr for a button not shown
  QPointer<QWidget> m_anchor;               // the bar button the tablet panel points at
  bool m_popover = false;
};

}  // namespace duo
