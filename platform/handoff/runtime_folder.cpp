#include "runtime_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

namespace duo {

namespace {

QString systemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

/// The runtime folder the session names, if it is one at all: relative paths are ignored, as
/// the XDG base directory rules say.
QString sessionRuntimeFolder() {
  const QString variable = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (variable.isEmpty() || !QDir::isAbsolutePath(variable)) return {};
  return QDir::cleanPath(variable);
}

}  // namespace

QString RuntimeFolder::path() {
  const QString session = sessionRuntimeFolder();
  if (!session.isEmpty()) return session + QStringLiteral("/duoscope");
  return QStringLiteral("/tmp/duoscope-%1").arg(::geteuid());
}

QString RuntimeFolder::open(Mode mode, QString* error) {
  const QString folder = path();
  const QByteArray native = QFile::encodeName(folder);
  const auto fail = [&](const QString& why) {
    if (error) *error = QStringLiteral("the runtime folder %1 %2").arg(folder, why);
    return QString();
  };
  if (error) error->clear();
  if (mode == Mode::Create && ::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
    return fail(QStringLiteral("cannot be made: %1").arg(systemError(errno)));
  // Opened without following a link and checked through the open descriptor, so that what is
  // checked is what is there, not what a link pointed to a moment ago.
  const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int code = errno;
    if (code == ENOENT && mode == Mode::ExistingOnly) return {};
    if (code == ELOOP || code == ENOTDIR)
      return fail(QStringLiteral("is not a folder of its own (a link or a file); remove it"));
    return fail(QStringLiteral("cannot be opened: %1").arg(systemError(code)));
  }
  struct stat info {};
  const bool statted = ::fstat(fd, &info) == 0;
  const int statError = errno;
  ::close(fd);
  if (!statted) return fail(QStringLiteral("cannot be read: %1").arg(systemError(statError)));
  if (!S_ISDIR(info.st_mode))
    return fail(QStringLiteral("is not a folder of its own (a link or a file); remove it"));
  if (info.st_uid != ::geteuid())
    return fail(QStringLiteral("belongs to another user (uid %1); remove it").arg(info.st_uid));
  if ((info.st_mode & 077) != 0)
    return fail(QStringLiteral("is open to other users (mode %1); it must be 0700")
                    .arg(QString::number(info.st_mode & 0777, 8)));
  return folder;
}

}  // namespace duo
