#include "received_project_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/image_codec.h"

namespace duo {
namespace {

constexpr int kMaxClashSuffix = 9999;
constexpr qint64 kStaleTemporarySeconds = 24 * 3600;

Error ioError(const QString& what, int error) {
  return makeError(ErrorCode::Io, (what + QStringLiteral(": ") +
                                   QString::fromLocal8Bit(std::strerror(error)))
                                      .toStdString());
}

struct JpegFacts {
  int width = 0;
  int height = 0;
};

/// The header's size, after checking that the whole file decodes: a JPEG whose header is fine
/// but whose data is cut short must not be stored as a photograph.
Result<JpegFacts> checkJpeg(const std::vector<std::uint8_t>& bytes, const char* name) {
  auto info = readImageInfo(bytes, name);
  if (!info) return info.error();
  if (info->format != ImageFormat::Jpeg)
    return makeError(ErrorCode::Unsupported, std::string(name) + ": not a JPEG file");
  // The smallest scale the decoder offers still reads every byte of the entropy-coded data.
  auto image = decodeImage(bytes, name, DecodeOptions{1, 1});
  if (!image) return image.error();
  return JpegFacts{info->width, info->height};
}

/// Permission bits a new folder gets from the umask; mkdtemp makes its folder private, which
/// a folder of photographs for the user should not stay.
mode_t folderModeFromUmask() {
  mode_t mask = 022;
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
      unsigned value = 0;
      if (std::sscanf(line, "Umask: %o", &value) == 1) {
        mask = mode_t(value);
        break;
      }
    }
    std::fclose(status);
  }
  return 0777 & ~mask;
}

Status writeDurably(int folder, const char* name, std::span<const std::uint8_t> bytes,
                    const QString& label) {
  const int fd = ::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return ioError(label, errno);
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      return ioError(label, error);
    }
    written += std::size_t(n);
  }
  if (::fsync(fd) != 0) {
    const int error = errno;
    ::close(fd);
    return ioError(label, error);
  }
  if (::close(fd) != 0) return ioError(label, errno);
  return Ok{};
}

Status syncFolder(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ioError(path, errno);
  const int result = ::fsync(fd);
  const int error = errno;
  ::close(fd);
  if (result != 0) return ioError(path, error);
  return Ok{};
}

/// Renames `from` to `to` only when nothing is called `to`. False when the name is taken.
Result<bool> renameWithoutReplacing(const QString& from, const QString& to) {
  const QByteArray source = QFile::encodeName(from);
  const QByteArray target = QFile::encodeName(to);
  if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(),
                  RENAME_NOREPLACE) == 0)
    return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS) return ioError(to, errno);
  // A file system without the flag: an empty folder made first reserves the name, and a
  // rename may replace only an empty folder, so nobody's content can be lost.
  if (::mkdir(target.constData(), 0700) != 0) {
    if (errno == EEXIST) return false;
    return ioError(to, errno);
  }
  if (::rename(source.constData(), target.constData()) != 0) {
    const int error = errno;
    ::rmdir(target.constData());
    return ioError(to, error);
  }
  return true;
}

}  // namespace

ReceivedProjectStore::ReceivedProjectStore(QString outputFolder)
    : m_outputFolder(std::move(outputFolder)) {}

Status ReceivedProjectStore::prepare() {
  if (!QDir().mkpath(m_outputFolder) || !QFileInfo(m_outputFolder).isDir())
    return makeError(ErrorCode::Io,
                     (m_outputFolder + QStringLiteral(": cannot create the folder")).toStdString());
  const QDateTime now = QDateTime::currentDateTimeUtc();
  const QFileInfoList leftovers = QDir(m_outputFolder).entryInfoList(
      {QString::fromLatin1(kTemporaryPrefix) + QLatin1Char('*')},
      QDir::Dirs | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot);
  for (const QFileInfo& leftover : leftovers) {
    // A younger one may belong to another receiver writing into the same folder right now.
    if (leftover.lastModified().secsTo(now) > kStaleTemporarySeconds)
      QDir(leftover.absoluteFilePath()).removeRecursively();
  }
  return Ok{};
}

QString ReceivedProjectStore::safeName(const QString& name) {
  QString safe;
  for (const QChar c : name) {
    if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) continue;
    // Slashes cannot be in a name; the others are refused by the file systems of memory
    // cards and other computers the folder may be copied to.
    safe += QStringLiteral("/\\:*?\"<>|").contains(c) ? QChar(u'_') : c;
  }
  safe = safe.simplified();
  while (safe.startsWith(QLatin1Char('.'))) safe.remove(0, 1);
  if (safe.size() > kMaxNameLength) {
    safe.truncate(kMaxNameLength);
    if (safe.back().isHighSurrogate()) safe.chop(1);
    safe = safe.trimmed();
  }
  return safe.isEmpty() ? QStringLiteral("unknown sender") : safe;
}

QString ReceivedProjectStore::folderNameFor(const QDateTime& receivedAt, const QString& senderName) {
  return receivedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")) +
         QStringLiteral(" from ") + safeName(senderName);
}

Result<QString> ReceivedProjectStore::store(const ProjectToStore& project) {
  auto left = checkJpeg(project.left, kLeftFileName);
  if (!left) return left.error();
  auto right = checkJpeg(project.right, kRightFileName);
  if (!right) return right.error();

  const auto facts = [](const JpegFacts& jpeg, const std::vector<std::uint8_t>& bytes,
                        const char* file) {
    return QJsonObject{{QStringLiteral("file"), QString::fromLatin1(file)},
                       {QStringLiteral("width"), jpeg.width},
                       {QStringLiteral("height"), jpeg.height},
                       {QStringLiteral("bytes"), qint64(bytes.size())}};
  };
  const QDateTime at = project.receivedAt;
  const QJsonObject json{
      {QStringLiteral("offset"),
       QJsonObject{{QStringLiteral("x"), project.offsetX}, {QStringLiteral("y"), project.offsetY}}},
      {QStringLiteral("left"), facts(*left, project.left, kLeftFileName)},
      {QStringLiteral("right"), facts(*right, project.right, kRightFileName)},
      {QStringLiteral("sender"), project.senderName},
      {QStringLiteral("received"), at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate)},
  };
  const QByteArray jsonBytes = QJsonDocument(json).toJson(QJsonDocument::Indented);

  QByteArray pattern =
      QFile::encodeName(m_outputFolder + QLatin1Char('/') + QString::fromLatin1(kTemporaryPrefix)) +
      "XXXXXX";
  if (!::mkdtemp(pattern.data())) return ioError(m_outputFolder, errno);
  const QString temporary = QFile::decodeName(pattern);
  // Whatever goes wrong from here on, the half-built folder goes with it.
  struct Cleanup {
    QString path;
    ~Cleanup() {
      if (!path.isEmpty()) QDir(path).removeRecursively();
    }
  } cleanup{temporary};

  const int folder = ::open(pattern.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return ioError(temporary, errno);
  Status written = writeDurably(folder, kLeftFileName, project.left, kLeftFileName);
  if (written) written = writeDurably(folder, kRightFileName, project.right, kRightFileName);
  if (written) {
    written = writeDurably(
        folder, kProjectFileName,
        {reinterpret_cast<const std::uint8_t*>(jsonBytes.constData()), std::size_t(jsonBytes.size())},
        kProjectFileName);
  }
  if (written && ::fchmod(folder, folderModeFromUmask()) != 0) written = ioError(temporary, errno);
  if (written && ::fsync(folder) != 0) written = ioError(temporary, errno);
  ::close(folder);
  if (!written) return written.error();

  const QString base = m_outputFolder + QLatin1Char('/') + folderNameFor(at, project.senderName);
  for (int n = 1; n <= kMaxClashSuffix; ++n) {
    const QString target = n == 1 ? base : base + QStringLiteral(" (%1)").arg(n);
    auto renamed = renameWithoutReplacing(temporary, target);
    if (!renamed) return renamed.error();
    if (!*renamed) continue;
    cleanup.path.clear();
    // The rename is only durable once the output folder itself is on disk; the project is in
    // place either way, so a failure here is not reported as a lost project.
    (void)syncFolder(m_outputFolder);
    return target;
  }
  return makeError(ErrorCode::Io, (base + QStringLiteral(": every name up to (%1) is taken")
                                              .arg(kMaxClashSuffix))
                                      .toStdString());
}

}  // namespace duo
