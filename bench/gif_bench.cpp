// The wigglegram GIF of two 1024 × 768 photo-like frames, against the libgd calls alone (palette
// reduction of both frames, palette copy and the animated-GIF encoding into libgd's own memory
// context) in the same run. Report the ratio: this machine is shared and noisy.
//
//   cmake -B build-bench -DDUOSCOPE_BENCH=ON -DCMAKE_BUILD_TYPE=Release && make -C build-bench
//   gif_bench && taskset -c 1 build-bench/bench/gif_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>
#include <gd.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "image/image.h"
#include "render/animated_gif.h"
#include "render/wigglegram.h"

namespace {

// Smooth value noise at a coarse scale plus a little texture and grain: a photograph's colour
// spread. The right view is the same scene seen 12 pixels further left, as in a stereo pair.
duo::Image photoLikeFrame(int width, int height, int shift) {
  duo::Image image = *duo::Image::create(width, height);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> grain(-6, 6);
  constexpr int kCells = 24;
  std::vector<float> lattice((kCells + 2) * (kCells + 1) * 3);
  for (auto& v : lattice) v = std::uniform_real_distribution<float>(0, 255)(rng);
  for (int y = 0; y < height; ++y) {
    const float fy = float(y) * kCells / height;
    const int cy = int(fy);
    const float ty = fy - cy;
    for (int x = 0; x < width; ++x) {
      const float fx = float(x + shift) * kCells / width;
      const int cx = int(fx);
      const float tx = fx - cx;
      std::uint8_t* p = image.pixel(x, y);
      for (int c = 0; c < 3; ++c) {
        auto at = [&](int i, int j) { return lattice[((j * (kCells + 2)) + i) * 3 + c]; };
        const float top = at(cx, cy) * (1 - tx) + at(cx + 1, cy) * tx;
        const float bottom = at(cx, cy + 1) * (1 - tx) + at(cx + 1, cy + 1) * tx;
        const float detail = 18.0f * std::sin((x + shift) * 0.09f + c) * std::cos(y * 0.06f);
        const int v = int(top * (1 - ty) + bottom * ty + detail) + grain(rng);
        p[c] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
  }
  return image;
}

const duo::WiggleFrames& frames() {
  static const duo::WiggleFrames f{photoLikeFrame(1024, 768, 0), photoLikeFrame(1024, 768, 12)};
  return f;
}

gdImagePtr trueColorCopy(const duo::Image& frame) {
  gdImagePtr im = gdImageCreateTrueColor(frame.width(), frame.height());
  if (!im) throw std::bad_alloc();
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = 0; x < frame.width(); ++x) {
      const std::uint8_t* p = frame.pixel(x, y);
      im->tpixels[y][x] = gdTrueColor(p[0], p[1], p[2]);
    }
  }
  return im;
}

// The reference: only libgd's work, on true-colour images made before the clock runs.
void GdCallsOnly(benchmark::State& state) {
  const gdImagePtr left = trueColorCopy(frames().left);
  const gdImagePtr right = trueColorCopy(frames().right);
  std::size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    gdImagePtr a = gdImageClone(left);
    gdImagePtr b = gdImageClone(right);
    state.ResumeTiming();
    gdImageTrueColorToPalette(a, 1, 256);
    gdImageTrueColorToPalette(b, 1, 256);
    gdImagePaletteCopy(b, a);
    gdIOCtxPtr out = gdNewDynamicCtx(2048, nullptr);
    gdImageGifAnimBeginCtx(a, out, 1, 0);
    gdImageGifAnimAddCtx(a, out, 0, 0, 0, 10, 1, nullptr);
    gdImageGifAnimAddCtx(b, out, 0, 0, 0, 10, 1, a);
    gdImageGifAnimEndCtx(out);
    int size = 0;
    void* data = gdDPExtractData(out, &size);
    bytes = std::size_t(size);
    gdFree(data);
    out->gd_free(out);
    state.PauseTiming();
    gdImageDestroy(a);
    gdImageDestroy(b);
    state.ResumeTiming();
  }
  state.counters["bytes"] = double(bytes);
  gdImageDestroy(left);
  gdImageDestroy(right);
}
BENCHMARK(GdCallsOnly)->Unit(benchmark::kMillisecond);

void CreateGif(benchmark::State& state) {
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto gif = duo::AnimatedGif::createGif(frames().left, frames().right);
    if (!gif) throw std::runtime_error(gif.error().message);
    bytes = gif->size();
    benchmark::DoNotOptimize(gif->data());
  }
  state.counters["bytes"] = double(bytes);
}
BENCHMARK(CreateGif)->Unit(benchmark::kMillisecond);

// Export of a 1600 × 1200 crop pair: both frames reduced to 1024 × 768 first.
void WigglegramGifFromLargeCrops(benchmark::State& state) {
  static const duo::WiggleFrames large{photoLikeFrame(1600, 1200, 0),
                                       photoLikeFrame(1600, 1200, 18)};
  for (auto _ : state) {
    auto gif = duo::wigglegramGif(large);
    if (!gif) throw std::runtime_error(gif.error().message);
    benchmark::DoNotOptimize(gif->data());
  }
}
BENCHMARK(WigglegramGifFromLargeCrops)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
