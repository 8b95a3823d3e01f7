#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <vector>

#include "core/result.h"
#include "settings_store.h"
#include "view_controller.h"

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

class SettingsViewController;

/// Hears when the user is done with the settings screen.
class SettingsViewControllerDelegate {
 public:
  virtual ~SettingsViewControllerDelegate() = default;
  /// The user pressed Done. The presenter dismisses the screen.
  virtual void settingsViewControllerDidEnd(SettingsViewController* controller) = 0;
};

/// The settings screen: a grouped, scrolling list built from a SettingsDescription, with a switch
/// for each boolean key and, for each choice key, a row that opens a list of its values with a
/// checkmark on the current one. Its presenter puts it inside a NavigationController.
///
/// Each change the user makes is written to the store at once, so observers of that key hear of
/// it immediately (once per change). A value the user does not touch is never written, even if
/// it has the wrong type or is out of range; such a value is shown as unknown (no checkmark). The
/// screen follows changes that others make to its keys while it is open.
///
/// The store and the delegate must outlive the controller.
class SettingsViewController : public ViewController {
  Q_OBJECT
 public:
  /// Uses the shipped description; throws std::runtime_error with the reason when it cannot be
  /// loaded, rather than showing an empty screen.
  explicit SettingsViewController(SettingsStore& store = SettingsStore::standard(),
                                  QObject* parent = nullptr);
  SettingsViewController(SettingsDescription description, SettingsStore& store,
                         QObject* parent = nullptr);
  ~SettingsViewController() override;

  SettingsViewControllerDelegate* delegate() const { return m_delegate; }
  void setDelegate(SettingsViewControllerDelegate* delegate) { m_delegate = delegate; }

  /// The Done button at the right of the navigation bar; shown unless turned off.
  bool showDoneButton() const { return m_showDoneButton; }
  void setShowDoneButton(bool show);
  BarButtonItem* doneButtonItem() const { return m_doneItem; }

  const SettingsDescription& description() const { return m_description; }
  SettingsStore& store() const { return m_store; }

  /// Opens the value list of the choice item editing `key` (as a tap on its row does); returns
  /// the pushed screen, or nullptr when there is no such item or no navigation container.
  ViewController* showChoicesForKey(const QString& key, bool animated = true);

 protected:
  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

 private:
  void done();
  void refreshKey(const QString& key);
  int topInset() const;

  SettingsDescription m_description;
  SettingsStore& m_store;
  SettingsViewControllerDelegate* m_delegate = nullptr;
  bool m_showDoneButton = true;
  bool m_ended = false;  // Done was pressed; ignore further presses until shown again
  QPointer<BarButtonItem> m_doneItem;
  std::map<QString, QPointer<QWidget>> m_rows;
  std::map<QString, int> m_observerTokens;
};

}  // namespace duo
