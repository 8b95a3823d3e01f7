// The anaglyph renderer on a 2000 × 1500 pair, fast path against the plain per-pixel loop in the
// same run, plus the memory floor: one pass that reads both inputs and writes a fresh canvas.
// Report ratios, not absolute times: this machine is shared and noisy.
//
//   cmake -B build-bench -DDUOSCOPE_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
//   make -C build-bench anaglyph_bench
//   taskset -c 1 build-bench/bench/anaglyph_bench --benchmark_repetitions=5
//
// The Fast* benchmarks take the thread count as their argument; pin to one core only for 1.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "camera_image.h"
#include "image/image.h"
#include "render/anaglyph.h"
#include "stereo/stereo_pair.h"

namespace {

constexpr int kWidth = 2000;
constexpr int kHeight = 1500;
constexpr duo::PixelOffset kOffset{23, -9};

duo::Image photoLike(std::uint32_t seed) { return duo::bench::cameraImage(kWidth, kHeight, seed); }

struct Pair {
  duo::Image left = photoLike(1);
  duo::Image right = photoLike(2);
  duo::CropRect crop = duo::alignmentBoundsFor(kWidth, kHeight, kOffset);
  duo::GammaTable gamma = duo::updateGammaTable(0.8);
};

const Pair& pair() {
  static const Pair p;
  return p;
}

void Reference(benchmark::State& state, int mode, int method, bool enhance) {
  const Pair& p = pair();
  for (auto _ : state) {
    auto out =
        duo::blendImagesReference(p.left, p.right, kOffset, p.crop, mode, method, enhance, p.gamma);
    benchmark::DoNotOptimize(out->data());
  }
}

void Fast(benchmark::State& state, int mode, int method, bool enhance) {
  const Pair& p = pair();
  const int threads = int(state.range(0));
  for (auto _ : state) {
    auto out =
        duo::blendImages(p.left, p.right, kOffset, p.crop, mode, method, enhance, p.gamma, threads);
    benchmark::DoNotOptimize(out->data());
  }
}

// A given instruction-set variant, one thread: what machines without AVX-512 get.
void Variant(benchmark::State& state, duo::AnaglyphKernel kernel, int mode, int method,
             bool enhance) {
  const Pair& p = pair();
  for (auto _ : state) {
    auto out = duo::blendImagesWithKernel(kernel, p.left, p.right, kOffset, p.crop, mode, method,
                                          enhance, p.gamma, 1);
    if (!out) {
      state.SkipWithError("this CPU cannot run the variant");
      break;
    }
    benchmark::DoNotOptimize(out->data());
  }
}

// Reads both inputs once and writes every byte of a fresh canvas: no renderer can beat this.
void MemoryFloor(benchmark::State& state) {
  const Pair& p = pair();
  const int w = int(p.crop.width), h = int(p.crop.height);
  for (auto _ : state) {
    auto out = duo::Image::createUninitialized(w, h);
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* l = p.left.pixel(int(p.crop.x), int(p.crop.y) + y);
      const std::uint8_t* r =
          p.right.pixel(int(p.crop.x) - kOffset.x, int(p.crop.y) + y - kOffset.y);
      std::uint8_t* o = out->row(y);
      for (int i = 0; i + 8 <= 4 * w; i += 8) {
        std::uint64_t a, b;
        std::memcpy(&a, l + i, 8);
        std::memcpy(&b, r + i, 8);
        a ^= b;
        std::memcpy(o + i, &a, 8);
      }
    }
    benchmark::DoNotOptimize(out->data());
  }
}
BENCHMARK(MemoryFloor)->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(Reference, dubois, duo::kAnaglyphColour, 4, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Fast, dubois, duo::kAnaglyphColour, 4, false)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Reference, dubois_enhanced, duo::kAnaglyphColour, 4, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Fast, dubois_enhanced, duo::kAnaglyphColour, 4, true)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Reference, grey, duo::kAnaglyphGrey, 4, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Fast, grey, duo::kAnaglyphGrey, 4, false)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Fast, grey_enhanced, duo::kAnaglyphGrey, 4, true)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Variant, avx2_dubois, duo::AnaglyphKernel::Avx2, duo::kAnaglyphColour, 4, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Variant, avx2_dubois_enhanced, duo::AnaglyphKernel::Avx2, duo::kAnaglyphColour, 4,
                  true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Variant, portable_dubois, duo::AnaglyphKernel::Portable, duo::kAnaglyphColour, 4,
                  false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Variant, portable_dubois_enhanced, duo::AnaglyphKernel::Portable,
                  duo::kAnaglyphColour, 4, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Fast, copy, duo::kAnaglyphColour, 0, false)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
