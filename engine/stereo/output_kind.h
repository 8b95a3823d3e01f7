#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace duo {

/// What the result screen shows; the number is also the index of its view-mode control.
enum class OutputKind : int {
  Alignment = 0,  ///< left image with the right one translucent over it; nothing rendered
  ColorAnaglyph = 1,
  GreyAnaglyph = 2,
  Stereogram = 3,
  Wigglegram = 4,
};

inline constexpr int kOutputKindCount = 5;

/// Cache mask: one bit per rendered kind (bit value 2^(kind − 1)); all bits set means all kinds.
using CacheMask = std::uint32_t;
inline constexpr CacheMask kCacheMaskAll = 0xFFFFFFFFu;

std::optional<OutputKind> outputKindFromInt(int value);

/// Title for the navigation bar. The stereogram is "cross" once the two images are swapped.
std::string_view title(OutputKind kind, bool isImageSwapped);

/// The kind's cache mask bit; 0 for the alignment view, which is never cached.
CacheMask cacheMaskBit(OutputKind kind);

/// File name of the kind's cache entry ("Color Anaglyph.png", …); empty for the alignment view.
std::string_view cacheFileName(OutputKind kind);

/// Short command-line names: "align", "color", "grey", "stereogram", "wiggle".
std::string_view toString(OutputKind kind);
std::optional<OutputKind> outputKindFromString(std::string_view name);

}  // namespace duo
