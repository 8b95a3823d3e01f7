#pragma once

#include <QString>
#include <QUrl>

namespace duo {

class SettingsStore;

/// The Dropbox client's configuration: where the service lives and who the application is.
struct DropboxConfig {
  /// The application key; empty when this build has no Dropbox registration.
  QString appKey;
  /// RPC endpoints and the token endpoint ("/2/…", "/oauth2/token").
  QUrl apiUrl{QStringLiteral("https://api.dropboxapi.com")};
  /// Content endpoints ("/2/files/upload").
  QUrl contentUrl{QStringLiteral("https://content.dropboxapi.com")};
  /// The sign-in page's site ("/oauth2/authorize").
  QUrl authUrl{QStringLiteral("https://www.dropbox.com")};
  /// Loopback port of the sign-in redirect; 0 picks any free port.
  quint16 redirectPort = 0;
  /// How long a request may go without any data moving before it fails, in milliseconds.
  int timeoutMs = 30000;

  bool isConfigured() const { return !appKey.isEmpty(); }
};

/// The Flickr client's configuration: the application's registration and the service's sites.
struct FlickrConfig {
  /// The API key (32 hexadecimal digits) and shared secret (16); empty when this build has no
  /// Flickr registration.
  QString apiKey;
  QString sharedSecret;
  /// The REST endpoint's site ("/services/rest/").
  QUrl apiUrl{QStringLiteral("https://www.flickr.com")};
  /// The upload endpoint's site ("/services/upload/").
  QUrl uploadUrl{QStringLiteral("https://up.flickr.com")};
  /// The OAuth endpoints' site ("/services/oauth/request_token", "…/authorize", "…/access_token").
  QUrl authUrl{QStringLiteral("https://www.flickr.com")};
  /// How long a request may go without any data moving before it fails, in milliseconds.
  int timeoutMs = 60000;

  bool isConfigured() const { return !apiKey.isEmpty() && !sharedSecret.isEmpty(); }
};

/// Where the photo services live. Every base URL defaults to the service's real address and can
/// be pointed elsewhere (a test server, a proxy) by an environment variable
/// DUOSCOPE_<SERVICE>_<ROLE>_URL or, failing that, by the settings key
/// "ServiceURL.<Service>.<Role>". A value that is not an absolute http or https URL is ignored.
class ServiceConfig {
 public:
  /// `service` as in the variable ("DROPBOX"), `role` likewise ("API", "CONTENT", "AUTH").
  static QUrl baseUrl(const QString& service, const QString& role, const QUrl& fallback,
                      const SettingsStore* store = nullptr);

  /// The build's Dropbox registration with the URLs resolved as above. The application key can
  /// be replaced by DUOSCOPE_DROPBOX_APP_KEY (for development against a test server).
  static DropboxConfig dropbox(const SettingsStore* store = nullptr);
  /// The build's Flickr registration with the URLs resolved as above ("FLICKR", roles "API",
  /// "UPLOAD", "AUTH"). DUOSCOPE_FLICKR_API_KEY and DUOSCOPE_FLICKR_SHARED_SECRET replace the
  /// registration (for development against a test server).
  static FlickrConfig flickr(const SettingsStore* store = nullptr);
};

}  // namespace duo
