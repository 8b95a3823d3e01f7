#pragma once

#include <QImage>
#include <QObject>
#include <QString>

#include <memory>

#include "image/image.h"

namespace duo {

/// A camera the capture screen can take shots with: a real one on Qt Multimedia or a folder of
/// image files standing in for one. It shows a live preview and delivers each shot later, as an
/// engine image carrying its orientation tag, through shotTaken() or shotFailed().
///
/// One camera is in use per process (shared()); with none set, the camera is unavailable.
class CameraDevice : public QObject {
  Q_OBJECT
 public:
  enum class Position { Rear = 0, Front = 1 };
  enum class FlashMode { Off = -1, On = 1 };

  using QObject::QObject;
  ~CameraDevice() override;

  /// The process's camera, or nullptr when there is none.
  static CameraDevice* shared();
  /// Installs `camera` (ownership passes) in place of the previous one; nullptr for none.
  static void setShared(std::unique_ptr<CameraDevice> camera);

  /// Whether shots can be taken at all (a device is present, or the folder holds pictures).
  virtual bool isAvailable() const = 0;
  /// Whether the camera at `position` exists and has a flash that can be switched.
  virtual bool isFlashAvailable(Position position) const = 0;
  /// Whether a camera at `position` exists.
  virtual bool isCameraDeviceAvailable(Position position) const = 0;
  virtual void setFlashMode(FlashMode mode) = 0;
  virtual FlashMode flashMode() const = 0;
  virtual void setCameraDevice(Position position) = 0;
  virtual Position cameraDevice() const = 0;

  /// True when the orientation tags of its shots record how a phone was held, so that a shot's
  /// ghost must be turned to line up with the preview (the folder camera's tagged files). False
  /// for a desktop camera, whose preview and shots are always upright.
  virtual bool recordsDeviceTurn() const = 0;

  /// Starts and stops the live preview; previewChanged() follows every new frame.
  virtual void start() = 0;
  virtual void stop() = 0;
  virtual bool isActive() const = 0;
  /// The latest preview frame (null before the first). For a camera that records device turns
  /// it is the stored grid and previewOrientationTag() says how it is tagged; otherwise upright.
  virtual QImage previewFrame() const = 0;
  virtual int previewOrientationTag() const { return 0; }

  /// Takes a shot; exactly one of shotTaken() and shotFailed() follows, later, on the main
  /// thread. False (and no signal) when the camera cannot take one now.
  virtual bool takePicture() = 0;

 signals:
  void previewChanged();
  void shotTaken(const duo::Image& image);
  void shotFailed(const QString& message);
  /// The device list or availability changed (a camera was plugged in or removed).
  void availabilityChanged();
};

}  // namespace duo
