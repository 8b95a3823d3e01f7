#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace duo {

/// The Flickr answers the client reads, parsed from untrusted bytes. REST answers are JSON, the
/// upload's answer is XML; both become the same kind of dictionary, with an element's text
/// under "_text" (the JSON form's "_content" is renamed to it), so callers need not care which
/// form arrived. Anything unreadable is "no value", never a crash or a partial dictionary.
class FlickrResponses {
 public:
  /// A "stat": "fail" answer or an OAuth problem report.
  struct Error {
    int code = 0;  ///< the service's error code; 0 when it gave none
    QString message;
  };
  /// A token answer of the OAuth endpoints (form-encoded).
  struct Tokens {
    QString token;
    QString tokenSecret;
    QString userFullName;  ///< empty for a request token
    QString userName;
    QString userNSID;
  };

  /// The service's code for an authentication token it does not accept.
  static constexpr int kInvalidAuthTokenCode = 98;
  /// Deeper nesting than any answer of the service has is refused.
  static constexpr int kMaximumDepth = 32;

  /// A JSON object or an XML <rsp> document as a dictionary.
  static std::optional<QVariantMap> parse(const QByteArray& body);
  static std::optional<QVariantMap> parseJson(const QByteArray& body);
  static std::optional<QVariantMap> parseXml(const QByteArray& body);

  /// True when the answer says "stat" "ok".
  static bool isOk(const QVariantMap& response);
  /// The error a "stat": "fail" answer carries, whether it came as JSON ("code", "message") or
  /// as XML (<err code msg>); nullopt for any other answer.
  static std::optional<Error> errorOf(const QVariantMap& response);
  /// The error of an OAuth endpoint's refusal ("oauth_problem=token_rejected"); a rejected,
  /// revoked or expired token becomes kInvalidAuthTokenCode. nullopt when the body says nothing.
  static std::optional<Error> oauthProblemOf(const QByteArray& body);

  /// The tokens of an OAuth answer; nullopt unless both token and secret are present.
  static std::optional<Tokens> parseTokens(const QByteArray& body);
};

}  // namespace duo
