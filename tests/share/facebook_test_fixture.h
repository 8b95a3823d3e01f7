#pragma once

// What the Facebook client tests share: a fake Graph service on 127.0.0.1 with a client wired to
// it, recorders for the client's and the loaders' notices, and builders of Graph answers.
#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

#include "fake_http_server.h"
#include "secret_log_suite.h"
#include "pkce.h"
#include "qs_facebook.h"
#include "qs_facebook_album.h"
#include "qs_facebook_albums_view_controller.h"
#include "qs_facebook_audience_view_controller.h"
#include "qs_facebook_photo.h"
#include "qs_facebook_photos_data_source.h"
#include "qs_social.h"
#include "settings_store.h"
#include "token_store.h"

using namespace duo;
using duo::test::FakeHttpServer;
using duo::test::RecordedRequest;
using duo::test::ScriptedResponse;


namespace facebook_test {


const QString kToken = QStringLiteral("EAAG-token-Vx93-secret");
const QString kNewToken = QStringLiteral("EAAG-renewed-Qb17-secret");
// Written without two slashes in a row: moc (6.4) mistakes them in a test slot for a comment.
const QString kCdn =
    QStringLiteral("https:") + QString(2, QLatin1Char('/')) + QStringLiteral("cdn.test/");
const QString kError = QString::fromLatin1(QSFacebookPhotosDataSource::kErrorMessage);


/// A form body's fields, decoded.
inline QHash<QString, QString> formOf(const RecordedRequest& request) {
  QHash<QString, QString> fields;
  for (const QByteArray& field : request.body.split('&')) {
    const qsizetype equals = field.indexOf('=');
    fields.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(field.left(equals))),
                  QString::fromUtf8(QByteArray::fromPercentEncoding(field.mid(equals + 1))));
  }
  return fields;
}

/// The parts of a multipart body by name: their headers and contents.
inline QHash<QByteArray, QPair<QByteArray, QByteArray>> partsOf(const RecordedRequest& request) {
  const QByteArray type = request.headers.value("content-type");
  const QByteArray boundary = "--" + type.mid(type.indexOf("boundary=") + 9).replace('"', "");
  QHash<QByteArray, QPair<QByteArray, QByteArray>> parts;
  qsizetype at = request.body.indexOf(boundary);
  while (at >= 0) {
    const qsizetype start = at + boundary.size() + 2;
    const qsizetype next = request.body.indexOf(boundary, start);
    if (next < 0) break;
    const QByteArray part = request.body.mid(start, next - start - 2);
    const qsizetype split = part.indexOf("\r\n\r\n");
    const QByteArray headers = part.left(split);
    const qsizetype nameAt = headers.indexOf("name=\"") + 6;
    parts.insert(headers.mid(nameAt, headers.indexOf('"', nameAt) - nameAt),
                 {headers, part.mid(split + 4)});
    at = next;
  }
  return parts;
}

/// Page `page` (25 albums a page) of `total` albums, as the Graph batch answers it. The fake
/// server asks for its answer before the request's body has arrived, so the loader's strictly
/// sequential pages are counted rather than read from the request.
inline QByteArray albumPage(int page, int total, const std::function<QString(int)>& name,
                     const QString& cdn = kCdn) {
  const int offset = page * 25;
  QJsonArray albums;
  QJsonObject covers;
  for (int i = offset; i < std::min(total, offset + 25); ++i) {
    albums.append(QJsonObject{{"id", QString("a%1").arg(i)},
                              {"name", name(i)},
                              {"cover_photo", QString("c%1").arg(i)},
                              {"count", 3}});
    covers.insert(
        QString("c%1").arg(i),
        QJsonObject{
            {"picture", cdn + QString("c%1_s.jpg").arg(i)},
            {"width", 640},
            {"height", 480},
            {"images",
             QJsonArray{QJsonObject{
                 {"width", 130}, {"height", 98}, {"source", cdn + QString("c%1.jpg").arg(i)}}}}});
  }
  const auto text = [](const QJsonObject& o) {
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
  };
  const QJsonArray answer{QJsonObject{{"code", 200}, {"body", text({{"data", albums}})}},
                          QJsonObject{{"code", 200}, {"body", text(covers)}}};
  return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}

class Delegate : public QObject, public QSDataSourceDelegate {
  Q_OBJECT
 public:
  int in = 0;
  int out = 0;
  QList<int> statuses;
  QStringList errors;
  void itemsAreAvailable(QSDataSource*, int status) override { statuses << status; }
  void dataErrorOccurred(QSDataSource*, const QString& message, QWidget*) override {
    errors << message;
  }
 public slots:
  void loggedIn() { ++in; }
  void loggedOut() { ++out; }
};

struct Fixture {
  QTemporaryDir folder;
  FakeHttpServer server;
  std::unique_ptr<SettingsStore> settings;
  QNetworkAccessManager network;
  std::unique_ptr<QSFacebook> facebook;
  Delegate delegate;
  QList<QUrl> browser;
  QList<int> results;
  QList<qint64> progress;

  explicit Fixture(const QString& permissions = "user_photos,publish_actions", bool retired = false,
                   const QString& appId = "424242", int timeoutMs = 5000) {
    server.listen();
    server.setHandler("/me/photos", [](const RecordedRequest&) {
      return ScriptedResponse::json(200, R"({"id": "1001", "post_id": "9_1001"})");
    });
    server.setHandler("/oauth/access_token", [](const RecordedRequest&) {
      return ScriptedResponse::json(200, QJsonDocument(QJsonObject{{"access_token", kNewToken},
                                                                   {"token_type", "bearer"},
                                                                   {"expires_in", 5183944}})
                                             .toJson());
    });
    settings = std::make_unique<SettingsStore>(folder.filePath("settings.json"));
    if (!permissions.isNull()) {
      settings->setObject(kToken, FacebookSession::kAccessTokenKey);
      settings->setObject(permissions, FacebookSession::kPermissionsKey);
    }
    FacebookConfig config;
    config.appId = appId;
    config.graphUrl = server.url().resolved(QUrl("/"));
    config.dialogUrl = server.url().resolved(QUrl("/dialog/oauth"));
    config.timeoutMs = timeoutMs;
    config.grantsRetiredPermissions = !retired;
    facebook = std::make_unique<QSFacebook>(
        config, new TokenStore(*settings, TokenStore::Backend::FileOnly), &network);
    facebook->setBrowserOpener([this](const QUrl& url) {
      browser << url;
      return true;
    });
    facebook->setDelegate(&delegate);
    facebook->session();
    if (!permissions.isNull()) QTRY_VERIFY(facebook->isLoggedIn());
  }

  void upload(const QVariantMap& attributes = {}, QSFacebookAlbum* album = nullptr) {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    facebook->setUploadProgressBlock([this](qint64 sent, qint64 total) {
      QVERIFY(sent <= total);
      progress << sent;
    });
    facebook->uploadImage(image, album, "unused title", "Check out my Duoscope photo", attributes,
                          [this](int result) { results << result; });
  }
  /// Waits for the completion, then a little longer for a second one that must not come.
  int finish() {
    [&] { QTRY_VERIFY_WITH_TIMEOUT(!results.isEmpty(), 10000); }();
    QTest::qWait(50);
    [&] { QCOMPARE(results.size(), 1); }();
    [&] { QVERIFY(!facebook->isUploading()); }();
    return results.value(0, -1);
  }
  QString stored(const char* key) const {
    return SettingsStore(settings->filePath()).objectForKey(key).toString();
  }
  /// Completes the dialog the client opened last, as the browser would through the callback.
  bool returnFromBrowser(const QString& query) {
    const QString state = QUrlQuery(browser.last()).queryItemValue("state");
    return facebook->handleOpenURL(QUrl("fb424242://authorize?" + query + "&state=" + state));
  }
};


}  // namespace facebook_test
using namespace facebook_test;
