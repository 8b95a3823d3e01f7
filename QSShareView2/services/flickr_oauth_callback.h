#pragma once

#include <QString>
#include <QUrl>

namespace duo {

/// Reads the request token and the verifier that Flickr's authorisation page appends to the
/// callback URL. `callbackBase` is the callback the sign-in asked for ("flickr" + API key +
/// "://authorize"): the received URL must have its scheme and host (in any case), no port, user
/// or path beyond "/", and a non-empty oauth_token and oauth_verifier. Fills both and returns
/// true; otherwise returns false and leaves them alone.
bool OFExtractOAuthCallback(const QUrl& receivedURL, const QUrl& callbackBase, QString* requestToken,
                            QString* verifier);

}  // namespace duo
