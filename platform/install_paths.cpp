#include "install_paths.h"

#include <QDir>
#include <QFileInfo>

namespace duo {

QString InstallPaths::dataDirectoryFor(const QString& executablePath) {
  const QFileInfo executable(executablePath);
  return QDir::cleanPath(executable.absolutePath() + QStringLiteral("/../share/duoscope"));
}

QString InstallPaths::dataDirectory() {
  // /proc/self/exe rather than argv[0]: the program may have been found through PATH or a
  // symbolic link, and the data sits beside the real file.
  const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
  if (executable.isEmpty()) return {};
  return dataDirectoryFor(executable);
}

}  // namespace duo
