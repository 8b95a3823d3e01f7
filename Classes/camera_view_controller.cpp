#include "camera_view_controller.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include "blend_view_controller.h"
#include "camera_app_delegate.h"
#include "camera_device.h"
#include "information_view.h"
#include "photo_library.h"
#include "qs_alert_view.h"
#include "qs_image_picker_controller.h"
#include "run_loop.h"
#include "screen.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "stereo/pair_loader.h"
#include "transform/image_tools.h"

namespace duo {

namespace {

constexpr double kTallPreviewHeight = 426;
constexpr double kShortPreviewHeight = 480;

using ShotSave = Result<QString>;

}  // namespace

CameraViewController::CameraViewController(SettingsStore& store, QObject* parent)
    : ViewController(parent), m_store(store) {}

CameraViewController::~CameraViewController() = default;

double CameraViewController::cameraPreviewHeight() {
  return MainScreen::bounds().height() > 480 ? kTallPreviewHeight : kShortPreviewHeight;
}

double CameraViewController::cameraPreviewOffset() {
  return (MainScreen::bounds().height() - cameraPreviewHeight()) * 0.5;
}

bool CameraViewController::isFlashOn() const { return m_store.boolForKey(keys::kFlashOn); }
void CameraViewController::setFlashOn(bool on) { m_store.setBool(on, keys::kFlashOn); }

QSImagePickerController* CameraViewController::imagePicker() const { return m_imagePicker; }

BlendViewController* CameraViewController::blendViewController() const {
  return qobject_cast<BlendViewController*>(presentedViewController());
}

bool CameraViewController::doesDeviceSupportFlash() {
  return ImagePickerController::isSourceTypeAvailable(ImagePickerController::SourceType::Camera) &&
         ImagePickerController::isFlashAvailableForCameraDevice(ImagePickerController::kRearCamera);
}

bool CameraViewController::doesDeviceSupportFrontCamera() {
  return ImagePickerController::isSourceTypeAvailable(ImagePickerController::SourceType::Camera) &&
         ImagePickerController::isCameraDeviceAvailable(ImagePickerController::kFrontCamera);
}

void CameraViewController::viewDidLoad() {
  setStatusBarHidden(true);
}

void CameraViewController::viewDidAppear(bool) {
  m_imagePickerIsDisplayed = false;
  if (m_launchedCurrentPhotoMethod) return;
  if (m_store.boolForKey(keys::kShowIntro)) showInformationScreen();
  else launchCurrentPhotoMethod();
}

// ---------------------------------------------------------------------------------------------
// Launching and the picker

void CameraViewController::launchCurrentPhotoMethod() {
  m_launchedCurrentPhotoMethod = true;
  if (m_photoMethod == kCamera &&
      !ImagePickerController::isSourceTypeAvailable(ImagePickerController::SourceType::Camera))
    m_photoMethod = kLibrary;
  if (m_photoMethod == kLibrary) choosePhotosButtonClick();
  else if (m_photoMethod == kCamera) takePhotosButtonClick();
}

QSImagePickerController* CameraViewController::ensurePicker() {
  // A dismissed picker is gone for good in this toolkit, so "the picker" is made again
  // whenever the last one has left the screen.
  if (!m_imagePicker || m_imagePicker->isBeingDismissed()) {
    m_imagePicker = new QSImagePickerController(this);
    m_imagePicker->setDelegate(this);
    m_imagePicker->setNavigationBarStyleBlack(true);
    m_imagePickerIsDisplayed = false;
  }
  return m_imagePicker;
}

void CameraViewController::presentPicker(bool animated) {
  if (m_imagePickerIsDisplayed) return;
  m_imagePickerIsDisplayed = true;
  presentViewController(m_imagePicker, animated);
}

void CameraViewController::dismissPickerController(ImagePickerController* picker,
                                                   std::function<void()> completion) {
  if (m_photoMethod != kCamera && m_photoMethod != kLibrary) return;
  if (!picker || picker->presentingViewController() != this) {
    if (completion) completion();
    return;
  }
  picker->dismissViewController(m_photoMethod == kLibrary, std::move(completion));
}

// ---------------------------------------------------------------------------------------------
// Camera

void CameraViewController::takePhotosButtonClick() {
  m_photoMethod = kCamera;
  m_currentAlignmentMode = int(m_store.integerForKey(keys::kAlignmentMode));
  setStatusBarHidden(true);

  QSImagePickerController* picker = ensurePicker();
  picker->setSourceType(ImagePickerController::SourceType::Camera);
  picker->setShowsCameraControls(false);
  if (picker->cameraOverlayView()) picker->setCameraOverlayView(nullptr);
  picker->setCameraViewTransform(QTransform::fromTranslate(0, cameraPreviewOffset()));
  picker->setPreviewPlacement([this](int tag) -> std::optional<std::pair<QRectF, QTransform>> {
    const GhostGeometry geometry = ghostGeometry(tag, m_store.boolForKey(keys::kFrontCameraOn), true);
    return std::pair{geometry.frame, geometry.transform};
  });
  buildOverlay();
  picker->setCameraOverlayView(m_overlayView);
  presentPicker(false);
}

// ---------------------------------------------------------------------------------------------
// A photograph arrives

void CameraViewController::imagePickerControllerDidFinishPickingImage(ImagePickerController* picker,
                                                                       Image image) {
  if (image.isNull()) {  // nothing came: the shot or pick is simply tried again
    imagePickerControllerDidFail(picker, QStringLiteral("Cannot Take the Photograph"),
                                 QStringLiteral("No picture came from the camera."));
    return;
  }
  auto shot = std::make_shared<const Image>(std::move(image));
  if (m_photoMethod == kCamera && m_store.boolForKey(keys::kSaveCamera))
    saveCameraShot(shot);

  if (!m_leftImage) {
    m_leftImage = shot;
  } else if (!m_rightImage) {
    if (shot->uprightWidth() == m_leftImage->uprightWidth() &&
        shot->uprightHeight() == m_leftImage->uprightHeight()) {
      m_rightImage = shot;
    } else {
      auto* alert = new QSAlertView(QStringLiteral("Oops!"),
                                    QStringLiteral("Both images must be\nthe same size and orientation."),
                                    QStringLiteral("Try Again"));
      alert->showWithCompletion([](QSAlertView*, int) {});
    }
  }

  if (m_rightImage) {
    dismissPickerController(picker, [guard = QPointer<CameraViewController>(this)] {
      if (guard) guard->switchToBlendView();
    });
  } else if (m_photoMethod == kLibrary) {
    picker->dismissViewController(false);
    performAfterDelay(kLibraryAgainDelay, [guard = QPointer<CameraViewController>(this)] {
      if (guard) guard->choosePhotosButtonClick();
    });
  } else {
    performAfterDelay(0, [guard = QPointer<CameraViewController>(this)] {
      if (guard) guard->takePhotosButtonClick();
    });
  }
}

void CameraViewController::saveCameraShot(std::shared_ptr<const Image> shot) {
  ++m_pendingSaves;
  auto* watcher = new QFutureWatcher<ShotSave>(this);
  connect(watcher, &QFutureWatcher<ShotSave>::finished, this, [this, watcher] {
    watcher->deleteLater();
    --m_pendingSaves;
    const ShotSave saved = watcher->result();
    if (saved) return;
    // A shot the user asked to keep and did not get is worth an interruption.
    auto* alert = new QSAlertView(QStringLiteral("Could Not Save"),
                                  QString::fromStdString(saved.error().message),
                                  QStringLiteral("Continue"));
    alert->showWithCompletion([](QSAlertView*, int) {});
  });
  watcher->setFuture(QtConcurrent::run([shot, when = QDateTime::currentDateTime()] {
    return PhotoLibrary::saveCameraShot(*shot, when);
  }));
}

void CameraViewController::imagePickerControllerDidFail(ImagePickerController*, const QString& title,
                                                        const QString& message) {
  auto* alert = new QSAlertView(title, message, QStringLiteral("Continue"));
  alert->showWithCompletion([](QSAlertView*, int) {});
  if (m_photoMethod != kCamera || !m_imagePicker || m_imagePicker->isBeingDismissed()) return;
  // The shutter's cover goes and the same shot can be tried again; a camera that has gone
  // leaves for the library, as the gallery button does.
  if (ImagePickerController::isSourceTypeAvailable(ImagePickerController::SourceType::Camera))
    takePhotosButtonClick();
  else
    imagePickerControllerDidCancel(m_imagePicker);
}

// ---------------------------------------------------------------------------------------------
// Library

void CameraViewController::choosePhotosButtonClick() {
  m_photoMethod = kLibrary;
  setStatusBarHidden(false);
  QSImagePickerController* picker = ensurePicker();
  picker->setNavigationBarStyleBlack(true);
  picker->setSourceType(ImagePickerController::SourceType::PhotoLibrary);
  presentPicker(true);
}

void CameraViewController::imagePickerControllerDidCancel(ImagePickerController* picker) {
  resetImages();
  const auto after = [guard = QPointer<CameraViewController>(this)] {
    if (!guard) return;
    guard->m_photoMethod = guard->m_photoMethod == kCamera ? kLibrary : kCamera;
    if (guard->m_photoMethod == kLibrary ||
        ImagePickerController::isSourceTypeAvailable(ImagePickerController::SourceType::Camera)) {
      performAfterDelay(kRelaunchDelay, [guard] {
        if (guard) guard->launchCurrentPhotoMethod();
      });
    } else {
      guard->setStatusBarHidden(true);
      performAfterDelay(kRelaunchDelay, [guard] {
        if (guard) guard->showInformationScreen();
      });
    }
  };
  if (picker && picker->presentingViewController() == this)
    picker->dismissViewController(m_photoMethod == kLibrary, after);
  else
    after();
}

// ---------------------------------------------------------------------------------------------
// Intro, result screen

void CameraViewController::showInformationScreen() {
  if (m_informationView) return;  // one intro at a time
  m_informationView = new InformationView(view()->rect(), view());
  m_informationView->setCallback([guard = QPointer<CameraViewController>(this)](InformationView* intro) {
    if (guard) guard->informationScreenDismissed(intro);
  });
  m_informationView->show();
}

void CameraViewController::informationScreenDismissed(InformationView*) { launchCurrentPhotoMethod(); }

void CameraViewController::switchToBlendView() {
  m_imagePicker = nullptr;
  if (!m_leftImage || !m_rightImage) return;
  auto* result = new BlendViewController(m_store);
  result->setLeftImage(m_leftImage);
  result->setRightImage(m_rightImage);
  result->setPhotoMethod(m_photoMethod);
  result->setCallback([guard = QPointer<CameraViewController>(this)] {
    if (guard) guard->blendViewDismissed();
  });
  result->setMaximumResolution(ImageTools::maximumResolutionForPair(
      m_leftImage->uprightWidth(), m_leftImage->uprightHeight(), float(m_store.integerForKey(keys::kImageSize))));
  presentViewController(result, true);
}

void CameraViewController::imagePickerControllerDidFinishPickingPairFile(ImagePickerController* picker,
                                                                          const QString& path) {
  if (m_openingPairFile) return;
  // One file is the whole pair: whatever was picked before it is forgotten.
  resetImages();
  m_openingPairFile = true;
  const float workingSize = float(m_store.integerForKey(keys::kImageSize));
  dismissPickerController(picker, [guard = QPointer<CameraViewController>(this), path, workingSize] {
    if (!guard) return;
    guard->m_imagePicker = nullptr;
    if (CameraAppDelegate* application = CameraAppDelegate::shared())
      application->dimScreen(QStringLiteral(" Opening photographs..."));
    auto* watcher = new QFutureWatcher<Result<StereoPair>>(guard);
    connect(watcher, &QFutureWatcher<Result<StereoPair>>::finished, guard, [guard, watcher] {
      watcher->deleteLater();
      guard->m_openingPairFile = false;
      if (CameraAppDelegate* application = CameraAppDelegate::shared()) application->unDimScreen();
      Result<StereoPair> loaded = watcher->result();
      if (!loaded) {
        auto* alert = new QSAlertView(QStringLiteral("Cannot Open the Photographs"),
                                      QString::fromStdString(loaded.error().message),
                                      QStringLiteral("Continue"));
        alert->showWithCompletion([guard](QSAlertView*, int) {
          if (guard) guard->launchCurrentPhotoMethod();
        });
        return;
      }
      auto result = std::make_unique<BlendViewController>(guard->m_store);
      result->setPair(std::move(*loaded));
      result->setPhotoMethod(guard->m_photoMethod);
      guard->presentPair(std::move(result), true);
    });
    watcher->setFuture(QtConcurrent::run([path, workingSize] {
      return loadStereoPairFile(path.toStdString(), std::nullopt, workingSize > 0 ? workingSize : 50);
    }));
  });
}

void CameraViewController::presentPair(std::unique_ptr<BlendViewController> result, bool animated) {
  m_launchedCurrentPhotoMethod = true;
  result->setCallback([guard = QPointer<CameraViewController>(this)] {
    if (guard) guard->blendViewDismissed();
  });
  presentViewController(result.release(), animated);
}

void CameraViewController::blendViewDismissed() {
  resetImages();
  launchCurrentPhotoMethod();
}

void CameraViewController::resetImages() {
  m_leftImage.reset();
  m_rightImage.reset();
}

}  // namespace duo
