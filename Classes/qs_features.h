#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace duo {

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
