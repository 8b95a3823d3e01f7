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

#include "camera_image.h"
#include "image/image.h"
#include "render/animated_gif.h"
#include "render/wigglegram.h"

namespace {

const duo::WiggleFrames& frames() {
  // The right view is the same scene seen 12 pixels further left, as in a stereo pair.
  static const duo::WiggleFrames f{duo::bench::cameraImage(1024, 768, 7, 0),
                                   duo::bench::cameraImage(1024, 768, 7, 12)};
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
  static const duo::WiggleFrames large{duo::bench::cameraImage(1600, 1200, 7, 0),
                                       duo::bench::cameraImage(1600, 1200, 7, 18)};
  for (auto _ : state) {
    auto gif = duo::wigglegramGif(large);
    if (!gif) throw std::runtime_error(gif.error().message);
    benchmark::DoNotOptimize(gif->data());
  }
}
BENCHMARK(WigglegramGifFromLargeCrops)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
