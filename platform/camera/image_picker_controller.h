#pragma once

#include <QPointer>
#include <QTransform>

#include <functional>
#include <optional>

#include "camera_device.h"
#include "camera_preview_view.h"
#include "image/image.h"
#include "image_view.h"
#include "navigation_bar.h"
#include "photo_grid_view.h"
#include "view_controller.h"

namespace duo {

class ImagePickerController;

/// Told what the picker delivers.
class ImagePickerControllerDelegate {
 public:
  virtual ~ImagePickerControllerDelegate() = default;
  /// A photograph, as taken or as stored in its file (not turned upright, not scaled).
  virtual void imagePickerControllerDidFinishPickingImage(ImagePickerController* picker,
                                                          Image image) = 0;
  virtual void imagePickerControllerDidCancel(ImagePickerController* picker) = 0;
  /// A file that holds a whole stereo pair by itself (an MPO, a .jps) was picked.
  virtual void imagePickerControllerDidFinishPickingPairFile(ImagePickerController* picker,
                                                             const QString& path) = 0;
  /// A picked file could not be read, or the camera could not take the shot. The picker stays
  /// as it was; its owner tells the user.
  virtual void imagePickerControllerDidFail(ImagePickerController* picker, const QString& title,
                                            const QString& message) = 0;
};

/// The screen that takes a photograph with the camera or picks one from the photo library.
///
/// In camera mode it shows the shared camera's live preview, with whatever overlay its owner
/// gives it on top (the controls are the owner's), and takes a shot on takePicture(). In
/// library mode it shows a grid of the user's pictures under a bar with "Browse…" (any picture,
/// through the desktop's file dialog) and "Cancel". The photograph comes to the delegate.
class ImagePickerController : public ViewController {
  Q_OBJECT
 public:
  enum class SourceType { PhotoLibrary = 0, Camera = 1 };
  enum CameraDeviceIndex { kRearCamera = 0, kFrontCamera = 1 };
  enum FlashModeValue { kFlashOff = -1, kFlashOn = 1 };

  explicit ImagePickerController(QObject* parent = nullptr);
  ~ImagePickerController() override;

  static bool isSourceTypeAvailable(SourceType type);
  static bool isFlashAvailableForCameraDevice(int device);
  static bool isCameraDeviceAvailable(int device);

  void setDelegate(ImagePickerControllerDelegate* delegate) { m_delegate = delegate; }
  ImagePickerControllerDelegate* delegate() const { return m_delegate; }

  SourceType sourceType() const { return m_sourceType; }
  virtual void setSourceType(SourceType type);

  /// This desktop picker has no camera controls of its own; the flag is kept for its owner.
  void setShowsCameraControls(bool shows) { m_showsCameraControls = shows; }
  bool showsCameraControls() const { return m_showsCameraControls; }
  /// Drawn over the preview, the size of the screen; the picker takes it over (nullptr removes
  /// the present one, which is then deleted).
  QWidget* cameraOverlayView() const { return m_overlay; }
  void setCameraOverlayView(QWidget* overlay);
  /// Moves the live preview (only translations are honoured: a desktop camera is never turned).
  QTransform cameraViewTransform() const { return m_previewTransform; }
  void setCameraViewTransform(const QTransform& transform);
  int cameraFlashMode() const { return m_flashMode; }
  void setCameraFlashMode(int mode);
  int cameraDevice() const { return m_cameraDevice; }
  void setCameraDevice(int device);
  /// The preview of a camera whose shots record how it was held is placed by this function of
  /// the upcoming shot's orientation tag: a frame in the screen's coordinates and a turn about
  /// its centre. Without it (or for a desktop camera) the preview fills its area upright.
  using PreviewPlacement = std::function<std::optional<std::pair<QRectF, QTransform>>(int tag)>;
  void setPreviewPlacement(PreviewPlacement placement);

  /// Takes a shot; the photograph arrives later through the delegate. False when no shot can
  /// be taken now (no camera, or one still on its way).
  bool takePicture();
  bool isTakingPicture() const { return m_takingPicture; }

  /// Picks the picture in `path` as the library grid or the file dialog does: decoded off the
  /// main thread, then delivered; a file that cannot be read goes to the delegate as a failure
  /// and the picker stays. False when a pick is already being read.
  bool pickFile(const QString& path);
  bool isReadingPick() const { return m_readingPick; }
  /// Opens the desktop's file dialog for a picture outside the Pictures folder.
  void browse();
  /// The Cancel button.
  void cancel();

  /// The navigation bar's style; black is the only one this desktop picker draws.
  void setNavigationBarStyleBlack(bool black) { m_barBlack = black; }

  CameraPreviewView* previewView() const { return m_preview; }
  PhotoGridView* photoGrid() const { return m_grid; }
  NavigationBar* libraryBar() const { return m_bar; }

 protected:
  void loadView() override;
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

 private:
  void updateMode();
  void layoutPreview();
  void applyPreviewPlacement();
  void shotArrived(const Image& image);
  void shotFailed(const QString& message);

  ImagePickerControllerDelegate* m_delegate = nullptr;
  SourceType m_sourceType = SourceType::PhotoLibrary;
  bool m_showsCameraControls = true;
  bool m_barBlack = false;
  QTransform m_previewTransform;
  int m_flashMode = kFlashOff;
  int m_cameraDevice = kRearCamera;
  PreviewPlacement m_placement;
  bool m_takingPicture = false;
  bool m_readingPick = false;
  bool m_visible = false;

  QPointer<QWidget> m_cameraPage;
  QPointer<CameraPreviewView> m_preview;
  QPointer<QWidget> m_overlay;
  QPointer<QWidget> m_libraryPage;
  QPointer<NavigationBar> m_bar;
  QPointer<PhotoGridView> m_grid;
  QPointer<ActivityIndicatorView> m_spinner;
};

}  // namespace duo
