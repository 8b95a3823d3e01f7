#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace duo {

/// One running instance's own folder for its render cache, so that two windows of the program
/// never empty or read each other's cached outputs.
///
/// Every instance folder lives in "QSDuoscopeCache" under the caches directory and holds the lock
/// file "instance.lock" for as long as its owner runs. Whoever acquires a folder first removes the
/// folders whose owners no longer run, and any plain file or symbolic link lying directly in
/// "QSDuoscopeCache" (older versions kept their outputs there). Symbolic links are removed
/// themselves, never followed. Folders locked by a process on another host are left alone.
class InstanceCacheFolder {
 public:
  static constexpr const char* kFolderName = "QSDuoscopeCache";

  /// Creates `cachesDirectory` (with parents) and "QSDuoscopeCache" in it (mode 0700) if needed,
  /// removes what no running instance holds, then creates a new folder with a unique name and
  /// mode 0700 in it and locks it. Cleanup and creation are serialised with every other instance
  /// through a short-lived lock file, so another instance never sees the new folder unlocked.
  /// Returns null, with a readable reason in `error` (if given), when a folder cannot be created
  /// or locked, or when another starting instance holds the short-lived lock for too long.
  static std::unique_ptr<InstanceCacheFolder> acquire(const QString& cachesDirectory,
                                                      QString* error = nullptr);

  /// Removes the folder with everything in it and releases its lock. Whatever must still use the
  /// folder (a RenderCache over it) has to be destroyed first.
  ~InstanceCacheFolder();

  InstanceCacheFolder(const InstanceCacheFolder&) = delete;
  InstanceCacheFolder& operator=(const InstanceCacheFolder&) = delete;

  /// Absolute path of this instance's folder. It contains the lock file, so users keep their
  /// files in sub-folders of it (RenderCache does).
  QString path() const { return m_path; }

 private:
  InstanceCacheFolder(QString path, std::unique_ptr<QLockFile> lock);

  QString m_path;
  std::unique_ptr<QLockFile> m_lock;
};

}  // namespace duo
