#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <span>

#include "core/result.h"
#include "image/image.h"

namespace duo {

/// Where the user's pictures live and the application's own album in them.
///
/// Folders are the desktop's (XDG user directories). Qt's test mode does not move Pictures or
/// Documents and an XDG_PICTURES_DIR in the environment is ignored (only user-dirs.dirs is
/// read), so tests, and tools such as the benchmark, point them elsewhere with the overrides
/// here; every part of the application asks this class, never QStandardPaths, for them.
/// All functions may be called from any thread.
class PhotoLibrary {
 public:
  /// The user's Pictures folder (it need not exist), or the override.
  static QString picturesFolder();
  /// Replaces picturesFolder() for this process; an empty string restores the desktop's.
  static void setPicturesFolderForTesting(const QString& folder);

  /// The user's Documents folder (it need not exist), or the override.
  static QString documentsFolder();
  static void setDocumentsFolderForTesting(const QString& folder);

  /// The application's album: picturesFolder() + "/Duoscope".
  static QString albumFolder();

  /// Saves the bytes of a picture as a new file in the album, creating the album (and the
  /// Pictures folder) with mode 0755 less the umask when missing. The name is
  /// "Duoscope YYYY-MM-DD HH.MM.SS.EXT" in the local time of `when`, with " (2)", " (3)", …
  /// before the extension while the name is taken. An existing file is never replaced, also
  /// not one that appears while saving, and no partial file ever carries a final name: the
  /// bytes go to a hidden temporary file that is flushed to disk and only then given its name.
  /// Returns the saved path. Errors (nothing is left behind): empty bytes, an extension that is
  /// empty or not a plain name, an invalid time (InvalidArgument); a folder that cannot be
  /// created or written, a full disk (Io, naming the folder).
  static Result<QString> saveToAlbum(std::span<const std::uint8_t> bytes, const QString& extension,
                                     const QDateTime& when);

  /// A shot from the camera as JPEG of quality 90 carrying its orientation tag (the pixels stay
  /// as the camera stored them), saved with saveToAlbum(). An empty image or an invalid tag is
  /// InvalidArgument.
  static Result<QString> saveCameraShot(const Image& shot, const QDateTime& when);

  /// Extensions of the files the application opens, lower case without the dot: jpg, jpeg, png, and the pair formats mpo and jps.
  static QStringList imageExtensions();
  /// True when the file name ends in one of imageExtensions(), in any case.
  static bool hasImageExtension(const QString& fileName);
};

}  // namespace duo
