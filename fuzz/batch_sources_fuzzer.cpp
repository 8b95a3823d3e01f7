// duoscope-cli batch's two sources. The first byte chooses: even, the bytes after it are a list
// file; odd, they are the names of the files in a folder, one per line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "batch_sources.h"
#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;

// A name the folder can hold: no separators, no NUL, not "." or "..", within NAME_MAX.
bool usableFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.size() <= 200 &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

// A list may give a pair an empty or unusable name (a left path "dir/"): the batch command makes
// output names safe itself, so only the files are checked here.
void checkPairShape(const duo::cli::BatchPair& pair) {
  if (pair.problem.empty()) FUZZ_CHECK(!pair.left.empty() && !pair.right.empty());
}

void listFile(std::span<const std::uint8_t> bytes) {
  const fs::path list = duo::fuzz::scratchFolder() / "pairs.txt";
  duo::fuzz::writeBytes(list, bytes);
  const auto pairs = duo::cli::pairsInListFile(list.string());
  if (!pairs) return;
  FUZZ_CHECK(!pairs->empty());
  // Each pair comes from one line of its own.
  const auto lines = std::count(bytes.begin(), bytes.end(), '\n') + 1;
  FUZZ_CHECK(static_cast<std::ptrdiff_t>(pairs->size()) <= lines);
  for (const auto& pair : *pairs) {
    checkPairShape(pair);
    if (!pair.problem.empty()) continue;
    // Paths are taken relative to the list, never to wherever the tool was started.
    for (const std::string* path : {&pair.left, &pair.right})
      FUZZ_CHECK(fs::path(*path).is_absolute());
  }
}

void folder(std::span<const std::uint8_t> bytes) {
  const fs::path dir = duo::fuzz::scratchFolder() / "folder";
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  fs::create_directories(dir);
  std::set<std::string> created;
  std::string name;
  const auto create = [&] {
    if (usableFileName(name) && created.size() < 64 && created.insert(name).second)
      duo::fuzz::writeBytes(dir / name, {});
    name.clear();
  };
  for (const std::uint8_t byte : bytes) {
    if (byte == '\n') {
      create();
    } else {
      name.push_back(static_cast<char>(byte));
    }
  }
  create();

  const auto pairs = duo::cli::pairsInFolder(dir.string());
  if (!pairs) return;
  FUZZ_CHECK(!pairs->empty());
  std::set<std::string> files;
  for (std::size_t i = 0; i < pairs->size(); ++i) {
    const auto& pair = (*pairs)[i];
    checkPairShape(pair);
    // A side suffix always follows at least one character of name.
    FUZZ_CHECK(!pair.name.empty());
    // Sorted by name, one pair per name.
    if (i > 0) FUZZ_CHECK((*pairs)[i - 1].name < pair.name);
    for (const std::string* path : {&pair.left, &pair.right}) {
      if (path->empty()) continue;
      const fs::path file(*path);
      FUZZ_CHECK(file.parent_path() == dir);
      FUZZ_CHECK(created.count(file.filename().string()) == 1);
      // NAME_L.jpg and its relatives: the pair's name is where the file name starts.
      FUZZ_CHECK(file.filename().string().rfind(pair.name, 0) == 0);
      // A file belongs to one pair, on one side.
      FUZZ_CHECK(files.insert(*path).second);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 4096) return 0;
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  if (data[0] % 2 == 0) {
    listFile(rest);
  } else {
    folder(rest);
  }
  return 0;
}
