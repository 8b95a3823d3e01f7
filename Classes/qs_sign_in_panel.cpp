#include "qs_sign_in_panel.h"

#include <QLabel>

#include "run_loop.h"
#include "system_button.h"
#include "theme.h"
#include "view_animation.h"

namespace duo {

namespace {
constexpr int kButtonHeight = 44;
constexpr int kInset = 12;
}  // namespace

QSSignInPanel::QSSignInPanel(const QString& service, QWidget* parent)
    : QSBlurView(QRect(0, 0, kWidth, kHeight), parent) {
  setObjectName(QStringLiteral("QSSignInPanel"));
  setCornerRadius(7);
  setBackgroundTintColor(QColor::fromRgbF(0.95f, 0.95f, 0.95f, 0.9f));
  setViewAlpha(this, 0);
  m_label = new QLabel(
      QStringLiteral("Waiting for you to sign in to %1\nin your web browser").arg(service), this);
  m_label->setObjectName(QStringLiteral("MessageLabel"));
  m_label->setAlignment(Qt::AlignCenter);
  m_label->setFont(theme::systemFont(14));
  m_label->setStyleSheet(QStringLiteral("color: black; background: transparent;"));
  m_cancelButton = new SystemButton(QStringLiteral("Cancel"), this);
  m_cancelButton->setObjectName(QStringLiteral("CancelButton"));
  m_cancelButton->setFont(theme::boldSystemFont(17));
  m_cancelButton->setTitleColor(QColor(0x0a, 0x7a, 0xc4));  // the theme's accent is too pale on light glass
  connect(m_cancelButton, &QPushButton::clicked, this, [this] { abandon(); });
  layoutSubviews();
}

QString QSSignInPanel::message() const { return m_label ? m_label->text() : QString(); }

void QSSignInPanel::layoutSubviews() {
  if (m_label) m_label->setGeometry(kInset, 4, width() - 2 * kInset, height() - kButtonHeight - 4);
  if (m_cancelButton) m_cancelButton->setGeometry(0, height() - kButtonHeight, width(), kButtonHeight);
  QSBlurView::layoutSubviews();
}

void QSSignInPanel::showInView(QWidget* host, int y) {
  if (!host) return;
  setParent(host);
  move((host->width() - kWidth) / 2, y >= 0 ? y : host->height() - kHeight - kBottomMargin);
  raise();
  QWidget::show();
  animateViews(kFadeSeconds, AnimationCurve::EaseOut, {{this, 1.0, {}, {}}});
  performAfterDelay(kLifetimeSeconds, [self = QPointer<QSSignInPanel>(this)] {
    if (self) self->abandon();
  });
}

void QSSignInPanel::dismiss() {
  if (m_ended) return;
  m_ended = true;
  if (m_cancelButton) m_cancelButton->setEnabled(false);
  animateViews(kFadeSeconds, AnimationCurve::EaseIn, {{this, 0.0, {}, {}}},
               [self = QPointer<QSSignInPanel>(this)](bool) {
                 if (self) self->deleteLater();
               });
}

void QSSignInPanel::abandon() {
  if (m_ended) return;
  dismiss();
  if (auto handler = std::exchange(m_onAbandon, nullptr)) handler();
}

}  // namespace duo
