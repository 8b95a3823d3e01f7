#include "pkce.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <array>

namespace duo {

namespace {
constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;
}

QByteArray Pkce::makeVerifier() {
  std::array<quint32, 16> words;
  QRandomGenerator::system()->fillRange(words.data(), words.size());
  return QByteArray(reinterpret_cast<const char*>(words.data()), sizeof(words))
      .toBase64(kBase64Url);
}

QByteArray Pkce::challengeFor(const QByteArray& verifier) {
  return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256).toBase64(kBase64Url);
}

}  // namespace duo
