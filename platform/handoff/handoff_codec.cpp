#include "handoff_codec.h"

namespace duo {

namespace {

constexpr char kRequestPrefix[] = "duoscope-open-url 1 ";
constexpr char kHandled[] = "handled\n";
constexpr char kNotHandled[] = "not-handled\n";
constexpr char kRefused[] = "refused\n";

/// Printable ASCII without blanks: what a fully encoded URL is made of. Anything else (NUL,
/// controls, a second line, raw UTF-8) means the sender is not ours.
bool encodedUrlCharacters(QByteArrayView text) {
  for (const char c : text)
    if (c <= ' ' || c > '~') return false;
  return true;
}

}  // namespace

QByteArray HandoffCodec::encodeRequest(const QUrl& url) {
  if (!url.isValid() || url.scheme().isEmpty()) return {};
  const QByteArray encoded = url.toEncoded(QUrl::FullyEncoded);
  QByteArray request = QByteArray(kRequestPrefix) + encoded + '\n';
  if (request.size() > kMaxRequestBytes || !encodedUrlCharacters(encoded)) return {};
  return request;
}

std::optional<QUrl> HandoffCodec::decodeRequest(const QByteArray& bytes) {
  const QByteArrayView prefix(kRequestPrefix);
  if (bytes.size() > kMaxRequestBytes || !bytes.startsWith(prefix) || !bytes.endsWith('\n'))
    return std::nullopt;
  const QByteArrayView encoded =
      QByteArrayView(bytes).sliced(prefix.size(), bytes.size() - prefix.size() - 1);
  if (encoded.isEmpty() || !encodedUrlCharacters(encoded)) return std::nullopt;
  const QByteArray text = encoded.toByteArray();
  const QUrl url = QUrl::fromEncoded(text, QUrl::StrictMode);
  // Only the form encodeRequest() writes: a URL that Qt would write differently (a stray "#",
  // an escape it would undo) is not from our sender, and would not mean the same once passed on.
  if (!url.isValid() || url.scheme().isEmpty() || url.toEncoded(QUrl::FullyEncoded) != text)
    return std::nullopt;
  return url;
}

QByteArray HandoffCodec::encodeAnswer(Answer answer) {
  switch (answer) {
    case Answer::Handled:
      return kHandled;
    case Answer::NotHandled:
      return kNotHandled;
    case Answer::Refused:
      break;
  }
  return kRefused;
}

std::optional<HandoffCodec::Answer> HandoffCodec::decodeAnswer(const QByteArray& bytes) {
  if (bytes == kHandled) return Answer::Handled;
  if (bytes == kNotHandled) return Answer::NotHandled;
  if (bytes == kRefused) return Answer::Refused;
  return std::nullopt;
}

}  // namespace duo
