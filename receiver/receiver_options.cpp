#include "receiver_options.h"

#include <limits>

namespace duo {

std::optional<std::uint32_t> ReceiverOptions::parseByteSize(const QString& text) {
  QString digits = text.trimmed();
  std::uint64_t unit = 1;
  const QString upper = digits.toUpper();
  for (const auto& [suffix, factor] :
       {std::pair{QStringLiteral("KIB"), 1ull << 10}, {QStringLiteral("MIB"), 1ull << 20},
        {QStringLiteral("GIB"), 1ull << 30}, {QStringLiteral("KB"), 1ull << 10},
        {QStringLiteral("MB"), 1ull << 20}, {QStringLiteral("GB"), 1ull << 30},
        {QStringLiteral("K"), 1ull << 10}, {QStringLiteral("M"), 1ull << 20},
        {QStringLiteral("G"), 1ull << 30}, {QStringLiteral("B"), 1ull}}) {
    if (upper.endsWith(suffix)) {
      digits.chop(suffix.size());
      unit = factor;
      break;
    }
  }
  // Digits only: no sign, no spaces, no base prefixes.
  if (digits.isEmpty() || digits.size() > 10) return std::nullopt;
  for (const QChar c : digits)
    if (c < u'0' || c > u'9') return std::nullopt;
  const std::uint64_t bytes = digits.toULongLong() * unit;
  if (bytes == 0 || bytes > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return std::uint32_t(bytes);
}

Result<ReceiverOptions> ReceiverOptions::parse(const QStringList& arguments) {
  ReceiverOptions options;
  const auto fail = [](const QString& message) {
    return makeError(ErrorCode::InvalidArgument, message.toStdString());
  };
  for (int i = 0; i < arguments.size(); ++i) {
    QString option = arguments[i];
    std::optional<QString> attached;  // --name=VALUE
    if (const qsizetype equals = option.indexOf(u'='); option.startsWith(QLatin1String("--")) && equals > 0) {
      attached = option.mid(equals + 1);
      option.truncate(equals);
    }
    const auto value = [&]() -> std::optional<QString> {
      if (attached) return attached;
      if (i + 1 >= arguments.size()) return std::nullopt;
      return arguments[++i];
    };
    const bool takesValue = option == QLatin1String("--name") || option == QLatin1String("--port") ||
                            option == QLatin1String("--max-size") || option == QLatin1String("--output");
    if (attached && !takesValue) return fail(option + QStringLiteral(" takes no value"));
    if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
      options.help = true;
    } else if (option == QLatin1String("--version")) {
      options.version = true;
    } else if (option == QLatin1String("--once")) {
      options.once = true;
    } else if (option == QLatin1String("--no-discovery")) {
      options.discovery = false;
    } else if (takesValue) {
      const auto given = value();
      if (!given) return fail(option + QStringLiteral(" needs a value"));
      if (option == QLatin1String("--name")) {
        if (given->trimmed().isEmpty()) return fail(QStringLiteral("--name must not be empty"));
        options.name = *given;
      } else if (option == QLatin1String("--port")) {
        bool number = false;
        const uint port = given->toUInt(&number);
        if (!number || port > 65535)
          return fail(QStringLiteral("--port expects 0 to 65535; got '%1'").arg(*given));
        options.port = std::uint16_t(port);
      } else if (option == QLatin1String("--max-size")) {
        const auto bytes = parseByteSize(*given);
        if (!bytes)
          return fail(QStringLiteral("--max-size expects bytes from 1 to 4G-1, e.g. 64M; got '%1'")
                          .arg(*given));
        options.maxProjectBytes = *bytes;
      } else {
        if (given->isEmpty()) return fail(QStringLiteral("--output must not be empty"));
        options.outputFolder = *given;
      }
    } else {
      return fail(QStringLiteral("unknown option '%1'").arg(arguments[i]));
    }
  }
  return options;
}

QString ReceiverOptions::usageText() {
  return QStringLiteral(
      "Usage: duoscope-receiver [OPTIONS]\n"
      "Receives stereo projects (two photographs and their alignment) sent from Duoscope on\n"
      "another device of the local network, and stores each in a folder of its own.\n"
      "\n"
      "Options:\n"
      "  --name NAME       the name senders see (default: this computer's host name)\n"
      "  --port PORT       TCP port to listen on (default 0: any free port)\n"
      "  --output DIR      where projects are stored (default: the Pictures folder's\n"
      "                    \"Duoscope Received\")\n"
      "  --max-size BYTES  largest project accepted, e.g. 64M (default 64M)\n"
      "  --no-discovery    do not announce by DNS-SD; senders name HOST:PORT themselves\n"
      "  --once            exit after the first stored project (status 0)\n"
      "  --version         show the version\n"
      "  -h, --help        show this help\n"
      "\n"
      "Each project becomes a folder \"DATE TIME from SENDER\" holding left.jpg, right.jpg and\n"
      "project.json. A project that breaks off leaves nothing behind.\n");
}

}  // namespace duo
