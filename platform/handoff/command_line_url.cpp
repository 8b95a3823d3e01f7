#include "command_line_url.h"

#include <QFileInfo>
#include <QUrl>

namespace duo {

namespace {

bool isAsciiLetter(QChar c) {
  return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
         (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

bool isSchemeCharacter(QChar c) {
  return isAsciiLetter(c) || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
         c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('.');
}

}  // namespace

bool CommandLineUrl::hasUrlShape(QStringView argument) {
  const qsizetype colon = argument.indexOf(QLatin1String("://"));
  if (colon < 2 || !isAsciiLetter(argument.front())) return false;
  for (const QChar c : argument.first(colon))
    if (!isSchemeCharacter(c)) return false;
  return true;
}

bool CommandLineUrl::isUrlArgument(const QString& argument) {
  return hasUrlShape(argument) && !QFileInfo::exists(argument);
}

QString CommandLineUrl::localFileArgument(const QString& argument) {
  if (!argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive) ||
      QFileInfo::exists(argument))
    return argument;
  QUrl url(argument, QUrl::StrictMode);
  if (url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) url.setHost({});
  // Only this machine's files: a file URL naming another host is nothing we can open.
  if (!url.isValid() || !url.isLocalFile() || !url.host().isEmpty()) return argument;
  return url.toLocalFile();
}

}  // namespace duo
