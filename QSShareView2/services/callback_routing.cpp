#include "callback_routing.h"

namespace duo {

namespace {
CallbackRouting::Router& router() {
  static CallbackRouting::Router installed;
  return installed;
}
}  // namespace

void CallbackRouting::setRouter(Router next) { router() = std::move(next); }

bool CallbackRouting::hasRouter() { return bool(router()); }

bool CallbackRouting::route(const QUrl& url) {
  // A copy: the router may replace itself while it runs.
  const Router current = router();
  return current && current(url);
}

}  // namespace duo
