#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

namespace duo {

/// A button of a navigation bar or toolbar: a system item, a title or an image, and an action.
class BarButtonItem : public QObject {
  Q_OBJECT
 public:
  enum class SystemItem { None, Done, Cancel, Action, Camera, FlexibleSpace };
  BarButtonItem(SystemItem item, std::function<void()> action, QObject* parent = nullptr);
  BarButtonItem(const QString& title, std::function<void()> action, QObject* parent = nullptr);
  BarButtonItem(const QImage& image, std::function<void()> action, QObject* parent = nullptr);

  SystemItem systemItem() const { return m_item; }
  QString title() const { return m_title; }
  /// Changes the title, also on a button already placed.
  void setTitle(const QString& title);
  const QImage& image() const { return m_image; }
  /// A title drawn in bold, as the main action of a bar ("Post").
  bool isBold() const { return m_bold; }
  void setBold(bool bold) { m_bold = bold; }
  /// Moves the button this many points sideways from where its bar puts it.
  int titlePositionAdjustment() const { return m_titleAdjustment; }
  void setTitlePositionAdjustment(int dx) { m_titleAdjustment = dx; }
  bool isEnabled() const { return m_enabled; }
  void setEnabled(bool enabled);
  /// The button that shows the item, once a bar has placed it (nullptr before).
  QAbstractButton* button() const { return m_button; }
  /// Presses the item, as a click on its button does.
  void trigger();

 signals:
  void changed();

 private:
  friend class NavigationBar;
  friend class Toolbar;
  QAbstractButton* makeButton(QWidget* parent);
  SystemItem m_item = SystemItem::None;
  QString m_title;
  QImage m_image;
  bool m_enabled = true;
  bool m_bold = false;
  int m_titleAdjustment = 0;
  std::function<void()> m_action;
  QPointer<QAbstractButton> m_button;
};

/// What a screen shows in the navigation bar above it.
struct NavigationItem {
  QPointer<BarButtonItem> leftBarButtonItem;
  QPointer<BarButtonItem> rightBarButtonItem;
};

}  // namespace duo
