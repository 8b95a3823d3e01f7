#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "core/result.h"

namespace duo {

/// One value of a choice setting as the settings screen offers it.
struct SettingsChoice {
  qint64 value = 0;
  QString title;   ///< shown in the list and as the current value
  QString detail;  ///< optional second line in the choice list
};

/// One editable key.
struct SettingsItem {
  enum class Type { Toggle, Choice };
  Type type = Type::Toggle;
  QString key;
  QString title;
  /// Choice items: the offered values, in order, and the explanation under the choice list.
  std::vector<SettingsChoice> choices;
  QString footer;
  /// Choice items: the key's legal values. A stored value outside them is shown as unknown.
  std::optional<qint64> minimum;
  std::optional<qint64> maximum;
  /// Choice items: a stored legal value that is not among the choices is listed (and stays
  /// selectable) under the title made from `valueFormat` ("%1" stands for the number).
  bool showsOtherValues = false;
  QString valueFormat = QStringLiteral("%1");

  bool isLegal(double value) const;
  /// The choice list's title for `value`: the matching choice's title, else the formatted number.
  QString titleForValue(double value) const;
};

/// A titled group of items with an optional explanation below it.
struct SettingsGroup {
  QString title;
  QString footer;
  std::vector<SettingsItem> items;
};

/// The description of the settings the screen edits: a JSON document of groups and items that
/// ships with the application (":/settings/Settings.json").
///
/// Format: {"groups": [{"title", "footer", "items": [item…]}…]}; an item is
/// {"type": "toggle", "key", "title"} or {"type": "choice", "key", "title", "footer",
/// "minimum", "maximum", "showsOtherValues", "valueFormat", "choices": [{"value", "title",
/// "detail"}…]}. Titles of groups and footers are optional; everything else is required.
class SettingsDescription {
 public:
  static constexpr const char* kShippedPath = ":/settings/Settings.json";

  /// Parses and checks a description. Malformed JSON, a missing key or title, an unknown type,
  /// a choice item without choices, a value that is not an integer, outside the item's legal
  /// range or given twice, a key listed twice, or a description with no items at all is refused
  /// with a message that says where the fault is.
  static Result<SettingsDescription> fromJson(const QByteArray& json);
  /// Reads and parses a file (or a Qt resource path); an unreadable file is an Io error.
  static Result<SettingsDescription> fromFile(const QString& path);
  /// The description that ships inside the program.
  static Result<SettingsDescription> shipped() {
    return fromFile(QString::fromLatin1(kShippedPath));
  }

  const std::vector<SettingsGroup>& groups() const { return m_groups; }
  /// Every key, in the order the screen lists them.
  QStringList keys() const;
  /// The item editing `key`, or nullptr.
  const SettingsItem* item(const QString& key) const;

 private:
  std::vector<SettingsGroup> m_groups;
};

}  // namespace duo
