#pragma once

#include <QPointer>
#include <QString>

#include <map>

#include "settings_description.h"
#include "settings_store.h"
#include "navigation_controller.h"
#include "view_controller.h"

namespace duo {

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

  /// The Done button at the right of the navigation bar; shown unless turned off. While it is
  /// shown, Escape presses it.
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
