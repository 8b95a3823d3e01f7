// The Dropbox answers the client parses (token, error and file answers), whatever bytes arrive:
// no crash, and what is accepted holds what the client relies on. The same bytes as a file name
// must make an argument header of printable ASCII that reads back as the same path.
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstddef>
#include <cstdint>

#include "dropbox_responses.h"
#include "fuzz_support.h"

using duo::DropboxResponses;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));

  if (const auto tokens = DropboxResponses::parseTokens(body)) {
    FUZZ_CHECK(!tokens->accessToken.isEmpty());
    FUZZ_CHECK(tokens->expiresInSeconds >= 0);
  }
  if (const auto error = DropboxResponses::parseError(body)) {
    FUZZ_CHECK(!error->tag.isEmpty() || !error->summary.isEmpty());
    FUZZ_CHECK(error->summary.size() <= 200 && error->tag.size() <= 100);
  }
  if (const auto metadata = DropboxResponses::parseFileMetadata(body)) {
    FUZZ_CHECK(!metadata->name.isEmpty());
    FUZZ_CHECK(metadata->size >= 0);
  }

  const QString path = QStringLiteral("/") + QString::fromUtf8(body);
  const QByteArray header = DropboxResponses::uploadArgument(path);
  for (const char c : header)
    FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F);
  const QJsonObject back = QJsonDocument::fromJson(header).object();
  FUZZ_CHECK(back.value(QStringLiteral("path")).toString() == path);
  FUZZ_CHECK(back.value(QStringLiteral("mode")).toString() == QStringLiteral("add"));
  return 0;
}
