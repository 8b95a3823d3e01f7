#include "instance_cache_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace duo {

namespace {

constexpr const char* kInstanceTemplate = "instance-XXXXXX";
constexpr const char* kInstanceLockName = "instance.lock";
constexpr const char* kStartUpLockName = ".instances.lock";
// A start-up that has many old outputs to remove holds the start-up lock for a while; one that
// holds it for longer than this is hung, and waiting any longer would hang us too.
constexpr int kStartUpLockTimeoutMs = 20000;

std::unique_ptr<InstanceCacheFolder> fail(QString* error, const QString& message) {
  if (error) *error = message;
  return nullptr;
}

QString errnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

// remove_all removes a symbolic link itself and never descends through one, so nothing outside
// the cache folder is touched whatever a leftover folder contains.
void removeTree(const QString& path) {
  std::error_code ignored;
  std::filesystem::remove_all(QFile::encodeName(path).toStdString(), ignored);
}

// Only called under the start-up lock, under which every running instance's folder already holds
// its complete, locked lock file: a folder without one, or with one that names no owner, was left
// by a process that died while creating it.
bool isAbandoned(const QString& folder) {
  const QFileInfo lockInfo(folder + QLatin1Char('/') + QLatin1String(kInstanceLockName));
  if (!lockInfo.exists() && !lockInfo.isSymLink()) return true;

  QLockFile probe(lockInfo.filePath());
  // With no stale time a lock counts as stale only when its owner process is gone, however long
  // that owner has been running.
  probe.setStaleLockTime(0);
  if (probe.tryLock(0)) {
    probe.unlock();
    return true;
  }
  if (probe.error() != QLockFile::LockFailedError) return false;  // unreadable: leave it be
  qint64 pid = 0;
  QString host, application;
  return !probe.getLockInfo(&pid, &host, &application);
}

void removeLeftovers(const QString& root) {
  const QFileInfoList entries = QDir(root).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                         QDir::System | QDir::NoDotAndDotDot);
  for (const QFileInfo& entry : entries) {
    // The start-up lock we hold, and the companion file QLockFile uses while breaking it.
    if (entry.fileName().startsWith(QLatin1String(kStartUpLockName))) continue;
    if (entry.isSymLink() || !entry.isDir() || isAbandoned(entry.absoluteFilePath()))
      removeTree(entry.absoluteFilePath());
  }
}

}  // namespace

InstanceCacheFolder::InstanceCacheFolder(QString path, std::unique_ptr<QLockFile> lock)
    : m_path(std::move(path)), m_lock(std::move(lock)) {}

std::unique_ptr<InstanceCacheFolder> InstanceCacheFolder::acquire(const QString& cachesDirectory,
                                                                  QString* error) {
  if (cachesDirectory.isEmpty()) return fail(error, QStringLiteral("No caches directory is known"));
  if (!QDir().mkpath(cachesDirectory))
    return fail(error, QStringLiteral("Could not create the folder %1").arg(cachesDirectory));

  const QString root = QDir(cachesDirectory).absoluteFilePath(QLatin1String(kFolderName));
  if (::mkdir(QFile::encodeName(root).constData(), 0700) != 0 && errno != EEXIST)
    return fail(error, QStringLiteral("Could not create the folder %1: %2").arg(root, errnoText()));
  // Only a real folder of this user's: clean-up deletes inside it, so a link to elsewhere (or
  // somebody else's folder) must never be taken for it.
  struct stat info {};
  if (::lstat(QFile::encodeName(root).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      info.st_uid != ::getuid())
    return fail(error, QStringLiteral("%1 is not a folder of this user's").arg(root));

  QLockFile startUpLock(root + QLatin1Char('/') + QLatin1String(kStartUpLockName));
  startUpLock.setStaleLockTime(0);
  if (!startUpLock.tryLock(kStartUpLockTimeoutMs)) {
    return fail(error,
                startUpLock.error() == QLockFile::LockFailedError
                    ? QStringLiteral("Another instance kept %1 locked for too long").arg(root)
                    : QStringLiteral("Could not create a lock file in %1").arg(root));
  }

  removeLeftovers(root);

  QByteArray name = QFile::encodeName(root + QLatin1Char('/') + QLatin1String(kInstanceTemplate));
  if (!::mkdtemp(name.data()))  // mode 0700
    return fail(error,
                QStringLiteral("Could not create a folder in %1: %2").arg(root, errnoText()));
  const QString path = QFile::decodeName(name);

  auto lock =
      std::make_unique<QLockFile>(path + QLatin1Char('/') + QLatin1String(kInstanceLockName));
  lock->setStaleLockTime(0);
  if (!lock->tryLock(0)) {
    removeTree(path);
    return fail(error, QStringLiteral("Could not lock the folder %1").arg(path));
  }
  return std::unique_ptr<InstanceCacheFolder>(new InstanceCacheFolder(path, std::move(lock)));
}

InstanceCacheFolder::~InstanceCacheFolder() {
  // The lock file goes last, and through QLockFile (which warns when its file has vanished):
  // while it exists no starting instance touches the folder. Whatever a failed removal leaves
  // is an unlocked folder, which the next start-up removes.
  const QFileInfoList entries = QDir(m_path).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                           QDir::System | QDir::NoDotAndDotDot);
  for (const QFileInfo& entry : entries)
    if (entry.fileName() != QLatin1String(kInstanceLockName)) removeTree(entry.absoluteFilePath());
  m_lock->unlock();
  removeTree(m_path);
}

}  // namespace duo
