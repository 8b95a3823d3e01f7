#include "view_hierarchy.h"

#include <QVariant>

namespace duo {

void addSubview(QWidget* parent, QWidget* child) {
  if (child->parentWidget() != parent) child->setParent(parent);
  child->raise();
  child->show();
}

void insertSubviewAbove(QWidget* view, QWidget* sibling) {
  QWidget* parent = sibling->parentWidget();
  if (view->parentWidget() != parent) view->setParent(parent);
  const QObjectList& children = parent->children();  // bottom to top
  bool passed = false;
  for (QObject* child : children) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (!widget || widget == view) continue;
    if (passed && !widget->isWindow()) {
      view->stackUnder(widget);
      return;
    }
    if (widget == sibling) passed = true;
  }
  view->raise();
}

void removeFromSuperview(QWidget* view) {
  if (!view) return;
  view->hide();
  view->setParent(nullptr);
}

namespace {
constexpr const char* kTagProperty = "tag";
}  // namespace

void setViewTag(QWidget* view, int tag) { view->setProperty(kTagProperty, tag); }

int viewTag(const QWidget* view) { return view->property(kTagProperty).toInt(); }

QWidget* viewWithTag(QWidget* view, int tag) {
  if (!view) return nullptr;
  if (viewTag(view) == tag) return view;
  for (QObject* child : view->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (!widget || widget->isWindow()) continue;
    if (QWidget* found = viewWithTag(widget, tag)) return found;
  }
  return nullptr;
}

}  // namespace duo
