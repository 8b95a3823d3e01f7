#pragma once

#include <QByteArray>

namespace duo {

/// Proof Key for Code Exchange (RFC 7636) with the S256 method: a one-time secret (the
/// verifier) sent only with the token request, and its hash (the challenge) sent with the
/// authorisation request, so that an intercepted authorisation code is useless on its own.
class Pkce {
 public:
  /// 86 characters of the unreserved set from 64 random bytes of the system's generator.
  static QByteArray makeVerifier();
  /// BASE64URL(SHA-256(verifier)) without padding.
  static QByteArray challengeFor(const QByteArray& verifier);
};

}  // namespace duo
