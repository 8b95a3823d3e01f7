#pragma once

#include <QAbstractButton>
#include <QImage>

namespace duo {

/// A custom button drawn from pictures: its image (or the selected image while selected) drawn
/// centred at its own size, not scaled, with an optional title over it, darkened while
/// pressed. The capture screen's shutter, flash and camera buttons are of this kind.
class ImageButton : public QAbstractButton {
  Q_OBJECT
 public:
  explicit ImageButton(const QImage& image, QWidget* parent = nullptr);

  const QImage& image() const { return m_image; }
  void setImage(const QImage& image);
  /// Shown while the button is checked (selected); none draws the plain image.
  void setSelectedImage(const QImage& image);
  /// The image's size in points (its device-pixel ratio applied).
  QSizeF imagePointSize() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage m_image;
  QImage m_selectedImage;
};

}  // namespace duo
