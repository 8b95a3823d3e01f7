#include "render/gd_library.h"

#include <utility>

namespace duo {

// The structs in gd.h are libgd.so.3's; a header of another major version would describe
// memory the loaded library lays out differently.
static_assert(GD_MAJOR_VERSION == 2, "gd.h describes a libgd other than libgd.so.3");

namespace {

Error gifNeedsGd(const Error& why) {
  return makeError(ErrorCode::Unsupported, "GIF output needs libgd: " + why.message);
}

// Resolves one function into `pointer`, whose type the header gave.
template <typename Function>
Status resolve(const SharedLibrary& library, const char* name, Function& pointer) {
  auto address = library.symbol(name);
  if (!address) return address.error();
  pointer = reinterpret_cast<Function>(*address);
  return Ok{};
}

}  // namespace

Result<GdLibrary> GdLibrary::load(const std::string& file) {
  auto library = SharedLibrary::open(file);
  if (!library) return gifNeedsGd(library.error());
  GdLibrary gd(std::move(*library));
  for (const Status& found : {
           resolve(gd.m_library, "gdImageCreateTrueColor", gd.gdImageCreateTrueColor),
           resolve(gd.m_library, "gdImageDestroy", gd.gdImageDestroy),
           resolve(gd.m_library, "gdImageTrueColorToPalette", gd.gdImageTrueColorToPalette),
           resolve(gd.m_library, "gdImagePaletteCopy", gd.gdImagePaletteCopy),
           resolve(gd.m_library, "gdImageGifAnimBeginCtx", gd.gdImageGifAnimBeginCtx),
           resolve(gd.m_library, "gdImageGifAnimAddCtx", gd.gdImageGifAnimAddCtx),
           resolve(gd.m_library, "gdImageGifAnimEndCtx", gd.gdImageGifAnimEndCtx),
       }) {
    if (!found) return gifNeedsGd(found.error());
  }
  return gd;
}

Result<const GdLibrary*> GdLibrary::shared() {
  // Never destroyed: closing libgd while the process ends could pull it from under a GIF still
  // being written on another thread. A static's initialisation runs once, threads waiting.
  static const Result<GdLibrary>* const loaded = new Result<GdLibrary>(load(kSoname));
  if (!*loaded) return loaded->error();
  return &loaded->value();
}

}  // namespace duo
