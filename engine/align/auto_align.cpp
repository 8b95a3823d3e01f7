#include "align/auto_align.h"

#include <filesystem>
#include <system_error>

#include "align/alignment_module.h"

namespace duo {

bool autoAlignmentAvailable() {
#ifdef DUOSCOPE_HAVE_AUTO_ALIGN
  std::error_code error;
  return !AlignmentModule::path().empty() &&
         std::filesystem::exists(AlignmentModule::path(), error);
#else
  return false;
#endif
}

Result<AlignmentAnalysis> analyseAlignment(const Image& left, const Image& right) {
  const auto module = AlignmentModule::shared();
  if (!module) return module.error();
  return (*module)->analyse(left, right);
}

Result<AlignmentSuggestion> suggestAlignment(const Image& left, const Image& right) {
  auto analysis = analyseAlignment(left, right);
  if (!analysis) return analysis.error();
  return analysis->suggestion;
}

}  // namespace duo
