#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace duo {

/// The Dropbox answers the client reads, parsed from untrusted bytes: anything unexpected
/// (not JSON, wrong types, missing fields) is "no value", never a crash or a partial record.
class DropboxResponses {
 public:
  /// A successful token answer (sign-in or refresh).
  struct Tokens {
    QString accessToken;
    QString refreshToken;         // empty on a refresh, which keeps the old one
    qint64 expiresInSeconds = 0;  // 0 when the answer does not say
  };
  /// An error answer: "error_summary" and the error's ".tag" (RPC endpoints), or the OAuth
  /// "error" code (token endpoint).
  struct Error {
    QString tag;
    QString summary;
  };
  /// The stored file, from an upload's answer.
  struct FileMetadata {
    QString name;
    QString pathDisplay;
    qint64 size = 0;
  };

  static std::optional<Tokens> parseTokens(const QByteArray& body);
  static std::optional<Error> parseError(const QByteArray& body);
  static std::optional<FileMetadata> parseFileMetadata(const QByteArray& body);

  /// The "Dropbox-API-Arg" header value of an upload to `path` that never replaces an existing
  /// file: mode "add", and the service picks a free name ("name (1).jpg") on a clash. JSON with
  /// every character outside printable ASCII escaped, as an HTTP header must be.
  static QByteArray uploadArgument(const QString& path);
  /// `json` with each character above 0x7E written as a \uXXXX escape.
  static QByteArray escapeForHeader(const QByteArray& json);
};

}  // namespace duo
