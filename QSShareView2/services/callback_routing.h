#pragma once

#include <QUrl>

#include <functional>

namespace duo {

/// Where sign-in callbacks go. The application installs its URL handling as the router, so that
/// a callback arriving at a loopback redirect takes the same way as one the desktop hands over
/// (and reaches the window whose sign-in it finishes). Without a router, as in tools and in tests
/// of one client, a loopback callback goes straight to the sign-in that is listening for it.
/// Main thread only.
class CallbackRouting {
 public:
  using Router = std::function<bool(const QUrl&)>;

  /// Installs `router`; an empty one removes it.
  static void setRouter(Router router);
  static bool hasRouter();
  /// Offers `url` to the router: true when it was handled, false when not or with no router.
  static bool route(const QUrl& url);
};

}  // namespace duo
