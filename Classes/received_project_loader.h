#pragma once

#include <QString>

#include "core/result.h"
#include "stereo/stereo_pair.h"

namespace duo {

/// A project folder another device sent (left.jpg, right.jpg, project.json), opened as the
/// result screen opens a pair: working copies and the sender's alignment.
struct ReceivedProjectPair {
  StereoPair pair;
  SentAlignment alignment;
};

/// Reads project folders as duoscope-receiver stores them.
class ReceivedProjectLoader {
 public:
  /// project.json is small; anything larger is not one of ours.
  static constexpr qint64 kMaxProjectFileBytes = 64 * 1024;

  /// Reads project.json (its offset) and makes working copies of left.jpg and right.jpg at
  /// `imageSizePercent`, as loadStereoPairFiles does. The sent size is taken from the left
  /// JPEG's header, not from the JSON. Errors name the folder and what is wrong: a missing
  /// file, JSON that does not parse, an offset that is not a whole number within 32 bits,
  /// photographs that do not decode. Nothing in the folder is changed.
  static Result<ReceivedProjectPair> load(const QString& folder, float imageSizePercent);
};

}  // namespace duo
