#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

#include "peer_session.h"
#include "qs_blur_view.h"
#include "qs_button.h"
#include "transmit_animation_view.h"
#include "vignette_view.h"

namespace duo {

namespace transfer {
class TransferSender;
}
class FileTransfer;
class PeerTransferLink;
class QtTransferTimer;

/// Told how a transfer ended.
class FileTransferDelegate {
 public:
  virtual ~FileTransferDelegate() = default;
  /// `transferred` is true when the receiver acknowledged the whole project. Called once, after
  /// the dialog has gone; the transfer may be deleted from here (deleteLater).
  virtual void fileTransferDidTransferProject(FileTransfer* transfer, bool transferred) = 0;
};

/// Sends one project (TransferLeft.jpg, TransferRight.jpg from the documents folder and the
/// offset) to a receiving program on the local network: shows a dialog over the window with
/// streaming arcs, a progress bar and Cancel, finds the receiver with a client session
/// (DNS-SD, plus a peer named directly), runs the transfer protocol and reports the outcome to
/// its delegate. Keeps the screen awake from the search until the report. Main thread only.
class FileTransfer : public QObject, public PeerSessionDelegate, public PeerDataHandler {
  Q_OBJECT

 public:
  // The dialog, in points.
  static constexpr int kDialogX = 20;
  static constexpr int kDialogWidth = 280;
  static constexpr int kDialogHeight = 420;
  static constexpr double kCornerRadius = 6;
  static constexpr double kFadeSeconds = 0.3;
  static constexpr double kConnectTimeoutSeconds = 10.0;
  static constexpr int kAnimationViewTag = 2;
  static constexpr int kProgressViewTag = 3;

  static constexpr const char* kSessionId = "Duoscope";
  static constexpr const char* kDisplayName = "Client";

  /// Where the sessions of every later transfer also look: a receiver at "host:port" (empty for
  /// none), and whether they browse the network for receivers at all.
  static void setDirectPeer(const QString& hostAndPort);
  static QString directPeer();
  static void setUsesServiceDiscovery(bool on);

  explicit FileTransfer(QObject* parent = nullptr);
  /// Closes the session and takes the dialog away, without a report.
  ~FileTransfer() override;

  void setDelegate(FileTransferDelegate* delegate) { m_delegate = delegate; }
  /// The offset in pixels of the files sent; set before transfer().
  void setOffsetX(std::int32_t x) { m_offsetX = x; }
  void setOffsetY(std::int32_t y) { m_offsetY = y; }
  std::int32_t offsetX() const { return m_offsetX; }
  std::int32_t offsetY() const { return m_offsetY; }
  /// The files sent; TransferProject's names in the documents folder unless set.
  void setFiles(const QString& leftPath, const QString& rightPath);

  /// Shows the dialog over the key window and, once it has faded in, starts the search.
  void transfer();
  void connectClient();
  void cancelButtonClick();
  /// Fades the dialog out; later requests while it goes are ignored, so the outcome reported
  /// is the one that closed it.
  void dismissDialog();
  void dismissAnimationComplete();
  void fadeInAnimationComplete();
  /// Closes the session, lets the screen sleep again and reports to the delegate (once).
  void fileTransferComplete();
  /// Stops the arcs and the protocol; with a session, leaves it and lets it go.
  void invalidateSession(PeerSession* session);

  void sessionPeerDidChangeState(PeerSession* session, const QString& peerId, int state) override;
  void sessionDidReceiveConnectionRequestFromPeer(PeerSession* session,
                                                  const QString& peerId) override;
  void sessionConnectionWithPeerFailed(PeerSession* session, const QString& peerId,
                                       const QString& error) override;
  void sessionDidFailWithError(PeerSession* session, const QString& error) override;
  void receiveDataFromPeer(const QByteArray& data, const QString& peerId,
                           PeerSession* session) override;

  // State, for tests.
  /// Whether the last acknowledgement of the project arrived.
  bool transferSucceeded() const { return m_fileTransferComplete; }
  bool isDismissing() const { return m_dismissing; }
  QWidget* fileTransferView() const { return m_fileTransferView; }
  QSButton* cancelButton() const { return m_cancelButton; }
  TransmitAnimationView* taView() const { return m_taView; }
  QSProgressBar* progressView() const { return m_progressView; }
  VignetteView* vignetteView() const { return m_vignetteView; }
  PeerSession* transferSession() const { return m_transferSession; }
  QString transferPeerId() const { return m_transferPeerId; }
  /// The line under the animation that says what is happening.
  QString statusText() const;
  /// The display name of the receiver the project went to; empty before a connection.
  QString receiverName() const { return m_receiverName; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* buildDialog();
  void sendFile();
  /// Ends the transfer with `transferred` unless the dialog is already going.
  void finish(bool transferred);
  void setStatus(const QString& text);

  QPointer<QWidget> m_fileTransferView;
  QPointer<QSButton> m_cancelButton;
  QPointer<TransmitAnimationView> m_taView;
  QPointer<QSProgressBar> m_progressView;
  QPointer<QLabel> m_statusLabel;
  QString m_receiverName;
  QPointer<PeerSession> m_transferSession;
  QString m_transferPeerId;
  QString m_connectingPeerId;  // the one peer asked to connect, until it answers
  FileTransferDelegate* m_delegate = nullptr;
  std::int32_t m_offsetX = 0;
  std::int32_t m_offsetY = 0;
  bool m_fileTransferComplete = false;
  QPointer<VignetteView> m_vignetteView;
  QPointer<QWidget> m_window;

  QString m_leftPath;
  QString m_rightPath;
  std::unique_ptr<QtTransferTimer> m_timer;
  std::unique_ptr<PeerTransferLink> m_link;
  std::unique_ptr<transfer::TransferSender> m_sender;
  bool m_dismissing = false;
  bool m_reported = false;
  bool m_keepsScreenAwake = false;
};

}  // namespace duo
