#pragma once

#include <QObject>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QWidget;

namespace duo {

/// One motion effect: the property at `keyPath` of a view follows the device's tilt along
/// `axis`, from `minimumRelativeValue` to `maximumRelativeValue` points away from its value.
struct QSMotionEffect {
  enum class Axis { TiltAlongHorizontalAxis, TiltAlongVerticalAxis };
  std::string keyPath;
  Axis axis = Axis::TiltAlongHorizontalAxis;
  double minimumRelativeValue = 0;
  double maximumRelativeValue = 0;
  bool operator==(const QSMotionEffect&) const = default;
};

/// The motion effects a view carries, kept as a child object of the view. A desktop has no tilt
/// input, so nothing moves on screen; the group records what the view asked for.
class QSMotionEffectGroup : public QObject {
  Q_OBJECT
 public:
  explicit QSMotionEffectGroup(QObject* parent = nullptr) : QObject(parent) {}
  const std::vector<QSMotionEffect>& motionEffects() const { return m_effects; }
  void setMotionEffects(std::vector<QSMotionEffect> effects) { m_effects = std::move(effects); }

  /// The group `view` carries, or nullptr.
  static QSMotionEffectGroup* groupOfView(const QWidget* view);

 private:
  std::vector<QSMotionEffect> m_effects;
};

/// Edge insets in points: top, left, bottom, right.
struct QSEdgeInsets {
  double top = 0;
  double left = 0;
  double bottom = 0;
  double right = 0;
  bool operator==(const QSEdgeInsets&) const = default;
};

/// What the device is and which look the toolkit takes on it. The device is classified once,
/// at the first use: the model string is the machine field of uname(2), the system counts as
/// version 7 or later, and the form factor is the phone unless the application says otherwise
/// (its screen option). Tests replace all three with setEnvironment().
class QSFeatures {
 public:
  struct Environment {
    std::string machine;    ///< model string, e.g. "iPhone3,1" or "x86_64"
    int systemVersion = 7;  ///< major version of the system the look follows
    bool tablet = false;    ///< tablet-sized screen
  };

  static const std::string& platform();
  /// The model's name from the model table; nullopt for a model it does not list.
  static std::optional<std::string_view> platformDescription();
  static bool deviceIsIPhone4();
  static bool isIOS7OrLater();

  static bool showDocumentShadow();
  static bool showRadialMenuShadow();
  static bool showSlidingPanelShadows();
  static double slidingPanelAlpha();
  static double slidingPanelCornerRadius();
  static double slidingPanelOpposingEdgeInset();
  static bool showGraphicElementAnimations();
  static QSEdgeInsets configurationViewTableEdgeInsets();
  static QSEdgeInsets configurationViewCollectionEdgeInsets();
  /// The black bar style.
  static int navigationControllerBarStyle() { return 1; }

  /// From version 7 on, gives `view` a parallax: its centre follows the tilt by up to `distance`
  /// points either way, horizontally and vertically. Replaces a parallax given before. Before
  /// version 7 the view is left unchanged.
  static void addParallaxToView(QWidget* view, double distance);

  /// The name the model table gives a model string; nullopt when it is not listed.
  static std::optional<std::string_view> descriptionForModel(std::string_view model);

  /// Marks the device as a tablet (the screen option chose a tablet size).
  static void setTablet(bool tablet);
  static bool isTablet();

  /// Replaces the classification, for tests of the other branches.
  static void setEnvironment(Environment environment);

 private:
  static Environment& environment();
};

}  // namespace duo
