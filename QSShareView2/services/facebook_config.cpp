#include "facebook_config.h"

#include "service_config.h"
#include "services_config.h"

namespace duo {

FacebookConfig FacebookConfig::fromEnvironment(const SettingsStore* store) {
  FacebookConfig config;
  config.appId = QString::fromLatin1(config::kFacebookAppId);
  if (qEnvironmentVariableIsSet("DUOSCOPE_FACEBOOK_APP_ID"))
    config.appId = qEnvironmentVariable("DUOSCOPE_FACEBOOK_APP_ID");
  const QString version = QString::fromLatin1(kGraphVersion);
  config.graphUrl = ServiceConfig::baseUrl(
      QStringLiteral("FACEBOOK"), QStringLiteral("GRAPH"),
      QUrl(QStringLiteral("https://graph.facebook.com/%1/").arg(version)), store);
  if (!config.graphUrl.path().endsWith(QLatin1Char('/')))
    config.graphUrl.setPath(config.graphUrl.path() + QLatin1Char('/'));
  config.dialogUrl = ServiceConfig::baseUrl(
      QStringLiteral("FACEBOOK"), QStringLiteral("DIALOG"),
      QUrl(QStringLiteral("https://www.facebook.com/%1/dialog/oauth").arg(version)), store);
  // Only a server of our own choosing (a test server, a compatible stand-in) still speaks the
  // old permission model.
  config.grantsRetiredPermissions =
      !config.graphUrl.host().endsWith(QLatin1String("facebook.com"), Qt::CaseInsensitive);
  return config;
}

}  // namespace duo
