// Decoding plus normalising a camera-sized JPEG to half size, against libjpeg-turbo's own plain
// full-size decode of the same bytes in the same run. Report the ratio of the two, not the
// absolute times: this machine is shared and noisy.
//
//   cmake -B build-bench -DDUOSCOPE_BENCH=ON -DCMAKE_BUILD_TYPE=Release && make -C build-bench
//   normalize_bench taskset -c 1 build-bench/bench/normalize_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <jpeglib.h>
#include <cstdio>

#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "camera_image.h"
#include "image/image.h"
#include "io/image_codec.h"
#include "transform/image_tools.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

const std::vector<std::uint8_t>& cameraJpeg() {
  static const std::vector<std::uint8_t> bytes = duo::bench::cameraJpeg(kWidth, kHeight, 42);
  return bytes;
}

// The reference: libjpeg-turbo decoding the whole file at full size into RGBX rows, with
// nothing of ours around it.
void PlainLibjpegFullDecode(benchmark::State& state) {
  const auto& bytes = cameraJpeg();
  std::vector<std::uint8_t> pixels(std::size_t(kWidth) * kHeight * 4);
  for (auto _ : state) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_RGBX;
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = pixels.data() + std::size_t(cinfo.output_scanline) * kWidth * 4;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(PlainLibjpegFullDecode)->Unit(benchmark::kMillisecond);

// Ours: header, reduced decode and the area-averaging draw to 2000 × 1500, upright.
void DecodeAndNormalizeToHalf(benchmark::State& state) {
  const auto& bytes = cameraJpeg();
  const float m = duo::ImageTools::maximumResolutionForPair(kWidth, kHeight, 50.0f);
  for (auto _ : state) {
    auto image = duo::ImageTools::decodeScaledAndRotatedImage(bytes, "bench.jpg", -1, m);
    if (!image || image->width() != 2000 || image->height() != 1500) {
      state.SkipWithError("wrong result");
      break;
    }
    benchmark::DoNotOptimize(image->data());
  }
}
BENCHMARK(DecodeAndNormalizeToHalf)->Unit(benchmark::kMillisecond);

// The same with a quarter turn (a portrait photograph), which scatters columns.
void DecodeAndNormalizeToHalfTurned(benchmark::State& state) {
  const auto& bytes = cameraJpeg();
  for (auto _ : state) {
    auto image = duo::ImageTools::decodeScaledAndRotatedImage(bytes, "bench.jpg", 3, 2000.0f);
    if (!image || image->width() != 1500) {
      state.SkipWithError("wrong result");
      break;
    }
    benchmark::DoNotOptimize(image->data());
  }
}
BENCHMARK(DecodeAndNormalizeToHalfTurned)->Unit(benchmark::kMillisecond);

// The slow road for comparison: full decode, then the general reduction.
void FullDecodeThenScaleAndRotate(benchmark::State& state) {
  const auto& bytes = cameraJpeg();
  for (auto _ : state) {
    auto full = duo::decodeImage(bytes, "bench.jpg");
    auto half = duo::ImageTools::scaleAndRotateImage(*full, -1, 2000.0f);
    benchmark::DoNotOptimize(half.data());
  }
}
BENCHMARK(FullDecodeThenScaleAndRotate)->Unit(benchmark::kMillisecond);

// Pieces of the normalising road, to see where its time goes.
void OurFullDecode(benchmark::State& state) {
  const auto& bytes = cameraJpeg();
  for (auto _ : state) {
    auto image = duo::decodeImage(bytes, "bench.jpg");
    benchmark::DoNotOptimize(image->data());
  }
}
BENCHMARK(OurFullDecode)->Unit(benchmark::kMillisecond);

void OurHalfDecode(benchmark::State& state) {
  const auto& bytes = cameraJpeg();
  for (auto _ : state) {
    auto image = duo::decodeImage(bytes, "bench.jpg", duo::DecodeOptions{2000, 1500});
    benchmark::DoNotOptimize(image->data());
  }
}
BENCHMARK(OurHalfDecode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
