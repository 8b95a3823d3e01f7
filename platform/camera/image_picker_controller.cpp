#include "image_picker_controller.h"

#include <QFileDialog>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include "camera_preview_view.h"
#include "image_view.h"
#include "io/image_codec.h"
#include "navigation_bar.h"
#include "photo_grid_view.h"
#include "photo_library.h"
#include "screen.h"
#include "stereo/pair_loader.h"

namespace duo {

namespace {

// The library's bar holds "Browse…" on the left and "Cancel" on the right.
const QString kLibraryTitle = QStringLiteral("Photos");

CameraDevice* camera() { return CameraDevice::shared(); }

CameraDevice::Position positionOf(int device) {
  return device == ImagePickerController::kFrontCamera ? CameraDevice::Position::Front
                                                       : CameraDevice::Position::Rear;
}

}  // namespace

ImagePickerController::ImagePickerController(QObject* parent) : ViewController(parent) {}

ImagePickerController::~ImagePickerController() {
  if (CameraDevice* device = camera(); device && m_visible) device->stop();
}

bool ImagePickerController::isSourceTypeAvailable(SourceType type) {
  if (type == SourceType::PhotoLibrary) return true;
  return camera() && camera()->isAvailable();
}

bool ImagePickerController::isFlashAvailableForCameraDevice(int device) {
  return camera() && camera()->isAvailable() && camera()->isFlashAvailable(positionOf(device));
}

bool ImagePickerController::isCameraDeviceAvailable(int device) {
  return camera() && camera()->isAvailable() && camera()->isCameraDeviceAvailable(positionOf(device));
}

void ImagePickerController::setSourceType(SourceType type) {
  m_sourceType = type;
  if (isViewLoaded()) updateMode();
}

void ImagePickerController::setCameraOverlayView(QWidget* overlay) {
  if (m_overlay == overlay) return;
  if (m_overlay) m_overlay->deleteLater();
  if (m_overlay) m_overlay->hide();
  m_overlay = overlay;
  if (!overlay) return;
  view();
  overlay->setParent(m_cameraPage);
  overlay->move(0, 0);
  overlay->show();
  overlay->raise();
}

void ImagePickerController::setCameraViewTransform(const QTransform& transform) {
  m_previewTransform = transform;
  if (isViewLoaded()) layoutPreview();
}

void ImagePickerController::setCameraFlashMode(int mode) {
  m_flashMode = mode == kFlashOn ? kFlashOn : kFlashOff;
  if (CameraDevice* device = camera())
    device->setFlashMode(m_flashMode == kFlashOn ? CameraDevice::FlashMode::On
                                                 : CameraDevice::FlashMode::Off);
}

void ImagePickerController::setCameraDevice(int device) {
  m_cameraDevice = device == kFrontCamera ? kFrontCamera : kRearCamera;
  if (CameraDevice* c = camera()) c->setCameraDevice(positionOf(m_cameraDevice));
}

void ImagePickerController::setPreviewPlacement(PreviewPlacement placement) {
  m_placement = std::move(placement);
  if (isViewLoaded()) applyPreviewPlacement();
}

void ImagePickerController::loadView() {
  const QSize bounds = MainScreen::bounds();
  auto* root = new QWidget;
  root->resize(bounds);
  root->setAutoFillBackground(true);
  QPalette palette = root->palette();
  palette.setColor(QPalette::Window, Qt::black);
  root->setPalette(palette);
  setView(root);

  m_cameraPage = new QWidget(root);
  m_cameraPage->setGeometry(root->rect());
  m_preview = new CameraPreviewView(m_cameraPage);
  m_preview->setCamera(camera());

  m_libraryPage = new QWidget(root);
  m_libraryPage->setGeometry(root->rect());
  m_bar = new NavigationBar(m_libraryPage);
  m_bar->setGeometry(0, 0, bounds.width(), NavigationBar::kHeight);
  m_bar->setTitle(kLibraryTitle);
  auto* browseItem = new BarButtonItem(QStringLiteral("Browse…"), [this] { browse(); }, this);
  auto* cancelItem = new BarButtonItem(BarButtonItem::SystemItem::Cancel, [this] { cancel(); }, this);
  m_bar->setItems(browseItem, cancelItem);
  m_grid = new PhotoGridView(m_libraryPage);
  m_grid->setGeometry(0, NavigationBar::kHeight, bounds.width(), bounds.height() - NavigationBar::kHeight);
  connect(m_grid, &PhotoGridView::photoPicked, this, [this](const QString& path) { pickFile(path); });
  m_spinner = new ActivityIndicatorView(ActivityIndicatorView::Style::WhiteLarge, root);
  const QSize spinner = m_spinner->sizeHint();
  m_spinner->setGeometry((bounds.width() - spinner.width()) / 2, (bounds.height() - spinner.height()) / 2,
                         spinner.width(), spinner.height());

  if (CameraDevice* device = camera()) {
    connect(device, &CameraDevice::shotTaken, this,
                               [this](const Image& image) { shotArrived(image); });
    connect(device, &CameraDevice::shotFailed, this,
                               [this](const QString& message) { shotFailed(message); });
    connect(device, &CameraDevice::previewChanged, this, [this] { applyPreviewPlacement(); });
    // A camera unplugged or taken by another program while it is shown: said, so that the
    // owner can move on rather than leave the user before a black preview.
    connect(device, &CameraDevice::availabilityChanged, this, [this, device] {
      if (m_visible && m_sourceType == SourceType::Camera && !device->isAvailable() && m_delegate)
        m_delegate->imagePickerControllerDidFail(
            this, QStringLiteral("Camera Unavailable"),
            QStringLiteral("The camera can no longer be used. Pick the photographs from the library instead."));
    });
  }
  layoutPreview();
  updateMode();
}

void ImagePickerController::layoutPreview() {
  if (!m_preview) return;
  // The preview keeps the height of a phone's 3:4 picture below the screen's top; the
  // transform's translation moves it down to where the overlay expects it.
  const QSize bounds = MainScreen::bounds();
  const int height = MainScreen::isTall() ? 426 : 480;
  const QPointF shift = m_previewTransform.map(QPointF(0, 0));
  m_preview->setGeometry(int(shift.x()), int(shift.y()), bounds.width(), std::min(height, bounds.height()));
  applyPreviewPlacement();
}

void ImagePickerController::applyPreviewPlacement() {
  if (!m_preview) return;
  CameraDevice* device = camera();
  if (!m_placement || !device || !device->recordsDeviceTurn()) {
    m_preview->clearPlacement();
    return;
  }
  if (auto placed = m_placement(device->previewOrientationTag())) {
    // Screen coordinates to the preview's own.
    m_preview->setPlacement(placed->first.translated(-QPointF(m_preview->pos())), placed->second);
  } else {
    m_preview->clearPlacement();
  }
}

void ImagePickerController::updateMode() {
  const bool cameraMode = m_sourceType == SourceType::Camera;
  m_cameraPage->setVisible(cameraMode);
  m_libraryPage->setVisible(!cameraMode);
  if (CameraDevice* device = camera(); device && m_visible) {
    if (cameraMode) device->start();
    else device->stop();
  }
  if (!cameraMode && m_visible) m_grid->reload();
}

void ImagePickerController::viewDidAppear(bool) {
  m_visible = true;
  if (m_sourceType == SourceType::Camera) {
    if (CameraDevice* device = camera()) device->start();
  } else {
    m_grid->reload();
  }
}

void ImagePickerController::viewDidDisappear(bool) {
  m_visible = false;
  if (CameraDevice* device = camera()) device->stop();
}

bool ImagePickerController::takePicture() {
  CameraDevice* device = camera();
  if (!device || m_takingPicture || !device->isAvailable()) return false;
  m_takingPicture = device->takePicture();
  return m_takingPicture;
}

void ImagePickerController::shotArrived(const Image& image) {
  if (!m_takingPicture) return;  // a shot another picker asked for
  m_takingPicture = false;
  if (m_delegate) m_delegate->imagePickerControllerDidFinishPickingImage(this, image);
}

void ImagePickerController::shotFailed(const QString& message) {
  if (!m_takingPicture) return;
  m_takingPicture = false;
  if (m_delegate)
    m_delegate->imagePickerControllerDidFail(this, QStringLiteral("Cannot Take the Photograph"), message);
}

bool ImagePickerController::pickFile(const QString& path) {
  if (m_readingPick) return false;
  if (isSingleFilePair(path.toStdString())) {
    if (m_delegate) m_delegate->imagePickerControllerDidFinishPickingPairFile(this, path);
    return true;
  }
  m_readingPick = true;
  view();
  m_spinner->show();
  m_spinner->raise();
  m_spinner->startAnimating();
  auto* watcher = new QFutureWatcher<Result<Image>>(this);
  connect(watcher, &QFutureWatcher<Result<Image>>::finished, this, [this, watcher] {
    watcher->deleteLater();
    m_readingPick = false;
    m_spinner->stopAnimating();
    Result<Image> decoded = watcher->result();
    if (!m_delegate) return;
    if (decoded) {
      m_delegate->imagePickerControllerDidFinishPickingImage(this, std::move(*decoded));
    } else {
      m_delegate->imagePickerControllerDidFail(this, QStringLiteral("Cannot Open the Photograph"),
                                               QString::fromStdString(decoded.error().message));
    }
  });
  watcher->setFuture(QtConcurrent::run([file = path.toStdString()] { return decodeImageFile(file); }));
  return true;
}

void ImagePickerController::browse() {
  if (m_readingPick) return;
  QStringList patterns;
  for (const QString& extension : PhotoLibrary::imageExtensions())
    patterns << QStringLiteral("*.") + extension << QStringLiteral("*.") + extension.toUpper();
  const QString path = QFileDialog::getOpenFileName(
      view()->window(), QStringLiteral("Choose a Photograph"), PhotoLibrary::picturesFolder(),
      QStringLiteral("Photographs (%1)").arg(patterns.join(QLatin1Char(' '))));
  if (!path.isEmpty()) pickFile(path);
}

void ImagePickerController::cancel() {
  if (m_delegate) m_delegate->imagePickerControllerDidCancel(this);
}

}  // namespace duo
