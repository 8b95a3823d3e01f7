#pragma once

#include <QImage>
#include <QWidget>

#include "render/vignette.h"

namespace duo {

/// The darkening overlay over the result screen while a render runs: a widget that is not
/// opaque and paints the engine's elliptical vignette over whatever lies below it.
class VignetteView : public QWidget {
  Q_OBJECT

 public:
  explicit VignetteView(QWidget* parent = nullptr);

  int type() const { return m_vignette.type(); }
  /// 0, 1 or 2 set the presets; setting the current type changes nothing; other values are kept
  /// without touching the opacities. Repaints when something changed.
  void setType(int type);

  float innerOpacity() const { return m_vignette.innerOpacity(); }
  void setInnerOpacity(float value);
  float outerOpacity() const { return m_vignette.outerOpacity(); }
  void setOuterOpacity(float value);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void invalidate();

  Vignette m_vignette;
  QImage m_overlay;  // the gradient at device pixels, made on demand
};

}  // namespace duo
