#pragma once

#include <QByteArray>
#include <QUrl>

#include <optional>

namespace duo {

/// What a sender and a running instance say to each other over the instance's socket: one
/// request line naming a callback URL, one answer line. The request is untrusted bytes to the
/// instance (anything running as this user may connect), so decoding is strict and bounded.
///
/// Request: "duoscope-open-url 1 " + the URL, fully percent-encoded (printable ASCII without
/// blanks), + "\n"; kMaxRequestBytes in all at most. Answer: "handled\n", "not-handled\n", or
/// "refused\n" for a request that could not be read.
class HandoffCodec {
 public:
  /// A sign-in callback carries a code or a token and a state: far below this.
  static constexpr qsizetype kMaxRequestBytes = 4096;
  /// The longest answer line, with its newline.
  static constexpr qsizetype kMaxAnswerBytes = 16;

  enum class Answer { Handled, NotHandled, Refused };

  /// The request for `url`; empty when the URL is invalid, has no scheme, or is too long to send.
  static QByteArray encodeRequest(const QUrl& url);
  /// The URL of a complete request (ending in its newline); nothing when the bytes are not
  /// exactly one well-formed request, with the URL written as encodeRequest() writes it.
  static std::optional<QUrl> decodeRequest(const QByteArray& bytes);

  static QByteArray encodeAnswer(Answer answer);
  /// The answer of a complete answer line; nothing for anything else.
  static std::optional<Answer> decodeAnswer(const QByteArray& bytes);
};

}  // namespace duo
