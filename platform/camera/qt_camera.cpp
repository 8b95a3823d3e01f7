#include "qt_camera.h"

#include <QCamera>
#include <QImageCapture>
#include <QMediaDevices>
#include <QVideoSink>

#include <algorithm>
#include <utility>

#include "qt_image.h"

namespace duo {

namespace {

QCamera::FlashMode toQtFlash(CameraDevice::FlashMode mode) {
  return mode == CameraDevice::FlashMode::On ? QCamera::FlashOn : QCamera::FlashOff;
}

}  // namespace

QtCamera::QtCamera(QObject* parent) : QtCamera(QMediaDevices::videoInputs(), parent) {
  m_mediaDevices = new QMediaDevices(this);
  connect(m_mediaDevices, &QMediaDevices::videoInputsChanged, this, [this] {
    setDevices(QMediaDevices::videoInputs());
    emit availabilityChanged();
  });
}

QtCamera::QtCamera(const QList<QCameraDevice>& devices, QObject* parent)
    : CameraDevice(parent),
      m_sink(std::make_unique<QVideoSink>()),
      m_capture(std::make_unique<QImageCapture>()) {
  m_session.setVideoSink(m_sink.get());
  m_session.setImageCapture(m_capture.get());
  // Frames may come from the backend's streaming thread; the receiver context queues them to
  // the main thread, where they are converted (the conversion may need the GUI thread's RHI).
  connect(m_sink.get(), &QVideoSink::videoFrameChanged, this, &QtCamera::frameArrived);
  connect(m_capture.get(), &QImageCapture::imageCaptured, this, &QtCamera::pictureCaptured);
  connect(
      m_capture.get(), &QImageCapture::errorOccurred, this,
      [this](int id, QImageCapture::Error, const QString& message) { captureFailed(id, message); });
  m_conversionTimer.setSingleShot(true);
  connect(&m_conversionTimer, &QTimer::timeout, this, &QtCamera::convertLatestFrame);
  m_shotTimer.setSingleShot(true);
  m_shotTimer.setInterval(kShotTimeoutMs);
  connect(&m_shotTimer, &QTimer::timeout, this,
          [this] { failPendingShot(tr("The camera did not deliver the picture.")); });
  setDevices(devices);
}

QtCamera::~QtCamera() {
  // Nothing the devices do while they are torn down may reach this half-destroyed object.
  m_sink->disconnect(this);
  m_capture->disconnect(this);
  if (m_camera) m_camera->disconnect(this);
  m_session.setCamera(nullptr);
  m_session.setImageCapture(nullptr);
  m_session.setVideoSink(nullptr);
}

int QtCamera::deviceIndex(Position position) const {
  const auto find = [this](auto matches) -> int {
    for (int i = 0; i < m_devices.size(); ++i) {
      if (matches(m_devices[i].position())) return i;
    }
    return -1;
  };
  if (position == Position::Front)
    return find([](QCameraDevice::Position p) { return p == QCameraDevice::FrontFace; });
  // A webcam reports no position: it is the rear (only) camera, though a real back camera wins.
  const int back = find([](QCameraDevice::Position p) { return p == QCameraDevice::BackFace; });
  if (back >= 0) return back;
  return find([](QCameraDevice::Position p) { return p == QCameraDevice::UnspecifiedPosition; });
}

void QtCamera::setDevices(const QList<QCameraDevice>& devices) {
  const int oldIndex = deviceIndex(m_position);
  const QCameraDevice oldDevice = oldIndex >= 0 ? m_devices[oldIndex] : QCameraDevice();
  m_devices = devices;
  if (deviceIndex(m_position) < 0 && deviceIndex(Position::Front) >= 0)
    m_position = Position::Front;
  else if (deviceIndex(m_position) < 0)
    m_position = Position::Rear;
  // Another camera coming or going leaves a working one streaming.
  const int index = deviceIndex(m_position);
  if (m_camera && m_error.isEmpty() && index >= 0 && m_devices[index] == oldDevice) return;
  closeCamera();
  // A new device list is the moment to try a camera that failed again.
  m_error.clear();
  openCamera();
  if (m_wantActive && m_camera) m_camera->start();
}

void QtCamera::openCamera() {
  const int index = deviceIndex(m_position);
  if (index < 0) return;
  m_camera = std::make_unique<QCamera>(m_devices[index]);
  // A camera the backend cannot open says so while it is being made, before any connection.
  if (m_camera->error() != QCamera::NoError || !m_camera->isAvailable()) {
    const QString reason = m_camera->errorString();
    m_camera.reset();
    m_error = reason.isEmpty() ? tr("The camera cannot be opened.") : reason;
    return;
  }
  connect(m_camera.get(), &QCamera::errorOccurred, this,
          [this](QCamera::Error error, const QString& message) {
            if (error != QCamera::NoError)
              fail(message.isEmpty() ? tr("The camera stopped working.") : message);
          });
  if (m_camera->isFlashModeSupported(toQtFlash(m_flashMode)))
    m_camera->setFlashMode(toQtFlash(m_flashMode));
  m_session.setCamera(m_camera.get());
}

void QtCamera::closeCamera() {
  failPendingShot(tr("The camera stopped before the picture was taken."));
  m_conversionTimer.stop();
  m_latestFrame = {};
  if (!m_camera) return;
  m_camera->disconnect(this);
  m_session.setCamera(nullptr);
  // Later, not now: this may run inside one of the camera's own signals.
  QCamera* camera = m_camera.release();
  camera->setParent(this);
  camera->stop();
  camera->deleteLater();
}

void QtCamera::fail(const QString& message) {
  const bool wasAvailable = isAvailable();
  failPendingShot(message);
  closeCamera();
  m_error = message;
  qWarning("Camera: %s", qUtf8Printable(message));
  if (wasAvailable) emit availabilityChanged();
}

bool QtCamera::isAvailable() const { return deviceIndex(m_position) >= 0 && m_error.isEmpty(); }

bool QtCamera::isFlashAvailable(Position position) const {
  // Only the open camera can be asked; a desktop has one camera open at a time anyway.
  return position == m_position && m_camera && m_camera->isFlashModeSupported(QCamera::FlashOn);
}

bool QtCamera::isCameraDeviceAvailable(Position position) const {
  return deviceIndex(position) >= 0;
}

void QtCamera::setFlashMode(FlashMode mode) {
  m_flashMode = mode;
  if (m_camera && m_camera->isFlashModeSupported(toQtFlash(mode)))
    m_camera->setFlashMode(toQtFlash(mode));
}

void QtCamera::setCameraDevice(Position position) {
  if (position == m_position || deviceIndex(position) < 0) return;
  const bool wasAvailable = isAvailable();
  closeCamera();
  m_position = position;
  m_error.clear();
  openCamera();
  if (m_wantActive && m_camera) m_camera->start();
  if (isAvailable() != wasAvailable) emit availabilityChanged();
}

void QtCamera::start() {
  m_wantActive = true;
  if (m_camera) m_camera->start();
}

void QtCamera::stop() {
  m_wantActive = false;
  failPendingShot(tr("The camera stopped before the picture was taken."));
  m_conversionTimer.stop();
  m_latestFrame = {};
  if (m_camera) m_camera->stop();
}

bool QtCamera::isActive() const { return m_wantActive && m_camera != nullptr; }

void QtCamera::frameArrived(const QVideoFrame& frame) {
  if (!frame.isValid()) return;
  // Only the newest frame is kept; converting every one would starve the UI at high rates.
  m_latestFrame = frame;
  if (m_conversionTimer.isActive()) return;
  const qint64 sinceLast =
      m_sinceConversion.isValid() ? m_sinceConversion.elapsed() : kFrameIntervalMs;
  m_conversionTimer.start(
      int(std::clamp<qint64>(kFrameIntervalMs - sinceLast, 0, kFrameIntervalMs)));
}

void QtCamera::convertLatestFrame() {
  const QVideoFrame frame = std::exchange(m_latestFrame, QVideoFrame());
  if (!frame.isValid()) return;
  m_sinceConversion.start();
  QImage image = frame.toImage();
  if (image.isNull()) return;
  m_preview = std::move(image);
  emit previewChanged();
}

bool QtCamera::takePicture() {
  if (!isActive() || m_shotPending) return false;
  const int id = m_capture->capture();
  // A refusal at once (not ready, no backend) also reports an error for id -1 later, which
  // finds no shot pending and is dropped.
  if (id < 0) return false;
  m_shotId = id;
  m_shotPending = true;
  m_shotTimer.start();
  return true;
}

void QtCamera::pictureCaptured(int id, const QImage& picture) {
  if (!m_shotPending || id != m_shotId) return;
  m_shotPending = false;
  m_shotTimer.stop();
  // Desktop cameras are never turned: the picture is upright and keeps tag Up.
  const Image image = fromQImage(picture);
  if (image.isNull())
    emit shotFailed(tr("The camera's picture could not be read."));
  else
    emit shotTaken(image);
}

void QtCamera::captureFailed(int id, const QString& message) {
  if (!m_shotPending || id != m_shotId) return;
  failPendingShot(message.isEmpty() ? tr("The camera could not take the picture.") : message);
}

void QtCamera::failPendingShot(const QString& message) {
  if (!m_shotPending) return;
  m_shotPending = false;
  m_shotTimer.stop();
  emit shotFailed(message);
}

std::unique_ptr<CameraDevice> makeSystemCamera() {
  if (QMediaDevices::videoInputs().isEmpty()) return nullptr;
  return std::make_unique<QtCamera>();
}

}  // namespace duo
