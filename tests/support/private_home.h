#pragma once

#include <QTemporaryDir>
#include <QtGlobal>

namespace duo::test {

/// Points the process's settings, cache and data folders into `home`, and its session bus
/// nowhere (so tokens go to the settings file there, never to a real secret service): a suite
/// then neither reads nor changes anything of the user's. Call before the application object.
inline void usePrivateHome(const QTemporaryDir& home) {
  qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
  qputenv("XDG_CACHE_HOME", home.filePath("cache").toUtf8());
  qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/duoscope-no-bus");
}

}  // namespace duo::test
