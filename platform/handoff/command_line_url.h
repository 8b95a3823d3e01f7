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
};

}  // namespace duo
