#pragma once

#include <QColor>
#include <QFont>

namespace duo {

/// The application's look: a calm dark phone look with one cool accent. Sizes are in points.
namespace theme {

inline QColor background() { return QColor(0x12, 0x14, 0x17); }
inline QColor barBackground() { return QColor(0x1b, 0x1e, 0x22, 245); }
inline QColor barHairline() { return QColor(255, 255, 255, 28); }
inline QColor primaryText() { return QColor(0xf2, 0xf4, 0xf6); }
inline QColor secondaryText() { return QColor(0x9a, 0xa3, 0xad); }
/// Buttons and interactive text.
inline QColor tint() { return QColor(0x4c, 0xc9, 0xf0); }
inline QColor destructive() { return QColor(0xff, 0x5a, 0x5f); }
inline QColor panel() { return QColor(0x24, 0x28, 0x2d); }
inline QColor separator() { return QColor(255, 255, 255, 36); }

/// The system font at `pointSize` (Inter when installed, else the desktop's sans serif).
QFont systemFont(double pointSize, QFont::Weight weight = QFont::Normal);
inline QFont boldSystemFont(double pointSize) { return systemFont(pointSize, QFont::DemiBold); }

}  // namespace theme
}  // namespace duo
