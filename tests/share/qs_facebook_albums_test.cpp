// The Facebook album loader and pickers against a fake Graph service on 127.0.0.1: batch
// requests, paging, retries, cover pictures and the album and audience pickers.
#include "facebook_test_fixture.h"

class QSFacebookAlbumsTest : public test::SecretLogSuite {
  Q_OBJECT

 public:
  QSFacebookAlbumsTest() : SecretLogSuite({kToken, kNewToken}) {}

 private slots:
  // A picker leaves its screen half a second after a choice; that step must have run before
  // the application goes, or its pending task is never freed.
  void cleanupTestCase() { QTest::qWait(600); }


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

};

int main(int argc, char** argv) {
  QTemporaryDir home;
  // The shared instance must find neither the user's settings nor a real service.
  qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
  qputenv("XDG_CACHE_HOME", home.filePath("cache").toUtf8());
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  QApplication app(argc, argv);
  QSFacebookAlbumsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qs_facebook_albums_test.moc"
