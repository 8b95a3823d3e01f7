// duoscope: the stereo photography application in a phone-shaped window.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>
#include <optional>

#include "blend_view_controller.h"
#include "camera_app_delegate.h"
#include "plain_root_view_controller.h"
#include "qs_features.h"
#include "screen.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "stereo/pair_loader.h"

int main(int argc, char** argv) {
  // The options are read before the window system is opened, so that a mistyped option is
  // reported as such even where no display can be reached.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Duoscope: stereo photography (anaglyphs, stereograms and wigglegrams)."));
  const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                      QStringLiteral("Show this help."));
  const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Show the version."));
  const QCommandLineOption screenOption(
      QStringLiteral("screen"),
      QStringLiteral("Screen size in points: 320x480, 320x568 (default), another WIDTHxHEIGHT, "
                     "phone, phone-tall or tablet."),
      QStringLiteral("size"), QStringLiteral("320x568"));
  const QCommandLineOption leftOption(
      QStringLiteral("left"), QStringLiteral("Left photograph: open the result screen on a pair."),
      QStringLiteral("file"));
  const QCommandLineOption rightOption(
      QStringLiteral("right"), QStringLiteral("Right photograph (with --left)."), QStringLiteral("file"));
  parser.addOptions({helpOption, versionOption, screenOption, leftOption, rightOption});
  if (!parser.parse(arguments)) {
    std::fprintf(stderr, "duoscope: %s (try --help)\n", qPrintable(parser.errorText()));
    return 2;
  }
  if (parser.isSet(helpOption)) {
    std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("duoscope"))), stdout);
    return 0;
  }
  if (parser.isSet(versionOption)) {
    std::printf("duoscope %s\n", DUOSCOPE_VERSION);
    return 0;
  }
  const QString screenText = parser.value(screenOption);
  const auto screen = duo::parseScreenOption(screenText.toStdString());
  if (!screen) {
    std::fprintf(stderr,
                 "duoscope: --screen expects WIDTHxHEIGHT in points (at least 320x480, portrait), "
                 "phone, phone-tall or tablet; got '%s'\n",
                 qPrintable(screenText));
    return 2;
  }
  if (parser.isSet(leftOption) != parser.isSet(rightOption)) {
    std::fprintf(stderr, "duoscope: --left and --right go together\n");
    return 2;
  }

  // Keep the exact ratio of a high-density display (1.5, 2, ...) so the phone layout is drawn at
  // the display's own pixels rather than rounded.
  QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
      Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("duoscope"));
  QApplication::setApplicationDisplayName(QStringLiteral("Duoscope"));
  QApplication::setApplicationVersion(QStringLiteral(DUOSCOPE_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("duoscope"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/duoscope.svg")));

  duo::MainScreen::setSize(*screen);
  duo::QSFeatures::setTablet(screen->tablet);

  duo::SettingsStore& store = duo::SettingsStore::standard();
  if (!store.loadError().isEmpty())
    std::fprintf(stderr, "duoscope: %s\n", qPrintable(store.loadError()));

  // A pair named on the command line is read before any window opens, so a bad file is one
  // line on the terminal; the working size comes from the settings (defaults included).
  std::optional<duo::StereoPair> pair;
  if (parser.isSet(leftOption)) {
    duo::registerSettings(store, QDateTime::currentDateTimeUtc());
    auto percent = float(store.integerForKey(duo::keys::kImageSize));
    if (!(percent > 0)) percent = 50;  // a damaged setting: the default working size
    auto loaded = duo::loadStereoPairFiles(parser.value(leftOption).toStdString(),
                                           parser.value(rightOption).toStdString(), percent);
    if (!loaded) {
      std::fprintf(stderr, "duoscope: %s\n", loaded.error().message.c_str());
      return 1;
    }
    pair = std::move(*loaded);
  }

  duo::CameraAppDelegate delegate(store);
  auto* root = new duo::PlainRootViewController;
  delegate.applicationDidFinishLaunching(root);
  if (pair) {
    // As if both photographs had been picked from the library.
    auto* result = new duo::BlendViewController(store);
    result->setPair(std::move(*pair));
    result->setPhotoMethod(1);
    root->presentViewController(result, false);
    if (delegate.splashScreen()) delegate.splashScreen()->raise();  // the splash fades to it
  }
  QObject::connect(&app, &QGuiApplication::applicationStateChanged, &delegate,
                   [&delegate](Qt::ApplicationState state) {
                     if (state == Qt::ApplicationActive) delegate.applicationDidBecomeActive();
                   });
  return app.exec();
}
