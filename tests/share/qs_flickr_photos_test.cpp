// The Flickr client's lists against a fake Flickr on 127.0.0.1: the photo sets, the photo loader
// and the two pickers.
#include "flickr_test_fixture.h"

class QSFlickrPhotosTest : public test::SecretLogSuite {
  Q_OBJECT

 public:
  QSFlickrPhotosTest() : SecretLogSuite({kSecret, kAccess, kAccessSecret, kRequestSecret}) {}

 private slots:
  // A picker leaves its screen half a second after a choice; that step must have run before
  // the application goes, or its pending task is never freed.
  void cleanupTestCase() { QTest::qWait(600); }

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

QTEST_MAIN(QSFlickrPhotosTest)
#include "qs_flickr_photos_test.moc"
