#pragma once

#include <QWidget>

namespace duo {

/// Puts `child` on top of `parent`'s subviews and shows it.
void addSubview(QWidget* parent, QWidget* child);
/// Puts `view` (a child of `sibling`'s parent) directly above `sibling` in the stacking order.
void insertSubviewAbove(QWidget* view, QWidget* sibling);
/// Takes `view` out of its parent (hidden, parentless); its owner keeps it.
void removeFromSuperview(QWidget* view);

}  // namespace duo
