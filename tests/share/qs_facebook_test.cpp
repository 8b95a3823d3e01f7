// The Facebook client against a fake Graph service on 127.0.0.1: sign-in with PKCE, the album
// loader's batch requests and paging, the photo post, the publishing permission and faults.
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
#include "log_capture.h"
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

namespace {

const QString kToken = QStringLiteral("EAAG-token-Vx93-secret");
const QString kNewToken = QStringLiteral("EAAG-renewed-Qb17-secret");
// Written without two slashes in a row: moc (6.4) mistakes them in a test slot for a comment.
const QString kCdn =
    QStringLiteral("https:") + QString(2, QLatin1Char('/')) + QStringLiteral("cdn.test/");
const QString kError = QString::fromLatin1(QSFacebookPhotosDataSource::kErrorMessage);


/// A form body's fields, decoded.
QHash<QString, QString> formOf(const RecordedRequest& request) {
  QHash<QString, QString> fields;
  for (const QByteArray& field : request.body.split('&')) {
    const qsizetype equals = field.indexOf('=');
    fields.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(field.left(equals))),
                  QString::fromUtf8(QByteArray::fromPercentEncoding(field.mid(equals + 1))));
  }
  return fields;
}

/// The parts of a multipart body by name: their headers and contents.
QHash<QByteArray, QPair<QByteArray, QByteArray>> partsOf(const RecordedRequest& request) {
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
QByteArray albumPage(int page, int total, const std::function<QString(int)>& name,
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

}  // namespace

class QSFacebookTest : public QObject {
  Q_OBJECT

 private:
  test::LogCapture m_log;

 private slots:
  // A picker leaves its screen half a second after a choice; that step must have run before
  // the application goes, or its pending task is never freed.
  void cleanupTestCase() { QTest::qWait(600); }

  void init() { m_log.start(); }
  void cleanup() {
    m_log.stop();
    const QString leaked = test::LogCapture::lineWithAny({kToken, kNewToken});
    QVERIFY2(leaked.isEmpty(), qPrintable("a token in the log: " + leaked));
  }

  void signInUsesPkceAndAcceptsOnlyItsOwnCallback() {
    Fixture f(QString{});
    QVERIFY(!f.facebook->isLoggedIn());
    f.facebook->login();
    QTRY_COMPARE(f.browser.size(), 1);
    const QUrlQuery dialog(f.browser[0]);
    QCOMPARE(f.browser[0].path(), QString("/dialog/oauth"));
    QCOMPARE(dialog.queryItemValue("client_id"), QString("424242"));
    QCOMPARE(dialog.queryItemValue("redirect_uri", QUrl::FullyDecoded),
             QString("fb424242://authorize"));
    QCOMPARE(dialog.queryItemValue("scope", QUrl::FullyDecoded),
             QString("read_stream,user_photos,read_friendlists"));
    QCOMPARE(dialog.queryItemValue("code_challenge_method"), QString("S256"));
    const QByteArray verifier = f.facebook->session()->authorizationFlow()->codeVerifier();
    QCOMPARE(dialog.queryItemValue("code_challenge").toLatin1(), Pkce::challengeFor(verifier));

    const QString state = dialog.queryItemValue("state");
    for (const QString& foreign :
         {"fb999://authorize?code=x&state=" + state, "db-424242://authorize?code=x&state=" + state,
          "https://evil.test/authorize?code=x&state=" + state})
      QVERIFY2(!f.facebook->handleOpenURL(QUrl(foreign)), qPrintable(foreign));
    QVERIFY(f.returnFromBrowser("code=AUTHCODE"));
    QTRY_COMPARE(f.delegate.in, 1);
    QVERIFY(f.facebook->isLoggedIn());
    const auto exchange = f.server.requestsTo("/oauth/access_token");
    QCOMPARE(exchange.size(), 1);
    QCOMPARE(formOf(exchange[0]).value("code_verifier").toLatin1(), verifier);
    QCOMPARE(formOf(exchange[0]).value("code"), QString("AUTHCODE"));
    QTRY_COMPARE(f.stored(FacebookSession::kAccessTokenKey), kNewToken);

    // Requests now carry the token; a second login only repeats the notice.
    f.facebook->getFriendList({});
    QTRY_COMPARE(f.server.requestsTo("/me/friendlists").size(), 1);
    QCOMPARE(f.server.requestsTo("/me/friendlists")[0].headers.value("authorization"),
             "OAuth " + kNewToken.toUtf8());
    f.facebook->login();
    QCOMPARE(f.delegate.in, 2);
    QCOMPARE(f.browser.size(), 1);

    f.facebook->logout();
    QCOMPARE(f.delegate.out, 1);
    QVERIFY(!f.facebook->isLoggedIn());
    QTRY_VERIFY(f.stored(FacebookSession::kAccessTokenKey).isEmpty());
  }

  void signInThatEndsWithoutATokenSignsOut_data() {
    QTest::addColumn<QString>("callback");
    QTest::addColumn<int>("tokenStatus");
    QTest::addColumn<int>("alerts");
    QTest::newRow("refused in the dialog: no alert") << "error=access_denied" << 200 << 0;
    QTest::newRow("token endpoint fault: an alert") << "code=C1" << 500 << 1;
  }
  void signInThatEndsWithoutATokenSignsOut() {
    QFETCH(QString, callback);
    QFETCH(int, tokenStatus);
    QFETCH(int, alerts);
    Fixture f(QString{});
    f.server.enqueue("/oauth/access_token", ScriptedResponse::json(tokenStatus, "{}"));
    QSignalSpy alert(f.facebook.get(), &QSFacebook::alertRequested);
    f.facebook->login();
    QTRY_COMPARE(f.browser.size(), 1);
    QVERIFY(f.returnFromBrowser(callback));
    QTRY_COMPARE(f.delegate.out, 1);
    QCOMPARE(f.delegate.in, 0);
    QCOMPARE(alert.size(), alerts);
    if (alerts) QCOMPARE(alert[0][0].toString(), QString("Error"));
    QVERIFY(!f.facebook->isLoggedIn());
  }

  void storedTokenOpensWithoutTheBrowserUnlessExpired_data() {
    QTest::addColumn<int>("daysLeft");
    QTest::newRow("valid") << 30;
    QTest::newRow("expired") << -1;
  }
  void storedTokenOpensWithoutTheBrowserUnlessExpired() {
    QFETCH(int, daysLeft);
    QTemporaryDir folder;
    SettingsStore settings(folder.filePath("settings.json"));
    settings.setObject(kToken, FacebookSession::kAccessTokenKey);
    settings.setObject(QDateTime::currentDateTimeUtc().addDays(daysLeft).toString(Qt::ISODate),
                       FacebookSession::kExpirationKey);
    FacebookConfig config;
    config.appId = "424242";
    config.graphUrl = config.dialogUrl = QUrl("http://127.0.0.1:9/");
    QNetworkAccessManager network;
    QSFacebook facebook(config, new TokenStore(settings, TokenStore::Backend::FileOnly), &network);
    QList<QUrl> browser;
    facebook.setBrowserOpener([&](const QUrl& url) {
      browser << url;
      return true;
    });
    Delegate delegate;
    facebook.setDelegate(&delegate);
    // Signing in at once, while the stored token is still being read, finds it all the same.
    facebook.session();
    facebook.login();
    if (daysLeft > 0) {
      QTRY_COMPARE(delegate.in, 1);
      QVERIFY(browser.isEmpty());
    } else {
      QTRY_COMPARE(browser.size(), 1);
      QVERIFY(!facebook.isLoggedIn());
    }
  }

  void withoutAnAppIdNothingIsAttempted() {
    Fixture f(QString{}, false, QString());
    QSignalSpy alerts(f.facebook.get(), &QSFacebook::alertRequested);
    f.facebook->login();
    QTRY_COMPARE(f.delegate.out, 1);
    QCOMPARE(alerts.size(), 1);
    QVERIFY(alerts[0][1].toString().contains("not set up"));
    f.upload();
    QCOMPARE(f.finish(), 1);
    QVERIFY(f.facebook->uploadErrorMessage().contains("not set up"));
    QVERIFY(f.browser.isEmpty());
    QVERIFY(f.server.requests().isEmpty());
  }

  void albumBatchAsksForAPageAndItsCovers() {
    Fixture f;
    f.server.setHandler("/me", [page = 0](const RecordedRequest&) mutable {
      return ScriptedResponse::json(200,
                                    albumPage(page++, 3, [](int i) { return QString::number(i); }));
    });
    f.facebook->getAlbums([](const QList<QSFacebookAlbum*>&, int) {});
    QTRY_COMPARE(f.server.requestsTo("/me").size(), 1);
    const RecordedRequest sent = f.server.requestsTo("/me")[0];
    QCOMPARE(sent.method, QByteArray("POST"));
    QCOMPARE(sent.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
    const auto form = formOf(sent);
    QCOMPARE(form.size(), 2);
    QCOMPARE(form.value("access_token"), kToken);
    const QJsonArray expected = QJsonDocument::fromJson(R"([
      {"method": "GET", "name": "get-albums", "omit_response_on_success": false,
       "relative_url": "me/albums?offset=0&limit=25&fields=id,name,cover_photo,count"},
      {"method": "GET",
       "relative_url": "?ids={result=get-albums:$.data.*.cover_photo}&fields=picture,width,height,images"}
    ])")
                                    .array();
    QCOMPARE(QJsonDocument::fromJson(form.value("batch").toUtf8()).array(), expected);
  }

  void albumsArePagedUpToTheCap_data() {
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("kept");
    QTest::addColumn<int>("partial");  // pages announced with more to follow
    QTest::newRow("one short page") << 3 << 1 << 3 << 0;
    QTest::newRow("exactly 25: an empty second page ends it") << 25 << 2 << 25 << 1;
    QTest::newRow("26") << 26 << 2 << 26 << 1;
    QTest::newRow("the cap stops a full last page") << 1010 << 40 << 1000 << 40;
  }
  void albumsArePagedUpToTheCap() {
    QFETCH(int, total);
    QFETCH(int, requests);
    QFETCH(int, kept);
    QFETCH(int, partial);
    Fixture f;
    f.server.setHandler("/me", [total, page = 0](const RecordedRequest&) mutable {
      return ScriptedResponse::json(200, albumPage(page++, total, [](int i) {
                                      return QString("Album %1").arg(i, 4, 10, QChar('0'));
                                    }));
    });
    QSFacebookPhotosDataSource* source = f.facebook->photosDataSource();
    source->setDelegate(&f.delegate);
    source->getItems();
    QTRY_VERIFY_WITH_TIMEOUT(f.delegate.statuses.contains(2), 20000);
    QCOMPARE(f.server.requestsTo("/me").size(), requests);
    QCOMPARE(source->numberOfItems(), kept);
    QCOMPARE(f.delegate.statuses.count(1), partial);
    QVERIFY(!source->isGettingItems());
    // The list stays: asking again answers at once, without a request.
    source->getItems();
    QTRY_COMPARE(f.delegate.statuses.last(), 0);
    QCOMPARE(f.server.requestsTo("/me").size(), requests);
  }

  void albumPickerListSortsAndPreselectsTheOwnAlbum_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("sorted");
    QTest::addColumn<int>("selected");
    QTest::newRow("own album added in its sorted place")
        << QStringList{"Zoo", "Beach"} << QStringList{"Beach", "Duoscope Photos", "Zoo"} << 1;
    QTest::newRow("existing own album not added twice")
        << QStringList{"Duoscope Photos", "Alps", "Duoscope photos"}
        << QStringList{"Alps", "Duoscope Photos", "Duoscope photos"} << 1;
  }
  void albumPickerListSortsAndPreselectsTheOwnAlbum() {
    QFETCH(QStringList, names);
    QFETCH(QStringList, sorted);
    QFETCH(int, selected);
    Fixture f;
    f.server.setHandler("/me", [names, page = 0](const RecordedRequest&) mutable {
      return ScriptedResponse::json(
          200, albumPage(page++, names.size(), [names](int i) { return names[i]; }));
    });
    QStringList got;
    int index = -1;
    f.facebook->getAlbums([&](const QList<QSFacebookAlbum*>& albums, int at) {
      for (const QSFacebookAlbum* album : albums) got << album->name();
      index = at;
    });
    QTRY_COMPARE(got, sorted);
    QCOMPARE(index, selected);
  }

  void noAlbumsMeansNoAnswer() {
    Fixture f;
    f.server.setHandler("/me", [page = 0](const RecordedRequest&) mutable {
      return ScriptedResponse::json(200, albumPage(page++, 0, [](int) { return QString(); }));
    });
    bool called = false;
    f.facebook->getAlbums([&](const QList<QSFacebookAlbum*>&, int) { called = true; });
    QTRY_VERIFY(!f.facebook->photosDataSource()->isGettingItems());
    QTest::qWait(50);
    QVERIFY(!called);
  }

  void unreadableAnswersAreAskedThreeTimes_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::newRow("not JSON") << QByteArray("<html>") << 200;
    QTest::newRow("truncated") << QByteArray("[{\"code\":200,\"body\":\"{\\\"data\\\":[") << 200;
    QTest::newRow("one answer") << QByteArray("[{\"code\":200,\"body\":\"{\\\"data\\\":[]}\"}]")
                                << 200;
    QTest::newRow("body not a string")
        << QByteArray(R"([{"body":{"data":[]}},{"body":"{}"}])") << 200;
    QTest::newRow("no data array") << QByteArray(R"([{"body":"{}"},{"body":"{}"}])") << 200;
    QTest::newRow("server fault") << QByteArray(R"({"error":{"message":"x","code":1}})") << 500;
  }
  void unreadableAnswersAreAskedThreeTimes() {
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    Fixture f;
    f.server.setHandler(
        "/me", [&](const RecordedRequest&) { return ScriptedResponse::json(status, body); });
    QSFacebookPhotosDataSource* source = f.facebook->photosDataSource();
    source->setDelegate(&f.delegate);
    source->getItems();
    QTRY_COMPARE(f.delegate.errors, QStringList{kError});
    QTest::qWait(100);
    QCOMPARE(f.server.requestsTo("/me").size(), 3);
    QCOMPARE(f.delegate.errors.size(), 1);
    QVERIFY(!source->isGettingItems());
  }

  void aGoodThirdAttemptStillLoads() {
    Fixture f;
    f.server.enqueue("/me", ScriptedResponse::json(200, "{"));
    f.server.enqueue("/me", ScriptedResponse::json(200, "[]"));
    f.server.setHandler("/me", [page = 0](const RecordedRequest&) mutable {
      return ScriptedResponse::json(200,
                                    albumPage(page++, 2, [](int i) { return QString::number(i); }));
    });
    QSFacebookPhotosDataSource* source = f.facebook->photosDataSource();
    source->setDelegate(&f.delegate);
    source->getItems();
    QTRY_COMPARE(f.delegate.statuses, QList<int>{2});
    QCOMPARE(source->numberOfItems(), 2);
    QVERIFY(f.delegate.errors.isEmpty());
  }

  void transportFailuresAreReportedAtOnce_data() {
    QTest::addColumn<int>("behaviour");
    QTest::newRow("stops mid-response") << int(ScriptedResponse::Behaviour::CloseMidResponse);
    QTest::newRow("never answers") << int(ScriptedResponse::Behaviour::Hang);
  }
  void transportFailuresAreReportedAtOnce() {
    QFETCH(int, behaviour);
    Fixture f("user_photos", false, "424242", 300);
    ScriptedResponse broken = ScriptedResponse::json(200, QByteArray(4000, ' ') + "[]");
    broken.behaviour = ScriptedResponse::Behaviour(behaviour);
    f.server.setHandler("/me", [broken](const RecordedRequest&) { return broken; });
    QSFacebookPhotosDataSource* source = f.facebook->photosDataSource();
    source->setDelegate(&f.delegate);
    source->getItems();
    QTRY_COMPARE(f.delegate.errors, QStringList{kError});
    QCOMPARE(f.server.requestsTo("/me").size(), 1);
  }

  void coverPicturesFollowTheSizeAndTokenRules_data() {
    struct Image {
      int width, height;
      const char* name;
    };
    const auto images = [](std::initializer_list<Image> list) {
      QJsonArray array;
      for (const Image& i : list)
        array.append(QJsonObject{
            {"width", i.width}, {"height", i.height}, {"source", kCdn + i.name + ".jpg"}});
      return QJsonDocument(array).toJson();
    };
    QTest::addColumn<QByteArray>("images");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("cover");
    const QString token = "access_token=" + kToken;
    QTest::newRow("smallest big enough, earlier on a tie")
        << images({{720, 540, "l"}, {100, 100, "a"}, {100, 100, "b"}, {74, 900, "narrow"}})
        << kCdn + "p.jpg" << kCdn + "a.jpg?" + token;
    QTest::newRow("none big enough: the picture")
        << images({{60, 60, "s"}}) << kCdn + "p.jpg" << kCdn + "p.jpg?" + token;
    QTest::newRow("a query is joined with &")
        << QByteArray("[]") << kCdn + "p.jpg?oh=1" << kCdn + "p.jpg?oh=1&" + token;
    QTest::newRow("signed by the service: left alone")
        << QByteArray("[]") << kCdn + "p.jpg?__gda__=1_ab" << kCdn + "p.jpg?__gda__=1_ab";
  }
  void coverPicturesFollowTheSizeAndTokenRules() {
    QFETCH(QByteArray, images);
    QFETCH(QString, picture);
    QFETCH(QString, cover);
    Fixture f;
    f.server.setHandler("/me", [&](const RecordedRequest&) {
      const QJsonObject entry{{"picture", picture},
                              {"width", 720},
                              {"height", 540},
                              {"images", QJsonDocument::fromJson(images).array()}};
      const QString albums = R"({"data":[{"id":"a1","name":"A","cover_photo":"c1","count":2},
                                          {"id":"a2","name":"Empty","cover_photo":"c1","count":0},
                                          {"id":"a3","name":"Uncovered","count":4},
                                          {"id":"a4","name":"Unknown cover","cover_photo":"c9","count":4}]})";
      const QJsonArray answer{
          QJsonObject{{"body", albums}},
          QJsonObject{{"body", QString(QJsonDocument(QJsonObject{{"c1", entry}}).toJson())}}};
      return ScriptedResponse::json(200, QJsonDocument(answer).toJson());
    });
    QSFacebookPhotosDataSource* source = f.facebook->photosDataSource();
    source->setDelegate(&f.delegate);
    source->getItems();
    QTRY_COMPARE(f.delegate.statuses, QList<int>{2});
    QCOMPARE(source->numberOfItems(), 1);  // no photos, no cover, unknown cover: left out
    QCOMPARE(source->albumAt(0)->coverPhoto(), cover);
    QCOMPARE(source->albumAt(0)->size(), QSizeF(720, 540));
    QVERIFY(!source->albumAt(0)->description().contains(kToken));
  }

  void albumPhotosArePagedFiftyAtATime() {
    Fixture f;
    f.server.setHandler("/a7/photos", [page = 0](const RecordedRequest&) mutable {
      QJsonArray photos;
      for (int i = 0; i < (page == 0 ? 50 : 2); ++i)
        photos.append(QJsonObject{{"id", QString("p%1").arg(page * 50 + i)},
                                  {"picture", kCdn + "t.jpg?__gda__=x"},
                                  {"source", kCdn + "s.jpg"},
                                  {"width", 800},
                                  {"height", 600},
                                  {"created_time", "2013-05-01T10:00:00+0000"}});
      ++page;
      return ScriptedResponse::json(200, QJsonDocument(QJsonObject{{"data", photos}}).toJson());
    });
    QSFacebookAlbum album(QJsonObject{{"id", "a7"}, {"name", "Trips"}},
                          f.facebook->facebookClient(), kToken);
    album.setDelegate(&f.delegate);
    album.getItems();
    QTRY_COMPARE(f.delegate.statuses, (QList<int>{1, 2}));
    QCOMPARE(album.numberOfItems(), 52);
    const auto asked = f.server.requestsTo("/a7/photos");
    QCOMPARE(QUrlQuery(QUrl(asked[1].target)).queryItemValue("offset"), QString("50"));
    QCOMPARE(QUrlQuery(QUrl(asked[1].target)).queryItemValue("limit"), QString("50"));
    auto* photo = static_cast<QSFacebookPhoto*>(album.itemForIndex(51));
    QCOMPARE(photo->photoID(), QString("p51"));
    QCOMPARE(photo->picture(), kCdn + "t.jpg?__gda__=x");
    QCOMPARE(photo->source(), kCdn + "s.jpg?access_token=" + kToken);
    QCOMPARE(photo->date(), QDateTime(QDate(2013, 5, 1), QTime(10, 0), Qt::UTC));
  }

  void postSendsTheImageCaptionAndAudienceAsMultipart_data() {
    QTest::addColumn<QString>("albumID");
    QTest::addColumn<QString>("audience");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("privacy");
    QTest::newRow("default album, default audience")
        << ""
        << "" << QByteArray("/me/photos") << QByteArray(R"({"value":"EVERYONE"})");
    QTest::newRow("chosen album and friend list")
        << "A77"
        << "ALL_FRIENDS" << QByteArray("/A77/photos") << QByteArray(R"({"value":"ALL_FRIENDS"})");
  }
  void postSendsTheImageCaptionAndAudienceAsMultipart() {
    QFETCH(QString, albumID);
    QFETCH(QString, audience);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, privacy);
    Fixture f;
    f.server.setHandler("/A77/photos", [](const RecordedRequest&) {
      return ScriptedResponse::json(200, R"({"id": "1002"})");
    });
    QSFacebookAlbum album(QJsonObject{{"id", albumID}, {"name", "Trips"}}, nullptr, QString());
    QVariantMap attributes;
    if (!audience.isEmpty()) attributes.insert(QSFacebook::kAudienceKey, audience);
    f.upload(attributes, &album);
    QCOMPARE(f.finish(), 0);
    const auto sent = f.server.requestsTo(path);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].headers.value("authorization"), "OAuth " + kToken.toUtf8());
    const auto parts = partsOf(sent[0]);
    QCOMPARE(parts.keys().size(), 3);
    QCOMPARE(parts.value("privacy").second, privacy);
    QCOMPARE(parts.value("caption").second, QByteArray("Check out my Duoscope photo"));
    QVERIFY(parts.value("picture").first.contains("Content-Type: image/jpeg"));
    QCOMPARE(QImage::fromData(parts.value("picture").second, "JPEG").size(), QSize(64, 48));
    QVERIFY(!f.progress.isEmpty());
    for (int i = 1; i < f.progress.size(); ++i) QVERIFY(f.progress[i - 1] <= f.progress[i]);
    QCOMPARE(f.progress.last(), sent[0].bodyBytes);
  }

  void refusedPublishingPermissionIsResultTwo_data() {
    QTest::addColumn<QString>("callback");
    QTest::addColumn<QByteArray>("permissions");
    QTest::newRow("refused in the dialog") << "error=access_denied" << QByteArray();
    QTest::newRow("unticked in the dialog")
        << "code=C2"
        << QByteArray(R"({"data":[{"permission":"publish_actions","status":"declined"}]})");
  }
  void refusedPublishingPermissionIsResultTwo() {
    QFETCH(QString, callback);
    QFETCH(QByteArray, permissions);
    Fixture f("user_photos");
    f.server.setHandler("/me/permissions", [permissions](const RecordedRequest&) {
      return ScriptedResponse::json(200, permissions);
    });
    f.upload();
    QTRY_COMPARE(f.browser.size(), 1);
    const QUrlQuery dialog(f.browser[0]);
    QCOMPARE(dialog.queryItemValue("scope"), QString("publish_actions"));
    QCOMPARE(dialog.queryItemValue("auth_type"), QString("rerequest"));
    QVERIFY(f.returnFromBrowser(callback));
    QCOMPARE(f.finish(), 2);
    QVERIFY(f.server.requestsTo("/me/photos").isEmpty());
  }

  void grantedPublishingPermissionPostsWithTheNewToken() {
    Fixture f("user_photos");
    f.server.setHandler("/me/permissions", [](const RecordedRequest&) {
      return ScriptedResponse::json(
          200, R"({"data":[{"permission":"publish_actions","status":"granted"}]})");
    });
    f.upload();
    QTRY_COMPARE(f.browser.size(), 1);
    QVERIFY(f.returnFromBrowser("code=C3"));
    QCOMPARE(f.finish(), 0);
    QCOMPARE(f.server.requestsTo("/me/photos").value(0).headers.value("authorization"),
             "OAuth " + kNewToken.toUtf8());
    QVERIFY(f.facebook->hasPublishPermissions());
  }

  void theRealServiceSaysPostingIsNoLongerAllowed() {
    Fixture f("user_photos", true);
    f.upload();
    QCOMPARE(f.finish(), 2);
    QCOMPARE(f.facebook->uploadErrorMessage(), FacebookSession::retiredPermissionMessage());
    QVERIFY(f.browser.isEmpty());
    QVERIFY(f.server.requests().isEmpty());
    // Nor does its sign-in dialog take the retired read permissions any more.
    f.facebook->logout();
    f.facebook->login();
    QTRY_COMPARE(f.browser.size(), 1);
    QCOMPARE(QUrlQuery(f.browser[0]).queryItemValue("scope"), QString("user_photos"));
    // The real addresses are known as such.
    qunsetenv("DUOSCOPE_FACEBOOK_GRAPH_URL");
    QVERIFY(!FacebookConfig::fromEnvironment().grantsRetiredPermissions);
  }

  void faultsFailOnceAndLeaveNothingRunning_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<bool>("signedOut");
    const int respond = int(ScriptedResponse::Behaviour::Respond);
    const QByteArray expired =
        R"({"error":{"message":"Session has expired","type":"OAuthException","code":190}})";
    QTest::newRow("401") << 401 << QByteArray("{}") << respond << true;
    QTest::newRow("token rejected mid-session") << 400 << expired << respond << true;
    QTest::newRow("403") << 403
                         << QByteArray(R"({"error":{"message":"Permissions error","code":200}})")
                         << respond << false;
    QTest::newRow("500") << 500 << QByteArray("oops") << respond << false;
    QTest::newRow("malformed JSON") << 200 << QByteArray("{\"id\":") << respond << false;
    QTest::newRow("no id") << 200 << QByteArray("{}") << respond << false;
    QTest::newRow("stops mid-response")
        << 200 << QByteArray(2000, ' ') + "{\"id\":\"1\"}"
        << int(ScriptedResponse::Behaviour::CloseMidResponse) << false;
    QTest::newRow("time-out") << 200 << QByteArray() << int(ScriptedResponse::Behaviour::Hang)
                              << false;
  }
  void faultsFailOnceAndLeaveNothingRunning() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, behaviour);
    QFETCH(bool, signedOut);
    Fixture f("user_photos,publish_actions", false, "424242", 300);
    ScriptedResponse response = ScriptedResponse::json(status, body);
    response.behaviour = ScriptedResponse::Behaviour(behaviour);
    f.server.enqueue("/me/photos", response);
    f.upload();
    QCOMPARE(f.finish(), 1);
    QCOMPARE(f.delegate.out, signedOut ? 1 : 0);
    QCOMPARE(f.facebook->isLoggedIn(), !signedOut);
    if (signedOut) QTRY_VERIFY(f.stored(FacebookSession::kAccessTokenKey).isEmpty());
    QVERIFY(!f.facebook->uploadErrorMessage().contains(kToken));
  }

  void connectionRefusedFailsOnce() {
    Fixture f;
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const quint16 port = closed.serverPort();
    closed.close();
    FacebookConfig config;
    config.appId = "424242";
    config.graphUrl = QUrl(QString("http://127.0.0.1:%1/").arg(port));
    config.grantsRetiredPermissions = true;
    f.facebook = std::make_unique<QSFacebook>(
        config, new TokenStore(*f.settings, TokenStore::Backend::FileOnly), &f.network);
    QTRY_VERIFY(f.facebook->session()->isOpen());
    f.upload();
    QCOMPARE(f.finish(), 1);
  }

  void cancelHalfwayReportsNothing() {
    Fixture f;
    ScriptedResponse stall;
    stall.behaviour = ScriptedResponse::Behaviour::StallUpload;
    stall.stallAfterBytes = 100000;
    f.server.enqueue("/me/photos", stall);
    f.facebook->cancelUpload();  // nothing running: nothing happens
    QImage big(1200, 900, QImage::Format_RGB32);
    for (int y = 0; y < big.height(); ++y)
      for (int x = 0; x < big.width(); ++x) big.setPixel(x, y, qRgb(x * 7, y * 13, x ^ y));
    f.facebook->setUploadProgressBlock([&](qint64 sent, qint64) { f.progress << sent; });
    f.facebook->uploadImage(big, nullptr, {}, "c", {}, [&](int r) { f.results << r; });
    QTRY_VERIFY(!f.progress.isEmpty() && f.progress.last() > 0);
    QVERIFY(f.facebook->isUploading());
    f.facebook->cancelUpload();
    QVERIFY(!f.facebook->isUploading());
    QTest::qWait(300);
    QVERIFY(f.results.isEmpty());
    // The next upload runs normally.
    f.upload();
    QCOMPARE(f.finish(), 0);
  }

  void cancellingEverythingLeavesNothingWaiting() {
    Fixture f;
    ScriptedResponse hang;
    hang.behaviour = ScriptedResponse::Behaviour::Hang;
    f.server.enqueue("/me/photos", hang);
    f.server.enqueue("/me", hang);
    f.upload();
    QSFacebookPhotosDataSource* source = f.facebook->photosDataSource();
    source->setDelegate(&f.delegate);
    source->getItems();
    QTRY_COMPARE(f.server.requests().size(), 2);
    f.facebook->cancelAllFacebookOperations();
    QVERIFY(!f.facebook->isUploading());
    QVERIFY(!source->isGettingItems());
    QTest::qWait(100);
    QVERIFY(f.results.isEmpty() && f.delegate.statuses.isEmpty() && f.delegate.errors.isEmpty());
    // Both start again normally.
    f.server.setHandler("/me", [page = 0](const RecordedRequest&) mutable {
      return ScriptedResponse::json(200, albumPage(page++, 1, [](int) { return QString("A"); }));
    });
    source->getItems();
    QTRY_COMPARE(f.delegate.statuses, QList<int>{2});
    f.upload();
    QCOMPARE(f.finish(), 0);
  }

  void friendListsComeInAnswerOrder() {
    Fixture f;
    f.server.enqueue("/me/friendlists", ScriptedResponse::json(200, R"({"data":[
        {"id":"11","name":"Close Friends","list_type":"close_friends"},
        "junk", {"id":"12","name":"Family","list_type":"family"}]})"));
    f.server.enqueue("/me/friendlists", ScriptedResponse::json(400, R"({"error":{"code":10}})"));
    QList<QSFacebookFriendList> first;
    QList<QSFacebookFriendList> second{QSFacebookFriendList("x", "x", "x")};
    f.facebook->getFriendList([&](const QList<QSFacebookFriendList>& lists) { first = lists; });
    QTRY_COMPARE(first.size(), 2);
    QCOMPARE(first[1], QSFacebookFriendList("12", "Family", "family"));
    f.facebook->getFriendList([&](const QList<QSFacebookFriendList>& lists) { second = lists; });
    QTRY_VERIFY(second.isEmpty());
  }

  void albumPickerChecksTheCurrentAlbumAndShowsCovers_data() {
    QTest::addColumn<QString>("current");  // "-": no choice yet
    QTest::addColumn<int>("checked");
    QTest::newRow("an album of the account") << "a1" << 0;
    QTest::newRow("no choice yet: the default album") << "-" << 1;
  }
  void albumPickerChecksTheCurrentAlbumAndShowsCovers() {
    QFETCH(QString, current);
    QFETCH(int, checked);
    Fixture f;
    const QString cdn = f.server.url().resolved(QUrl("/cdn/")).toString();
    f.server.setHandler("/me", [cdn, page = 0](const RecordedRequest&) mutable {
      const QStringList names{"Zoo", "Beach"};
      return ScriptedResponse::json(200, albumPage(
                                             page++, 2, [names](int i) { return names[i]; }, cdn));
    });
    QImage red(130, 98, QImage::Format_RGB32);
    red.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    red.save(&buffer, "PNG");
    f.server.setHandler("/cdn/c1.jpg", [png](const RecordedRequest&) {
      ScriptedResponse response;
      response.body = png;
      return response;
    });
    QSFacebookAlbum chosenBefore(QJsonObject{{"id", current}}, nullptr, QString());
    QSFacebookAlbumsViewController picker(current == "-" ? nullptr : &chosenBefore,
                                          f.facebook.get());
    QCOMPARE(picker.title(), QString("Choose Album"));
    picker.view();
    QTRY_COMPARE(picker.numberOfRows(), 3);
    QCOMPARE(picker.rows()[1].text, QString("Duoscope Photos"));
    QCOMPARE(picker.checkedRow(), checked);
    // Beach's cover comes from its URL, token and all; Zoo's cannot be had and stays empty.
    QTRY_VERIFY(!picker.rows()[0].image.isNull());
    QCOMPARE(picker.rows()[0].image.pixelColor(10, 10), QColor(Qt::red));
    QCOMPARE(f.server.requestsTo("/cdn/c1.jpg").value(0).target,
             "/cdn/c1.jpg?access_token=" + kToken.toUtf8());
    QSFacebookAlbum* chosen = nullptr;
    picker.setCompletion([&](QSFacebookAlbum* album) { chosen = album; });
    QTest::mouseClick(picker.rowWidget(2), Qt::LeftButton);
    QVERIFY(chosen);
    QCOMPARE(chosen->albumID(), QString("a0"));
    QCOMPARE(picker.checkedRow(), 2);
  }

  void audiencePickerOffersTheStandardAudiencesAndTheUsersLists() {
    Fixture f;
    f.server.enqueue("/me/friendlists", ScriptedResponse::json(200, R"({"data":[
        {"id":"11","name":"Close Friends","list_type":"close_friends"}]})"));
    QSFacebookAudienceViewController picker(QSFacebookFriendList("1", "Friends", "ALL_FRIENDS"),
                                            f.facebook.get());
    QCOMPARE(picker.title(), QString("Audience"));
    picker.view();
    QCOMPARE(picker.numberOfRows(), 3);
    QTRY_COMPARE(picker.numberOfRows(), 4);
    QStringList texts;
    for (const TableRow& row : picker.rows()) texts << row.text;
    QCOMPARE(texts, (QStringList{"Public", "Friends", "Only Me", "Close Friends"}));
    QCOMPARE(picker.checkedRow(), 1);
    QCOMPARE(picker.preferredContentSize().height(), 282);
    QSFacebookFriendList chosen;
    picker.setCompletion([&](const QSFacebookFriendList& list) { chosen = list; });
    QTest::mouseClick(picker.rowWidget(2), Qt::LeftButton);
    QCOMPARE(chosen, QSFacebookFriendList("2", "Only Me", "SELF"));
  }

  void socialHoldsOneFacebookClient() {
    QSFacebook* facebook = QSSocial::sharedSocial()->facebook();
    QVERIFY(facebook);
    QCOMPARE(QSSocial::sharedSocial()->facebook(), facebook);
  }
};

int main(int argc, char** argv) {
  QTemporaryDir home;
  // The shared instance must find neither the user's settings nor a real service.
  qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
  qputenv("XDG_CACHE_HOME", home.filePath("cache").toUtf8());
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  QApplication app(argc, argv);
  QSFacebookTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qs_facebook_test.moc"
