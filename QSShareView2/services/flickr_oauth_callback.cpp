#include "flickr_oauth_callback.h"

#include <QUrlQuery>

namespace duo {

bool OFExtractOAuthCallback(const QUrl& receivedURL, const QUrl& callbackBase, QString* requestToken,
                            QString* verifier) {
  if (!receivedURL.isValid() || !callbackBase.isValid() || callbackBase.scheme().isEmpty())
    return false;
  if (receivedURL.scheme().compare(callbackBase.scheme(), Qt::CaseInsensitive) != 0 ||
      receivedURL.host().compare(callbackBase.host(), Qt::CaseInsensitive) != 0 ||
      receivedURL.port() != -1 || !receivedURL.userInfo().isEmpty() ||
      !(receivedURL.path().isEmpty() || receivedURL.path() == QLatin1String("/")))
    return false;
  const QUrlQuery query(receivedURL);
  // A parameter given twice is ambiguous: which of the two tokens was meant cannot be told.
  const QStringList tokens = query.allQueryItemValues(QStringLiteral("oauth_token"), QUrl::FullyDecoded);
  const QStringList verifiers =
      query.allQueryItemValues(QStringLiteral("oauth_verifier"), QUrl::FullyDecoded);
  if (tokens.size() != 1 || verifiers.size() != 1 || tokens.first().isEmpty() ||
      verifiers.first().isEmpty())
    return false;
  if (requestToken) *requestToken = tokens.first();
  if (verifier) *verifier = verifiers.first();
  return true;
}

}  // namespace duo
