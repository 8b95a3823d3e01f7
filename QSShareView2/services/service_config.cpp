#include "service_config.h"

#include "services_config.h"
#include "settings_store.h"

namespace duo {

namespace {

bool usable(const QUrl& url) {
  return url.isValid() && !url.host().isEmpty() &&
         (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

QString capitalised(const QString& word) { return word.left(1).toUpper() + word.mid(1).toLower(); }

}  // namespace

QUrl ServiceConfig::baseUrl(const QString& service, const QString& role, const QUrl& fallback,
                            const SettingsStore* store) {
  const QByteArray variable =
      QStringLiteral("DUOSCOPE_%1_%2_URL").arg(service.toUpper(), role.toUpper()).toLatin1();
  if (const QUrl url(QString::fromUtf8(qgetenv(variable.constData()))); usable(url)) return url;
  if (store) {
    const QString key =
        QStringLiteral("ServiceURL.%1.%2").arg(capitalised(service), capitalised(role));
    if (const QUrl url(store->objectForKey(key).toString()); usable(url)) return url;
  }
  return fallback;
}

DropboxConfig ServiceConfig::dropbox(const SettingsStore* store) {
  DropboxConfig config;
  config.appKey = QString::fromLatin1(config::kDropboxAppKey);
  if (qEnvironmentVariableIsSet("DUOSCOPE_DROPBOX_APP_KEY"))
    config.appKey = qEnvironmentVariable("DUOSCOPE_DROPBOX_APP_KEY");
  config.apiUrl = baseUrl(QStringLiteral("DROPBOX"), QStringLiteral("API"), config.apiUrl, store);
  config.contentUrl =
      baseUrl(QStringLiteral("DROPBOX"), QStringLiteral("CONTENT"), config.contentUrl, store);
  config.authUrl =
      baseUrl(QStringLiteral("DROPBOX"), QStringLiteral("AUTH"), config.authUrl, store);
  config.redirectPort = quint16(config::kDropboxRedirectPort);
  return config;
}

FlickrConfig ServiceConfig::flickr(const SettingsStore* store) {
  FlickrConfig config;
  config.apiKey = QString::fromLatin1(config::kFlickrApiKey);
  config.sharedSecret = QString::fromLatin1(config::kFlickrSharedSecret);
  if (qEnvironmentVariableIsSet("DUOSCOPE_FLICKR_API_KEY"))
    config.apiKey = qEnvironmentVariable("DUOSCOPE_FLICKR_API_KEY");
  if (qEnvironmentVariableIsSet("DUOSCOPE_FLICKR_SHARED_SECRET"))
    config.sharedSecret = qEnvironmentVariable("DUOSCOPE_FLICKR_SHARED_SECRET");
  const QString service = QStringLiteral("FLICKR");
  config.apiUrl = baseUrl(service, QStringLiteral("API"), config.apiUrl, store);
  config.uploadUrl = baseUrl(service, QStringLiteral("UPLOAD"), config.uploadUrl, store);
  config.authUrl = baseUrl(service, QStringLiteral("AUTH"), config.authUrl, store);
  return config;
}

}  // namespace duo
