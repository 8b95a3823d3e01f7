// The PNG encode of duoscope-cli's main output, the 2000 × 1500 colour anaglyph of a 4000 × 3000
// camera pair decoded at half size, against the writer it replaced (libpng, UP filter, zlib level
// 1) and libpng's defaults (every filter, level 6), on the camera pair and on a noisy one. The
// Compress benchmarks time the compressor alone on the same UP-filtered rows: ours (RowDeflate),
// zlib and each libdeflate level. Ratios to our encode are printed at the end: this machine is shared and
// noisy, so only ratios measured in one run mean anything.
//
//   cmake -B build-bench -DDUOSCOPE_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
//   make -C build-bench png_encode_bench
//   taskset -c 1 build-bench/bench/png_encode_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "camera_image.h"
#include "io/image_codec.h"
#include "io/png_writer.h"
#include "io/row_deflate.h"
#include "render/anaglyph.h"
#include "render/renderer.h"
#include "stereo/stereo_pair.h"

namespace {

struct Scene {
  const char* name;
  int grain;
};
constexpr Scene kScenes[] = {{"camera", duo::bench::kCameraGrain},
                             {"noisy", duo::bench::kNoisyGrain}};

// What the command line writes for the pair: JPEGs decoded at half size, then the anaglyph.
duo::Image mainOutput(int grain) {
  auto half = [&](std::uint32_t seed, int shift) {
    const auto jpeg = duo::bench::cameraJpeg(4000, 3000, seed, shift, grain);
    auto image = duo::decodeImage(jpeg, "camera.jpg", {2000, 1500});
    if (!image) throw std::runtime_error(image.error().message);
    return std::move(*image);
  };
  auto pair = duo::StereoPair::fromWorkingCopies(half(1, 0), half(61, 60), 2000);
  duo::RenderSettings settings;
  settings.anaglyphEnhance = false;
  auto still =
      duo::renderStill(pair, duo::OutputKind::ColorAnaglyph, settings, duo::updateGammaTable(0.8));
  if (!still) throw std::runtime_error("no anaglyph");
  return std::move(*still);
}

const duo::Image& image(int scene) {
  static std::map<int, duo::Image> images;
  auto it = images.find(scene);
  if (it == images.end()) it = images.emplace(scene, mainOutput(kScenes[scene].grain)).first;
  return it->second;
}

// The rows as our writer filters them: type byte 2 (UP), then each RGB byte minus the one above.
const std::vector<std::uint8_t>& filtered(int scene) {
  static std::map<int, std::vector<std::uint8_t>> rows;
  auto it = rows.find(scene);
  if (it != rows.end()) return it->second;
  const duo::Image& im = image(scene);
  std::vector<std::uint8_t> out;
  for (int y = 0; y < im.height(); ++y) {
    out.push_back(2);
    for (int x = 0; x < im.width(); ++x) {
      for (int c = 0; c < 3; ++c) {
        out.push_back(std::uint8_t(im.pixel(x, y)[c] - (y > 0 ? im.pixel(x, y - 1)[c] : 0)));
      }
    }
  }
  return rows.emplace(scene, std::move(out)).first->second;
}

void appendToVector(png_structp png, png_bytep data, std::size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

// libpng writing RGB rows from our four-byte pixels; `tuned` is the writer this one replaced
// (UP only, level 1), otherwise libpng decides everything.
std::vector<std::uint8_t> libpngEncode(const duo::Image& im, bool tuned) {
  std::vector<std::uint8_t> out;
  out.reserve(std::size_t(im.width()) * 3 * im.height() + im.height() + 4096);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) != 0) throw std::runtime_error("libpng failed");
  png_set_write_fn(png, &out, appendToVector, nullptr);
  png_set_IHDR(png, info, im.width(), im.height(), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (tuned) {
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_compression_level(png, 1);
  }
  png_write_info(png, info);
  png_set_filler(png, 0, PNG_FILLER_AFTER);
  for (int y = 0; y < im.height(); ++y) png_write_row(png, const_cast<png_bytep>(im.row(y)));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// The images and filtered rows are made before any clock runs (main() asks for them). Each
// encoder runs once before its clock starts too: the first call's fresh memory and set-up are
// the command line's cost, which cli_vs_convert.sh measures, not the encoder's.
void EncodeDuoscope(benchmark::State& state, int scene) {
  (void)duo::encodePng(image(scene));
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto png = duo::encodePng(image(scene));
    if (!png) throw std::runtime_error(png.error().message);
    bytes = png->size();
  }
  state.counters["MB"] = double(bytes) / 1e6;
}

void EncodeDuoscopeStreaming(benchmark::State& state, int scene) {
  (void)duo::png::encode(image(scene), 0);
  std::size_t bytes = 0;
  for (auto _ : state) bytes = duo::png::encode(image(scene), 0)->size();
  state.counters["MB"] = double(bytes) / 1e6;
}

void EncodeLibpng(benchmark::State& state, int scene, bool tuned) {
  (void)libpngEncode(image(scene), tuned);
  std::size_t bytes = 0;
  for (auto _ : state) bytes = libpngEncode(image(scene), tuned).size();
  state.counters["MB"] = double(bytes) / 1e6;
}

void CompressLibdeflate(benchmark::State& state, int scene, int level) {
  const auto& in = filtered(scene);
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  std::vector<std::uint8_t> out(libdeflate_zlib_compress_bound(c, in.size()));
  std::size_t bytes = 0;
  for (auto _ : state)
    bytes = libdeflate_zlib_compress(c, in.data(), in.size(), out.data(), out.size());
  libdeflate_free_compressor(c);
  state.counters["MB"] = double(bytes) / 1e6;
}

void CompressRowDeflate(benchmark::State& state, int scene) {
  const auto& in = filtered(scene);
  std::vector<std::uint8_t> out(duo::RowDeflate::bound(in.size()));
  std::size_t bytes = 0;
  for (auto _ : state) bytes = duo::RowDeflate::compress(in.data(), in.size(), out.data());
  state.counters["MB"] = double(bytes) / 1e6;
}

void CompressZlib(benchmark::State& state, int scene, int level) {
  const auto& in = filtered(scene);
  std::vector<std::uint8_t> out(compressBound(in.size()));
  uLongf bytes = 0;
  for (auto _ : state) {
    bytes = out.size();
    if (compress2(out.data(), &bytes, in.data(), in.size(), level) != Z_OK) {
      throw std::runtime_error("zlib failed");
    }
  }
  state.counters["MB"] = double(bytes) / 1e6;
}

// Keeps each benchmark's mean time (or its only time) for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean") continue;
      m_times[run.run_name.function_name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    // CPU time too: on a loaded machine it is the steadier of the two for one thread.
    std::printf("\nTime relative to Encode/duoscope of the same scene (above 1: slower)\n");
    std::printf("  %-40s %6s %6s\n", "", "real", "cpu");
    for (const Scene& scene : kScenes) {
      const auto ours = m_times.find(std::string("Encode/duoscope/") + scene.name);
      if (ours == m_times.end()) continue;
      for (const auto& [name, time] : m_times) {
        if (name.ends_with(std::string("/") + scene.name) && name != ours->first) {
          std::printf("  %-40s %6.2f %6.2f\n", name.c_str(), time.real / ours->second.real,
                      time.cpu / ours->second.cpu);
        }
      }
    }
  }

 private:
  struct Times {
    double real;
    double cpu;
  };
  std::map<std::string, Times> m_times;
};

}  // namespace

int main(int argc, char** argv) {
  for (int s = 0; s < int(std::size(kScenes)); ++s) {
    filtered(s);  // and so the image too
    const std::string scene = kScenes[s].name;
    auto add = [&](const std::string& name, auto&& fn) {
      benchmark::RegisterBenchmark((name + "/" + scene).c_str(), fn)->Unit(benchmark::kMillisecond);
    };
    add("Encode/duoscope", [s](benchmark::State& st) { EncodeDuoscope(st, s); });
    add("Encode/duoscope_streaming", [s](benchmark::State& st) { EncodeDuoscopeStreaming(st, s); });
    add("Encode/libpng_up_level1", [s](benchmark::State& st) { EncodeLibpng(st, s, true); });
    add("Encode/libpng_defaults", [s](benchmark::State& st) { EncodeLibpng(st, s, false); });
    add("Compress/row_deflate", [s](benchmark::State& st) { CompressRowDeflate(st, s); });
    add("Compress/zlib_level1", [s](benchmark::State& st) { CompressZlib(st, s, 1); });
    for (int level : {1, 2, 4, 6, 9}) {
      add("Compress/libdeflate_level" + std::to_string(level),
          [s, level](benchmark::State& st) { CompressLibdeflate(st, s, level); });
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
