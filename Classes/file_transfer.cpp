#include "file_transfer.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QLabel>

#include <cmath>

#include "app_window.h"
#include "idle_inhibitor.h"
#include "peer_transfer_link.h"
#include "photo_library.h"
#include "qs_blur_view.h"
#include "qs_button.h"
#include "qt_transfer_timer.h"
#include "screen.h"
#include "theme.h"
#include "transfer/transfer_sender.h"
#include "transfer_project.h"
#include "transmit_animation_view.h"
#include "view_animation.h"
#include "view_hierarchy.h"
#include "vignette_view.h"

namespace duo {
namespace {

// The dialog's layout, in points of the dialog.
constexpr QRect kTitleFrame{0, 22, FileTransfer::kDialogWidth, 26};
constexpr QRect kHelpFrame{24, 54, 232, 40};
constexpr QRect kAnimationFrame{20, 104, 240, 176};
constexpr QRect kStatusFrame{16, 290, 248, 20};
constexpr QRect kProgressFrame{30, 326, 220, QSProgressBar::kHeight};
constexpr QRect kCancelFrame{50, 363, 180, 42};
constexpr double kTitleSize = 17;
constexpr double kTextSize = 13;
constexpr int kVignetteType = 1;

const QString kTitle = QStringLiteral("Sending to Another Device");
const QString kHelp =
    QStringLiteral("Start Duoscope Receiver on the other computer, on the same network.");

QString g_directPeer;
bool g_usesServiceDiscovery = true;

QLabel* makeLabel(const QString& text, const QRect& frame, const QFont& font, const QColor& colour,
                  QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(frame);
  label->setFont(font);
  label->setAlignment(Qt::AlignCenter);
  label->setWordWrap(true);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
  return label;
}

QWidget* hostWindow() {
  if (AppWindow* key = AppWindow::keyWindow()) return key;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (qobject_cast<AppWindow*>(widget)) return widget;
  return nullptr;
}

}  // namespace

void FileTransfer::setDirectPeer(const QString& hostAndPort) { g_directPeer = hostAndPort; }
QString FileTransfer::directPeer() { return g_directPeer; }
void FileTransfer::setUsesServiceDiscovery(bool on) { g_usesServiceDiscovery = on; }

FileTransfer::FileTransfer(QObject* parent) : QObject(parent) {
  const QDir documents(PhotoLibrary::documentsFolder());
  m_leftPath = documents.filePath(QLatin1String(TransferProject::kLeftFileName));
  m_rightPath = documents.filePath(QLatin1String(TransferProject::kRightFileName));
}

FileTransfer::~FileTransfer() {
  invalidateSession(m_transferSession);
  if (m_keepsScreenAwake) IdleInhibitor::shared().setIdleTimerDisabled(false);
  delete m_fileTransferView.data();
  delete m_vignetteView.data();
}

void FileTransfer::setFiles(const QString& leftPath, const QString& rightPath) {
  m_leftPath = leftPath;
  m_rightPath = rightPath;
}

QString FileTransfer::statusText() const {
  return m_statusLabel ? m_statusLabel->text() : QString();
}

void FileTransfer::setStatus(const QString& text) {
  if (m_statusLabel) m_statusLabel->setText(text);
}

// ---------------------------------------------------------------------------------------------
// The dialog

QWidget* FileTransfer::buildDialog() {
  auto* dialog = new QWidget;
  dialog->setObjectName(QStringLiteral("FileTransferView"));
  dialog->setAttribute(Qt::WA_StyledBackground);
  dialog->setStyleSheet(QStringLiteral("#FileTransferView { background: %1; border-radius: %2px; }")
                            .arg(theme::panel().name())
                            .arg(kCornerRadius));
  dialog->resize(kDialogWidth, kDialogHeight);
  makeLabel(kTitle, kTitleFrame, theme::boldSystemFont(kTitleSize), theme::primaryText(), dialog);
  makeLabel(kHelp, kHelpFrame, theme::systemFont(kTextSize), theme::secondaryText(), dialog);
  auto* arcs = new TransmitAnimationView(dialog);
  arcs->setGeometry(kAnimationFrame);
  setViewTag(arcs, kAnimationViewTag);
  m_statusLabel =
      makeLabel(QString(), kStatusFrame, theme::systemFont(kTextSize), theme::primaryText(), dialog);
  m_statusLabel->setWordWrap(false);
  auto* bar = new QSProgressBar(dialog);
  bar->setGeometry(kProgressFrame);
  setViewTag(bar, kProgressViewTag);
  return dialog;
}

void FileTransfer::transfer() {
  if (m_fileTransferView) return;  // one dialog per transfer
  m_fileTransferView = buildDialog();
  const int y = static_cast<int>(std::floor((MainScreen::size().height - kDialogHeight) / 2.0));
  m_fileTransferView->move(kDialogX, y);
  m_taView = qobject_cast<TransmitAnimationView*>(viewWithTag(m_fileTransferView, kAnimationViewTag));
  m_progressView = qobject_cast<QSProgressBar*>(viewWithTag(m_fileTransferView, kProgressViewTag));
  if (m_progressView) {
    m_progressView->hide();
    m_progressView->setProgressValue(0);
  }
  m_cancelButton = QSButton::newButton(QStringLiteral("Cancel"), m_fileTransferView);
  m_cancelButton->setGeometry(kCancelFrame);
  connect(m_cancelButton, &QAbstractButton::clicked, this, &FileTransfer::cancelButtonClick);

  m_window = hostWindow();
  if (m_window) {
    m_vignetteView = new VignetteView(m_window);
    m_vignetteView->setType(kVignetteType);
    m_vignetteView->setGeometry(m_window->rect());
    addSubview(m_window, m_vignetteView);
    m_window->installEventFilter(this);  // the vignette follows the window's size
    setViewAlpha(m_fileTransferView, 0);
    addSubview(m_window, m_fileTransferView);
  } else {
    // Nothing to lay it over: the dialog is a small window of its own.
    setViewAlpha(m_fileTransferView, 0);
    m_fileTransferView->setWindowTitle(kTitle);
    m_fileTransferView->show();
  }
  animateViews(kFadeSeconds, AnimationCurve::EaseInOut, {{m_fileTransferView.data(), 1.0, {}, {}}},
               [guard = QPointer<FileTransfer>(this)](bool finished) {
                 if (guard && finished) guard->fadeInAnimationComplete();
               });
}

bool FileTransfer::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_window && event->type() == QEvent::Resize && m_vignetteView)
    m_vignetteView->setGeometry(m_window->rect());
  return QObject::eventFilter(watched, event);
}

void FileTransfer::fadeInAnimationComplete() {
  // Cancelled while fading in: the fade-out has taken over and nothing is to be started.
  if (m_dismissing || m_transferSession) return;
  connectClient();
}

void FileTransfer::cancelButtonClick() { finish(false); }

void FileTransfer::finish(bool transferred) {
  if (m_dismissing) return;
  m_fileTransferComplete = transferred;
  dismissDialog();
}

void FileTransfer::dismissDialog() {
  if (m_dismissing) return;
  m_dismissing = true;
  // Nothing more goes out once the outcome is settled, so the report stays true to it.
  if (m_sender) m_sender->stop();
  if (m_cancelButton) m_cancelButton->setEnabled(false);
  animateViews(kFadeSeconds, AnimationCurve::EaseInOut,
               {{m_fileTransferView.data(), 0.0, {}, {}}, {m_vignetteView.data(), 0.0, {}, {}}},
               [guard = QPointer<FileTransfer>(this)](bool) {
                 if (guard) guard->dismissAnimationComplete();
               });
}

void FileTransfer::dismissAnimationComplete() {
  if (m_window) m_window->removeEventFilter(this);
  if (m_fileTransferView) {
    removeFromSuperview(m_fileTransferView);
    m_fileTransferView->deleteLater();
  }
  if (m_vignetteView) {
    removeFromSuperview(m_vignetteView);
    m_vignetteView->deleteLater();
  }
  fileTransferComplete();
}

void FileTransfer::fileTransferComplete() {
  if (m_reported) return;
  m_reported = true;
  invalidateSession(m_transferSession);
  if (m_keepsScreenAwake) {
    IdleInhibitor::shared().setIdleTimerDisabled(false);
    m_keepsScreenAwake = false;
  }
  if (m_delegate) m_delegate->fileTransferDidTransferProject(this, m_fileTransferComplete);
}

// ---------------------------------------------------------------------------------------------
// The session

void FileTransfer::connectClient() {
  IdleInhibitor::shared().setIdleTimerDisabled(true);
  m_keepsScreenAwake = true;
  if (m_taView) m_taView->startAnimation(1);
  setStatus(QStringLiteral("Looking for a receiver…"));
  auto* session = new PeerSession(QLatin1String(kSessionId), QLatin1String(kDisplayName),
                                  PeerSession::Mode::Client, this);
  m_transferSession = session;
  session->setDelegate(this);
  session->setUsesServiceDiscovery(g_usesServiceDiscovery);
  if (!g_directPeer.isEmpty() && !session->addDirectPeer(g_directPeer))
    setStatus(QStringLiteral("“%1” is not HOST:PORT").arg(g_directPeer));
  session->setAvailable(true);
  session->setDataReceiveHandler(this);
}

void FileTransfer::invalidateSession(PeerSession* session) {
  if (m_taView) m_taView->stopAnimation();
  if (m_sender) m_sender->stop();
  if (m_timer) m_timer->cancel();
  if (!session) return;
  session->disconnectFromAllPeers();
  session->setAvailable(false);
  session->setDataReceiveHandler(nullptr);
  session->setDelegate(nullptr);
  if (session == m_transferSession) {
    m_transferSession = nullptr;
    session->deleteLater();
  }
}

void FileTransfer::sessionPeerDidChangeState(PeerSession* session, const QString& peerId,
                                             int state) {
  // A closing dialog has its outcome; late news from the session must not change it.
  if (session != m_transferSession || m_dismissing) return;
  switch (state) {
    case PeerSession::PeerStateAvailable:
      // One receiver at a time: a second connection would start a second project.
      if (!m_connectingPeerId.isEmpty() || !m_transferPeerId.isEmpty()) return;
      m_connectingPeerId = peerId;
      setStatus(QStringLiteral("Connecting to %1…").arg(session->displayNameForPeer(peerId)));
      session->connectToPeer(peerId, kConnectTimeoutSeconds);
      break;
    case PeerSession::PeerStateUnavailable:
      // Once connected only the connection counts (its loss is reported as a disconnection);
      // a receiver that stops announcing itself, or another one leaving, ends nothing.
      if (!m_transferPeerId.isEmpty()) return;
      if (m_taView) m_taView->stopAnimation();
      finish(false);
      break;
    case PeerSession::PeerStateConnected:
      if (!m_transferPeerId.isEmpty()) return;
      m_transferPeerId = peerId;
      m_connectingPeerId.clear();
      session->setAvailable(false);
      sendFile();
      break;
    case PeerSession::PeerStateDisconnected:
      if (m_taView) m_taView->stopAnimation();
      if (m_keepsScreenAwake) {
        IdleInhibitor::shared().setIdleTimerDisabled(false);
        m_keepsScreenAwake = false;
      }
      finish(false);
      break;
    default:
      break;
  }
}

void FileTransfer::sessionDidReceiveConnectionRequestFromPeer(PeerSession* session,
                                                              const QString& peerId) {
  if (session != m_transferSession || m_dismissing) return;
  if (m_taView) m_taView->startAnimation(-1);
  QString error;
  if (!session->acceptConnectionFromPeer(peerId, &error)) setStatus(error);
}

void FileTransfer::sessionConnectionWithPeerFailed(PeerSession* session, const QString& peerId,
                                                   const QString& error) {
  if (session != m_transferSession || m_dismissing) return;
  if (peerId == m_connectingPeerId) m_connectingPeerId.clear();
  if (m_taView) m_taView->stopAnimation();
  setStatus(QStringLiteral("Could not connect: %1").arg(error));
}

void FileTransfer::sessionDidFailWithError(PeerSession* session, const QString& error) {
  if (session != m_transferSession || m_dismissing) return;
  if (m_taView) m_taView->stopAnimation();
  setStatus(QStringLiteral("The search failed: %1").arg(error));
}

// ---------------------------------------------------------------------------------------------
// The project

void FileTransfer::sendFile() {
  m_timer = std::make_unique<QtTransferTimer>();
  m_link = std::make_unique<PeerTransferLink>(*m_transferSession, m_transferPeerId);
  transfer::TransferSender::Callbacks callbacks;
  callbacks.progress = [this](double fraction) {
    if (!m_progressView) return;
    m_progressView->show();
    m_progressView->setProgressValue(static_cast<float>(fraction));
  };
  callbacks.completed = [this] {
    setStatus(QStringLiteral("Sent."));
    finish(true);
  };
  callbacks.failed = [this](const Error& error) {
    setStatus(QString::fromStdString(error.message));
    finish(false);
  };
  m_sender = std::make_unique<transfer::TransferSender>(
      *m_link, *m_timer, m_leftPath.toStdString(), m_rightPath.toStdString(), std::move(callbacks));
  m_sender->setOffsets(m_offsetX, m_offsetY);
  m_receiverName = m_transferSession->displayNameForPeer(m_transferPeerId);
  setStatus(QStringLiteral("Sending to %1…").arg(m_receiverName));
  if (Status started = m_sender->start(); !started) {
    setStatus(QString::fromStdString(started.error().message));
    finish(false);
  }
}

void FileTransfer::receiveDataFromPeer(const QByteArray& data, const QString& peerId,
                                       PeerSession* session) {
  if (session != m_transferSession || peerId != m_transferPeerId || !m_sender) return;
  m_sender->receive(std::span(reinterpret_cast<const std::uint8_t*>(data.constData()),
                              static_cast<std::size_t>(data.size())));
}

}  // namespace duo
