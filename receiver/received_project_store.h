#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

#include "core/result.h"

namespace duo {

/// A project as it is stored: the two JPEG files, the alignment offset in pixels of those
/// files, who sent it and when.
struct ProjectToStore {
  std::vector<std::uint8_t> left;
  std::vector<std::uint8_t> right;
  std::int32_t offsetX = 0;
  std::int32_t offsetY = 0;
  QString senderName;
  QDateTime receivedAt;
};

/// Stores received projects as folders ("2026-12-08 15.42.07 from NAME") holding left.jpg,
/// right.jpg and project.json. A folder appears whole or not at all: it is built under a hidden
/// temporary name inside the output folder, flushed to disk, and renamed into place without
/// replacing anything; a name already taken gets " (2)", " (3)", … Any failure removes what
/// was built.
class ReceivedProjectStore {
 public:
  static constexpr const char* kLeftFileName = "left.jpg";
  static constexpr const char* kRightFileName = "right.jpg";
  static constexpr const char* kProjectFileName = "project.json";
  /// Prefix of the temporary folders; nothing else in the output folder starts with it.
  static constexpr const char* kTemporaryPrefix = ".duoscope-incoming-";
  /// Longest sender name kept in a folder name, in characters.
  static constexpr int kMaxNameLength = 64;

  /// `outputFolder` must exist (see prepare()).
  explicit ReceivedProjectStore(QString outputFolder);

  /// Creates the output folder when missing and removes temporary folders of ours that a
  /// killed receiver left there more than a day ago. Io when the folder cannot be made.
  Status prepare();

  /// Checks both files decode as JPEG (Corrupt, Truncated … naming the file, nothing written
  /// then) and stores the project. Returns the path of the new folder. Io when writing fails.
  Result<QString> store(const ProjectToStore& project);

  /// The folder name before any " (n)": local time of reception and the sender's name.
  static QString folderNameFor(const QDateTime& receivedAt, const QString& senderName);
  /// A sender's name as a file-name part: no slashes, control characters or leading dots,
  /// spaces trimmed, at most kMaxNameLength characters; "unknown sender" when nothing is left.
  static QString safeName(const QString& name);

  const QString& outputFolder() const { return m_outputFolder; }

 private:
  QString m_outputFolder;
};

}  // namespace duo
