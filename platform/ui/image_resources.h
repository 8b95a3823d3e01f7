#pragma once

#include <QImage>
#include <QString>

namespace duo {

/// The picture that ships with the application under `name` ("Default.png", "QSShareCopy_iOS7.png"):
/// an SVG of the same base name drawn at the screen's scale, so it stays crisp on dense displays,
/// or else a PNG of that name. The result's device-pixel ratio gives its size in points; a null
/// image when nothing of that name ships. Pictures live in the ":/images/" resource folder.
QImage imageNamed(const QString& name);

/// The same, drawn for an explicit number of device pixels per point.
QImage imageNamed(const QString& name, double scale);

}  // namespace duo
