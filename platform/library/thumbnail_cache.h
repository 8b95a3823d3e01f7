#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "core/result.h"

namespace duo {

/// The desktop's shared thumbnail cache, the one file managers read and write:
/// $XDG_CACHE_HOME/thumbnails/normal/ (XDG_CACHE_HOME defaulting to ~/.cache), one PNG per
/// picture named by the MD5 of the picture's file:// URI, at most 128 × 128 pixels, upright,
/// carrying "Thumb::URI", "Thumb::MTime" (whole seconds) and "Thumb::Size" as text. A
/// thumbnail counts only while its URI and MTime match the picture; otherwise it is made
/// again. Pictures that cannot be decoded get an entry in
/// thumbnails/fail/duoscope-VERSION/ instead, so they are not tried over and over.
///
/// Folders are created 0700 and files written 0600, atomically (a temporary file in the same
/// folder, then a rename), so no reader ever sees half a thumbnail. All functions may be
/// called from any thread; two threads making the same thumbnail at once both succeed.
class ThumbnailCache {
 public:
  /// Longest side of a "normal" thumbnail, in pixels.
  static constexpr int kNormalSize = 128;

  /// The folder standing for XDG_CACHE_HOME: the override, else the environment variable when
  /// it is an absolute path, else ~/.cache.
  static QString cacheHome();
  /// Replaces cacheHome() for this process; an empty string restores the environment's.
  static void setCacheHomeForTesting(const QString& folder);

  /// The escaped file:// URI of an absolute, cleaned path (links are not resolved; the path is
  /// the one the library shows), e.g. "file:///home/ann/Pictures/a%20b.jpg".
  static QByteArray uriOf(const QString& path);
  /// cacheHome()/thumbnails/normal/MD5.png
  static QString thumbnailPath(const QString& path);
  /// cacheHome()/thumbnails/fail/duoscope-VERSION/MD5.png
  static QString failurePath(const QString& path);

  /// The valid cached thumbnail of a picture, or a null image. Never decodes the picture.
  static QImage cached(const QString& path);

  /// The picture's thumbnail: the cached one while valid, else made from the picture (decoded
  /// at a reduced size where the format allows, turned upright by its orientation tag) and
  /// stored. A failure to store is not an error: the thumbnail is returned all the same.
  /// Errors: the picture is missing or unreadable, cannot be decoded, or failed before at the
  /// same modification time (its failure entry is current).
  static Result<QImage> thumbnail(const QString& path);
};

}  // namespace duo
