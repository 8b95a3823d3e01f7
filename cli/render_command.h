#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "render/render_settings.h"
#include "stereo/output_kind.h"
#include "stereo/side_by_side.h"

namespace duo::cli {

/// Everything one pair render needs besides the two files.
struct RenderOptions {
  std::vector<OutputKind> kinds;  ///< one kind, or the four rendered kinds for "all"
  bool all = false;
  float imageSize = 50;  ///< percent of the left photograph's longer upright side
  int offsetX = 0;       ///< alignment offset in whole pixels of the working copies
  int offsetY = 0;
  bool autoOffset = false;  ///< suggest the offset per pair instead (--offset auto)
  bool swap = false;
  RenderSettings settings;
  int jpegQuality = 90;
};

/// Renders one pair. `output` is a file for one kind, a folder for all of them. Nothing is
/// written unless every kind renders: the outputs go to temporary files first and are renamed
/// into place together. No output may be the same file as the pair's inputs or any of
/// `protectedInputs` (a batch's other pairs). The error message names the file or the reason.
Status renderPairToOutput(const std::string& left, const std::string& right,
                          const RenderOptions& options, const std::string& output,
                          const std::vector<std::string>& protectedInputs = {});

/// Renders the pair one file holds (an MPO, or a side-by-side image split by `layout`; see
/// loadStereoPairFile), exactly as renderPairToOutput renders two files.
Status renderFileToOutput(const std::string& file, std::optional<SideBySideLayout> layout,
                          const RenderOptions& options, const std::string& output);

/// An InvalidArgument error naming both when one of `outputs` is the same file as one of
/// `inputs` (same device and inode, so also through hard and symbolic links); paths that do
/// not exist are never the same file.
Status refuseToOverwriteInputs(const std::vector<std::string>& outputs,
                               const std::vector<std::string>& inputs);

}  // namespace duo::cli
