#include "received_project_store.h"
#include "receiver_options.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/resource.h>

#include "io/image_codec.h"
#include "test_support.h"

namespace duo {
namespace {

std::vector<std::uint8_t> jpeg(int width, int height, std::uint32_t seed) {
  return encodeJpeg(test::makeSmoothImage(width, height, seed), 90).value();
}

QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                QDir::Name);
}

QJsonObject readJson(const QString& path) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  return QJsonDocument::fromJson(file.readAll()).object();
}

/// Keeps files written by this process below `bytes` while it lives (writes past it fail
/// with EFBIG instead of raising SIGXFSZ), which makes a write fail half-way through a project.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &m_saved);
    rlimit limited = m_saved;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit m_saved{};
};

TEST(ReceivedProjectStore, StoresWholeFoldersUnderFreeNamesOrLeavesNothing) {
  const auto left = jpeg(96, 64, 1);
  const auto right = jpeg(96, 64, 2);
  const auto larger = jpeg(192, 128, 3);  // does not fit where the left file just fits
  auto truncated = right;
  truncated.resize(truncated.size() / 2);
  const QDateTime at(QDate(2026, 12, 8), QTime(15, 42, 7), QTimeZone(3600));
  // The folder name is in local time, whatever zone the time was given in.
  const QString stamp = at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
  struct Row {
    const char* what;
    QString sender;
    QStringList existing;  // folders present before the store
    std::vector<std::uint8_t> right;
    std::function<std::optional<FileSizeLimit>()> limit;
    QString folder;  // expected name; empty: the store must fail and add nothing
  };
  const std::vector<Row> rows = {
      {"plain", "Kim's phone", {}, right, {}, stamp + " from Kim's phone"},
      {"name taken twice", "Kim", {stamp + " from Kim", stamp + " from Kim (2)"}, right, {},
       stamp + " from Kim (3)"},
      {"unsafe name", "../.hidden/a:b\n", {}, right, {}, stamp + " from _.hidden_a_b"},
      {"empty name", "  ", {}, right, {}, stamp + " from unknown sender"},
      {"right JPEG cut short", "Kim", {}, truncated, {}, {}},
      {"not a JPEG", "Kim", {}, std::vector<std::uint8_t>(500, 'x'), {}, {}},
      {"disk full on the right file", "Kim", {}, larger,
       [&] { return std::optional<FileSizeLimit>(std::in_place, left.size() + 10); }, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    test::TempDir dir;
    const QString output = QString::fromStdString((dir / "out").string());
    ReceivedProjectStore store(output);
    ASSERT_TRUE(store.prepare().ok());
    for (const QString& name : row.existing) {
      ASSERT_TRUE(QDir(output).mkpath(name + "/keep"));
    }
    const QStringList before = entries(output);
    const ProjectToStore project{left, row.right, -20, 7, row.sender, at};
    Result<QString> stored = makeError(ErrorCode::Io, "not run");
    {
      auto limit = row.limit ? row.limit() : std::nullopt;
      stored = store.store(project);
    }
    if (row.folder.isEmpty()) {
      EXPECT_FALSE(stored.ok());
      EXPECT_EQ(entries(output), before);  // no temporary folder, no partial project
      continue;
    }
    ASSERT_TRUE(stored.ok()) << stored.error().message;
    EXPECT_EQ(*stored, output + "/" + row.folder);
    EXPECT_EQ(entries(output).size(), before.size() + 1);
    for (const QString& name : row.existing) EXPECT_TRUE(QDir(output + "/" + name + "/keep").exists());
    EXPECT_EQ(entries(*stored), (QStringList{"left.jpg", "project.json", "right.jpg"}));
    EXPECT_EQ(test::readBytes((*stored + "/left.jpg").toStdString()), left);
    EXPECT_EQ(test::readBytes((*stored + "/right.jpg").toStdString()), right);
    const QJsonObject json = readJson(*stored + "/project.json");
    EXPECT_EQ(json["offset"].toObject()["x"].toInt(), -20);
    EXPECT_EQ(json["offset"].toObject()["y"].toInt(), 7);
    for (const char* side : {"left", "right"}) {
      EXPECT_EQ(json[side].toObject()["width"].toInt(), 96) << side;
      EXPECT_EQ(json[side].toObject()["height"].toInt(), 64) << side;
    }
    EXPECT_EQ(json["left"].toObject()["bytes"].toInteger(), qint64(left.size()));
    EXPECT_EQ(json["right"].toObject()["bytes"].toInteger(), qint64(right.size()));
    EXPECT_EQ(json["sender"].toString(), row.sender);
    EXPECT_EQ(QDateTime::fromString(json["received"].toString(), Qt::ISODate), at);
  }
}

TEST(ReceiverOptions, ByteSizesTakeBinarySuffixesAndRefuseWhatDoesNotFit) {
  const std::vector<std::pair<const char*, std::optional<std::uint32_t>>> rows = {
      {"65536", 65536u},   {"64M", 64u << 20},    {"64mib", 64u << 20}, {"1G", 1u << 30},
      {"3GB", 3u << 30},   {"512k", 512u << 10},  {"4G", std::nullopt}, {"0", std::nullopt},
      {"-1", std::nullopt}, {"M", std::nullopt},   {"1.5M", std::nullopt},
      {"99999999999", std::nullopt}};
  for (const auto& [text, bytes] : rows)
    EXPECT_EQ(ReceiverOptions::parseByteSize(QString::fromLatin1(text)), bytes) << text;
}

}  // namespace
}  // namespace duo
