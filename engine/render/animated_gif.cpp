#include "render/animated_gif.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "render/gd_library.h"

namespace duo {

namespace {

struct GdImageDeleter {
  const GdLibrary* gd;
  void operator()(gdImagePtr image) const { gd->gdImageDestroy(image); }
};
using GdImage = std::unique_ptr<gdImage, GdImageDeleter>;

// An output context that appends to a byte vector owned by one build. Nothing is shared between
// builds (no working file, no global buffer), so concurrent builds cannot clobber each other.
// libgd's writers ignore the results of putC/putBuf, so a failed append is remembered here and
// turned into an error once libgd returns; exceptions must not cross the C library.
class VectorSink {
 public:
  explicit VectorSink(std::vector<std::uint8_t>& out) : m_out(out) {
    m_ctx.putC = &VectorSink::putC;
    m_ctx.putBuf = &VectorSink::putBuf;
    m_ctx.gd_free = [](gdIOCtxPtr) {};  // the context lives on our stack
    m_ctx.data = this;
  }
  VectorSink(const VectorSink&) = delete;
  VectorSink& operator=(const VectorSink&) = delete;

  gdIOCtxPtr ctx() { return &m_ctx; }
  bool failed() const { return m_failed; }
  std::size_t size() const { return m_out.size(); }

 private:
  static VectorSink& self(gdIOCtxPtr ctx) { return *static_cast<VectorSink*>(ctx->data); }

  static void putC(gdIOCtxPtr ctx, int c) {
    VectorSink& sink = self(ctx);
    if (sink.m_failed) return;
    try {
      sink.m_out.push_back(static_cast<std::uint8_t>(c));
    } catch (...) {  // std::bad_alloc or std::length_error
      sink.m_failed = true;
    }
  }

  static int putBuf(gdIOCtxPtr ctx, const void* buffer, int size) {
    VectorSink& sink = self(ctx);
    if (sink.m_failed || size < 0) return 0;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    try {
      sink.m_out.insert(sink.m_out.end(), bytes, bytes + size);
    } catch (...) {
      sink.m_failed = true;
      return 0;
    }
    return size;
  }

  gdIOCtx m_ctx{};
  std::vector<std::uint8_t>& m_out;
  bool m_failed = false;
};

// The frame's pixels as a true-colour gd image, reduced in place to a dithered palette of at
// most 256 colours. Filling gd's pixel rows directly saves a PNG encode and decode per frame.
Result<GdImage> paletteFrame(const GdLibrary& gd, const Image& frame, const char* which) {
  GdImage image(gd.gdImageCreateTrueColor(frame.width(), frame.height()), GdImageDeleter{&gd});
  if (!image) {
    return makeError(ErrorCode::TooLarge,
                     std::string("not enough memory for the ") + which + " GIF frame");
  }
  for (int y = 0; y < frame.height(); ++y) {
    const std::uint8_t* src = frame.row(y);
    int* dst = image->tpixels[y];
    for (int x = 0; x < frame.width(); ++x, src += Image::kBytesPerPixel) {
      dst[x] = gdTrueColor(src[0], src[1], src[2]);  // alpha 0: opaque
    }
  }
  if (!gd.gdImageTrueColorToPalette(image.get(), 1, 256)) {
    return makeError(ErrorCode::TooLarge,
                     std::string("could not reduce the ") + which + " GIF frame to a palette");
  }
  return image;
}

// Palette images of one size and one palette that hold the same index everywhere.
bool samePixels(const gdImage& a, const gdImage& b) {
  for (int y = 0; y < a.sy; ++y) {
    if (std::memcmp(a.pixels[y], b.pixels[y], static_cast<std::size_t>(a.sx)) != 0) return false;
  }
  return true;
}

}  // namespace

Result<std::vector<std::uint8_t>> AnimatedGif::createGif(const Image& left, const Image& right) {
  if (left.isNull() || right.isNull()) {
    return makeError(ErrorCode::InvalidArgument, "wigglegram frame is empty");
  }
  // libgd compares the second frame with the first pixel by pixel and places it on a screen of
  // the first frame's size; frames of different sizes cannot make a sound file. Both frames are
  // cut to one crop, so a mismatch is the caller's mistake.
  if (left.width() != right.width() || left.height() != right.height()) {
    return makeError(ErrorCode::InvalidArgument,
                     "wigglegram frames differ in size: " + std::to_string(left.width()) + "x" +
                         std::to_string(left.height()) + " and " + std::to_string(right.width()) +
                         "x" + std::to_string(right.height()));
  }

  const auto loaded = GdLibrary::shared();
  if (!loaded) return loaded.error();
  const GdLibrary& gd = **loaded;

  auto a = paletteFrame(gd, left, "left");
  if (!a) return a.error();
  auto b = paletteFrame(gd, right, "right");
  if (!b) return b.error();
  // One colour table for both frames: the right frame takes the left frame's palette, each of
  // its colours replaced by the closest one there.
  gd.gdImagePaletteCopy(b->get(), a->get());

  std::vector<std::uint8_t> out;
  VectorSink sink(out);
  gd.gdImageGifAnimBeginCtx(a->get(), sink.ctx(), 1, kLoopCount);
  // libgd's frame writer returns nothing; when it cannot allocate its working copies it gives
  // up silently and writes no byte, which is how a failure shows.
  std::size_t before = sink.size();
  gd.gdImageGifAnimAddCtx(a->get(), sink.ctx(), 0, 0, 0, kFrameDelay, kDisposal, nullptr);
  const bool firstWritten = sink.size() > before;
  before = sink.size();
  // libgd cannot store a frame that does not differ from the one before it (its changed
  // rectangle is empty, and it leaves the frame out with a warning on stderr). Identical crops
  // are stored whole instead, so that the file keeps its two frames and its timing.
  gdImagePtr previous = samePixels(*a->get(), *b->get()) ? nullptr : a->get();
  gd.gdImageGifAnimAddCtx(b->get(), sink.ctx(), 0, 0, 0, kFrameDelay, kDisposal, previous);
  if (sink.size() == before && previous) {
    // libgd gave up on the cut-out of the changed rectangle (out of memory, or it saw no change
    // where the indices differ); the whole frame needs no cut-out.
    gd.gdImageGifAnimAddCtx(b->get(), sink.ctx(), 0, 0, 0, kFrameDelay, kDisposal, nullptr);
  }
  const bool secondWritten = sink.size() > before;
  gd.gdImageGifAnimEndCtx(sink.ctx());  // the trailer ';'

  if (sink.failed()) return makeError(ErrorCode::Io, "could not write the GIF: out of memory");
  if (!firstWritten || !secondWritten) {
    return makeError(ErrorCode::TooLarge, std::string("libgd could not encode the ") +
                                              (firstWritten ? "right" : "left") + " GIF frame");
  }
  return out;
}

}  // namespace duo
