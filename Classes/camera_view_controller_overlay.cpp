// The capture screen's overlay over the camera preview: its toolbar, the ghost of the left shot,
// the guides, the title, the flash and camera buttons, and the shutter's flash.
#include "camera_view_controller.h"

#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QPainter>

#include <cmath>
#include <numbers>

#include "camera_device.h"
#include "image_button.h"
#include "image_resources.h"
#include "image_view.h"
#include "qt_image.h"
#include "screen.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "theme.h"
#include "toolbar.h"
#include "transform/image_tools.h"
#include "view_animation.h"

namespace duo {

namespace {

constexpr int kScreenWidth = 320;
// The ghost only has to look like the shot; a screen-sized copy keeps it quick to draw.
constexpr float kGhostResolution = 1280;
const QColor kTitleColour = QColor::fromRgbF(0.75, 0.75, 0.75);

}  // namespace

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

}  // namespace duo
