#pragma once

#include <string>
#include <vector>

#include "core/result.h"

namespace duo::cli {

/// One pair of a batch: its two files and the name its outputs take.
struct BatchPair {
  std::string name;
  std::string left;
  std::string right;
  std::string problem;  ///< set when the pair cannot be rendered at all (e.g. no right file)
};

/// Pairs of a folder: files named NAME_L.ext and NAME_R.ext (also -L/-R, _left/_right, any case;
/// .jpg, .jpeg or .png). A file without its partner becomes a pair with a problem, so it shows
/// in the summary instead of being skipped silently. Sorted by name.
Result<std::vector<BatchPair>> pairsInFolder(const std::string& folder);

/// Pairs of a list file: one pair per line, "LEFT<TAB>RIGHT[<TAB>NAME]" (or separated by
/// spaces when the line has no tab); blank lines and lines starting with # are skipped;
/// relative paths are relative to the list file's folder.
Result<std::vector<BatchPair>> pairsInListFile(const std::string& listFile);

}  // namespace duo::cli
