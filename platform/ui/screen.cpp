#include "screen.h"

#include <QGuiApplication>
#include <QScreen>

#include <charconv>

namespace duo {

namespace {

ScreenSize g_size;
double g_scale = 0;  // 0: ask the display

std::optional<int> parsePositive(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
  return value;
}

}  // namespace

std::optional<ScreenSize> parseScreenOption(std::string_view text) {
  if (text == "phone") return ScreenSize{320, 480, false};
  if (text == "phone-tall") return ScreenSize{320, 568, false};
  if (text == "tablet") return ScreenSize{768, 1024, true};
  const auto x = text.find('x');
  if (x == std::string_view::npos) return std::nullopt;
  const auto width = parsePositive(text.substr(0, x));
  const auto height = parsePositive(text.substr(x + 1));
  if (!width || !height) return std::nullopt;
  // Layouts are written for a portrait screen at least 320 by 480 points; anything huge is a typo.
  if (*width < 320 || *height < 480 || *width > 2048 || *height > 2732 || *width > *height)
    return std::nullopt;
  return ScreenSize{*width, *height, *width >= 768};
}

ScreenSize MainScreen::size() { return g_size; }
void MainScreen::setSize(ScreenSize size) { g_size = size; }

double MainScreen::scale() {
  if (g_scale > 0) return g_scale;
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    if (QScreen* screen = app->primaryScreen()) return screen->devicePixelRatio();
  }
  return 1.0;
}

void MainScreen::setScale(double scale) { g_scale = scale; }

}  // namespace duo
