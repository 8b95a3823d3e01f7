#pragma once

#include <QSize>

#include <optional>
#include <string_view>

namespace duo {

/// The phone (or tablet) screen the application lays itself out on, in points. The desktop
/// window has exactly this size in Qt's device-independent pixels; on a high-density display Qt
/// scales it, so one point is `scale()` device pixels.
struct ScreenSize {
  int width = 320;
  int height = 568;
  bool tablet = false;
  bool operator==(const ScreenSize&) const = default;
};

/// Reads the value of `--screen`: "WIDTHxHEIGHT" in points (a phone is 320 wide and at least 480
/// high; 768 or more wide is a tablet) or one of the names "phone" (320x480), "phone-tall"
/// (320x568) and "tablet" (768x1024). nullopt for anything else.
std::optional<ScreenSize> parseScreenOption(std::string_view text);

class MainScreen {
 public:
  static ScreenSize size();
  static QSize bounds() { return {size().width, size().height}; }
  static bool isTablet() { return size().tablet; }
  /// Screens taller than 480 points take the taller variants of layouts and artwork.
  static bool isTall() { return size().height > 480; }
  static void setSize(ScreenSize size);

  /// Device pixels per point: the primary screen's ratio unless set (tests render at 2).
  static double scale();
  static void setScale(double scale);
};

}  // namespace duo
