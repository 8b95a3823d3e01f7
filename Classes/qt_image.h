#pragma once

#include <QImage>

#include <memory>

#include "image/image.h"

namespace duo {

/// The engine's RGBX image as a QImage of the same pixels (a copy; the result owns its memory).
QImage toQImage(const Image& image);
/// The same without copying: the QImage keeps the shared image alive for as long as it lives.
QImage toQImage(std::shared_ptr<const Image> image);

}  // namespace duo
