// Writes OUTDIR/L.jpg and OUTDIR/R.jpg: a 4000 × 3000 camera-like stereo pair for the
// command-line comparison in cli_vs_convert.sh.
#include <cstdio>
#include <string>

#include "camera_image.h"
#include "io/file_io.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_camera_pair OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  for (const auto& [name, shift] : {std::pair{"L.jpg", 0}, std::pair{"R.jpg", 60}}) {
    const auto bytes = duo::bench::cameraJpeg(4000, 3000, shift + 1, shift);
    if (!duo::writeFileAtomically(dir + "/" + name, bytes)) return 1;
  }
  return 0;
}
