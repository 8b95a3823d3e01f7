#pragma once

#include <QString>

#include <cstdint>

#include "core/result.h"
#include "stereo/stereo_pair.h"

namespace duo {

/// What a transfer to another device sends: the two photographs as JPEG files and the
/// alignment offset in pixels of those files.
struct TransferProject {
  static constexpr float kMaxResolution = 1024;
  static constexpr int kJpegQuality = 90;
  static constexpr const char* kLeftFileName = "TransferLeft.jpg";
  static constexpr const char* kRightFileName = "TransferRight.jpg";

  QString leftPath;
  QString rightPath;
  std::int32_t offsetX = 0;
  std::int32_t offsetY = 0;

  /// Writes the pair's images, upright with the longer side at most kMaxResolution, as
  /// kLeftFileName and kRightFileName into `folder` (made when missing), and converts the
  /// pair's offset from view points into pixels of the written images (truncated toward zero).
  /// Reads only the pair given, so it may run on a worker. Io when the folder or a file cannot
  /// be written, InvalidArgument for a pair without images.
  static Result<TransferProject> prepare(const StereoPair& pair, const QString& folder);

  /// Deletes the two files from `folder`; a file that is not there is no error.
  static void removeFiles(const QString& folder);
};

}  // namespace duo
