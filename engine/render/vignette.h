#pragma once

#include <vector>

#include "image/image.h"

namespace duo {

/// The darkening overlay shown over the result screen while a render runs: black that is
/// transparent in the middle and darkens elliptically towards the edges.
///
/// The overlay is a radial gradient from black at innerOpacity to black at outerOpacity,
/// squeezed to the view's aspect ratio: inside an ellipse with semi-axes small/4 · (w, h)/big
/// it is innerOpacity, on and outside the ellipse with semi-axes (w/2, h/2) — touching the
/// middle of every side — it is outerOpacity, and in between it changes linearly with the
/// radial position (big and small being the longer and shorter side).
///
/// A new vignette has type 0 and both opacities 0: it draws nothing until another type is set.
class Vignette {
 public:
  int type() const { return m_type; }

  /// Sets the preset: 0 → 0.0 / 1.0, 1 → 0.0 / 0.75 (used while rendering), 2 → 0.65 / 1.0
  /// (inner / outer). Setting the current type does nothing, so opacities set by hand survive
  /// it; any other value is stored without touching the opacities.
  void setType(int type);

  float innerOpacity() const { return m_innerOpacity; }
  void setInnerOpacity(float value) { m_innerOpacity = value; }
  float outerOpacity() const { return m_outerOpacity; }
  void setOuterOpacity(float value) { m_outerOpacity = value; }

  /// Alpha of the black at the point (px, py) of a w × h view, in view coordinates with the
  /// origin at the top-left corner. 0 for an empty view.
  float alphaAt(double px, double py, double w, double h) const;

  /// alphaAt sampled at every pixel centre of a w × h view, rows top first (w × h values).
  std::vector<float> alphaMap(int w, int h) const;

  /// Darkens the canvas by the overlay, as if composited over it (pixel centres sampled).
  void paint(Image& canvas) const;

 private:
  int m_type = 0;
  float m_innerOpacity = 0;
  float m_outerOpacity = 0;
};

}  // namespace duo
