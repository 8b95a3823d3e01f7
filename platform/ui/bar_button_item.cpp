#include "bar_button_item.h"

#include <QPainter>
#include <QPainterPath>

#include "screen.h"
#include "system_button.h"
#include "theme.h"

namespace duo {

namespace {

/// A glyph of `size` points drawn by `draw` in white 1.6-point strokes at `scale`.
QImage strokeGlyph(QSize size, double scale, const std::function<void(QPainter&)>& draw) {
  QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  image.setDevicePixelRatio(scale);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  draw(p);
  return image;
}

QPainterPath polyline(std::initializer_list<QPointF> points, bool closed) {
  QPainterPath path;
  for (const QPointF& point : points)
    path.elementCount() ? path.lineTo(point) : path.moveTo(point);
  if (closed) path.closeSubpath();
  return path;
}

/// The share glyph of the action item: a tray with an arrow leaving it upwards.
QImage actionGlyph(double scale) {
  return strokeGlyph({22, 26}, scale, [](QPainter& p) {
    p.drawPath(polyline({{7, 10}, {3, 10}, {3, 24.5}, {19, 24.5}, {19, 10}, {15, 10}}, false));
    p.drawPath(polyline({{7, 6}, {11, 2}, {15, 6}}, false));
    p.drawLine(QPointF(11, 2), QPointF(11, 16));
  });
}

/// The camera glyph of the camera item: a body with a lens and a viewfinder bump.
QImage cameraGlyph(double scale) {
  return strokeGlyph({26, 20}, scale, [](QPainter& p) {
    p.drawPath(polyline({{2, 6}, {7.5, 6}, {9.5, 2.5}, {16.5, 2.5}, {18.5, 6}, {24, 6}, {24, 18},
                         {2, 18}},
                        true));
    p.drawEllipse(QPointF(13, 11.5), 4, 4);
  });
}

}  // namespace

BarButtonItem::BarButtonItem(SystemItem item, std::function<void()> action, QObject* parent)
    : QObject(parent), m_item(item), m_action(std::move(action)) {
  if (item == SystemItem::Done) m_title = QStringLiteral("Done");
  if (item == SystemItem::Cancel) m_title = QStringLiteral("Cancel");
}

BarButtonItem::BarButtonItem(const QString& title, std::function<void()> action, QObject* parent)
    : QObject(parent), m_title(title), m_action(std::move(action)) {}

BarButtonItem::BarButtonItem(const QImage& image, std::function<void()> action, QObject* parent)
    : QObject(parent), m_image(image), m_action(std::move(action)) {}

void BarButtonItem::setEnabled(bool enabled) {
  if (enabled == m_enabled) return;
  m_enabled = enabled;
  if (m_button) m_button->setEnabled(enabled);
  emit changed();
}

void BarButtonItem::setTitle(const QString& title) {
  if (title == m_title) return;
  m_title = title;
  if (m_button) {
    m_button->setText(title);
    const QSize text = m_button->fontMetrics().size(Qt::TextSingleLine, title);
    m_button->resize(std::max({text.width() + 16, m_button->iconSize().width() + 16, 44}), 44);
    m_button->setMinimumWidth(m_button->width());
  }
  emit changed();
}

void BarButtonItem::trigger() {
  if (m_enabled && m_action) m_action();
}

QAbstractButton* BarButtonItem::makeButton(QWidget* parent) {
  auto* button = new SystemButton(m_title, parent);
  if (m_item == SystemItem::Done || m_bold) button->setFont(theme::boldSystemFont(17));
  QImage image = m_item == SystemItem::Action   ? actionGlyph(MainScreen::scale())
                 : m_item == SystemItem::Camera ? cameraGlyph(MainScreen::scale())
                                                : m_image;
  if (!image.isNull()) {
    button->setIcon(QIcon(QPixmap::fromImage(image)));
    button->setIconSize((QSizeF(image.size()) / image.devicePixelRatio()).toSize());
  }
  const QSize text = button->fontMetrics().size(Qt::TextSingleLine, m_title);
  const QSize icon = button->iconSize();
  button->resize(std::max({text.width() + 16, icon.width() + 16, 44}), 44);
  button->setEnabled(m_enabled);
  QObject::connect(button, &QAbstractButton::clicked, this, [this] { trigger(); });
  m_button = button;
  return button;
}

}  // namespace duo
