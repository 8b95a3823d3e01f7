#pragma once

#include "align/auto_align.h"
#include "core/result.h"
#include "image/image.h"

namespace duo {

/// What libduoscope-align.so offers the engine: one table, returned by the C function named
/// kAlignmentModuleEntry. Engine types cross between the two as they are, so a module is only
/// used by a program of the same version (the engine compares `version` first, before anything
/// else of the table is touched; it must stay the first member).
struct AlignmentModuleInterface {
  const char* version;  ///< the project version the module was built as
  /// analyseAlignment() as auto_align.h describes it.
  Result<AlignmentAnalysis> (*analyse)(const Image& left, const Image& right);
};

/// The module's one exported symbol: `const AlignmentModuleInterface* NAME()`.
inline constexpr const char* kAlignmentModuleEntry = "duoscope_alignment_module";

}  // namespace duo
