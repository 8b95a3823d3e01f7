#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

#include <string>

#include "camera_device.h"

namespace duo {

/// A camera whose shots are the image files of a folder (`duoscope --camera-dir DIR`): the JPEG
/// and PNG files directly inside it (not hidden ones, not in subfolders), taken in the order a
/// file manager shows them ("2.jpg" before "10.jpg") and starting again after the last.
///
/// Each shot is its file decoded at full size with the file's own orientation tag, so the folder
/// can stand in for a phone held in any way. The preview is the upcoming file, reduced, as its
/// stored grid with previewOrientationTag() saying how it is tagged. Files are decoded off the
/// main thread; every signal is emitted on the main thread.
///
/// The folder is listed again on start() and before each shot, so files added or removed while
/// the program runs are seen; the position in the cycle follows file names, not indexes.
class FolderCamera : public CameraDevice {
  Q_OBJECT
 public:
  /// What the camera pretends to have besides a rear camera. Without them it is like a webcam:
  /// the capture screen hides its flash and camera switch buttons.
  struct Options {
    bool flash = false;        ///< a switchable flash on the rear camera
    bool frontCamera = false;  ///< a front camera (showing the same files)
  };

  /// Longer side of preview frames at most; and the size the decoder's own reduction keeps.
  static constexpr int kPreviewMaxSide = 1200;
  static constexpr int kPreviewDecodeSide = 1000;

  explicit FolderCamera(const QString& folder, QObject* parent = nullptr);
  FolderCamera(const QString& folder, Options options, QObject* parent = nullptr);
  ~FolderCamera() override;

  QString folder() const { return m_folder; }
  /// The image file names of the folder in shot order, as of the last listing.
  QStringList files() const { return m_files; }
  /// Index in files() of the file the next shot delivers; -1 when there is none.
  int nextIndex() const;

  /// The image file names directly in `folder`, in shot order; empty when it is missing.
  static QStringList listImageFiles(const QString& folder);

  bool isAvailable() const override { return !m_files.isEmpty(); }
  bool isFlashAvailable(Position position) const override;
  bool isCameraDeviceAvailable(Position position) const override;
  void setFlashMode(FlashMode mode) override { m_flashMode = mode; }
  FlashMode flashMode() const override { return m_flashMode; }
  /// Ignored for a position the camera does not have.
  void setCameraDevice(Position position) override;
  Position cameraDevice() const override { return m_position; }
  bool recordsDeviceTurn() const override { return true; }

  void start() override;
  void stop() override { m_active = false; }
  bool isActive() const override { return m_active; }
  /// The upcoming file reduced to at most kPreviewMaxSide, stored grid; null before it is
  /// ready and when that file cannot be decoded.
  QImage previewFrame() const override { return m_preview; }
  int previewOrientationTag() const override { return m_previewTag; }

  /// Always true unless a shot is still being decoded (one at a time). An empty or missing
  /// folder gives shotFailed().
  bool takePicture() override;

 private:
  struct ShotResult;
  struct PreviewResult;

  /// Lists the folder again; emits availabilityChanged() when that changes isAvailable().
  void relist();
  QString upcomingFile() const;
  /// Decodes the preview of the upcoming file unless it is shown or under way already.
  void refreshPreview(bool force);
  void finishShot(ShotResult result);
  void finishPreview(PreviewResult result);
  void failShotLater(const QString& message);
  /// Runs on a worker thread: the stored grid reduced for the preview, and its tag.
  static PreviewResult decodePreview(const std::string& path, const QString& file);

  QString m_folder;
  Options m_options;
  QStringList m_files;
  /// The file the last shot tried to deliver; the next shot takes the first name after it.
  QString m_lastShotFile;
  bool m_active = false;
  bool m_shotPending = false;
  FlashMode m_flashMode = FlashMode::Off;
  Position m_position = Position::Rear;

  QImage m_preview;
  int m_previewTag = 0;
  QString m_previewFile;     ///< file that m_preview shows (or failed to show)
  QString m_previewRunning;  ///< file being decoded for the preview; empty when none
  bool m_previewAgain = false;
};

}  // namespace duo
