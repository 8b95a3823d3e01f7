#include "image_resources.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

#include "screen.h"

namespace duo {

QImage imageNamed(const QString& name) { return imageNamed(name, MainScreen::scale()); }

QImage imageNamed(const QString& name, double scale) {
  static QHash<QString, QImage> cache;
  const QString key = name + QLatin1Char('@') + QString::number(scale);
  if (auto it = cache.constFind(key); it != cache.constEnd()) return *it;

  const QString base = QFileInfo(name).completeBaseName();
  QImage image;
  const QString svgPath = QStringLiteral(":/images/%1.svg").arg(base);
  QSvgRenderer svg;
  if (QFile::exists(svgPath) && svg.load(svgPath)) {
    const QSizeF points = svg.viewBoxF().size();
    image = QImage(QSize(int(std::ceil(points.width() * scale)), int(std::ceil(points.height() * scale))),
                   QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    svg.render(&painter);
    painter.end();
    image.setDevicePixelRatio(scale);
  } else if (image.load(QStringLiteral(":/images/%1").arg(QFileInfo(name).fileName()))) {
    // A bitmap is as large in points as it is in pixels unless its name says @2x.
    image.setDevicePixelRatio(base.endsWith(QLatin1String("@2x")) ? 2.0 : 1.0);
  }
  cache.insert(key, image);
  return image;
}

}  // namespace duo
