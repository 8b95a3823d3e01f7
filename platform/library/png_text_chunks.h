#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>

namespace duo {

/// Key–value text in PNG files, as the desktop's thumbnail cache keeps its "Thumb::URI" and
/// "Thumb::MTime". Qt's own PNG text support cannot serve here: it writes long values as
/// compressed zTXt, and on reading it splits keys at the first colon, so "Thumb::URI" comes
/// back as "Thumb".
namespace png_text {

/// The PNG with one uncompressed tEXt chunk per pair inserted right after IHDR, so a reader
/// meets them before the image data. Keys must be 1–79 Latin-1 characters and values Latin-1
/// without NUL; an empty result when `png` is not a PNG starting with IHDR or a pair is not
/// valid.
QByteArray withTextChunks(const QByteArray& png, const QList<QPair<QByteArray, QByteArray>>& texts);

/// Every text chunk of a PNG: tEXt, zTXt and iTXt (compressed or not; iTXt values are UTF-8,
/// the others Latin-1 as stored). Chunks with a bad checksum, a malformed layout or an
/// implausibly large compressed value are skipped; a later chunk with the same key wins. An
/// empty map for anything that is not a PNG.
QMap<QByteArray, QByteArray> readTextChunks(const QByteArray& png);

}  // namespace png_text
}  // namespace duo
