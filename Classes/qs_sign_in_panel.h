#pragma once

#include <QPointer>
#include <QString>

#include <functional>

#include "qs_blur_view.h"

class QLabel;

namespace duo {

class SystemButton;

/// A small frosted panel saying that a sign-in waits for the user in the web browser, with a
/// Cancel button. The browser never tells us that its page was left alone, so the panel gives the
/// sign-in up when Cancel is pressed or when kLifetimeSeconds pass without an answer; either way
/// its abandon handler runs, once. The owner takes it away (dismiss()) when the sign-in ends.
class QSSignInPanel : public QSBlurView {
  Q_OBJECT
 public:
  static constexpr int kWidth = 250;
  static constexpr int kHeight = 95;
  static constexpr int kBottomMargin = 60;
  static constexpr double kFadeSeconds = 0.1;
  static constexpr double kLifetimeSeconds = 600;

  /// A panel for the service called `service` ("Dropbox"), not yet shown.
  explicit QSSignInPanel(const QString& service, QWidget* parent = nullptr);

  QString message() const;
  SystemButton* cancelButton() const { return m_cancelButton; }

  /// Runs when the user gives up or the time runs out (not when dismiss() is called).
  void setAbandonHandler(std::function<void()> handler) { m_onAbandon = std::move(handler); }

  /// Shows the panel centred across `host` with its top at `y` (by default near the bottom),
  /// above everything in it (also a dimmed screen), fading in; starts the time limit.
  void showInView(QWidget* host, int y = -1);
  /// Fades the panel out and deletes it. The abandon handler is not called.
  void dismiss();
  /// What Cancel and the time limit do: dismiss, then the abandon handler, once.
  void abandon();

  void layoutSubviews() override;

 private:
  QPointer<QLabel> m_label;
  QPointer<SystemButton> m_cancelButton;
  std::function<void()> m_onAbandon;
  bool m_ended = false;
};

}  // namespace duo
