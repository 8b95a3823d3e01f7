// The settings file as the application finds it at start-up: whatever it holds, loading it must
// not fail, a file it refuses is moved aside, and what it accepts survives a save and a restart
// with its type and value.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QVariant>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "fuzz_support.h"
#include "settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto& folder = duo::fuzz::scratchFolder();
  const QString path = QString::fromStdString((folder / "settings.json").string());
  const QString aside = path + QStringLiteral(".corrupt");
  QFile::remove(aside);
  duo::fuzz::writeBytes(folder / "settings.json", std::span<const std::uint8_t>(data, size));

  duo::SettingsStore store(path);
  if (!store.loadError().isEmpty()) {
    FUZZ_CHECK(!QFile::exists(path));
    FUZZ_CHECK(QFile::exists(aside));
    return 0;
  }

  // The keys the file names; the store itself has no listing.
  const QJsonObject root =
      QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(data), int(size))).object();
  for (auto it = root.begin(); it != root.end(); ++it) {
    const QVariant value = store.objectForKey(it.key());
    (void)store.boolForKey(it.key());
    (void)store.integerForKey(it.key());
    (void)store.floatForKey(it.key());
    if (value.isValid()) {
      const int type = value.typeId();
      FUZZ_CHECK(type == QMetaType::Bool || type == QMetaType::LongLong ||
                 type == QMetaType::Double || type == QMetaType::QDateTime ||
                 type == QMetaType::QString);
    }
  }

  // Any change saves the whole store; a restart reads back the same values.
  const QString marker = QStringLiteral("fuzz marker, not in any seed");
  store.setInteger(7, marker);
  FUZZ_CHECK(store.saveError().isEmpty());
  // It will hold service tokens: readable and writable by its owner alone.
  FUZZ_CHECK(std::filesystem::status(folder / "settings.json").permissions() ==
             (std::filesystem::perms::owner_read | std::filesystem::perms::owner_write));
  duo::SettingsStore restarted(path);
  FUZZ_CHECK(restarted.loadError().isEmpty());
  FUZZ_CHECK(restarted.integerForKey(marker) == 7);
  for (auto it = root.begin(); it != root.end(); ++it) {
    if (it.key() == marker) continue;
    const QVariant before = store.objectForKey(it.key());
    const QVariant after = restarted.objectForKey(it.key());
    FUZZ_CHECK(before.typeId() == after.typeId());
    FUZZ_CHECK(before == after);
  }
  return 0;
}
