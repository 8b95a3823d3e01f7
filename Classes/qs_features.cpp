#include "qs_features.h"

#include <QWidget>

#include <sys/utsname.h>

#include <array>
#include <utility>

namespace duo {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 29> kModels = {{
    {"iPhone1,1", "iPhone 1G"},
    {"iPhone1,2", "iPhone 3G"},
    {"iPhone2,1", "iPhone 3GS"},
    {"iPhone3,1", "iPhone 4"},
    {"iPhone3,3", "Verizon iPhone 4"},
    {"iPhone4,1", "iPhone 4S"},
    {"iPhone5,1", "iPhone 5 (GSM)"},
    {"iPhone5,2", "iPhone 5 (GSM+CDMA)"},
    {"iPod1,1", "iPod Touch 1G"},
    {"iPod2,1", "iPod Touch 2G"},
    {"iPod3,1", "iPod Touch 3G"},
    {"iPod4,1", "iPod Touch 4G"},
    {"iPod5,1", "iPod Touch 5G"},
    {"i386", "Simulator"},
    {"x86_64", "Simulator"},
    {"iPad1,1", "iPad"},
    {"iPad2,1", "iPad 2 (WiFi)"},
    {"iPad2,2", "iPad 2 (GSM)"},
    {"iPad2,3", "iPad 2 (CDMA)"},
    {"iPad2,4", "iPad 2 (WiFi)"},
    {"iPad2,5", "iPad Mini (WiFi)"},
    {"iPad2,6", "iPad Mini (GSM)"},
    {"iPad2,7", "iPad Mini (GSM+CDMA)"},
    {"iPad3,1", "iPad 3 (WiFi)"},
    {"iPad3,2", "iPad 3 (GSM+CDMA)"},
    {"iPad3,3", "iPad 3 (GSM)"},
    {"iPad3,4", "iPad 4 (WiFi)"},
    {"iPad3,5", "iPad 4 (GSM)"},
    {"iPad3,6", "iPad 4 (GSM+CDMA)"},
}};

std::string machineName() {
  utsname names{};
  if (::uname(&names) != 0) return {};
  return names.machine;
}

}  // namespace

QSFeatures::Environment& QSFeatures::environment() {
  static Environment env{machineName(), 7, false};
  return env;
}

void QSFeatures::setEnvironment(Environment env) { environment() = std::move(env); }
void QSFeatures::setTablet(bool tablet) { environment().tablet = tablet; }
bool QSFeatures::isTablet() { return environment().tablet; }

std::optional<std::string_view> QSFeatures::descriptionForModel(std::string_view model) {
  for (const auto& [name, description] : kModels) {
    if (name == model) return description;
  }
  return std::nullopt;
}

const std::string& QSFeatures::platform() { return environment().machine; }

std::optional<std::string_view> QSFeatures::platformDescription() {
  return descriptionForModel(platform());
}

bool QSFeatures::deviceIsIPhone4() {
  const std::string& model = platform();
  return model.size() >= 7 && model.compare(0, 7, "iPhone3") == 0;
}

bool QSFeatures::isIOS7OrLater() { return environment().systemVersion >= 7; }

bool QSFeatures::showDocumentShadow() { return !isIOS7OrLater(); }
bool QSFeatures::showRadialMenuShadow() { return !deviceIsIPhone4() && !isIOS7OrLater(); }
bool QSFeatures::showSlidingPanelShadows() { return !deviceIsIPhone4() && !isIOS7OrLater(); }
double QSFeatures::slidingPanelAlpha() { return isIOS7OrLater() ? 0.97 : 1.0; }
double QSFeatures::slidingPanelCornerRadius() { return isIOS7OrLater() ? 0.0 : 5.0; }

double QSFeatures::slidingPanelOpposingEdgeInset() {
  if (isIOS7OrLater()) return -1.0;
  return isTablet() ? 10.0 : 2.0;
}

bool QSFeatures::showGraphicElementAnimations() { return !deviceIsIPhone4(); }

QSEdgeInsets QSFeatures::configurationViewTableEdgeInsets() {
  const double top = !isIOS7OrLater() ? 5.0 : isTablet() ? 27.0 : 47.0;
  return {top, 0, 0, 0};
}

QSEdgeInsets QSFeatures::configurationViewCollectionEdgeInsets() {
  const double top = !isIOS7OrLater() ? 22.0 : isTablet() ? 66.0 : 86.0;
  return {top, 22, 22, 22};
}

QSMotionEffectGroup* QSMotionEffectGroup::groupOfView(const QWidget* view) {
  if (!view) return nullptr;
  return view->findChild<QSMotionEffectGroup*>(QString(), Qt::FindDirectChildrenOnly);
}

void QSFeatures::addParallaxToView(QWidget* view, double distance) {
  if (!view || !isIOS7OrLater()) return;
  // A second call replaces the first parallax instead of adding to it.
  QSMotionEffectGroup* group = QSMotionEffectGroup::groupOfView(view);
  if (!group) group = new QSMotionEffectGroup(view);
  group->setMotionEffects({
      {"center.x", QSMotionEffect::Axis::TiltAlongHorizontalAxis, -distance, distance},
      {"center.y", QSMotionEffect::Axis::TiltAlongVerticalAxis, -distance, distance},
  });
}

}  // namespace duo
