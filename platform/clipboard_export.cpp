#include "clipboard_export.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace duo {

bool copyImageToClipboard(const QImage& still, const QByteArray& gifBytes) {
  if (still.isNull()) return false;
  // Anything else labelled image/gif would paste as a broken picture.
  if (!gifBytes.isEmpty() && !gifBytes.startsWith("GIF87a") && !gifBytes.startsWith("GIF89a")) {
    return false;
  }
  auto* data = new QMimeData;
  // Qt offers the image in the formats pasting applications ask for (PNG, BMP, …).
  data->setImageData(still);
  if (!gifBytes.isEmpty()) data->setData(QStringLiteral("image/gif"), gifBytes);
  QGuiApplication::clipboard()->setMimeData(data);  // takes ownership
  return true;
}

}  // namespace duo
