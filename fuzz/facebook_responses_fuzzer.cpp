// The Graph answers the Facebook client parses (errors, data lists, the album batch, granted
// permissions, a post's identifier), whatever bytes arrive: no crash, and what is accepted holds
// what the client relies on.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>

#include <cstddef>
#include <cstdint>

#include "facebook_responses.h"
#include "fuzz_support.h"

using duo::FacebookResponses;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));

  if (const auto error = FacebookResponses::parseError(body))
    FUZZ_CHECK(error->message.size() <= 200 && error->type.size() <= 100);
  if (const auto list = FacebookResponses::parseData(body))
    for (const QJsonValue& value : *list) FUZZ_CHECK(value.isObject());
  if (const auto page = FacebookResponses::parseAlbumBatch(body))
    for (const QJsonValue& value : page->albums) FUZZ_CHECK(value.isObject());
  if (const auto granted = FacebookResponses::parseGrantedPermissions(body))
    for (const QString& permission : *granted) FUZZ_CHECK(!permission.isEmpty());
  if (const auto id = FacebookResponses::parsePostedId(body)) FUZZ_CHECK(!id->isEmpty());
  (void)FacebookResponses::isTokenRejected(200, body);
  return 0;
}
