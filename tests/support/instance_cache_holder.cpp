// A second instance for instance_cache_folder_test: acquires an instance cache folder under the
// caches directory given as its argument, writes "held.txt" into it, prints the folder's path on
// a line of its own and keeps the folder until its standard input closes (a clean exit) or it is
// killed.
#include <QFile>
#include <QString>

#include <cstdio>

#include "instance_cache_folder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CACHES_DIRECTORY\n", argv[0]);
    return 2;
  }
  QString error;
  const auto folder = duo::InstanceCacheFolder::acquire(QFile::decodeName(argv[1]), &error);
  if (!folder) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  QFile held(folder->path() + QStringLiteral("/held.txt"));
  if (!held.open(QIODevice::WriteOnly) || held.write("held") != 4) return 1;
  held.close();

  std::printf("%s\n", QFile::encodeName(folder->path()).constData());
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  return 0;
}
