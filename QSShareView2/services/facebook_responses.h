#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace duo {

/// The Graph answers the Facebook client reads, parsed from untrusted bytes: anything
/// unexpected (not JSON, wrong types, missing fields) is "no value", never a crash.
class FacebookResponses {
 public:
  /// A Graph error answer: {"error": {"message", "type", "code"}}.
  struct Error {
    QString message;  ///< at most 200 characters
    QString type;
    int code = 0;
  };
  /// One page of the album listing: the albums and the cover photos keyed by their identifier.
  struct AlbumPage {
    QJsonArray albums;  ///< only objects
    QJsonObject covers;
  };

  static std::optional<Error> parseError(const QByteArray& body);
  /// The service refuses the token itself (expired, revoked, signed out elsewhere): HTTP 401,
  /// or an OAuth error of code 190 or 102.
  static bool isTokenRejected(int status, const QByteArray& body);
  /// The objects of an answer's "data" array.
  static std::optional<QJsonArray> parseData(const QByteArray& body);
  /// The answer to the album batch: an array of exactly two answers, each with a "body" string
  /// holding JSON; the first a dictionary with a "data" array, the second a dictionary.
  static std::optional<AlbumPage> parseAlbumBatch(const QByteArray& body);
  /// The permissions "me/permissions" lists as granted.
  static std::optional<QStringList> parseGrantedPermissions(const QByteArray& body);
  /// The answer to a post: the new object's identifier.
  static std::optional<QString> parsePostedId(const QByteArray& body);
};

}  // namespace duo
