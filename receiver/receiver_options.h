#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "core/result.h"

namespace duo {

/// duoscope-receiver's command line.
struct ReceiverOptions {
  bool help = false;
  bool version = false;
  bool once = false;
  bool discovery = true;
  QString name;          ///< empty: the machine's host name
  std::uint16_t port = 0;  ///< 0: any free port
  std::uint32_t maxProjectBytes = 64u << 20;
  QString outputFolder;  ///< empty: the default folder

  /// Reads the arguments after the program's name. InvalidArgument with a message for the
  /// user when an option is unknown, lacks its value or has a bad one.
  static Result<ReceiverOptions> parse(const QStringList& arguments);

  /// "65536", "64K", "64M", "1G", "64MiB" (K, M and G are powers of 1024, any case, an
  /// optional "B" or "iB"). Nullopt for anything else, zero, or more than 32 bits hold.
  static std::optional<std::uint32_t> parseByteSize(const QString& text);

  static QString usageText();
};

}  // namespace duo
