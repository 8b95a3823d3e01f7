// Saves a large still to the album of the Pictures folder given as its argument, over and over,
// as the photo-library export does (PNG, then the album's atomic save), until it is killed.
// album_kill_test kills it at random moments.
#include <QDateTime>
#include <QFile>

#include <cstdio>

#include "io/image_codec.h"
#include "photo_library.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PICTURES_FOLDER\n", argv[0]);
    return 2;
  }
  duo::PhotoLibrary::setPicturesFolderForTesting(QFile::decodeName(argv[1]));
  auto image = duo::Image::create(2000, 1500);
  if (!image) return 1;
  for (int y = 0; y < image->height(); ++y)
    for (int x = 0; x < image->width(); ++x) {
      std::uint8_t* p = image->pixel(x, y);
      // Noise-like content, so that a save takes as long as a photograph's would.
      const std::uint32_t h = std::uint32_t(x) * 2654435761u ^ std::uint32_t(y) * 40503u;
      p[0] = std::uint8_t(h >> 24), p[1] = std::uint8_t(h >> 16), p[2] = std::uint8_t(x + y);
    }
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) {
    auto png = duo::encodePng(*image);
    if (!png) return 1;
    auto saved = duo::PhotoLibrary::saveToAlbum(*png, QStringLiteral("png"), QDateTime::currentDateTime());
    if (!saved) {
      std::fprintf(stderr, "%s\n", saved.error().message.c_str());
      return 1;
    }
  }
}
