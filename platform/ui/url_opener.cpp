#include "url_opener.h"

#include <QDesktopServices>

#include "desktop_services.h"

namespace duo {

namespace {

std::function<bool(const QUrl&)>& urlOpenerHook() {
  static std::function<bool(const QUrl&)> hook;
  return hook;
}

std::function<bool(const QUrl&)>& canOpenHook() {
  static std::function<bool(const QUrl&)> hook;
  return hook;
}

}  // namespace

bool canOpenURL(const QUrl& url) {
  if (const auto& hook = canOpenHook()) return hook(url);
  if (!url.isValid()) return false;
  // QUrl keeps schemes to letters, digits, '+', '-' and '.', so it is safe to pass on as one
  // argument of the query; it is compared without regard to case.
  const QString scheme = url.scheme().toLower();
  if (scheme.isEmpty()) return false;
  if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
      scheme == QLatin1String("mailto") || scheme == QLatin1String("file"))
    return true;
  return desktopHasSchemeHandler(scheme);
}

bool openURL(const QUrl& url) {
  if (const auto& hook = urlOpenerHook()) return hook(url);
  if (!url.isValid() || url.scheme().isEmpty()) return false;
  return QDesktopServices::openUrl(url);
}

void setURLOpenerForTesting(std::function<bool(const QUrl&)> opener) {
  urlOpenerHook() = std::move(opener);
}

void setCanOpenURLForTesting(std::function<bool(const QUrl&)> answer) {
  canOpenHook() = std::move(answer);
}

}  // namespace duo
