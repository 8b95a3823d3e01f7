// Automatic alignment of a 2000 × 1500 pair on one core, against decoding the same pair's two
// JPEG files in the same run. The goal is at most 80 ms for the alignment; on this shared,
// noisy machine read the CPU column and the ratio of the medians rather than the wall time.
//
//   cmake -B build-bench -DDUOSCOPE_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
//   make -C build-bench align_bench
//   taskset -c 1 build-bench/bench/align_bench --benchmark_repetitions=5
//
// The pair is the real gx8-split pair of the shared test data, enlarged to 2000 x 1500 and
// saved as JPEG (quality 90); without the test data, a synthetic camera-like pair with a shift.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "align/auto_align.h"
#include "camera_image.h"
#include "image/image.h"
#include "io/image_codec.h"
#include "transform/resample.h"

#ifndef DUOSCOPE_TESTDATA_DIR
#define DUOSCOPE_TESTDATA_DIR ""
#endif

namespace {

constexpr int kWidth = 2000;
constexpr int kHeight = 1500;

std::vector<std::uint8_t> jpegOf(const duo::Image& image) {
  auto bytes = duo::encodeJpeg(image, 90);
  if (!bytes) throw std::runtime_error(bytes.error().message);
  return std::move(*bytes);
}

struct PairFiles {
  std::vector<std::uint8_t> left;
  std::vector<std::uint8_t> right;
  std::string source;

  PairFiles() {
    const std::filesystem::path dir =
        std::filesystem::path(DUOSCOPE_TESTDATA_DIR) / "pairs" / "gx8-split";
    auto l = duo::decodeImageFile((dir / "left.jpg").string());
    auto r = duo::decodeImageFile((dir / "right.jpg").string());
    if (l && r) {
      left = jpegOf(*duo::drawOriented(*l, duo::Orientation::Up, kWidth, kHeight));
      right = jpegOf(*duo::drawOriented(*r, duo::Orientation::Up, kWidth, kHeight));
      source = "gx8-split enlarged";
    } else {
      left = duo::bench::cameraJpeg(kWidth, kHeight, 1);
      right = duo::bench::cameraJpeg(kWidth, kHeight, 1, 24);
      source = "synthetic camera pair";
    }
  }
};

const PairFiles& files() {
  static const PairFiles f;
  return f;
}

struct DecodedPair {
  duo::Image left = *duo::decodeImage(files().left, "left.jpg");
  duo::Image right = *duo::decodeImage(files().right, "right.jpg");
};

const DecodedPair& decoded() {
  static const DecodedPair p;
  return p;
}

// The reference: both files decoded, one after the other, on this thread.
void DecodePair(benchmark::State& state) {
  for (auto _ : state) {
    auto l = duo::decodeImage(files().left, "left.jpg");
    auto r = duo::decodeImage(files().right, "right.jpg");
    if (!l || !r) {
      state.SkipWithError("decoding failed");
      break;
    }
    benchmark::DoNotOptimize(l->data());
    benchmark::DoNotOptimize(r->data());
  }
  state.SetLabel(files().source);
}
BENCHMARK(DecodePair)->Unit(benchmark::kMillisecond);

void SuggestAlignment(benchmark::State& state) {
  cv::setNumThreads(1);
  const DecodedPair& p = decoded();
  duo::AlignmentSuggestion last;
  for (auto _ : state) {
    auto s = duo::suggestAlignment(p.left, p.right);
    if (!s) {
      state.SkipWithError(s.error().message.c_str());
      break;
    }
    last = *s;
    benchmark::DoNotOptimize(last);
  }
  state.counters["confidence"] = last.confidence;
  state.counters["inliers"] = last.inliers;
  state.SetLabel(files().source + ", offset " + std::to_string(last.dx) + "," +
                 std::to_string(last.dy));
}
BENCHMARK(SuggestAlignment)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
