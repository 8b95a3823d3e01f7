#pragma once

#include <cstdint>
#include <vector>

#include "core/result.h"
#include "image/image.h"

namespace duo {

/// Builds the two-frame looping GIF of a wigglegram with libgd.
class AnimatedGif {
 public:
  /// Each frame stays this many hundredths of a second.
  static constexpr int kFrameDelay = 10;
  /// Loop count of the looping extension; 0 repeats forever.
  static constexpr int kLoopCount = 0;
  /// GIF disposal method 1: leave the frame in place, so frame 2 only stores what changed.
  static constexpr int kDisposal = 1;

  /// The bytes of a complete GIF89a file: logical screen of the left frame's size, the left
  /// frame's palette (at most 256 colours, error-diffusion dithered) as the only colour table,
  /// looping forever, the left frame at (0, 0) then the right frame remapped to the left's
  /// palette and stored only over the rectangle where it differs, each for kFrameDelay.
  ///
  /// Each call writes to its own memory buffer, so builds may run on several threads at once.
  /// Errors: InvalidArgument for a null frame or frames of different sizes; Unsupported when
  /// libgd cannot be loaded (it is loaded on the first call, see GdLibrary); TooLarge when libgd
  /// cannot have the memory for a frame; Io when the output cannot be written. No partial data
  /// is ever returned.
  static Result<std::vector<std::uint8_t>> createGif(const Image& left, const Image& right);
};

}  // namespace duo
