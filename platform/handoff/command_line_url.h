#pragma once

#include <QString>
#include <QStringView>

namespace duo {

/// Tells a callback URL on the command line from a file name. The desktop starts
/// `duoscope URL` to hand over the sign-in callbacks whose schemes the program claims; any
/// other argument is a file to open, as it always was.
class CommandLineUrl {
 public:
  /// `scheme://…`, where the scheme has at least two characters (so that a drive-like "c:" or
  /// a one-letter name never counts) of RFC 3986's: a letter, then letters, digits, "+", "-"
  /// or ".". Only the text is looked at.
  static bool hasUrlShape(QStringView argument);
  /// A URL to hand over: it has the shape and no file or folder of that name exists (a file
  /// named like a URL is still opened as a file).
  static bool isUrlArgument(const QString& argument);
  /// The desktop passes files it opens with us as `file:` URLs (a desktop entry's %U); such an
  /// argument becomes the local file name. Anything else, or a file that really has that name,
  /// comes back as it was.
  static QString localFileArgument(const QString& argument);
};

}  // namespace duo
