// The Flickr answers the client parses (JSON REST answers, the XML upload answer, form-encoded
// OAuth answers), whatever bytes arrive: no crash, no runaway nesting, and what is accepted
// holds what the client relies on.
#include <QByteArray>
#include <QVariantMap>

#include <cstddef>
#include <cstdint>

#include "flickr_responses.h"
#include "fuzz_support.h"
#include "qs_flickr.h"
#include "qs_flickr_photo.h"

using duo::FlickrResponses;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));

  if (const auto response = FlickrResponses::parse(body)) {
    if (const auto error = FlickrResponses::errorOf(*response)) {
      FUZZ_CHECK(error->message.size() <= 200);
      FUZZ_CHECK(!FlickrResponses::isOk(*response));
    }
    const QList<duo::QSFlickrPhotoset> sets = duo::QSFlickr::parsePhotosets(*response);
    FUZZ_CHECK(!sets.isEmpty() && sets.first().isNone());
    for (qsizetype i = 1; i < sets.size(); ++i)
      FUZZ_CHECK(!sets[i].photosetID().isEmpty() && !sets[i].isNone());
    const QVariantList photos = response->value(QStringLiteral("photos"))
                                    .toMap()
                                    .value(QStringLiteral("photo"))
                                    .toList();
    for (const QVariant& element : photos) {
      const duo::QSFlickrPhoto photo(element.toMap());
      if (photo.isUsable()) FUZZ_CHECK(photo.source().startsWith(QLatin1String("http")));
    }
  }
  if (const auto tokens = FlickrResponses::parseTokens(body))
    FUZZ_CHECK(!tokens->token.isEmpty() && !tokens->tokenSecret.isEmpty());
  if (const auto problem = FlickrResponses::oauthProblemOf(body)) {
    FUZZ_CHECK(!problem->message.isEmpty() && problem->message.size() <= 100);
    FUZZ_CHECK(problem->code == 0 || problem->code == FlickrResponses::kInvalidAuthTokenCode);
  }
  return 0;
}
