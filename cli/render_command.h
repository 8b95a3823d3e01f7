#pragma once

#include <string>
#include <vector>

#include "core/result.h"
#include "render/render_settings.h"
#include "stereo/output_kind.h"

namespace duo::cli {

/// Everything one pair render needs besides the two files.
struct RenderOptions {
  std::vector<OutputKind> kinds;  ///< one kind, or the four rendered kinds for "all"
  bool all = false;
  float imageSize = 50;  ///< percent of the left photograph's longer upright side
  int offsetX = 0;       ///< alignment offset in whole pixels of the working copies
  int offsetY = 0;
  bool swap = false;
  RenderSettings settings;
  int jpegQuality = 90;
};

/// Renders one pair. `output` is a file for one kind, a folder for all of them. The error
/// message names the file or the reason; nothing is written for a pair that fails before its
/// first output.
Status renderPairToOutput(const std::string& left, const std::string& right,
                          const RenderOptions& options, const std::string& output);

}  // namespace duo::cli
