#include "camera_view_controller.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QPainter>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>
#include <numbers>

#include "blend_view_controller.h"
#include "camera_app_delegate.h"
#include "camera_device.h"
#include "image_button.h"
#include "image_resources.h"
#include "image_view.h"
#include "information_view.h"
#include "photo_library.h"
#include "qs_alert_view.h"
#include "qs_image_picker_controller.h"
#include "qt_image.h"
#include "run_loop.h"
#include "screen.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "stereo/pair_loader.h"
#include "theme.h"
#include "toolbar.h"
#include "transform/image_tools.h"
#include "view_animation.h"

namespace duo {

namespace {

constexpr int kScreenWidth = 320;
constexpr double kTallPreviewHeight = 426;
constexpr double kShortPreviewHeight = 480;
// The ghost only has to look like the shot; a screen-sized copy keeps it quick to draw.
constexpr float kGhostResolution = 1280;
const QColor kTitleColour = QColor::fromRgbF(0.75, 0.75, 0.75);

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

void CameraViewController::buildOverlay() {
  const QSize bounds = MainScreen::bounds();
  const double previewHeight = cameraPreviewHeight();
  const double offset = cameraPreviewOffset();

  auto* overlay = new QWidget;
  overlay->setAttribute(Qt::WA_TranslucentBackground);
  overlay->setGeometry(0, 0, kScreenWidth, bounds.height());
  m_overlayView = overlay;

  m_toolbar = new Toolbar(overlay);
  m_toolbar->setBarColor(Qt::black);
  m_toolbar->setGeometry(0, bounds.height() - kToolbarHeight, bounds.width(), kToolbarHeight);
  auto* gallery = new BarButtonItem(imageNamed(QStringLiteral("gallery")),
                                    [this] { imagePickerControllerDidCancel(m_imagePicker); }, m_toolbar);
  m_shoot = barItemWithImage(imageNamed(QStringLiteral("UIButtonBarCamera.png")), {},
                             [this] { cameraButtonClick(); });
  didRotate();
  auto* guide = new BarButtonItem(imageNamed(QStringLiteral("cameraalign")), [this] { nextOverlay(); },
                                  m_toolbar);
  auto* space1 = new BarButtonItem(BarButtonItem::SystemItem::FlexibleSpace, {}, m_toolbar);
  auto* space2 = new BarButtonItem(BarButtonItem::SystemItem::FlexibleSpace, {}, m_toolbar);
  m_toolbar->setItems({gallery, space1, m_shoot.data(), space2, guide});

  m_overlayImageView = nullptr;
  if (m_leftImage) {
    CameraDevice* camera = CameraDevice::shared();
    const bool recordsTurn = !camera || camera->recordsDeviceTurn();
    const GhostGeometry geometry = ghostGeometry(
        m_leftImage->orientationTag(), m_store.boolForKey(keys::kFrontCameraOn), recordsTurn);
    const Image ghost = ImageTools::scaleAndRotateImage(*m_leftImage, ImageTools::kKeepOrientation,
                                                        kGhostResolution);
    m_overlayImageView = new ImageView(toQImage(ghost), overlay);
    m_overlayImageView->setContentMode(ContentMode::AspectFill);
    m_overlayImageView->setGeometry(geometry.frame.toAlignedRect());
    setViewAlpha(m_overlayImageView, kGhostOpacity);
    setViewTransform(m_overlayImageView, geometry.transform);
  }

  m_overlayAlignmentView = new ImageView(overlay);
  m_overlayAlignmentView->setGeometry(0, int(offset), kScreenWidth, int(previewHeight));
  m_overlayAlignmentView->setAttribute(Qt::WA_TransparentForMouseEvents);
  updateAlignmentMode();

  m_titleLabel = new QLabel(m_leftImage ? QStringLiteral("Right Image") : QStringLiteral("Left Image"), overlay);
  m_titleLabel->setGeometry(0, 0, kScreenWidth, kTitleHeight);
  m_titleLabel->setAlignment(Qt::AlignCenter);
  m_titleLabel->setFont(theme::boldSystemFont(kTitleFontSize));
  m_titleLabel->setStyleSheet(
      QStringLiteral("color: %1; background: transparent;").arg(kTitleColour.name()));
  // The shadow keeps the title legible over a bright scene.
  auto* shadow = new QGraphicsDropShadowEffect(m_titleLabel);
  shadow->setColor(Qt::black);
  shadow->setOffset(0, 1);
  shadow->setBlurRadius(0);
  m_titleLabel->setGraphicsEffect(shadow);
  m_titleLabel->setAttribute(Qt::WA_TransparentForMouseEvents);

  m_flashButton = nullptr;
  m_cameraToggleButton = nullptr;
  if (doesDeviceSupportFlash()) {
    m_imagePicker->setCameraFlashMode(isFlashOn() ? ImagePickerController::kFlashOn
                                                  : ImagePickerController::kFlashOff);
    m_flashButton = new ImageButton(
        imageNamed(isFlashOn() ? QStringLiteral("flash on.png") : QStringLiteral("flash off.png")), overlay);
    m_flashButton->setGeometry(kFlashButtonFrame.toAlignedRect());
    connect(m_flashButton, &QAbstractButton::clicked, this, [this] { flashButtonClick(); });
    m_flashButton->hide();
  }
  if (doesDeviceSupportFrontCamera()) configureCameraMode();
  // Drawing order, bottom to top: toolbar, ghost, guide, title, buttons.
  if (m_overlayImageView) m_overlayImageView->raise();
  m_overlayAlignmentView->raise();
  m_titleLabel->raise();
  if (m_flashButton) m_flashButton->raise();
  if (m_cameraToggleButton) m_cameraToggleButton->raise();
}

void CameraViewController::configureCameraMode() {
  const bool front = m_store.boolForKey(keys::kFrontCameraOn);
  if (m_imagePicker)
    m_imagePicker->setCameraDevice(front ? ImagePickerController::kFrontCamera
                                         : ImagePickerController::kRearCamera);
  if (m_flashButton) m_flashButton->setVisible(!front && !m_leftImage);
  if (!m_leftImage && !m_cameraToggleButton && m_overlayView) {
    m_cameraToggleButton = new ImageButton(imageNamed(QStringLiteral("PLCameraToggle.png")), m_overlayView);
    m_cameraToggleButton->setSelectedImage(imageNamed(QStringLiteral("PLCameraTogglePressed.png")));
    m_cameraToggleButton->setCheckable(false);
    m_cameraToggleButton->setGeometry(kCameraToggleFrame.toAlignedRect());
    connect(m_cameraToggleButton, &QAbstractButton::clicked, this, [this] { cameraToggleButtonClick(); });
    m_cameraToggleButton->show();
  }
}

CameraViewController::GhostGeometry CameraViewController::ghostGeometry(int tag, bool frontCamera,
                                                                        bool recordsDeviceTurn) {
  const double height = MainScreen::bounds().height();
  const double previewHeight = cameraPreviewHeight();
  GhostGeometry geometry;
  double angle = 0;
  if (recordsDeviceTurn && (tag == 0 || tag == 1)) {
    // A landscape box centred on the preview that, once turned, is the preview's size.
    geometry.frame = QRectF((kScreenWidth - previewHeight) * 0.5, (height - kScreenWidth) * 0.5,
                            previewHeight, kScreenWidth);
  } else {
    geometry.frame = QRectF(0, cameraPreviewOffset(), kScreenWidth, previewHeight);
  }
  if (recordsDeviceTurn) {
    switch (tag) {
      case 0: angle = 90; break;    // held sideways: a quarter turn clockwise on screen
      case 1: angle = -90; break;
      case 2: angle = 180; break;
      default: break;               // upright (3) and the mirrored tags are not turned
    }
  }
  QTransform transform;
  if (frontCamera) transform.scale(-1, 1);
  transform.rotate(angle);
  geometry.transform = transform;
  return geometry;
}

ImageButton* CameraViewController::barItemWithImage(const QImage& image, const QString& title,
                                                    std::function<void()> action) {
  auto* button = new ImageButton(image);
  const QSizeF size = button->imagePointSize();
  button->setFixedSize(int(std::max(44.0, std::ceil(size.width()))), int(std::max(44.0, std::ceil(size.height()))));
  button->setText(title);
  QObject::connect(button, &QAbstractButton::clicked, button, [action = std::move(action)] {
    if (action) action();
  });
  return button;
}

double CameraViewController::shutterAngle(DeviceOrientation orientation) {
  switch (orientation) {
    case DeviceOrientation::PortraitUpsideDown: return std::numbers::pi;
    case DeviceOrientation::LandscapeLeft: return std::numbers::pi / 2;
    case DeviceOrientation::LandscapeRight: return -std::numbers::pi / 2;
    default: return 0;
  }
}

void CameraViewController::didRotate(std::optional<DeviceOrientation> reported) {
  if (!m_shoot) return;
  const double angle = shutterAngle(reported.value_or(currentDeviceOrientation()));
  QTransform turn;
  turn.rotateRadians(angle);
  if (reported) animateViews(kRotateSeconds, AnimationCurve::EaseInOut, {{m_shoot.data(), {}, {}, turn}});
  else setViewTransform(m_shoot, turn);
}

// ---------------------------------------------------------------------------------------------
// Guides

void CameraViewController::nextOverlay() {
  m_currentAlignmentMode = m_currentAlignmentMode >= 3 ? 0 : m_currentAlignmentMode + 1;
  m_store.setInteger(m_currentAlignmentMode, keys::kAlignmentMode);
  updateAlignmentMode();
}

void CameraViewController::updateAlignmentMode() {
  if (!m_overlayAlignmentView) return;
  const double previewHeight = cameraPreviewHeight();
  const double offset = cameraPreviewOffset();
  switch (m_currentAlignmentMode) {
    case 0:
      m_overlayAlignmentView->setImage(QImage());
      break;
    case 1: {
      const QImage crosshair = imageNamed(QStringLiteral("crosshair"));
      const QSizeF size = QSizeF(crosshair.size()) / crosshair.devicePixelRatio();
      m_overlayAlignmentView->setGeometry(QRectF(kScreenWidth * 0.5 - size.width() * 0.5,
                                                 offset + previewHeight * 0.5 - size.height() * 0.5,
                                                 size.width(), size.height())
                                              .toAlignedRect());
      m_overlayAlignmentView->setContentMode(ContentMode::Center);
      m_overlayAlignmentView->setImage(crosshair);
      break;
    }
    case 2:
    case 3:
      m_overlayAlignmentView->setGeometry(0, int(offset), kScreenWidth, int(previewHeight));
      m_overlayAlignmentView->setContentMode(ContentMode::ScaleToFill);
      m_overlayAlignmentView->setImage(
          makeGridForRect(QRectF(0, 0, kScreenWidth, previewHeight), m_currentAlignmentMode + 1));
      break;
    default:
      break;
  }
}

QImage CameraViewController::makeGridForRect(const QRectF& rect, int sections, double scale) {
  if (scale <= 0) scale = MainScreen::scale();
  QImage canvas(QSize(int(std::ceil(rect.width() * scale)), int(std::ceil(rect.height() * scale))),
                QImage::Format_ARGB32_Premultiplied);
  canvas.setDevicePixelRatio(scale);
  canvas.fill(Qt::transparent);
  if (sections < 2) return canvas;
  QPainter painter(&canvas);
  painter.setPen(QPen(Qt::black, 1.0, Qt::SolidLine, Qt::FlatCap));
  for (int i = 1; i < sections; ++i) {
    const double fraction = double(i) / double(sections);
    const double x = rect.left() + std::floor(rect.width() * fraction) + 0.5;
    const double y = rect.top() + std::floor(rect.height() * fraction) + 0.5;
    // The canvas is the rectangle's size, so its origin is the rectangle's corner.
    painter.drawLine(QPointF(x - rect.left(), 0), QPointF(x - rect.left(), rect.height()));
    painter.drawLine(QPointF(0, y - rect.top()), QPointF(rect.width(), y - rect.top()));
  }
  return canvas;
}

// ---------------------------------------------------------------------------------------------
// Flash, camera choice and shutter

void CameraViewController::flashButtonClick() {
  const bool wasOn = isFlashOn();
  setFlashOn(!wasOn);
  if (m_flashButton)
    m_flashButton->setImage(imageNamed(wasOn ? QStringLiteral("flash off.png") : QStringLiteral("flash on.png")));
  if (m_imagePicker)
    m_imagePicker->setCameraFlashMode(wasOn ? ImagePickerController::kFlashOff : ImagePickerController::kFlashOn);
}

void CameraViewController::cameraToggleButtonClick() {
  m_store.setBool(!m_store.boolForKey(keys::kFrontCameraOn), keys::kFrontCameraOn);
  configureCameraMode();
}

void CameraViewController::cameraButtonClick() {
  if (!m_imagePicker || !m_imagePicker->takePicture()) return;
  beginShutterAnimation();
}

void CameraViewController::beginShutterAnimation() {
  const QSize bounds = MainScreen::bounds();
  auto* cover = new QWidget;
  cover->setGeometry(0, 0, bounds.width(), bounds.height());
  cover->setAutoFillBackground(true);
  QPalette palette = cover->palette();
  palette.setColor(QPalette::Window, Qt::black);
  cover->setPalette(palette);
  m_imagePicker->setCameraOverlayView(cover);
  m_imagePicker->setCameraViewTransform(QTransform());
  m_overlayView = cover;

  m_flashView = new QWidget(cover);
  m_flashView->setGeometry(view()->rect());
  m_flashView->setAutoFillBackground(true);
  palette.setColor(QPalette::Window, Qt::white);
  m_flashView->setPalette(palette);
  setViewAlpha(m_flashView, 0);
  m_flashView->show();
  animateViews(kFlashInSeconds, AnimationCurve::EaseInOut, {{m_flashView.data(), 1.0, {}, {}}},
               [flash = m_flashView](bool) {
                 if (flash)
                   animateViews(kFlashOutSeconds, AnimationCurve::EaseIn,
                                {{flash.data(), kFlashOutOpacity, {}, {}}});
               });
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
      result->setCallback([guard] {
        if (guard) guard->blendViewDismissed();
      });
      guard->presentViewController(result.release(), true);
    });
    watcher->setFuture(QtConcurrent::run([path, workingSize] {
      return loadStereoPairFile(path.toStdString(), std::nullopt, workingSize > 0 ? workingSize : 50);
    }));
  });
}

void CameraViewController::presentPair(std::unique_ptr<BlendViewController> result) {
  m_launchedCurrentPhotoMethod = true;
  result->setCallback([guard = QPointer<CameraViewController>(this)] {
    if (guard) guard->blendViewDismissed();
  });
  presentViewController(result.release(), false);
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
