#include "thumbnail_cache.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QUrl>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>

#include "io/file_io.h"
#include "io/image_codec.h"
#include "png_text_chunks.h"
#include "qt_image.h"
#include "transform/image_tools.h"

namespace duo {

namespace {

const QByteArray kUriKey = "Thumb::URI";
const QByteArray kMTimeKey = "Thumb::MTime";
const QByteArray kSizeKey = "Thumb::Size";
const QByteArray kSoftwareKey = "Software";
constexpr mode_t kPrivateFolderMode = 0700;
// A normal thumbnail is a few kilobytes; anything far larger in the cache is not one.
constexpr std::uint64_t kMaxThumbnailFileBytes = 4 * 1024 * 1024;

struct Override {
  QMutex mutex;
  QString cacheHome;
};

Override& cacheHomeOverride() {
  static Override instance;
  return instance;
}

std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// What the cache records of a picture: its URI, and the modification second and size.
struct Picture {
  QByteArray uri;
  qint64 mtime = 0;
  qint64 size = 0;
};

Result<Picture> statPicture(const QString& path) {
  struct stat info {};
  if (::stat(localPath(path).c_str(), &info) != 0) {
    return makeError(ErrorCode::Io,
                     localPath(path) + ": cannot read (" + std::strerror(errno) + ")");
  }
  if (!S_ISREG(info.st_mode)) {
    return makeError(ErrorCode::Io, localPath(path) + ": not a regular file");
  }
  return Picture{ThumbnailCache::uriOf(path), qint64(info.st_mtime), qint64(info.st_size)};
}

QString md5Name(const QByteArray& uri) {
  return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) +
         QStringLiteral(".png");
}

QString thumbnailsFolder() { return ThumbnailCache::cacheHome() + QStringLiteral("/thumbnails"); }

QString failureFolder() {
  QString version = QCoreApplication::applicationVersion();
  if (version.isEmpty()) version = QStringLiteral("0");
  return thumbnailsFolder() + QStringLiteral("/fail/duoscope-") + version;
}

// The bytes of a cache file that belongs to `picture` as it is now; empty otherwise.
QByteArray currentEntry(const QString& file, const Picture& picture) {
  auto bytes = readFileBytes(localPath(file), kMaxThumbnailFileBytes);
  if (!bytes) return {};
  QByteArray png(reinterpret_cast<const char*>(bytes->data()), qsizetype(bytes->size()));
  const auto texts = png_text::readTextChunks(png);
  bool mtimeOk = false;
  const qint64 mtime = texts.value(kMTimeKey).trimmed().toLongLong(&mtimeOk);
  if (texts.value(kUriKey) != picture.uri || !mtimeOk || mtime != picture.mtime) return {};
  return png;
}

QImage decodeThumbnail(const QByteArray& png) {
  QImage image = QImage::fromData(png, "PNG");
  if (image.isNull() || image.width() > ThumbnailCache::kNormalSize ||
      image.height() > ThumbnailCache::kNormalSize) {
    return {};
  }
  return image;
}

// Creates the folder and its missing parents, private to the user.
bool makePrivateFolders(const QString& folder) {
  std::filesystem::path partial;
  for (const auto& part : std::filesystem::path(localPath(folder))) {
    partial /= part;
    if (part.empty() || part == "/") continue;
    if (::mkdir(partial.c_str(), kPrivateFolderMode) == 0) continue;
    struct stat info {};
    if (errno != EEXIST || ::stat(partial.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
      return false;
    }
  }
  return true;
}

// Stores the image as a cache PNG for the picture; false when it could not be written.
bool store(const Image& image, const QString& file, const Picture& picture) {
  auto png = encodePng(image);
  if (!png) return false;
  const QByteArray tagged = png_text::withTextChunks(
      QByteArray(reinterpret_cast<const char*>(png->data()), qsizetype(png->size())),
      {{kUriKey, picture.uri},
       {kMTimeKey, QByteArray::number(picture.mtime)},
       {kSizeKey, QByteArray::number(picture.size)},
       {kSoftwareKey, QByteArrayLiteral("Duoscope")}});
  if (tagged.isEmpty() || !makePrivateFolders(QFileInfo(file).path())) return false;
  const auto* data = reinterpret_cast<const std::uint8_t*>(tagged.constData());
  return bool(writeFileAtomically(localPath(file), {data, std::size_t(tagged.size())},
                                  /*durable=*/false, kPrivateFileMode));
}

// Failures that say something about the picture itself, not about access to it.
bool isPictureFault(ErrorCode code) {
  return code != ErrorCode::Io && code != ErrorCode::InvalidArgument;
}

}  // namespace

QString ThumbnailCache::cacheHome() {
  {
    Override& o = cacheHomeOverride();
    QMutexLocker lock(&o.mutex);
    if (!o.cacheHome.isEmpty()) return o.cacheHome;
  }
  // XDG base directories: a relative value is invalid and must be ignored.
  const QString fromEnvironment = qEnvironmentVariable("XDG_CACHE_HOME");
  if (QDir::isAbsolutePath(fromEnvironment)) return QDir::cleanPath(fromEnvironment);
  return QDir::homePath() + QStringLiteral("/.cache");
}

void ThumbnailCache::setCacheHomeForTesting(const QString& folder) {
  Override& o = cacheHomeOverride();
  QMutexLocker lock(&o.mutex);
  o.cacheHome = folder;
}

QByteArray ThumbnailCache::uriOf(const QString& path) {
  return QUrl::fromLocalFile(QDir::cleanPath(QFileInfo(path).absoluteFilePath())).toEncoded();
}

QString ThumbnailCache::thumbnailPath(const QString& path) {
  return thumbnailsFolder() + QStringLiteral("/normal/") + md5Name(uriOf(path));
}

QString ThumbnailCache::failurePath(const QString& path) {
  return failureFolder() + '/' + md5Name(uriOf(path));
}

QImage ThumbnailCache::cached(const QString& path) {
  const auto picture = statPicture(path);
  if (!picture) return {};
  const QByteArray png = currentEntry(thumbnailPath(path), *picture);
  return png.isEmpty() ? QImage() : decodeThumbnail(png);
}

Result<QImage> ThumbnailCache::thumbnail(const QString& path) {
  // The modification time is taken before the picture is read: if it changes meanwhile, the
  // thumbnail is stale at once and made again next time, never wrongly taken as current.
  const auto picture = statPicture(path);
  if (!picture) return picture.error();
  const QString file = ThumbnailCache::thumbnailPath(path);
  if (const QByteArray png = currentEntry(file, *picture); !png.isEmpty()) {
    if (QImage image = decodeThumbnail(png); !image.isNull()) return image;
  }
  const QString failure = ThumbnailCache::failurePath(path);
  if (!currentEntry(failure, *picture).isEmpty()) {
    return makeError(ErrorCode::Unsupported,
                     localPath(path) + ": cannot be decoded (unchanged since it last failed)");
  }

  Result<Image> made = makeError(ErrorCode::Io, localPath(path) + ": cannot read");
  try {
    made = ImageTools::loadScaledAndRotatedImage(localPath(path), ImageTools::kKeepOrientation,
                                                 float(kNormalSize));
  } catch (const std::bad_alloc&) {
    made = makeError(ErrorCode::TooLarge, localPath(path) + ": not enough memory to decode");
  } catch (const std::logic_error& error) {  // a bad orientation tag; no decoder makes one
    made = makeError(ErrorCode::Corrupt, localPath(path) + ": " + error.what());
  }
  if (!made) {
    if (isPictureFault(made.error().code)) (void)store(*Image::create(1, 1), failure, *picture);
    return made.error();
  }
  (void)store(*made, file, *picture);
  return toQImage(*made);
}

}  // namespace duo
