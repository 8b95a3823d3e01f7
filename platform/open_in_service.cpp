// GLib's headers come before any of Qt's: Qt defines `signals` as a macro, and GIO has struct
// members of that name.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "open_in_service.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <iterator>
#include <memory>

namespace duo {

namespace {

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, ObjectUnref>;

struct AppListFree {
  void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};

QString iconNameOf(GAppInfo* app) {
  GIcon* icon = g_app_info_get_icon(app);  // owned by the app
  if (G_IS_THEMED_ICON(icon)) {
    const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
    return names && names[0] ? QString::fromUtf8(names[0]) : QString();
  }
  if (G_IS_FILE_ICON(icon)) {
    std::unique_ptr<char, decltype(&g_free)> path(
        g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon))), &g_free);
    return path ? QFile::decodeName(path.get()) : QString();
  }
  return {};
}

// Shown in menus, launchable by id, and not ourselves.
bool isOffered(GAppInfo* app) {
  const char* id = g_app_info_get_id(app);
  return id && g_app_info_should_show(app) && qstrcmp(id, OpenInService::kOwnDesktopId) != 0;
}

DesktopApplication describe(GAppInfo* app) {
  return {QString::fromUtf8(g_app_info_get_id(app)), QString::fromUtf8(g_app_info_get_name(app)),
          iconNameOf(app)};
}

Error launchError(ErrorCode code, const QString& applicationId, const QString& why) {
  return makeError(
      code,
      QStringLiteral("Cannot open the file in \"%1\": %2").arg(applicationId, why).toStdString());
}

}  // namespace

std::vector<DesktopApplication> OpenInService::applicationsForType(const QString& mimeType) {
  if (mimeType.trimmed().isEmpty()) return {};
  const QByteArray type = mimeType.toUtf8();
  std::vector<DesktopApplication> applications;
  QSet<QString> seen;
  const auto add = [&](GAppInfo* app, std::vector<DesktopApplication>& to) {
    if (!isOffered(app)) return;
    DesktopApplication described = describe(app);
    if (seen.contains(described.id)) return;
    seen.insert(described.id);
    to.push_back(std::move(described));
  };

  GObjectPtr<GAppInfo> preferred(g_app_info_get_default_for_type(type.constData(), FALSE));
  if (preferred) add(preferred.get(), applications);
  std::vector<DesktopApplication> others;
  std::unique_ptr<GList, AppListFree> all(g_app_info_get_all_for_type(type.constData()));
  for (GList* item = all.get(); item; item = item->next) {
    add(static_cast<GAppInfo*>(item->data), others);
  }
  std::sort(others.begin(), others.end(), [](const auto& a, const auto& b) {
    const int order = QString::compare(a.name, b.name, Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a.id < b.id;
  });
  std::move(others.begin(), others.end(), std::back_inserter(applications));
  return applications;
}

Status OpenInService::launch(const QString& applicationId, const QString& filePath) {
  if (applicationId.isEmpty()) {
    return launchError(ErrorCode::InvalidArgument, applicationId, QStringLiteral("no application"));
  }
  GObjectPtr<GDesktopAppInfo> app(g_desktop_app_info_new(applicationId.toUtf8().constData()));
  if (!app) {
    return launchError(ErrorCode::InvalidArgument, applicationId,
                       QStringLiteral("no such application is installed"));
  }
  if (!QFileInfo(filePath).isFile()) {
    return launchError(ErrorCode::InvalidArgument, applicationId,
                       QStringLiteral("%1 does not exist").arg(filePath));
  }
  GObjectPtr<GFile> file(g_file_new_for_path(QFile::encodeName(filePath).constData()));
  GList files{file.get(), nullptr, nullptr};
  GError* error = nullptr;
  if (!g_app_info_launch(G_APP_INFO(app.get()), &files, nullptr, &error)) {
    const QString why = error ? QString::fromUtf8(error->message) : QStringLiteral("unknown error");
    g_clear_error(&error);
    return launchError(ErrorCode::Io, applicationId, why);
  }
  return Ok{};
}

}  // namespace duo
