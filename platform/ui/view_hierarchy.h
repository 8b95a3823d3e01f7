#pragma once

#include <QWidget>

namespace duo {

/// Puts `child` on top of `parent`'s subviews and shows it.
void addSubview(QWidget* parent, QWidget* child);
/// Puts `view` (a child of `sibling`'s parent) directly above `sibling` in the stacking order.
void insertSubviewAbove(QWidget* view, QWidget* sibling);
/// Takes `view` out of its parent (hidden, parentless); its owner keeps it.
void removeFromSuperview(QWidget* view);

/// Widgets have no tag of their own; it is kept as the dynamic property "tag" (0 when unset).
void setViewTag(QWidget* view, int tag);
int viewTag(const QWidget* view);
/// `view` itself when it has `tag`, else its first descendant with it (depth first, in stacking
/// order); nullptr when there is none.
QWidget* viewWithTag(QWidget* view, int tag);

}  // namespace duo
