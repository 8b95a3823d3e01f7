#include "view_controller.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

#include "run_loop.h"
#include "screen.h"
#include "theme.h"
#include "view_animation.h"

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

// ---------------------------------------------------------------------------------------------
// Buttons and bars

SystemButton::SystemButton(const QString& title, QWidget* parent)
    : QPushButton(title, parent), m_colour(theme::tint()) {
  setFont(theme::systemFont(17));
  setFlat(true);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_TranslucentBackground);
}

void SystemButton::setTitleColor(const QColor& colour) {
  m_colour = colour;
  update();
}

void SystemButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  QColor colour = m_colour;
  if (!isEnabled()) colour = theme::secondaryText(), colour.setAlphaF(0.45);
  else if (isDown()) colour.setAlphaF(0.3);
  painter.setOpacity(colour.alphaF());
  colour.setAlphaF(1);
  if (!icon().isNull()) {
    const QSize size = iconSize();
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    // Icons are drawn as templates in the title colour.
    QImage tinted = icon().pixmap(size, devicePixelRatioF()).toImage();
    QPainter tint(&tinted);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    tint.fillRect(tinted.rect(), colour);
    tint.end();
    painter.drawImage(target, tinted);
  }
  if (!text().isEmpty()) {
    painter.setPen(colour);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
  }
}

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

void BarButtonItem::trigger() {
  if (m_enabled && m_action) m_action();
}

QAbstractButton* BarButtonItem::makeButton(QWidget* parent) {
  auto* button = new SystemButton(m_title, parent);
  if (m_item == SystemItem::Done) button->setFont(theme::boldSystemFont(17));
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

NavigationBar::NavigationBar(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  resize(MainScreen::bounds().width(), kHeight);
}

void NavigationBar::setTitle(const QString& title) {
  m_title = title;
  update();
}

void NavigationBar::setItems(BarButtonItem* left, BarButtonItem* right) {
  if (left != m_left || !m_leftButton) {
    delete m_leftButton;
    m_left = left;
    if (left) m_leftButton = left->makeButton(this), m_leftButton->show();
  }
  if (right != m_right || !m_rightButton) {
    delete m_rightButton;
    m_right = right;
    if (right) m_rightButton = right->makeButton(this), m_rightButton->show();
  }
  layoutItems();
}

void NavigationBar::setShowsStatusArea(bool shows) {
  m_statusArea = shows;
  resize(width(), barHeight());
  layoutItems();
  update();
}

void NavigationBar::resizeEvent(QResizeEvent*) { layoutItems(); }

void NavigationBar::layoutItems() {
  const int top = m_statusArea ? kStatusHeight : 0;
  if (m_leftButton) m_leftButton->move(4, top);
  if (m_rightButton) m_rightButton->move(width() - 4 - m_rightButton->width(), top);
}

void NavigationBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), theme::barBackground());
  painter.fillRect(QRectF(0, height() - 0.5, width(), 0.5), theme::barHairline());
  painter.setPen(theme::primaryText());
  painter.setFont(theme::boldSystemFont(17));
  const int top = m_statusArea ? kStatusHeight : 0;
  const int side = std::max(m_leftButton ? m_leftButton->geometry().right() : 0,
                            m_rightButton ? width() - m_rightButton->x() : 0) + 8;
  const QRect titleRect(side, top, width() - 2 * side, height() - top);
  painter.drawText(titleRect, Qt::AlignCenter,
                   painter.fontMetrics().elidedText(m_title, Qt::ElideRight, titleRect.width()));
}

Toolbar::Toolbar(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  resize(MainScreen::bounds().width(), kHeight);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(8, 0, 8, 0);
  layout->setSpacing(8);
}

void Toolbar::setItems(std::vector<QObject*> items) {
  auto* layout = static_cast<QHBoxLayout*>(this->layout());
  while (QLayoutItem* item = layout->takeAt(0)) delete item;
  for (auto& widget : m_widgets) delete widget;  // only buttons this bar made
  m_widgets.clear();
  // Widgets of the last list that the new one leaves out are handed back, hidden.
  for (const QPointer<QObject>& old : m_items) {
    auto* widget = qobject_cast<QWidget*>(old.data());
    if (widget && std::find(items.begin(), items.end(), old.data()) == items.end())
      removeFromSuperview(widget);
  }
  m_items.clear();
  for (QObject* object : items) {
    m_items.emplace_back(object);
    if (auto* item = qobject_cast<BarButtonItem*>(object)) {
      if (item->systemItem() == BarButtonItem::SystemItem::FlexibleSpace) {
        layout->addStretch(1);
        continue;
      }
      QAbstractButton* button = item->makeButton(this);
      m_widgets.emplace_back(button);
      layout->addWidget(button);
    } else if (auto* widget = qobject_cast<QWidget*>(object)) {
      widget->setParent(this);
      layout->addWidget(widget, 0, Qt::AlignVCenter);
      widget->show();
    }
  }
}


void Toolbar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), theme::barBackground());
  painter.fillRect(QRectF(0, 0, width(), 0.5), theme::barHairline());
}

// ---------------------------------------------------------------------------------------------
// Screens

ViewController::ViewController(QObject* parent) : QObject(parent) {}

ViewController::~ViewController() {
  // A screen that goes without being dismissed takes its presentation layer along, so no
  // empty full-window layer is left catching the clicks; what it presented goes with it.
  if (m_presented) delete m_presented.data();
  if (m_presenting && m_presenting->m_presented == this) m_presenting->m_presented = nullptr;
  delete m_presentationHost.data();
  delete m_view.data();
}

QWidget* ViewController::view() {
  if (!m_view) {
    loadView();
    if (!m_view) ViewController::loadView();
    viewDidLoad();
  }
  return m_view;
}

void ViewController::loadView() {
  auto* view = new QWidget;
  view->resize(MainScreen::bounds());
  view->setAutoFillBackground(true);
  QPalette palette = view->palette();
  palette.setColor(QPalette::Window, theme::background());
  view->setPalette(palette);
  setView(view);
}

void ViewController::setView(QWidget* view) { m_view = view; }

void ViewController::setTitle(const QString& title) {
  m_title = title;
  navigationItemChanged();
}

void ViewController::navigationItemChanged() {
  if (NavigationController* navigation = navigationController()) navigation->updateBar();
}

NavigationController* ViewController::navigationController() const {
  auto* navigation = qobject_cast<NavigationController*>(parent());
  return navigation && navigation != this ? navigation : nullptr;
}

QWidget* ViewController::windowView() const {
  return m_view ? AppWindow::windowOf(m_view) : nullptr;
}

namespace {

/// The frame a presented screen takes in a window of `bounds`.
QRect presentedFrame(ViewController::ModalPresentationStyle style, const QRect& bounds) {
  if (style == ViewController::ModalPresentationStyle::FormSheet && MainScreen::isTablet()) {
    const QSize sheet(std::min(540, bounds.width()), std::min(620, bounds.height()));
    return QRect(QPoint((bounds.width() - sheet.width()) / 2, (bounds.height() - sheet.height()) / 2),
                 sheet);
  }
  return bounds;
}

constexpr double kPresentDuration = 0.35;

}  // namespace

bool ViewController::presentViewController(ViewController* controller, bool animated,
                                           std::function<void()> completion) {
  QWidget* window = windowView();
  if (!controller || m_presented || !window) {
    // Refused: the caller handed the screen over, so it goes rather than leaking.
    if (controller && controller != m_presented && !controller->parent()) controller->deleteLater();
    return false;
  }
  controller->setParent(this);
  m_presented = controller;
  controller->m_presenting = this;

  // A full-screen layer holds the presented screen; for a sheet it also dims what lies below.
  auto* host = new QWidget(window);
  host->setGeometry(window->rect());
  const QRect frame = presentedFrame(controller->m_presentationStyle, window->rect());
  const bool sheet = frame != window->rect();
  if (sheet) {
    host->setAutoFillBackground(true);
    QPalette palette = host->palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 0, 102));
    host->setPalette(palette);
    if (auto* navigation = qobject_cast<NavigationController*>(controller))
      navigation->navigationBar()->setShowsStatusArea(false);
  }
  controller->m_presentationHost = host;
  QWidget* view = controller->view();
  view->setParent(host);
  view->setGeometry(frame);
  if (auto* navigation = qobject_cast<NavigationController*>(controller)) navigation->layoutContent();
  host->show();
  view->show();
  host->raise();

  controller->viewWillAppear(animated);
  auto done = [controller = QPointer<ViewController>(controller), completion, animated](bool) {
    if (controller) controller->viewDidAppear(animated);
    if (completion) completion();
  };
  if (!animated) {
    done(true);
    return true;
  }
  view->move(frame.x(), window->height());
  if (sheet) setViewAlpha(host, 0);
  std::vector<ViewTarget> targets{{view, std::nullopt, frame, std::nullopt}};
  if (sheet) targets.push_back({host, 1.0, std::nullopt, std::nullopt});
  animateViews(kPresentDuration, AnimationCurve::EaseOut, targets, done);
  return true;
}

void ViewController::dismissViewController(bool animated, std::function<void()> completion) {
  ViewController* target = m_presented ? m_presented.data() : (m_presenting ? this : nullptr);
  if (!target || target->m_beingDismissed) return;
  ViewController* presenter = target->m_presenting;
  if (target->m_presented) target->dismissViewController(false);
  target->m_beingDismissed = true;
  target->viewWillDisappear(animated);

  QWidget* view = target->m_view;
  QWidget* host = target->m_presentationHost;
  // The screen below shows again once a full-screen screen over it goes; a sheet never hid it.
  const bool coveredPresenter = host && !host->autoFillBackground();
  if (coveredPresenter && presenter) presenter->viewWillAppear(animated);
  std::function<void(bool)> done = [target = QPointer<ViewController>(target),
                                    presenter = QPointer<ViewController>(presenter), completion,
                                    animated, coveredPresenter](bool) {
    if (target) {
      removeFromSuperview(target->m_view);
      delete target->m_presentationHost.data();
      target->viewDidDisappear(animated);
      target->m_presenting = nullptr;
      target->deleteLater();
    }
    if (presenter) {
      presenter->m_presented = nullptr;
      if (coveredPresenter) presenter->viewDidAppear(animated);
    }
    if (completion) completion();
  };
  if (!animated || !view || !host) {
    done(true);
    return;
  }
  QRect away = view->geometry();
  away.moveTop(host->height());
  std::vector<ViewTarget> targets{{view, std::nullopt, away, std::nullopt}};
  if (host->autoFillBackground()) targets.push_back({host, 0.0, std::nullopt, std::nullopt});
  animateViews(kPresentDuration, AnimationCurve::EaseIn, targets, done);
}

// ---------------------------------------------------------------------------------------------
// Navigation container

NavigationController::NavigationController(ViewController* root, QObject* parent)
    : ViewController(parent) {
  if (root) {
    root->setParent(this);
    m_stack.emplace_back(root);
  }
}

ViewController* NavigationController::topViewController() const {
  return m_stack.empty() ? nullptr : m_stack.back().data();
}

NavigationBar* NavigationController::navigationBar() {
  view();
  return m_bar;
}

void NavigationController::loadView() {
  ViewController::loadView();
  m_content = new QWidget(view());
  m_bar = new NavigationBar(view());
}

void NavigationController::viewDidLoad() {
  if (ViewController* top = topViewController()) {
    QWidget* child = top->view();
    child->setParent(m_content);
    child->show();
  }
  layoutContent();
  updateBar();
}

void NavigationController::viewWillAppear(bool animated) {
  if (ViewController* top = topViewController()) top->viewWillAppear(animated);
}
void NavigationController::viewDidAppear(bool animated) {
  if (ViewController* top = topViewController()) top->viewDidAppear(animated);
}
void NavigationController::viewWillDisappear(bool animated) {
  if (ViewController* top = topViewController()) top->viewWillDisappear(animated);
}
void NavigationController::viewDidDisappear(bool animated) {
  if (ViewController* top = topViewController()) top->viewDidDisappear(animated);
}

QRect NavigationController::contentFrame() const {
  // Full-screen content runs under the translucent bar; a sheet's content starts below it.
  return m_content ? m_content->rect() : QRect();
}

void NavigationController::layoutContent() {
  QWidget* root = view();
  m_bar->setGeometry(0, 0, root->width(), m_bar->barHeight());
  const int top = m_bar->barHeight() == NavigationBar::kHeight ? 0 : m_bar->barHeight();
  m_content->setGeometry(0, top, root->width(), root->height() - top);
  for (auto& controller : m_stack)
    if (controller && controller->isViewLoaded() && controller->view()->parentWidget() == m_content)
      controller->view()->setGeometry(contentFrame());
  m_bar->raise();
}

void NavigationController::updateBar() {
  if (!m_bar) return;
  ViewController* top = topViewController();
  m_bar->setTitle(top ? top->title() : QString());
  m_bar->setItems(top ? top->navigationItem().leftBarButtonItem.data() : nullptr,
                  top ? top->navigationItem().rightBarButtonItem.data() : nullptr);
}

void NavigationController::pushViewController(ViewController* controller, bool animated) {
  if (!controller || m_transitioning) return;
  view();
  ViewController* from = topViewController();
  controller->setParent(this);
  m_stack.emplace_back(controller);
  transition(Operation::Push, from, controller, animated);
}

void NavigationController::popViewController(bool animated) {
  if (m_stack.size() < 2 || m_transitioning) return;
  ViewController* from = m_stack.back();
  ViewController* to = m_stack[m_stack.size() - 2];
  transition(Operation::Pop, from, to, animated);
}

namespace {

class Context : public TransitionContext {
 public:
  Context(QWidget* container, ViewController* from, ViewController* to, QRect frame,
          std::function<void(bool)> done)
      : m_container(container), m_from(from), m_to(to), m_frame(frame), m_done(std::move(done)) {}
  QWidget* containerView() const override { return m_container; }
  ViewController* viewControllerForKey(Key key) const override {
    return key == Key::From ? m_from.data() : m_to.data();
  }
  QRect initialFrameForViewController(ViewController* controller) const override {
    return controller == m_from ? m_frame : QRect();
  }
  QRect finalFrameForViewController(ViewController*) const override { return m_frame; }
  void setDone(std::function<void(bool)> done) { m_done = std::move(done); }
  void completeTransition(bool didComplete) override {
    if (auto done = std::exchange(m_done, {})) done(didComplete);
  }

 private:
  QPointer<QWidget> m_container;
  QPointer<ViewController> m_from, m_to;
  QRect m_frame;
  std::function<void(bool)> m_done;
};

/// The container's own slide, used when no custom transition is given.
class PlainSlide : public AnimatedTransitioning {
 public:
  explicit PlainSlide(bool push) : m_push(push) {}
  double transitionDuration(TransitionContext&) const override { return 0.35; }
  void animateTransition(TransitionContext& context) override {
    ViewController* from = context.viewControllerForKey(TransitionContext::Key::From);
    ViewController* to = context.viewControllerForKey(TransitionContext::Key::To);
    const QRect frame = context.finalFrameForViewController(to);
    const int w = frame.width();
    addSubview(context.containerView(), to->view());
    to->view()->setGeometry(frame.translated(m_push ? w : -w / 3, 0));
    if (!m_push) from->view()->raise();
    TransitionContext* ctx = &context;
    animateViews(transitionDuration(context), AnimationCurve::EaseInOut,
                 {{to->view(), std::nullopt, frame, std::nullopt},
                  {from->view(), std::nullopt, frame.translated(m_push ? -w / 3 : w, 0), std::nullopt}},
                 [ctx, from = QPointer<ViewController>(from)](bool finished) {
                   if (from) removeFromSuperview(from->view());
                   ctx->completeTransition(finished);
                 });
  }

 private:
  bool m_push;
};

}  // namespace

void NavigationController::transition(Operation op, ViewController* from, ViewController* to,
                                      bool animated) {
  QWidget* toView = to->view();
  auto finish = [self = QPointer<NavigationController>(this), op,
                 from = QPointer<ViewController>(from), to = QPointer<ViewController>(to),
                 animated](bool) {
    if (!self) return;  // the container went while its views slid
    NavigationController* const nav = self;
    nav->m_transitioning = false;
    if (op == Operation::Pop && from) {
      nav->m_stack.pop_back();
      from->viewDidDisappear(animated);
      from->deleteLater();
    } else if (from) {
      from->viewDidDisappear(animated);
    }
    if (to) {
      to->view()->setGeometry(nav->contentFrame());
      to->viewDidAppear(animated);
    }
    nav->updateBar();
  };
  if (from) from->viewWillDisappear(animated);
  to->viewWillAppear(animated);
  if (!animated || !from) {
    if (from) removeFromSuperview(from->view());
    addSubview(m_content, toView);
    toView->setGeometry(contentFrame());
    m_bar->raise();
    finish(true);
    return;
  }
  m_transitioning = true;
  std::shared_ptr<AnimatedTransitioning> animator(m_provider ? m_provider(op, from, to) : nullptr);
  if (!animator) animator = std::make_shared<PlainSlide>(op == Operation::Push);
  auto context = std::make_shared<Context>(m_content, from, to, contentFrame(), nullptr);
  // The context and the animator live until the transition reports completion.
  context->setDone([finish, animator, context](bool done) {
    finish(done);
    performAfterDelay(0, [animator, context] {});
  });
  updateBar();
  animator->animateTransition(*context);
  m_bar->raise();
}

// ---------------------------------------------------------------------------------------------
// Window

AppWindow::AppWindow(QWidget* parent) : QWidget(parent) {
  setFixedSize(MainScreen::bounds());
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::black);
  setPalette(palette);
  setWindowTitle(QStringLiteral("Duoscope"));
}

void AppWindow::setRootViewController(ViewController* controller) {
  if (m_root && m_root != controller) removeFromSuperview(m_root->view());
  m_root = controller;
  if (!controller) return;
  QWidget* view = controller->view();
  view->setParent(this);
  view->setGeometry(rect());
  view->lower();
  view->show();
}

QPointer<AppWindow> AppWindow::s_key;

AppWindow* AppWindow::keyWindow() { return s_key; }

void AppWindow::makeKeyAndVisible() {
  s_key = this;
  show();
  activateWindow();
}

AppWindow* AppWindow::windowOf(const QWidget* widget) {
  for (QWidget* w = const_cast<QWidget*>(widget); w; w = w->parentWidget())
    if (auto* window = qobject_cast<AppWindow*>(w)) return window;
  return nullptr;
}

void AppWindow::resizeEvent(QResizeEvent*) {
  if (m_root && m_root->isViewLoaded()) m_root->view()->setGeometry(rect());
}

}  // namespace duo
