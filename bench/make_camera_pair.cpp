// Writes OUTDIR/L.jpg and OUTDIR/R.jpg: a 4000 × 3000 camera-like stereo pair for the
// command-line comparison in cli_vs_convert.sh. With --noisy the photographs carry the heavy
// grain of a high sensitivity, which costs every decoder and compressor more.
#include <cstdio>
#include <cstring>
#include <string>

#include "camera_image.h"
#include "io/file_io.h"

int main(int argc, char** argv) {
  const bool noisy = argc == 3 && std::strcmp(argv[2], "--noisy") == 0;
  if (argc != 2 && !noisy) {
    std::fprintf(stderr, "usage: make_camera_pair OUTDIR [--noisy]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const int grain = noisy ? duo::bench::kNoisyGrain : duo::bench::kCameraGrain;
  for (const auto& [name, shift] : {std::pair{"L.jpg", 0}, std::pair{"R.jpg", 60}}) {
    const auto bytes = duo::bench::cameraJpeg(4000, 3000, shift + 1, shift, grain);
    if (!duo::writeFileAtomically(dir + "/" + name, bytes)) return 1;
  }
  return 0;
}
