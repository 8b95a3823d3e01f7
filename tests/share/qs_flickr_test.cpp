// The Flickr client against a fake Flickr on 127.0.0.1: OAuth 1.0a sign-in with signatures
// checked by an independent computation, photo sets, the multipart upload, faults, the photo
// loader and the two pickers.
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
#include "log_capture.h"
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

namespace {

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

}  // namespace

class QSFlickrTest : public QObject {
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
    const QString leaked = test::LogCapture::lineWithAny({kSecret, kAccess, kAccessSecret, kRequestSecret});
    QVERIFY2(leaked.isEmpty(), qPrintable("a secret in the log: " + leaked));
  }

  void signInExchangesSignedTokensAndAcceptsOnlyItsOwnCallback() {
    Fixture f(false);
    QVERIFY(!f.flickr->isLoggedIn());
    f.server.enqueue(
        "/services/oauth/request_token",
        text(200, "oauth_callback_confirmed=true&oauth_token=REQ-1&oauth_token_secret=" +
                      kRequestSecret.toLatin1()));
    QVERIFY(f.flickr->login());
    QTRY_COMPARE(f.opened.size(), 1);
    const RecordedRequest asked = f.server.requestsTo("/services/oauth/request_token").value(0);
    QVERIFY(signatureHolds(asked, f.url("/services/oauth/request_token"), {}));
    QCOMPARE(paramsOf(asked).value("oauth_callback"), "flickr" + kKey + "://authorize");
    QVERIFY(!paramsOf(asked).contains("oauth_token"));
    QCOMPARE(f.opened[0].path(), QString("/services/oauth/authorize"));
    QCOMPARE(QUrlQuery(f.opened[0]).queryItemValue("oauth_token"), QString("REQ-1"));
    QCOMPARE(QUrlQuery(f.opened[0]).queryItemValue("perms"), QString("write"));

    const QString callback = "flickr" + kKey + "://authorize";
    for (const QString& refused : QStringList{
             callback + "?oauth_token=OTHER&oauth_verifier=V", callback + "?oauth_token=REQ-1",
             "flickr0000://authorize?oauth_token=REQ-1&oauth_verifier=V",
             "flickr" + kKey + "://elsewhere?oauth_token=REQ-1&oauth_verifier=V",
             "https://evil.example/?oauth_token=REQ-1&oauth_verifier=V"})
      QVERIFY2(!f.flickr->handleOpenURL(QUrl(refused)), qPrintable(refused));
    f.server.enqueue("/services/oauth/access_token",
                     text(200, "fullname=Jane%20Roe&oauth_token=" + kAccess.toLatin1() +
                                   "&oauth_token_secret=" + kAccessSecret.toLatin1() +
                                   "&user_nsid=1234%40N00&username=jroe"));
    const QUrl accepted(callback + "?oauth_token=REQ-1&oauth_verifier=VER-9");
    QVERIFY(f.flickr->handleOpenURL(accepted));
    QVERIFY2(!f.flickr->handleOpenURL(accepted), "a callback is good for one sign-in only");
    QTRY_COMPARE(f.observer.events, QStringList{"in"});
    const RecordedRequest exchange = f.server.requestsTo("/services/oauth/access_token").value(0);
    QVERIFY(signatureHolds(exchange, f.url("/services/oauth/access_token"), kRequestSecret));
    QCOMPARE(paramsOf(exchange).value("oauth_verifier"), QString("VER-9"));
    QCOMPARE(paramsOf(exchange).value("oauth_token"), QString("REQ-1"));
    QVERIFY(f.flickr->isLoggedIn());
    QCOMPARE(f.flickr->flickrUserName(), QString("jroe"));
    QTRY_COMPARE(f.stored(QSFlickr::kOAuthTokenKey), kAccess);
    QCOMPARE(f.stored(QSFlickr::kOAuthTokenSecretKey), kAccessSecret);
    QCOMPARE(QFile::permissions(f.settings->filePath()) & 0077, QFileDevice::Permissions());

    // Signed in: login only confirms; logout forgets the stored token.
    const auto requests = f.server.requests().size();
    QVERIFY(f.flickr->login());
    QCOMPARE(f.observer.events, (QStringList{"in", "in"}));
    QCOMPARE(f.server.requests().size(), requests);
    f.flickr->logout();
    QCOMPARE(f.observer.events.last(), QString("out"));
    QVERIFY(!f.flickr->isLoggedIn());
    QTRY_VERIFY(f.stored(QSFlickr::kOAuthTokenKey).isEmpty());
  }

  void refusedTokenStepsLeaveTheClientSignedOut() {
    Fixture f(false);
    f.server.enqueue("/services/oauth/request_token",
                     text(401, "oauth_problem=signature_invalid&debug_sbs=GET&..."));
    QVERIFY(f.flickr->login());
    QTest::qWait(300);
    QVERIFY(f.opened.isEmpty());
    QVERIFY(!f.flickr->isLoggedIn());
    // The screen waiting for the sign-in hears that it is over.
    QCOMPARE(f.observer.events, QStringList{"out"});
    QVERIFY(!f.flickr->handleOpenURL(
        QUrl("flickr" + kKey + "://authorize?oauth_token=REQ-1&oauth_verifier=V")));
  }

  void storedTokenNeedsBothHalves_data() {
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("secret");
    QTest::newRow("token only") << kAccess << QString();
    QTest::newRow("secret only") << QString() << kAccessSecret;
    QTest::newRow("empty token") << "" << kAccessSecret;
  }
  void storedTokenNeedsBothHalves() {
    QFETCH(QString, token);
    QFETCH(QString, secret);
    Fixture f(false);
    if (!token.isNull()) f.settings->setObject(token, QSFlickr::kOAuthTokenKey);
    if (!secret.isNull()) f.settings->setObject(secret, QSFlickr::kOAuthTokenSecretKey);
    FlickrConfig config = f.flickr->flickrContext()->config();
    QSFlickr fresh(config, f.tokens.get(), &f.network);
    fresh.flickrContext();
    QTRY_VERIFY(fresh.isReady());
    QVERIFY(!fresh.isLoggedIn());
  }

  void withoutAKeyNothingIsSentAndUploadsFail() {
    FakeHttpServer server;
    server.listen();
    QTemporaryDir folder;
    SettingsStore settings(folder.filePath("s.json"));
    TokenStore tokens(settings, TokenStore::Backend::FileOnly);
    QNetworkAccessManager network;
    FlickrConfig config;
    config.apiUrl = config.uploadUrl = config.authUrl = server.url();
    QSFlickr flickr(config, &tokens, &network);
    QVERIFY(!flickr.isConfigured());
    QVERIFY(!flickr.login());
    QList<int> results;
    flickr.uploadImage(noise(8, 8), {}, {}, {}, {}, [&](int result) { results << result; });
    QVERIFY(results.isEmpty());  // never from inside the call
    QTRY_COMPARE(results, QList<int>{1});
    QList<QSFlickrPhotoset> sets;
    flickr.getPhotosets([&](const QList<QSFlickrPhotoset>& list) { sets = list; });
    QTRY_COMPARE(sets, QList<QSFlickrPhotoset>{QSFlickrPhotoset::none()});
    QVERIFY(server.requests().isEmpty());
  }

  void photosetsAreListedAfterNone_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<bool>("signsOut");
    QTest::newRow("two sets") << 200 << QByteArray(R"({"photosets": {"page": 1, "photoset": [
        {"id": "72157A", "title": {"_content": "Pier"}, "description": {"_content": "at dusk"}},
        {"id": "72157B", "title": {"_content": "Größe"}, "description": {"_content": ""}},
        {"title": {"_content": "no id"}}]}, "stat": "ok"})")
                              << QStringList{"None", "Pier", "Größe"} << false;
    QTest::newRow("no sets") << 200
                             << QByteArray(R"({"photosets": {"photoset": []}, "stat": "ok"})")
                             << QStringList{"None"} << false;
    QTest::newRow("truncated") << 200 << QByteArray("{\"photosets\": {\"photoset\": [{\"id\": \"7")
                               << QStringList{"None"} << false;
    QTest::newRow("photoset is no list")
        << 200 << QByteArray(R"({"photosets": {"photoset": 7}, "stat": "ok"})")
        << QStringList{"None"} << false;
    QTest::newRow("500") << 500 << QByteArray("oops") << QStringList{"None"} << false;
    QTest::newRow("token refused")
        << 200 << QByteArray(R"({"stat": "fail", "code": 98, "message": "Invalid auth token"})")
        << QStringList{"None"} << true;
  }
  void photosetsAreListedAfterNone() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, titles);
    QFETCH(bool, signsOut);
    Fixture f;
    f.server.enqueue(kRest, ScriptedResponse::json(status, body));
    QList<QSFlickrPhotoset> sets;
    bool called = false;
    f.flickr->getPhotosets([&](const QList<QSFlickrPhotoset>& list) {
      sets = list;
      called = true;
    });
    QTRY_VERIFY(called);
    QStringList got;
    for (const QSFlickrPhotoset& set : sets) got << set.title();
    QCOMPARE(got, titles);
    QCOMPARE(sets.first().photosetID(), QString("0"));
    if (titles.size() > 1) QCOMPARE(sets[1].flickrDescription(), QString("at dusk"));
    const RecordedRequest asked = f.server.requestsTo(kRest).value(0);
    QCOMPARE(asked.method, QByteArray("GET"));
    QCOMPARE(paramsOf(asked).value("method"), QString("flickr.photosets.getList"));
    QCOMPARE(paramsOf(asked).value("oauth_token"), kAccess);
    QVERIFY(signatureHolds(asked, f.url(kRest), kAccessSecret));
    QCOMPARE(f.observer.events, signsOut ? QStringList{"out"} : QStringList{});
    QCOMPARE(f.flickr->isLoggedIn(), !signsOut);
  }

  void uploadSendsItsFieldsAndAddsToTheSet_data() {
    QTest::addColumn<int>("audience");
    QTest::addColumn<QString>("photoset");  // empty: no attribute
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("flags");  // is_public, is_friend, is_family
    QTest::newRow("public, no set attribute") << 0 << ""
                                              << "Pier" << QStringList{"1", "0", "0"};
    QTest::newRow("friends, into a set") << 1 << "72157A"
                                         << "" << QStringList{"0", "1", "0"};
    QTest::newRow("family, the None set") << 2 << "0"
                                          << "Pier" << QStringList{"0", "0", "1"};
    QTest::newRow("only me") << 3 << "72157A"
                             << "Pier" << QStringList{"0", "0", "0"};
  }
  void uploadSendsItsFieldsAndAddsToTheSet() {
    QFETCH(int, audience);
    QFETCH(QString, photoset);
    QFETCH(QString, title);
    QFETCH(QStringList, flags);
    Fixture f;
    QVariantMap attributes{{kQSFlickrAudienceKey, audience}};
    if (!photoset.isEmpty())
      attributes.insert(kQSFlickrPhotosetKey,
                        QVariant::fromValue(QSFlickrPhotoset(photoset, "Set", {})));
    f.upload(noise(400, 300), attributes, title, "Seen in 3-D");
    f.finish();
    QCOMPARE(f.results.first(), 0);

    const RecordedRequest sent = f.server.requestsTo(kUpload).value(0);
    QCOMPARE(sent.method, QByteArray("POST"));
    QVERIFY(signatureHolds(sent, f.url(kUpload), kAccessSecret));
    QVERIFY(!signatureHolds(sent, f.url(kUpload), kRequestSecret));  // the check discriminates
    const QMap<QString, QString> fields = paramsOf(sent);
    QCOMPARE((QStringList{fields["is_public"], fields["is_friend"], fields["is_family"]}), flags);
    QCOMPARE(fields["tags"], QString("duoscope"));
    QCOMPARE(fields["content_type"], QString("1"));
    QCOMPARE(fields["hidden"], QString("1"));
    QCOMPARE(fields.value("title"), title);
    QCOMPARE(fields.contains("title"), !title.isEmpty());
    QCOMPARE(fields["description"], QString("Seen in 3-D"));
    const QList<Part> parts = partsOf(sent);
    const auto photo = std::find_if(parts.begin(), parts.end(),
                                    [](const Part& part) { return part.name == "photo"; });
    QVERIFY(photo != parts.end());
    QCOMPARE(photo->filename, QByteArray("Duoscope.jpg"));
    QCOMPARE(photo->contentType, QByteArray("image/jpeg"));
    QImage back;
    QVERIFY(back.loadFromData(photo->body, "JPEG"));
    QCOMPARE(back.size(), QSize(400, 300));

    const bool added = photoset == "72157A";
    const auto calls = f.server.requestsTo(kRest);
    QCOMPARE(calls.size(), added ? 1 : 0);
    if (added) {
      QCOMPARE(calls[0].method, QByteArray("POST"));
      const auto params = paramsOf(calls[0]);
      QCOMPARE(params["method"], QString("flickr.photosets.addPhoto"));
      QCOMPARE(params["photoset_id"], QString("72157A"));
      QCOMPARE(params["photo_id"], QString("4242"));
      QVERIFY(signatureHolds(calls[0], f.url(kRest), kAccessSecret));
    }
    QVERIFY(!f.progress.isEmpty());
    for (int i = 1; i < f.progress.size(); ++i)
      QVERIFY(f.progress[i - 1].first <= f.progress[i].first);
    QCOMPARE(f.progress.last().first, f.progress.last().second);
    QCOMPARE(f.progress.last().second, sent.bodyBytes);
  }

  void uploadFaultsFailOnce_data() {
    QTest::addColumn<ScriptedResponse>("response");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("signsOut");
    QTest::newRow("token rejected mid-session")
        << xml(200, R"(<rsp stat="fail"><err code="98" msg="Invalid auth token" /></rsp>)") << 1
        << true;
    QTest::newRow("401 with oauth problem")
        << text(401, "oauth_problem=token_rejected") << 1 << true;
    QTest::newRow("403") << xml(403, "<html>Forbidden</html>") << 1 << false;
    QTest::newRow("500") << text(500, "Internal Server Error") << 1 << false;
    QTest::newRow("service failure")
        << xml(200, R"(<rsp stat="fail"><err code="5" msg="Filetype was not recognised" /></rsp>)")
        << 1 << false;
    QTest::newRow("malformed") << xml(200, "<rsp stat=\"ok\"><photoid>1</rsp>") << 1 << false;
    QTest::newRow("truncated") << xml(200, "<rsp stat=\"ok\"><photoid>12") << 1 << false;
    QTest::newRow("entities refused")
        << xml(200, R"(<!DOCTYPE r [<!ENTITY a "x">]><rsp stat="ok"><photoid>&a;</photoid></rsp>)")
        << 1 << false;
    ScriptedResponse cut = xml(200, "<rsp stat=\"ok\">\n<photoid>4242</photoid>\n</rsp>\n");
    cut.behaviour = ScriptedResponse::Behaviour::CloseMidResponse;
    QTest::newRow("server stops mid-response") << cut << 1 << false;
    ScriptedResponse hang;
    hang.behaviour = ScriptedResponse::Behaviour::Hang;
    QTest::newRow("time-out") << hang << 1 << false;
  }
  void uploadFaultsFailOnce() {
    QFETCH(ScriptedResponse, response);
    QFETCH(int, result);
    QFETCH(bool, signsOut);
    Fixture f(true, 500);
    f.server.enqueue(kUpload, response);
    f.upload(noise(64, 48),
             {{kQSFlickrPhotosetKey, QVariant::fromValue(QSFlickrPhotoset("9", "S", {}))}});
    f.finish();
    QCOMPARE(f.results.first(), result);
    QCOMPARE(f.observer.events, signsOut ? QStringList{"out"} : QStringList{});
    QVERIFY(f.server.requestsTo(kRest).isEmpty());
  }

  void aFailedSetAddStillCountsAsUploaded() {
    Fixture f;
    f.server.enqueue(kRest, text(500, "down"));
    f.upload(noise(64, 48),
             {{kQSFlickrPhotosetKey, QVariant::fromValue(QSFlickrPhotoset("9", "S", {}))}});
    f.finish();
    QCOMPARE(f.results.first(), 0);
    QCOMPARE(f.server.requestsTo(kRest).size(), 1);
  }

  void connectionRefusedFails() {
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    QUrl site(QString("http://127.0.0.1:%1").arg(closed.serverPort()));
    closed.close();
    Fixture f(true, 5000, site);
    f.upload(noise(64, 48));
    f.finish();
    QCOMPARE(f.results.first(), 1);
  }

  void cancelHalfwayCallsNothingAndAnotherCallFailsTheUpload() {
    Fixture f;
    ScriptedResponse stall;
    stall.behaviour = ScriptedResponse::Behaviour::StallUpload;
    stall.stallAfterBytes = 200000;
    f.server.enqueue(kUpload, stall);
    f.upload(noise(1200, 900));
    QTRY_VERIFY(!f.progress.isEmpty() && f.progress.last().first > 0);
    f.flickr->cancelUpload();
    QVERIFY(!f.flickr->isUploading());
    f.flickr->cancelUpload();  // idle: nothing
    QTest::qWait(300);
    QVERIFY(f.results.isEmpty());
    QVERIFY(QDir(f.temp()).isEmpty());

    // A photo-set list asked for while an upload runs takes the shared request object: the
    // upload must end (failed) rather than wait for ever.
    f.server.enqueue(kUpload, stall);
    f.upload(noise(1200, 900));
    QTRY_VERIFY(!f.progress.isEmpty());
    bool listed = false;
    f.flickr->getPhotosets([&](const QList<QSFlickrPhotoset>&) { listed = true; });
    f.finish();
    QCOMPARE(f.results.first(), 1);
    QTRY_VERIFY(listed);
  }

  void photoLoaderPagesUpToTheCap_data() {
    QTest::addColumn<int>("lastPageSize");  // -1: every page is full
    QTest::addColumn<int>("items");
    QTest::addColumn<int>("pages");
    QTest::newRow("short fourth page") << 40 << 340 << 4;
    QTest::newRow("empty page after full ones") << 0 << 300 << 4;
    QTest::newRow("capped at 1000") << -1 << 1000 << 10;
  }
  void photoLoaderPagesUpToTheCap() {
    QFETCH(int, lastPageSize);
    QFETCH(int, items);
    QFETCH(int, pages);
    Fixture f;
    f.server.setHandler(kRest, [lastPageSize](const RecordedRequest& request) {
      const auto params = paramsOf(request);
      const int page = params["page"].toInt();
      const int count = lastPageSize >= 0 && page == 4 ? lastPageSize : 100;
      QJsonArray photos;
      for (int i = 0; i < count; ++i)
        photos.append(QJsonObject{{"id", QString("%1-%2").arg(page).arg(i)},
                                  {"title", "t"},
                                  {"url_t", "https://x/t.jpg"},
                                  {"width_t", "100"},
                                  {"height_t", 75},
                                  {"url_m", "https://x/m.jpg"},
                                  {"datetaken", "2024-05-01 10:00:00"}});
      // One photo without a source, which the list leaves out.
      photos.append(QJsonObject{{"id", "x"}, {"url_t", "https://x/t.jpg"}});
      const QJsonObject answer{{"photos", QJsonObject{{"page", page}, {"photo", photos}}},
                               {"stat", "ok"}};
      return ScriptedResponse::json(200, QJsonDocument(answer).toJson(QJsonDocument::Compact));
    });
    QSFlickrPhotosDataSource* source = f.flickr->photosDataSource();
    Loader loader;
    source->setDelegate(&loader);
    source->getItems();
    QTRY_VERIFY_WITH_TIMEOUT(loader.statuses.contains(2), 20000);
    QCOMPARE(source->numberOfItems(), items);
    QCOMPARE(loader.statuses, QList<int>(pages - 1, 1) << 2);
    const auto asked = f.server.requestsTo(kRest);
    QCOMPARE(asked.size(), pages);
    const auto params = paramsOf(asked.last());
    QCOMPARE(params["method"], QString("flickr.people.getPhotos"));
    QCOMPARE(params["user_id"], QString("me"));
    QCOMPARE(params["per_page"], QString("100"));
    QCOMPARE(params["page"], QString::number(pages));
    QCOMPARE(params["extras"],
             QString("date_taken,description,url_o,url_t,url_s,url_m,url_z,url_l"));
    auto* first = static_cast<QSFlickrPhoto*>(source->itemForIndex(0));
    QCOMPARE(first->source(), QString("https://x/m.jpg"));
    QCOMPARE(first->size(), QSizeF(100, 75));
    // Loaded already: answered at once with 0.
    source->getItems();
    QTRY_COMPARE(loader.statuses.last(), 0);
  }

  void photoLoaderReportsFailuresButSignsOutOnARefusedToken() {
    Fixture f;
    QSFlickrPhotosDataSource* source = f.flickr->photosDataSource();
    Loader loader;
    source->setDelegate(&loader);
    f.server.enqueue(kRest, ScriptedResponse::json(200, "{\"photos\": {\"photo\": [{\"id\""));
    source->getItems();
    QTRY_COMPARE(loader.errors.size(), 1);
    QCOMPARE(loader.errors[0],
             QString("Having trouble communicating\nwith Flickr.\n\nTry again later."));
    f.server.enqueue(
        kRest, ScriptedResponse::json(200, R"({"stat": "fail", "code": 98, "message": "x"})"));
    source->getItems();
    QTRY_COMPARE(f.observer.events, QStringList{"out"});
    QTest::qWait(100);
    QCOMPARE(loader.errors.size(), 1);
    QVERIFY(!source->gettingItems());
  }

  void audiencePickerChecksTheCurrentIndex() {
    for (int current = 0; current < 4; ++current) {
      QSFlickrAudienceViewController picker(current);
      QCOMPARE(picker.title(), QString("Audience"));
      picker.view();
      QCOMPARE(picker.numberOfRows(), 4);
      for (int row = 0; row < 4; ++row)
        QCOMPARE(qobject_cast<QAbstractButton*>(picker.rowWidget(row))->isChecked(),
                 row == current);
      QCOMPARE(picker.preferredContentSize().height(), 282);
      int chosen = -1;
      picker.setCompletion([&](int audience) { chosen = audience; });
      QTest::mouseClick(picker.rowWidget(3 - current), Qt::LeftButton);
      QCOMPARE(chosen, 3 - current);
    }
  }

  void photosetPickerChecksTheCurrentSet() {
    Fixture f;
    f.server.enqueue(kRest, ScriptedResponse::json(200, R"({"photosets": {"photoset": [
        {"id": "A", "title": {"_content": "Pier"}}, {"id": "B", "title": {"_content": "Dunes"}}]},
        "stat": "ok"})"));
    QSFlickrPhotosetsViewController picker(QSFlickrPhotoset("B", "Dunes", {}), f.flickr.get());
    QCOMPARE(picker.title(), QString("Choose Photo Set"));
    picker.view();
    QTRY_COMPARE(picker.numberOfRows(), 3);
    QCOMPARE(picker.rows()[0].text, QString("None"));
    QCOMPARE(picker.checkedRow(), 2);
    QSFlickrPhotoset chosen;
    picker.setCompletion([&](const QSFlickrPhotoset& set) { chosen = set; });
    QTest::mouseClick(picker.rowWidget(0), Qt::LeftButton);
    QVERIFY(chosen.isNone());
  }
};

QTEST_MAIN(QSFlickrTest)
#include "qs_flickr_test.moc"
