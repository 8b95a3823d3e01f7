#pragma once

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/stat.h>
#include <utime.h>

#include "image/image.h"
#include "io/image_codec.h"

namespace duo::test {

/// A small JPEG of one colour (left half `colour`, right half `right` when given), tagged with
/// `tag` when it is 0–7.
inline QByteArray solidJpeg(int width, int height, QColor colour, int tag = -1, QColor right = {}) {
  Image image = *Image::create(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const QColor c = right.isValid() && x >= width / 2 ? right : colour;
      std::uint8_t* p = image.pixel(x, y);
      p[0] = std::uint8_t(c.red()), p[1] = std::uint8_t(c.green()), p[2] = std::uint8_t(c.blue());
    }
  }
  image.setOrientationTag(std::max(tag, 0));
  const auto jpeg = encodeJpeg(image, 95, tag >= 0);
  return QByteArray(reinterpret_cast<const char*>(jpeg->data()), qsizetype(jpeg->size()));
}

inline void setModified(const QString& path, qint64 seconds) {
  const utimbuf times{seconds, seconds};
  ::utime(QFile::encodeName(path).constData(), &times);
}

/// Writes the bytes (making folders) and gives the file the modification time `seconds`.
inline bool writeFile(const QString& path, const QByteArray& bytes, qint64 seconds = 0) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return false;
  file.close();
  if (seconds > 0) setModified(path, seconds);
  return true;
}

inline unsigned modeOf(const QString& path) {
  struct stat info {};
  ::stat(QFile::encodeName(path).constData(), &info);
  return info.st_mode & 07777;
}

inline QColor rgb(const QImage& image, int x, int y) { return QColor(image.pixel(x, y)); }

/// Colours within JPEG's error of each other.
inline bool near(QColor a, QColor b, int tolerance = 24) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

}  // namespace duo::test
