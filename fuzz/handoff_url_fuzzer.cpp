// Callback URLs on their way to a window: the request a running instance reads from its socket
// (untrusted bytes from any program of the user), the Flickr callback it parses, and the test
// that tells a URL on the command line from a file name. No crash, nothing accepted that breaks
// what the routing relies on, and whatever a sender encodes an instance can read back.
#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstddef>
#include <cstdint>

#include "command_line_url.h"
#include "flickr_oauth_callback.h"
#include "fuzz_support.h"
#include "handoff_codec.h"

using duo::HandoffCodec;

namespace {

const QUrl kFlickrCallback(QStringLiteral("flickr0123456789abcdef0123456789abcdef://authorize"));

void checkFlickrCallback(const QUrl& url) {
  QString token;
  QString verifier;
  if (!duo::OFExtractOAuthCallback(url, kFlickrCallback, &token, &verifier)) return;
  FUZZ_CHECK(!token.isEmpty() && !verifier.isEmpty());
  FUZZ_CHECK(url.scheme().compare(kFlickrCallback.scheme(), Qt::CaseInsensitive) == 0);
  FUZZ_CHECK(url.port() == -1 && url.userInfo().isEmpty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

  if (const auto url = HandoffCodec::decodeRequest(bytes)) {
    FUZZ_CHECK(bytes.size() <= HandoffCodec::kMaxRequestBytes);
    FUZZ_CHECK(url->isValid() && !url->scheme().isEmpty());
    // What an instance read, sent on again, reads back the same.
    const QByteArray again = HandoffCodec::encodeRequest(*url);
    if (!again.isEmpty()) FUZZ_CHECK(HandoffCodec::decodeRequest(again) == *url);
    checkFlickrCallback(*url);
  }
  if (const auto answer = HandoffCodec::decodeAnswer(bytes))
    FUZZ_CHECK(HandoffCodec::encodeAnswer(*answer) == bytes);

  const QString text = QString::fromUtf8(bytes);
  if (duo::CommandLineUrl::hasUrlShape(text)) {
    const qsizetype separator = text.indexOf(QLatin1String("://"));
    FUZZ_CHECK(separator >= 2 && text.front().isLetter());
  }
  // Any URL a sender can encode, an instance can decode: otherwise a callback would be lost
  // between the two.
  const QUrl url(text);
  const QByteArray request = HandoffCodec::encodeRequest(url);
  if (!request.isEmpty()) {
    FUZZ_CHECK(request.size() <= HandoffCodec::kMaxRequestBytes);
    const auto decoded = HandoffCodec::decodeRequest(request);
    FUZZ_CHECK(decoded.has_value());
    FUZZ_CHECK(decoded->toEncoded() == url.toEncoded());
  }
  checkFlickrCallback(url);
  return 0;
}
