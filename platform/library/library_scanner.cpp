#include "library_scanner.h"

#include <QFile>
#include <QtConcurrent/QtConcurrentRun>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "photo_library.h"

namespace duo {

namespace {

// Deeper than any real picture collection; a guard against pathological trees.
constexpr int kMaxDepth = 40;

using FileId = std::pair<dev_t, ino_t>;

struct Walk {
  std::set<FileId> folders;  // entered already
  std::set<FileId> files;    // listed already (hard links, linked files)
  std::vector<std::pair<LibraryEntry, std::int64_t>> found;  // entry, modification in ns
};

void walk(const std::string& folder, int depth, Walk& state) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  // In name order, so that of two names for one file the same one is listed every time.
  std::sort(names.begin(), names.end());

  for (const std::string& name : names) {
    const std::string path = folder + '/' + name;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) continue;  // a dangling link, or gone already
    const FileId id{info.st_dev, info.st_ino};
    if (S_ISDIR(info.st_mode)) {
      if (depth < kMaxDepth && state.folders.insert(id).second) walk(path, depth + 1, state);
      continue;
    }
    if (!S_ISREG(info.st_mode)) continue;
    if (!PhotoLibrary::hasImageExtension(QFile::decodeName(name.c_str()))) continue;
    if (!state.files.insert(id).second) continue;
    const std::int64_t ns =
        std::int64_t(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    LibraryEntry entry{QFile::decodeName(QByteArray::fromStdString(path)),
                       QDateTime::fromMSecsSinceEpoch(ns / 1'000'000, Qt::UTC),
                       qint64(info.st_size)};
    state.found.emplace_back(std::move(entry), ns);
  }
}

}  // namespace

LibraryScanner::LibraryScanner(QObject* parent) : QObject(parent) {}

LibraryScanner::~LibraryScanner() = default;

QList<LibraryEntry> LibraryScanner::scan(const QString& folder) {
  Walk state;
  const std::string root = QFile::encodeName(folder).toStdString();
  struct stat info {};
  if (root.empty() || ::stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return {};
  state.folders.insert({info.st_dev, info.st_ino});
  walk(root, 0, state);

  std::sort(state.found.begin(), state.found.end(), [](const auto& a, const auto& b) {
    if (a.second != b.second) return a.second > b.second;
    return a.first.path < b.first.path;
  });
  QList<LibraryEntry> entries;
  entries.reserve(qsizetype(state.found.size()));
  for (auto& [entry, ns] : state.found) entries.append(std::move(entry));
  return entries;
}

void LibraryScanner::start(const QString& folder) {
  // The old watcher goes with its pending result; the listing itself runs out on its own.
  // Later, not now: start() may be called from a slot of the old watcher's finished().
  if (m_watcher) m_watcher->deleteLater();
  m_watcher = new QFutureWatcher<QList<LibraryEntry>>(this);
  m_running = true;
  auto* watcher = m_watcher;
  connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
    if (watcher != m_watcher) return;
    m_running = false;
    const QList<LibraryEntry> entries = watcher->result();
    emit finished(entries);
  });
  watcher->setFuture(QtConcurrent::run(&LibraryScanner::scan, folder));
}

}  // namespace duo
