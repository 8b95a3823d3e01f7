#pragma once

#include <QString>

namespace duo {

/// The private folder where running instances keep their sockets: `$XDG_RUNTIME_DIR/duoscope`,
/// or `/tmp/duoscope-<uid>` where the session has no runtime folder. Whatever arrives through a
/// socket in it is a sign-in callback, so the folder must be ours alone: a real directory (not a
/// symbolic link), owned by this user, with no access for group or others. One found otherwise
/// is refused rather than repaired, since someone else may have made it to listen in our place.
class RuntimeFolder {
 public:
  enum class Mode {
    Create,        ///< make the folder (mode 0700) when it is missing: an instance about to listen
    ExistingOnly,  ///< never make it: a sender, for which a missing folder means nobody listens
  };

  /// The folder's path for this session; empty when none can be named (no user id, an
  /// unusable `XDG_RUNTIME_DIR`).
  static QString path();

  /// The folder, checked (and made with Mode::Create). Returns its path, or an empty string
  /// with `*error` saying why it cannot be used. With Mode::ExistingOnly a folder that does not
  /// exist gives an empty path and an empty `*error`.
  static QString open(Mode mode, QString* error);
};

}  // namespace duo
