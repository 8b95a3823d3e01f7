#pragma once

#include <QImage>

#include <memory>

#include "image/image.h"
#include "stereo/stereo_pair.h"

namespace duo {

/// The engine's RGBX image as a QImage of the same pixels (a copy; the result owns its memory).
QImage toQImage(const Image& image);
/// The same without copying: the QImage keeps the shared image alive for as long as it lives.
QImage toQImage(std::shared_ptr<const Image> image);
/// The part `rect` of a shared image, also without copying where the pixels allow it. Null when
/// the rectangle is empty or not inside the image.
QImage toQImage(std::shared_ptr<const Image> image, const CropRect& rect);

/// A QImage's pixels as an engine image (a copy) with tag Up; alpha is dropped. Null when the
/// QImage is null, exceeds the engine's size limits or the memory cannot be had.
Image fromQImage(const QImage& image);

}  // namespace duo
