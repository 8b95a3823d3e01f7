#pragma once

#include <gd.h>

#include <string>

#include "core/result.h"
#include "core/shared_library.h"

namespace duo {

/// The libgd functions the GIF writer calls, taken from libgd.so.3 when a GIF is first written
/// rather than linked: libgd pulls in some twenty libraries (HEIF, AVIF, TIFF, fontconfig, X11,
/// …) whose loading every start of duoscope-cli would otherwise pay for, though only a
/// wigglegram needs it.
///
/// gd.h still gives the types, the structs' layout (fixed for libgd.so.3) and the macros; only
/// the calls go through the pointers below, which are never null.
class GdLibrary {
 public:
  /// The library's soname: the one ABI whose struct layout gd.h (2.x) describes.
  static constexpr const char* kSoname = "libgd.so.3";

  /// The process's copy, loaded on the first call (once, whichever thread calls first) and kept
  /// until the process ends. When that load failed, every call returns its error: Unsupported,
  /// naming the library, the missing file or symbol, and that GIF output needs it.
  static Result<const GdLibrary*> shared();

  /// Loads `file` and resolves every function; a library of its own, for tests. Errors as for
  /// shared().
  static Result<GdLibrary> load(const std::string& file);

  decltype(&::gdImageCreateTrueColor) gdImageCreateTrueColor = nullptr;
  decltype(&::gdImageDestroy) gdImageDestroy = nullptr;
  decltype(&::gdImageTrueColorToPalette) gdImageTrueColorToPalette = nullptr;
  decltype(&::gdImagePaletteCopy) gdImagePaletteCopy = nullptr;
  decltype(&::gdImageGifAnimBeginCtx) gdImageGifAnimBeginCtx = nullptr;
  decltype(&::gdImageGifAnimAddCtx) gdImageGifAnimAddCtx = nullptr;
  decltype(&::gdImageGifAnimEndCtx) gdImageGifAnimEndCtx = nullptr;

 private:
  explicit GdLibrary(SharedLibrary library) : m_library(std::move(library)) {}

  SharedLibrary m_library;
};

}  // namespace duo
