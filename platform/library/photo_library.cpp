#include "photo_library.h"

#include <QFile>
#include <QMutex>
#include <QStandardPaths>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "io/file_io.h"
#include "io/image_codec.h"

namespace duo {

namespace {

const QString kAlbumName = QStringLiteral("Duoscope");
const QString kFileNameDateFormat = QStringLiteral("yyyy-MM-dd HH.mm.ss");
constexpr int kCameraJpegQuality = 90;
constexpr mode_t kFolderMode = 0755;
// Far more shots in one second than anyone takes; past it something else is wrong.
constexpr int kMaxNameNumber = 9999;

struct Overrides {
  QMutex mutex;
  QString pictures;
  QString documents;
};

Overrides& overrides() {
  static Overrides instance;
  return instance;
}

QString overridden(const QString Overrides::*member, QStandardPaths::StandardLocation location) {
  {
    Overrides& o = overrides();
    QMutexLocker lock(&o.mutex);
    if (!(o.*member).isEmpty()) return o.*member;
  }
  return QStandardPaths::writableLocation(location);
}

void setOverride(QString Overrides::*member, const QString& folder) {
  Overrides& o = overrides();
  QMutexLocker lock(&o.mutex);
  o.*member = folder;
}

std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

Error invalid(const QString& message) {
  return makeError(ErrorCode::InvalidArgument, message.toStdString());
}

// Creates the folder and any missing parents with kFolderMode (less the umask). A path that
// exists must be a folder, or a link to one: Pictures is often a link to another disk. The
// message says which folder could not be made, and why.
Status makeFolders(const QString& folder) {
  const std::filesystem::path whole(localPath(folder));
  std::filesystem::path partial;
  for (const auto& part : whole) {
    partial /= part;
    if (part.empty() || part == "/") continue;
    if (::mkdir(partial.c_str(), kFolderMode) == 0) continue;
    const int error = errno;
    struct stat info {};
    if (error == EEXIST && ::stat(partial.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
    const std::string what = partial == whole ? "the folder" : partial.string();
    return makeError(ErrorCode::Io,
                     "cannot create " + what + " (" +
                         (error == EEXIST ? "a file has that name" : std::strerror(error)) + ")");
  }
  return Ok{};
}

Error saveError(const QString& folder, const Error& cause) {
  return makeError(cause.code,
                   "Cannot save the photograph in " + localPath(folder) + ": " + cause.message);
}

QString numberedName(const QString& base, int number, const QString& extension) {
  return number == 1 ? base + '.' + extension
                     : QStringLiteral("%1 (%2).%3").arg(base).arg(number).arg(extension);
}

}  // namespace

QString PhotoLibrary::picturesFolder() {
  return overridden(&Overrides::pictures, QStandardPaths::PicturesLocation);
}

void PhotoLibrary::setPicturesFolderForTesting(const QString& folder) {
  setOverride(&Overrides::pictures, folder);
}

QString PhotoLibrary::documentsFolder() {
  return overridden(&Overrides::documents, QStandardPaths::DocumentsLocation);
}

void PhotoLibrary::setDocumentsFolderForTesting(const QString& folder) {
  setOverride(&Overrides::documents, folder);
}

QString PhotoLibrary::albumFolder() { return picturesFolder() + '/' + kAlbumName; }

Result<QString> PhotoLibrary::saveToAlbum(std::span<const std::uint8_t> bytes,
                                          const QString& extension, const QDateTime& when) {
  if (bytes.empty()) return invalid(QStringLiteral("Cannot save an empty photograph"));
  if (extension.isEmpty() || extension.contains('/') || extension.contains(QChar(0)) ||
      extension.startsWith('.')) {
    return invalid(
        QStringLiteral("Cannot save a photograph with the extension \"%1\"").arg(extension));
  }
  if (!when.isValid()) return invalid(QStringLiteral("Cannot save a photograph without a time"));

  const QString folder = albumFolder();
  if (Status made = makeFolders(folder); !made) return saveError(folder, made.error());

  const QString base = kAlbumName + ' ' + when.toLocalTime().toString(kFileNameDateFormat);
  auto pending = PendingFile::createNew(localPath(folder + '/' + numberedName(base, 1, extension)));
  if (!pending) return saveError(folder, pending.error());
  // Durable: this is a photograph, possibly the only copy of it.
  if (Status written = pending->write(bytes, /*durable=*/true); !written) {
    return saveError(folder, written.error());
  }
  // The no-replace rename is the only check that counts: a name free a moment ago may be
  // taken by now (another program, or a second shot in the same second).
  for (int number = 1; number <= kMaxNameNumber; ++number) {
    const QString path = folder + '/' + numberedName(base, number, extension);
    auto committed = pending->commitWithoutReplacing(localPath(path));
    if (!committed) return saveError(folder, committed.error());
    if (*committed) return path;
  }
  return saveError(
      folder,
      makeError(ErrorCode::Io, "every name from \"" + localPath(numberedName(base, 1, extension)) +
                                   "\" on is taken"));
}

Result<QString> PhotoLibrary::saveCameraShot(const Image& shot, const QDateTime& when) {
  auto jpeg = encodeJpeg(shot, kCameraJpegQuality, /*writeOrientationTag=*/true);
  if (!jpeg) {
    return makeError(jpeg.error().code, "Cannot save the photograph: " + jpeg.error().message);
  }
  return saveToAlbum(*jpeg, QStringLiteral("jpg"), when);
}

QStringList PhotoLibrary::imageExtensions() {
  // MPO and JPS files are JPEGs holding a whole stereo pair.
  return {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"), QStringLiteral("mpo"),
          QStringLiteral("jps")};
}

bool PhotoLibrary::hasImageExtension(const QString& fileName) {
  const qsizetype dot = fileName.lastIndexOf('.');
  if (dot < 0) return false;
  const QStringView extension = QStringView(fileName).mid(dot + 1);
  for (const QString& known : imageExtensions()) {
    if (extension.compare(known, Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

}  // namespace duo
