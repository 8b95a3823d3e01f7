#pragma once

#include <QString>

namespace duo {

/// Where an installed copy keeps its data. The programs look beside themselves, in
/// `<folder of the executable>/../share/duoscope`, so that a copy installed under any prefix (or
/// moved there whole) finds its own files, and a build folder laid out the same way works too.
class InstallPaths {
 public:
  /// The data folder of the running executable (whether or not it exists), or an empty string
  /// when the executable cannot be found.
  static QString dataDirectory();
  /// The data folder that an executable at `executablePath` uses.
  static QString dataDirectoryFor(const QString& executablePath);
};

}  // namespace duo
