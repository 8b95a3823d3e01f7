#pragma once

#include <QString>

#include <vector>

#include "core/result.h"

namespace duo {

/// An application installed on the desktop, as its desktop entry describes it.
struct DesktopApplication {
  QString id;        ///< desktop file id, e.g. "org.example.Viewer.desktop"
  QString name;      ///< the name to show, in the user's language
  QString iconName;  ///< a theme icon name, or an icon file's path; empty when it has none
};

/// "Open in…": the desktop's applications for a file type, and opening a file in one of them.
/// Reads the desktop's own application and MIME databases (mimeapps.list for the defaults).
class OpenInService {
 public:
  /// This application's desktop file id; it is never offered for its own exports.
  static constexpr const char* kOwnDesktopId = "duoscope.desktop";

  /// The applications that open `mimeType` ("image/gif") and want to be shown in menus, without
  /// this application: the desktop's default for the type first, then the others by name
  /// (ignoring case), each once. Empty for an unknown or empty type.
  static std::vector<DesktopApplication> applicationsForType(const QString& mimeType);

  /// Opens the file at `filePath` in the application `applicationId` (a desktop file id from
  /// applicationsForType()). Errors: no such application, no such file (InvalidArgument); the
  /// launch failing (Io, with the desktop's reason).
  static Status launch(const QString& applicationId, const QString& filePath);
};

}  // namespace duo
