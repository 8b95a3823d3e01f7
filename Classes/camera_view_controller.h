#pragma once

#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QRectF>
#include <QTransform>

#include <functional>
#include <memory>
#include <optional>

#include "image/image.h"
#include "image_button.h"
#include "image_picker_controller.h"
#include "image_view.h"
#include "information_view.h"
#include "qs_image_picker_controller.h"
#include "toolbar.h"
#include "view_controller.h"

namespace duo {

class BlendViewController;
class SettingsStore;

/// How the device is held, as its orientation sensor reports it.
enum class DeviceOrientation { Unknown, Portrait, PortraitUpsideDown, LandscapeLeft, LandscapeRight, FaceUp, FaceDown };

/// The root screen: takes the two photographs of a stereo pair, with the camera (the left shot,
/// then the right one with a translucent ghost of the left over the preview and an optional
/// guide) or from the photo library, checks that they match, and hands them to the result
/// screen. When the result screen goes it starts over in the same way.
class CameraViewController : public ViewController, public ImagePickerControllerDelegate {
  Q_OBJECT
 public:
  enum PhotoMethod { kCamera = 0, kLibrary = 1 };

  static constexpr int kToolbarHeight = 54;
  static constexpr int kTitleHeight = 44;
  static constexpr double kTitleFontSize = 24;
  static constexpr double kGhostOpacity = 0.4;
  static constexpr double kFlashInSeconds = 0.05;
  static constexpr double kFlashOutSeconds = 0.35;
  static constexpr double kFlashOutOpacity = 0.01;
  static constexpr double kRotateSeconds = 0.3;
  static constexpr double kRelaunchDelay = 0.5;
  static constexpr double kLibraryAgainDelay = 0.1;
  static constexpr QRectF kFlashButtonFrame{10, 7, 68, 31.5};
  static constexpr QRectF kCameraToggleFrame{250, 7, 60, 31};

  /// `store` holds the settings (not owned; it outlives the screen).
  explicit CameraViewController(SettingsStore& store, QObject* parent = nullptr);
  ~CameraViewController() override;

  // Derived layout values.
  static double cameraPreviewHeight();
  static double cameraPreviewOffset();
  bool isFlashOn() const;
  void setFlashOn(bool on);

  // The photo methods.
  void launchCurrentPhotoMethod();
  void takePhotosButtonClick();
  void choosePhotosButtonClick();
  void cameraButtonClick();
  void flashButtonClick();
  void cameraToggleButtonClick();
  void configureCameraMode();
  void nextOverlay();
  void dismissPickerController(ImagePickerController* picker, std::function<void()> completion);
  void switchToBlendView();
  void blendViewDismissed();
  void showInformationScreen();
  void informationScreenDismissed(InformationView* view);
  /// Turns the shutter icon to how the device is held: animated when a change was reported,
  /// at once (to the present orientation) when called without one.
  void didRotate(std::optional<DeviceOrientation> reported = std::nullopt);
  void updateAlignmentMode();
  void resetImages();

  /// A pair that is already at hand (named on the command line): shown at once, as if it had
  /// been picked, instead of the intro or the first capture. Going back starts the capture.
  void presentPair(std::unique_ptr<BlendViewController> result, bool animated = false);
  /// Leaves the first appearance without a capture, for a pair that is on its way (read from
  /// files); launchCurrentPhotoMethod() starts it when the pair cannot be had.
  void deferFirstLaunch() { m_launchedCurrentPhotoMethod = true; }

  static bool doesDeviceSupportFlash();
  static bool doesDeviceSupportFrontCamera();
  /// The guide grid: n − 1 black one-point lines each way on a transparent canvas of the
  /// rectangle's size, at whole-point positions plus a half so they stay sharp.
  static QImage makeGridForRect(const QRectF& rect, int sections, double scale = 0);
  /// A toolbar button of at least 44 × 44 points with the image centred (not scaled).
  static ImageButton* barItemWithImage(const QImage& image, const QString& title,
                                       std::function<void()> action);
  /// Where the ghost of a left shot with orientation tag `tag` goes and how it is turned
  /// (about its centre): shots that record a turned device are turned back to line up with the
  /// preview, a desktop camera's are drawn upright over it; the front camera's are mirrored.
  struct GhostGeometry {
    QRectF frame;
    QTransform transform;
  };
  static GhostGeometry ghostGeometry(int tag, bool frontCamera, bool recordsDeviceTurn);
  /// The shutter's turn, in radians, for how the device is held.
  static double shutterAngle(DeviceOrientation orientation);
  /// How this desktop is held: always upright (it has no orientation sensor).
  static DeviceOrientation currentDeviceOrientation() { return DeviceOrientation::Portrait; }

  // ImagePickerControllerDelegate
  void imagePickerControllerDidFinishPickingImage(ImagePickerController* picker, Image image) override;
  void imagePickerControllerDidCancel(ImagePickerController* picker) override;
  void imagePickerControllerDidFinishPickingPairFile(ImagePickerController* picker,
                                                     const QString& path) override;
  void imagePickerControllerDidFail(ImagePickerController* picker, const QString& title,
                                    const QString& message) override;

  // State, for the owner and tests.
  const std::shared_ptr<const Image>& leftImage() const { return m_leftImage; }
  const std::shared_ptr<const Image>& rightImage() const { return m_rightImage; }
  int photoMethod() const { return m_photoMethod; }
  void setPhotoMethod(int method) { m_photoMethod = method; }
  int currentAlignmentMode() const { return m_currentAlignmentMode; }
  bool launchedCurrentPhotoMethod() const { return m_launchedCurrentPhotoMethod; }
  bool imagePickerIsDisplayed() const { return m_imagePickerIsDisplayed; }
  QSImagePickerController* imagePicker() const;
  ImageView* overlayImageView() const { return m_overlayImageView; }
  ImageView* overlayAlignmentView() const { return m_overlayAlignmentView; }
  QWidget* overlayView() const { return m_overlayView; }
  QWidget* flashView() const { return m_flashView; }
  ImageButton* flashButton() const { return m_flashButton; }
  ImageButton* cameraToggleButton() const { return m_cameraToggleButton; }
  ImageButton* shoot() const { return m_shoot; }
  QLabel* titleLabel() const { return m_titleLabel; }
  Toolbar* toolbar() const { return m_toolbar; }
  InformationView* informationView() const { return m_informationView; }
  BlendViewController* blendViewController() const;
  bool prefersStatusBarHidden() const override { return m_statusBarHidden; }
  /// Camera shots still being written to the album.
  int pendingSaves() const { return m_pendingSaves; }
  /// True while a picked pair file (MPO, JPS) is being read.
  bool isOpeningPairFile() const { return m_openingPairFile; }

 protected:
  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;

 private:
  QSImagePickerController* ensurePicker();
  void presentPicker(bool animated);
  void buildOverlay();
  void beginShutterAnimation();
  void saveCameraShot(std::shared_ptr<const Image> shot);
  void setStatusBarHidden(bool hidden) { m_statusBarHidden = hidden; }

  SettingsStore& m_store;
  std::shared_ptr<const Image> m_leftImage;
  std::shared_ptr<const Image> m_rightImage;
  int m_photoMethod = kCamera;
  int m_currentAlignmentMode = 0;
  bool m_launchedCurrentPhotoMethod = false;
  bool m_imagePickerIsDisplayed = false;
  bool m_statusBarHidden = false;
  int m_pendingSaves = 0;
  bool m_openingPairFile = false;
  QPointer<QSImagePickerController> m_imagePicker;
  QPointer<QWidget> m_overlayView;
  QPointer<ImageView> m_overlayImageView;
  QPointer<ImageView> m_overlayAlignmentView;
  QPointer<QWidget> m_flashView;
  QPointer<ImageButton> m_flashButton;
  QPointer<ImageButton> m_cameraToggleButton;
  QPointer<ImageButton> m_shoot;
  QPointer<QLabel> m_titleLabel;
  QPointer<Toolbar> m_toolbar;
  QPointer<InformationView> m_informationView;
};

}  // namespace duo
