#pragma once

#include <QImage>
#include <QWidget>

namespace duo::test {

/// The widget drawn at two device pixels per point over black, as a dense phone screen shows it;
/// the screenshots the tests save are taken this way.
inline QImage renderAt2x(QWidget* widget) {
  QImage image(widget->size() * 2, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  image.fill(Qt::black);
  widget->render(&image);
  return image;
}

}  // namespace duo::test
