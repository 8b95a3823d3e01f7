#include "stereo/output_kind.h"

#include <array>

namespace duo {

namespace {

struct KindInfo {
  std::string_view name;
  std::string_view title;
  std::string_view fileName;
};

constexpr std::array<KindInfo, kOutputKindCount> kKinds = {{
    {"align", "Align Right Image", ""},
    {"color", "Color Anaglyph", "Color Anaglyph.png"},
    {"grey", "Grey Anaglyph", "Grey Anaglyph.png"},
    {"stereogram", "Stereogram (parallel)", "Stereogram.png"},
    {"wiggle", "Wigglegram", "Wigglegram.gif"},
}};

const KindInfo& info(OutputKind kind) { return kKinds[static_cast<int>(kind)]; }

}  // namespace

std::optional<OutputKind> outputKindFromInt(int value) {
  if (value < 0 || value >= kOutputKindCount) return std::nullopt;
  return static_cast<OutputKind>(value);
}

std::string_view title(OutputKind kind, bool isImageSwapped) {
  if (kind == OutputKind::Stereogram && isImageSwapped) return "Stereogram (cross)";
  return info(kind).title;
}

CacheMask cacheMaskBit(OutputKind kind) {
  const int k = static_cast<int>(kind);
  return k == 0 ? 0u : CacheMask{1} << (k - 1);
}

std::string_view cacheFileName(OutputKind kind) { return info(kind).fileName; }

std::string_view toString(OutputKind kind) { return info(kind).name; }

std::optional<OutputKind> outputKindFromString(std::string_view name) {
  for (int k = 0; k < kOutputKindCount; ++k) {
    if (kKinds[k].name == name) return static_cast<OutputKind>(k);
  }
  return std::nullopt;
}

}  // namespace duo
