#pragma once

#include <QByteArray>
#include <QImage>

namespace duo {

/// Puts a picture on the desktop's clipboard: the still image, which every application can
/// paste, and, when `gifBytes` is not empty, the animation as "image/gif" beside it for the
/// applications that accept GIFs. Replaces what the clipboard held. False, with the clipboard
/// untouched, when `still` is null or `gifBytes` is neither empty nor a GIF (by its signature).
/// Main thread only, with a QGuiApplication.
bool copyImageToClipboard(const QImage& still, const QByteArray& gifBytes = {});

}  // namespace duo
