#pragma once

namespace duo {

/// The settings the renderers read once at the start of each render. Defaults are the values a
/// fresh installation starts with.
struct RenderSettings {
  int colorMethod = 4;         ///< colour anaglyph mixing method, 0–4 (others give black)
  bool anaglyphEnhance = true;  ///< saturation +20 %, value +35 % on both anaglyph kinds
  bool stereogramDots = false;  ///< white alignment dots above the stereogram's halves
  int stereoBorderSize = 10;    ///< stereogram border multiplier
};

}  // namespace duo
