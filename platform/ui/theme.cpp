#include "theme.h"

#include <QFontDatabase>

namespace duo::theme {

QFont systemFont(double pointSize, QFont::Weight weight) {
  static const QString family = [] {
    const QStringList families = QFontDatabase::families();
    for (const char* name : {"Inter", "Inter Display", "Cantarell", "DejaVu Sans"})
      if (families.contains(QString::fromLatin1(name))) return QString::fromLatin1(name);
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  }();
  QFont font(family);
  // Points of the phone screen are Qt's device-independent pixels.
  font.setPixelSize(qMax(1, qRound(pointSize)));
  font.setWeight(weight);
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

}  // namespace duo::theme
