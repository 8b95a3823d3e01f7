#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <optional>

#include "codec_fixtures.h"
#include "io/file_io.h"
#include "support/test_support.h"

namespace duo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> entriesOf(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

unsigned modeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

TEST(FileInput, PipesAndDevicesAreRefusedWithoutWaitingOrReading) {
  test::TempDir dir;
  const std::string fifo = (dir / "fifo.jpg").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    auto read = std::async(std::launch::async, [&] { return readFileBytes(path); });
    if (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // lets a stuck open go
      if (writer >= 0) ::close(writer);
      ADD_FAILURE() << path << " was waited on";
      continue;
    }
    const auto result = read.get();
    ASSERT_FALSE(result.ok()) << path;
    EXPECT_EQ(result.error().code, ErrorCode::Io);
    EXPECT_EQ(result.error().message, path + ": not a regular file");
  }
}

TEST(FileOutput, NewFilesFollowTheUmaskReplacedOnesKeepTheirBitsButNoSetIdOrSticky) {
  struct Case {
    mode_t umask;
    std::optional<unsigned> existing, requested;
    unsigned expected;
  };
  // An explicit mode is exactly that, whatever the umask or the replaced file's mode.
  const Case cases[] = {{022, {}, {}, 0644},   {077, {}, {}, 0600},   {022, 07755, {}, 0755},
                        {077, 0640, {}, 0640}, {022, {}, 0600, 0600}, {022, 0644, 0600, 0600},
                        {077, {}, 0640, 0640}};
  for (const Case& c : cases) {
    test::TempDir dir;
    const fs::path path = dir / "out.png";
    if (c.existing) {
      test::writeBytes(path, {1});
      ASSERT_EQ(::chmod(path.c_str(), *c.existing), 0);
    }
    const test::ScopedUmask mask(c.umask);
    ASSERT_TRUE(writeFileAtomically(path.string(), Bytes{7}, false, c.requested));
    EXPECT_EQ(modeOf(path), c.expected)
        << std::oct << "umask " << c.umask << ", existing " << c.existing.value_or(0) << ", asked "
        << c.requested.value_or(0);
  }
}

TEST(FileOutput, TemporaryNamesAreRecognisableAndFitBesideTheLongestName) {
  std::string longest = "b";
  for (int i = 0; i < 127; ++i) longest += "\xC3\xA9";  // 255 bytes; the cut falls inside an é
  for (const std::string& name : {std::string("Stereogram.png"), longest}) {
    test::TempDir dir;
    auto pending = PendingFile::create((dir / name).string(), kPrivateFileMode);
    ASSERT_TRUE(pending) << pending.error().message;
    const auto during = entriesOf(dir.path());
    ASSERT_EQ(during.size(), 1u);
    EXPECT_TRUE(test::isTemporaryFileName(during[0])) << during[0];
    const std::string kept = during[0].substr(1, during[0].rfind(".duoscope-tmp-") - 1);
    EXPECT_TRUE(name.starts_with(kept));
    EXPECT_TRUE(kept.size() == name.size() || (name[kept.size()] & 0xC0) != 0x80) << "split é";
    EXPECT_EQ(modeOf(dir / during[0]), 0600u) << "private before it holds anything";
    ASSERT_TRUE(pending->write(Bytes{1, 2}));
    ASSERT_TRUE(pending->commit());
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{name});
  }
}

TEST(FileOutput, FirstWriteIntoAFolderRemovesOnlyOurOwnStaleTemporaryFiles) {
  const std::tuple<const char*, bool, int, bool> leftovers[] = {
      // name, a symbolic link, age in hours, removed
      {".photo.jpg.duoscope-tmp-Ab12Cd", false, 25, true},
      {".photo.jpg.duoscope-tmp-Ab12Ce", false, 23, false},  // perhaps a write going on
      {".photo.jpg.duoscope-tmp-Ab12C", false, 48, false},
      {"photo.jpg.duoscope-tmp-Ab12Cd", false, 48, false},
      {".photo.jpg.Ab12Cd", false, 48, false},
      {".link.jpg.duoscope-tmp-Ab12Cd", true, 48, false},
  };
  const auto age = [](const fs::path& path, int hours) {
    const timespec times[2] = {{::time(nullptr) - hours * 3600, 0},
                               {::time(nullptr) - hours * 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
  };
  test::TempDir dir, elsewhere;
  test::writeBytes(elsewhere / "linked.jpg", {1});
  age(elsewhere / "linked.jpg", 48);
  std::vector<std::string> expected = {"new.png"};
  for (const auto& [name, link, hours, removed] : leftovers) {
    if (link) fs::create_symlink(elsewhere / "linked.jpg", dir / name);
    if (!link) test::writeBytes(dir / name, {1});
    age(dir / name, hours);
    if (!removed) expected.push_back(name);
  }
  std::sort(expected.begin(), expected.end());
  ASSERT_TRUE(writeFileAtomically((dir / "new.png").string(), Bytes{5}));
  EXPECT_EQ(entriesOf(dir.path()), expected);

  // Once per folder: later writes do not look again.
  const fs::path stale = dir / std::get<0>(leftovers[0]);
  test::writeBytes(stale, {1});
  age(stale, 48);
  ASSERT_TRUE(writeFileAtomically((dir / "new.png").string(), Bytes{6}));
  EXPECT_TRUE(fs::exists(stale));
}

}  // namespace
}  // namespace duo
