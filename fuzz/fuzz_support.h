// Helpers shared by the fuzz targets: a failed expectation that libFuzzer records as a crash,
// and a private scratch folder for targets whose code under test reads files.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>

// A broken invariant must stop the run with the input saved, exactly like a sanitizer report;
// a plain assert would vanish in release builds.
#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: expectation failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)

namespace duo::fuzz {

/// A folder of this process's own, removed when the process exits. On tmpfs when there is one:
/// the targets that go through files write several per input, and a disk would set the pace.
inline const std::filesystem::path& scratchFolder() {
  // Never destroyed, so that the clean-up at exit still has it whatever the order of exit
  // handlers and static destructors.
  static const std::filesystem::path* const folder = [] {
    std::string base = "/tmp";
    if (const char* env = std::getenv("TMPDIR"); env && *env) {
      base = env;
    } else if (::access("/dev/shm", W_OK) == 0) {
      base = "/dev/shm";
    }
    std::string pattern = base + "/duoscope-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    return new std::filesystem::path(pattern);
  }();
  static const bool cleanUpAtExit = [] {
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*folder, ignored);
    });
    return true;
  }();
  (void)cleanUpAtExit;
  return *folder;
}

/// Replaces `path` with exactly `bytes`.
inline void writeBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  FUZZ_CHECK(out.good());
}

}  // namespace duo::fuzz
