#include "folder_camera.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent>

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "io/image_codec.h"
#include "qt_image.h"
#include "transform/image_tools.h"

namespace duo {

struct FolderCamera::ShotResult {
  Image image;
  QString error;
};

struct FolderCamera::PreviewResult {
  QString file;
  QImage frame;
  int tag = 0;
  QString error;
};

namespace {

// File-manager order: runs of digits compare as numbers, the text between them by the user's
// collation, ignoring case. QCollator's own numeric mode is not enough: in the C locale (a
// common LANG on servers and in scripts) it falls back to comparing code points. Names that
// still tie ("01.jpg", "1.jpg") get a fixed order so the cycle is stable.
class NameOrder {
 public:
  NameOrder() { m_collator.setCaseSensitivity(Qt::CaseInsensitive); }

  int compare(const QString& a, const QString& b) const {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
      const bool digits = isDigit(a[i]) && isDigit(b[j]);
      const QStringView runA = run(a, i, digits), runB = run(b, j, digits);
      const int order = digits ? compareNumbers(runA, runB) : m_collator.compare(runA, runB);
      if (order != 0) return order;
    }
    if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
    return a.compare(b);
  }

 private:
  static bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

  // The run of digits (or of anything else) starting at `pos`; moves `pos` past it.
  static QStringView run(const QString& s, qsizetype& pos, bool digits) {
    const qsizetype start = pos;
    while (pos < s.size() && isDigit(s[pos]) == digits) ++pos;
    return QStringView(s).mid(start, pos - start);
  }

  // Any length of digits, without overflow: leading zeros off, then longer is larger.
  static int compareNumbers(QStringView a, QStringView b) {
    while (a.size() > 1 && a.front() == u'0') a = a.mid(1);
    while (b.size() > 1 && b.front() == u'0') b = b.mid(1);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    const int order = a.compare(b);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
  }

  QCollator m_collator;
};

std::string localPath(const QString& folder, const QString& file) {
  return QFile::encodeName(QDir(folder).filePath(file)).toStdString();
}

}  // namespace

FolderCamera::FolderCamera(const QString& folder, QObject* parent)
    : FolderCamera(folder, Options{}, parent) {}

FolderCamera::FolderCamera(const QString& folder, Options options, QObject* parent)
    : CameraDevice(parent), m_folder(folder), m_options(options) {
  m_files = listImageFiles(m_folder);
}

FolderCamera::~FolderCamera() = default;

// The upcoming file as the preview shows it: the stored grid, reduced first by the JPEG
// decoder (cheap) and then to the preview size, with the file's tag beside it.
FolderCamera::PreviewResult FolderCamera::decodePreview(const std::string& path,
                                                        const QString& file) {
  PreviewResult result;
  result.file = file;
  const Result<ImageInfo> info = readImageInfoFile(path);
  if (!info) {
    result.error = QString::fromStdString(info.error().message);
    return result;
  }
  DecodeOptions options;
  if (info->width >= info->height)
    options.minWidth = std::min(info->width, kPreviewDecodeSide);
  else
    options.minHeight = std::min(info->height, kPreviewDecodeSide);
  Result<Image> decoded = decodeImageFile(path, options);
  if (!decoded) {
    result.error = QString::fromStdString(decoded.error().message);
    return result;
  }
  Image image = std::move(decoded).value();
  result.tag = image.orientationTag();
  if (std::max(image.width(), image.height()) > kPreviewMaxSide) {
    try {
      // The override Up keeps the stored grid: the screen turns the preview by the tag itself.
      image = ImageTools::scaleAndRotateImage(image, static_cast<int>(Orientation::Up),
                                              float(kPreviewMaxSide));
    } catch (const std::exception& e) {
      result.error = QString::fromUtf8(e.what());
      return result;
    }
  }
  result.frame = toQImage(image);
  return result;
}

QStringList FolderCamera::listImageFiles(const QString& folder) {
  if (folder.isEmpty()) return {};
  // Without QDir::Hidden the listing leaves out dot files; without System, broken links.
  const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
  QStringList names;
  for (const QFileInfo& entry : entries) {
    if (imageFormatFromPath(QFile::encodeName(entry.fileName()).toStdString()))
      names << entry.fileName();
  }
  const NameOrder order;
  std::sort(names.begin(), names.end(),
            [&](const QString& a, const QString& b) { return order.compare(a, b) < 0; });
  return names;
}

int FolderCamera::nextIndex() const {
  if (m_files.isEmpty()) return -1;
  if (m_lastShotFile.isEmpty()) return 0;
  const NameOrder order;
  for (int i = 0; i < m_files.size(); ++i) {
    if (order.compare(m_files[i], m_lastShotFile) > 0) return i;
  }
  return 0;  // after the last file the cycle starts again
}

QString FolderCamera::upcomingFile() const {
  const int index = nextIndex();
  return index < 0 ? QString() : m_files[index];
}

bool FolderCamera::isFlashAvailable(Position position) const {
  return m_options.flash && position == Position::Rear && isAvailable();
}

bool FolderCamera::isCameraDeviceAvailable(Position position) const {
  if (!isAvailable()) return false;
  return position == Position::Rear || m_options.frontCamera;
}

void FolderCamera::setCameraDevice(Position position) {
  if (position == Position::Front && !m_options.frontCamera) return;
  m_position = position;
}

void FolderCamera::relist() {
  const bool wasAvailable = isAvailable();
  m_files = listImageFiles(m_folder);
  if (isAvailable() != wasAvailable) emit availabilityChanged();
}

void FolderCamera::start() {
  m_active = true;
  relist();
  // A file may have been replaced under the same name while the camera was stopped.
  refreshPreview(true);
}

bool FolderCamera::takePicture() {
  if (m_shotPending) return false;
  relist();
  const int index = nextIndex();
  if (index < 0) {
    failShotLater(
        QFileInfo(m_folder).isDir()
            ? tr("The folder %1 holds no JPEG or PNG pictures.")
                  .arg(QDir::toNativeSeparators(m_folder))
            : tr("The folder %1 does not exist.").arg(QDir::toNativeSeparators(m_folder)));
    return true;
  }
  // The cycle moves on even when this file turns out to be undecodable.
  m_lastShotFile = m_files[index];
  m_shotPending = true;
  auto* watcher = new QFutureWatcher<ShotResult>(this);
  connect(watcher, &QFutureWatcher<ShotResult>::finished, this, [this, watcher] {
    watcher->deleteLater();
    finishShot(watcher->future().takeResult());
  });
  watcher->setFuture(QtConcurrent::run([path = localPath(m_folder, m_lastShotFile)] {
    Result<Image> decoded = decodeImageFile(path);
    if (!decoded) return ShotResult{{}, QString::fromStdString(decoded.error().message)};
    return ShotResult{std::move(decoded).value(), {}};
  }));
  refreshPreview(false);
  return true;
}

void FolderCamera::failShotLater(const QString& message) {
  m_shotPending = true;
  QTimer::singleShot(0, this, [this, message] {
    m_shotPending = false;
    emit shotFailed(message);
  });
}

void FolderCamera::finishShot(ShotResult result) {
  m_shotPending = false;
  if (result.image.isNull())
    emit shotFailed(result.error);
  else
    emit shotTaken(result.image);
}

void FolderCamera::refreshPreview(bool force) {
  if (!m_active) return;
  if (!m_previewRunning.isEmpty()) {
    // One decode at a time; its result is checked against the upcoming file when it ends.
    m_previewAgain = true;
    return;
  }
  const QString upcoming = upcomingFile();
  if (!force && upcoming == m_previewFile) return;
  if (upcoming.isEmpty()) {
    m_previewFile.clear();
    if (!m_preview.isNull()) {
      m_preview = {};
      m_previewTag = 0;
      emit previewChanged();
    }
    return;
  }
  m_previewRunning = upcoming;
  auto* watcher = new QFutureWatcher<PreviewResult>(this);
  connect(watcher, &QFutureWatcher<PreviewResult>::finished, this, [this, watcher] {
    watcher->deleteLater();
    finishPreview(watcher->future().takeResult());
  });
  watcher->setFuture(QtConcurrent::run(
      [path = localPath(m_folder, upcoming), upcoming] { return decodePreview(path, upcoming); }));
}

void FolderCamera::finishPreview(PreviewResult result) {
  m_previewRunning.clear();
  const bool again = std::exchange(m_previewAgain, false);
  if (result.file != upcomingFile()) {
    // A shot moved the cycle on while this decoded: show the file that is upcoming now.
    refreshPreview(false);
    return;
  }
  if (!result.error.isEmpty()) qWarning("Camera folder preview: %s", qUtf8Printable(result.error));
  // A file that cannot be decoded shows no frame rather than the previous file's.
  m_previewFile = result.file;
  m_preview = result.frame;
  m_previewTag = result.frame.isNull() ? 0 : result.tag;
  emit previewChanged();
  if (again) refreshPreview(false);
}

}  // namespace duo
