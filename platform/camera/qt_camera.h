#pragma once

#include <QCameraDevice>
#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QMediaCaptureSession>
#include <QString>
#include <QTimer>
#include <QVideoFrame>

#include <memory>

#include "camera_device.h"

class QCamera;
class QImageCapture;
class QMediaDevices;
class QVideoSink;

namespace duo {

/// A live camera on Qt Multimedia (a webcam on a desktop). Its preview and its shots are
/// upright; shots carry tag Up.
///
/// A device reporting the front face is the front camera; any other (webcams report no
/// position) is the rear one. Availability is what the device list and the camera's errors say,
/// known at once: a camera error (device busy or gone, no media backend) makes the camera
/// unavailable and emits availabilityChanged() instead of hanging; a change of the system's
/// video inputs lets it try again.
class QtCamera : public CameraDevice {
  Q_OBJECT
 public:
  /// Preview frames are converted at most this often; the ones in between are dropped.
  static constexpr int kFrameIntervalMs = 33;
  /// A shot the device has not delivered by then fails.
  static constexpr int kShotTimeoutMs = 10000;

  /// Follows the system's video inputs.
  explicit QtCamera(QObject* parent = nullptr);
  /// Uses exactly `devices`, whatever the system has (a null device stands for a missing one).
  explicit QtCamera(const QList<QCameraDevice>& devices, QObject* parent = nullptr);
  ~QtCamera() override;

  bool isAvailable() const override;
  bool isFlashAvailable(Position position) const override;
  bool isCameraDeviceAvailable(Position position) const override;
  void setFlashMode(FlashMode mode) override;
  FlashMode flashMode() const override { return m_flashMode; }
  /// Switches to the device at `position`; ignored when there is none.
  void setCameraDevice(Position position) override;
  Position cameraDevice() const override { return m_position; }
  bool recordsDeviceTurn() const override { return false; }

  void start() override;
  void stop() override;
  bool isActive() const override;
  QImage previewFrame() const override { return m_preview; }

  /// False when the camera is unavailable or stopped, a shot is under way, or the device
  /// refuses at once; otherwise shotTaken() or shotFailed() follows within kShotTimeoutMs.
  bool takePicture() override;

  /// Why the camera became unavailable; empty while it is not.
  QString errorString() const { return m_error; }
  /// The sink the device's frames pass through on their way to previewFrame().
  QVideoSink* videoSink() const { return m_sink.get(); }

 private:
  void setDevices(const QList<QCameraDevice>& devices);
  /// Index in m_devices of the device at `position`, or -1.
  int deviceIndex(Position position) const;
  void openCamera();
  void closeCamera();
  void fail(const QString& message);
  void failPendingShot(const QString& message);
  void frameArrived(const QVideoFrame& frame);
  void convertLatestFrame();
  void pictureCaptured(int id, const QImage& picture);
  void captureFailed(int id, const QString& message);

  QList<QCameraDevice> m_devices;
  QMediaDevices* m_mediaDevices = nullptr;  // null when the device list is fixed
  Position m_position = Position::Rear;
  FlashMode m_flashMode = FlashMode::Off;
  bool m_wantActive = false;
  QString m_error;

  // The session refers to the others, so it is declared first and destroyed last.
  QMediaCaptureSession m_session;
  std::unique_ptr<QVideoSink> m_sink;
  std::unique_ptr<QImageCapture> m_capture;
  std::unique_ptr<QCamera> m_camera;

  QImage m_preview;
  QVideoFrame m_latestFrame;
  QElapsedTimer m_sinceConversion;
  QTimer m_conversionTimer;

  int m_shotId = -1;
  bool m_shotPending = false;
  QTimer m_shotTimer;
};

/// The system's camera: a QtCamera when there is at least one video input, else nullptr.
std::unique_ptr<CameraDevice> makeSystemCamera();

}  // namespace duo
