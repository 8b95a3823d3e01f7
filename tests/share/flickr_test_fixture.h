#pragma once

// What the two Flickr client suites share: the fake Flickr on 127.0.0.1 with a client wired to
// it, the signature check computed independently, and recorders of the client's notices.
#include <QAbstractButton>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

#include <algorithm>

#include "fake_http_server.h"
#include "secret_log_suite.h"
#include "flickr_context.h"
#include "qs_flickr.h"
#include "qs_flickr_audience_view_controller.h"
#include "qs_flickr_photo.h"
#include "qs_flickr_photos_data_source.h"
#include "qs_flickr_photosets_view_controller.h"
#include "settings_store.h"
#include "token_store.h"

Q_DECLARE_METATYPE(duo::test::ScriptedResponse)

using namespace duo;
using duo::test::FakeHttpServer;
using duo::test::RecordedRequest;
using duo::test::ScriptedResponse;


namespace flickr_test {

const QString kKey = QStringLiteral("0123456789abcdef0123456789abcdef");
const QString kSecret = QStringLiteral("fedcba9876543210");
const QString kAccess = QStringLiteral("72157-ACCESS-Qz41");
const QString kAccessSecret = QStringLiteral("ACCSECRET-a81f");
const QString kRequestSecret = QStringLiteral("REQSECRET-77c0");
const QByteArray kRest = "/services/rest/";
const QByteArray kUpload = "/services/upload/";


struct Part {
  QByteArray name, filename, contentType, body;
};

/// The parts of a multipart/form-data body, read by hand rather than by Qt.
QList<Part> partsOf(const RecordedRequest& request) {
  const QByteArray type = request.headers.value("content-type");
  QByteArray boundary = type.mid(type.indexOf("boundary=") + 9);
  if (boundary.startsWith('"')) boundary = boundary.mid(1, boundary.size() - 2);
  const QByteArray delimiter = "--" + boundary;
  QList<Part> parts;
  qsizetype at = request.body.indexOf(delimiter);
  while (at >= 0) {
    const qsizetype start = at + delimiter.size();
    if (request.body.mid(start, 2) == "--") break;
    const qsizetype next = request.body.indexOf("\r\n" + delimiter, start);
    if (next < 0) break;
    const QByteArray chunk = request.body.mid(start + 2, next - start - 2);
    const qsizetype split = chunk.indexOf("\r\n\r\n");
    Part part;
    for (const QByteArray& line : chunk.left(split).split('\n')) {
      const QByteArray header = line.trimmed();
      if (header.toLower().startsWith("content-type:")) part.contentType = header.mid(13).trimmed();
      for (const char* field : {"name=\"", "filename=\""}) {
        const qsizetype i = header.indexOf(QByteArray("; ") + field);
        if (i < 0) continue;
        const qsizetype begin = i + 2 + qstrlen(field);
        (QByteArray(field) == "name=\"" ? part.name : part.filename) =
            header.mid(begin, header.indexOf('"', begin) - begin);
      }
    }
    part.body = chunk.mid(split + 4);
    parts.append(part);
    at = next + 2;
  }
  return parts;
}

/// Every parameter of a request: query, form body or the multipart's text fields.
QMap<QString, QString> paramsOf(const RecordedRequest& request) {
  QMap<QString, QString> params;
  const auto add = [&params](const QString& text) {
    for (const auto& [key, value] : QUrlQuery(text).queryItems(QUrl::FullyDecoded))
      params.insert(key, value);
  };
  const qsizetype question = request.target.indexOf('?');
  if (question >= 0) add(QString::fromLatin1(request.target.mid(question + 1)));
  const QByteArray type = request.headers.value("content-type");
  if (type.startsWith("application/x-www-form-urlencoded")) add(QString::fromLatin1(request.body));
  if (type.startsWith("multipart/form-data"))
    for (const Part& part : partsOf(request))
      if (part.filename.isEmpty()) params.insert(part.name, QString::fromUtf8(part.body));
  return params;
}

/// RFC 5849's HMAC-SHA1 signature, computed here from scratch.
bool signatureHolds(const RecordedRequest& request, const QString& url,
                    const QString& tokenSecret) {
  QMap<QString, QString> params = paramsOf(request);
  const QString signature = params.take("oauth_signature");
  QList<QByteArray> pairs;
  for (auto it = params.cbegin(); it != params.cend(); ++it)
    pairs << QUrl::toPercentEncoding(it.key()) + '=' + QUrl::toPercentEncoding(it.value());
  std::sort(pairs.begin(), pairs.end());
  const QByteArray base = request.method + '&' + QUrl::toPercentEncoding(url) + '&' +
                          QUrl::toPercentEncoding(QString::fromLatin1(pairs.join('&')));
  const QByteArray key =
      QUrl::toPercentEncoding(kSecret) + '&' + QUrl::toPercentEncoding(tokenSecret);
  return !signature.isEmpty() &&
         QMessageAuthenticationCode::hash(base, key, QCryptographicHash::Sha1).toBase64() ==
             signature.toLatin1();
}

ScriptedResponse text(int status, const QByteArray& body, const QByteArray& type = "text/plain") {
  ScriptedResponse response;
  response.status = status;
  response.body = body;
  response.headers = {{"Content-Type", type}};
  return response;
}
ScriptedResponse xml(int status, const QByteArray& body) { return text(status, body, "text/xml"); }

QImage noise(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  quint32 state = 12345;
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) line[x] = state = state * 1664525u + 1013904223u;
  }
  return image;
}

class Observer : public QObject, public QSFlickrDelegate {
 public:
  QStringList events;
  void loggedIn() override { events << "in"; }
  void loggedOut() override { events << "out"; }
};

class Loader : public QSDataSourceDelegate {
 public:
  QList<int> statuses;
  QStringList errors;
  void itemsAreAvailable(QSDataSource*, int status) override { statuses << status; }
  void dataErrorOccurred(QSDataSource*, const QString& message, QWidget*) override {
    errors << message;
  }
};

/// A client with its own settings file, token store and temporary folder, on the fake server.
struct Fixture {
  QTemporaryDir folder;
  FakeHttpServer server;
  std::unique_ptr<SettingsStore> settings;
  QNetworkAccessManager network;
  std::unique_ptr<TokenStore> tokens;
  std::unique_ptr<QSFlickr> flickr;
  Observer observer;
  QList<QUrl> opened;
  QList<int> results;
  QList<QPair<qint64, qint64>> progress;

  explicit Fixture(bool signedIn = true, int timeoutMs = 5000, QUrl site = {}) {
    server.listen();
    server.setHandler(kUpload, [](const RecordedRequest&) {
      return xml(200,
                 "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
                 "<rsp stat=\"ok\">\n<photoid>4242</photoid>\n</rsp>\n");
    });
    server.setHandler(kRest, [](const RecordedRequest&) {
      return ScriptedResponse::json(200, R"({"stat": "ok"})");
    });
    settings = std::make_unique<SettingsStore>(folder.filePath("settings.json"));
    if (signedIn) {
      settings->setObject(kAccess, QSFlickr::kOAuthTokenKey);
      settings->setObject(kAccessSecret, QSFlickr::kOAuthTokenSecretKey);
    }
    tokens = std::make_unique<TokenStore>(*settings, TokenStore::Backend::FileOnly);
    FlickrConfig config;
    config.apiKey = kKey;
    config.sharedSecret = kSecret;
    config.apiUrl = config.uploadUrl = config.authUrl = site.isEmpty() ? server.url() : site;
    config.timeoutMs = timeoutMs;
    flickr = std::make_unique<QSFlickr>(config, tokens.get(), &network);
    flickr->setDelegate(&observer, &observer);
    flickr->setBrowserOpener([this](const QUrl& url) {
      opened << url;
      return true;
    });
    flickr->flickrContext();  // reads the stored token
    QTRY_VERIFY(flickr->isReady());
    QDir().mkpath(temp());
    qputenv("TMPDIR", temp().toLocal8Bit());
  }
  ~Fixture() { qunsetenv("TMPDIR"); }

  QString temp() const { return folder.filePath("tmp"); }
  QString url(const QByteArray& path) const { return server.url().toString() + path; }

  void upload(const QImage& image, const QVariantMap& attributes = {}, const QString& title = {},
              const QString& description = {}) {
    flickr->setUploadProgressBlock(
        [this](qint64 sent, qint64 total) { progress << qMakePair(sent, total); });
    flickr->uploadImage(image, {}, title, description, attributes,
                        [this](int result) { results << result; });
  }
  /// Waits for the one completion, then a little longer for a second that must not come.
  void finish() {
    QTRY_VERIFY_WITH_TIMEOUT(!results.isEmpty(), 10000);
    QTest::qWait(100);
    QCOMPARE(results.size(), 1);
    QVERIFY(!flickr->isUploading());
    QVERIFY2(QDir(temp()).isEmpty(), "temporary files left behind");
  }
  QString stored(const char* key) const {
    return SettingsStore(settings->filePath()).objectForKey(key).toString();
  }
};

}  // namespace flickr_test

using namespace flickr_test;
