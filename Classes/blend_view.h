#pragma once

#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

#include "blend_view_controller.h"

namespace duo {

/// The result screen's root view: the mouse is the finger.
class BlendView : public QWidget {
 public:
  explicit BlendView(BlendViewController* controller) : m_controller(controller) {
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    m_down = true;
    if (m_controller) m_controller->touchesBegan(event->position());
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (m_down && m_controller) m_controller->touchesMoved(event->position());
  }
  // A double click opens the large view of an output; in the alignment view, where there is no
  // output yet, the second press is a touch like the first.
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && m_controller && m_controller->viewMode() != 0) {
      m_controller->showLargeView();
      return;
    }
    mousePressEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton || !m_down) return;
    m_down = false;
    if (m_controller) m_controller->touchesEnded(event->position());
  }
  // The desktop's counterpart of a cancelled touch: the window loses the mouse mid-drag.
  void changeEvent(QEvent* event) override {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) cancel();
    QWidget::changeEvent(event);
  }
  void hideEvent(QHideEvent* event) override {
    cancel();
    QWidget::hideEvent(event);
  }
  void resizeEvent(QResizeEvent*) override {
    if (m_controller) m_controller->viewWillLayoutSubviews();
  }
  void showEvent(QShowEvent*) override {
    if (m_controller) m_controller->viewWillLayoutSubviews();
  }

 private:
  void cancel() {
    if (!m_down) return;
    m_down = false;
    if (m_controller) m_controller->touchesCancelled();
  }
  QPointer<BlendViewController> m_controller;
  bool m_down = false;
};

}  // namespace duo
