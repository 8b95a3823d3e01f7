#pragma once

#include <QString>
#include <QUrl>

namespace duo {

class SettingsStore;

/// The Facebook client's configuration: where the service lives and who the application is.
struct FacebookConfig {
  /// The Graph API version the client speaks; part of both default addresses.
  static constexpr char kGraphVersion[] = "v19.0";

  /// The application identifier; empty when this build has no Facebook registration.
  QString appId;
  /// Root of the Graph API, ending in "/": every request path is resolved against it, and so is
  /// the token endpoint ("oauth/access_token").
  QUrl graphUrl;
  /// The sign-in dialog.
  QUrl dialogUrl;
  /// How long a request may go without any data moving before it fails, in milliseconds.
  int timeoutMs = 30000;
  /// Whether the service still grants the permissions it retired in 2015 and 2018 ("read_stream",
  /// "read_friendlists", "publish_actions"). The real service does not: asking for them there
  /// makes the sign-in dialog fail, and a post can never be permitted.
  bool grantsRetiredPermissions = false;

  bool isConfigured() const { return !appId.isEmpty(); }
  /// The callback URL the desktop hands back to the application: "fb" + the identifier.
  QUrl callbackUrl() const { return QUrl(QStringLiteral("fb%1://authorize").arg(appId)); }

  /// The build's registration with the addresses from the environment or settings
  /// (DUOSCOPE_FACEBOOK_GRAPH_URL, DUOSCOPE_FACEBOOK_DIALOG_URL, see ServiceConfig). The
  /// identifier can be replaced by DUOSCOPE_FACEBOOK_APP_ID (development against a test server).
  static FacebookConfig fromEnvironment(const SettingsStore* store = nullptr);
};

}  // namespace duo
