#pragma once

#include <QString>

#include <optional>

namespace duo {

/// Whether the desktop has a handler for links of `scheme` ("mailto", "itms-apps"): asked once
/// per scheme of `xdg-mime` with a short time limit, then remembered for the process. A missing
/// or failing `xdg-mime`, or an empty answer, means no. Main thread only.
bool desktopHasSchemeHandler(const QString& scheme);

/// Whether the desktop can compose a mail: true when a handler for mailto: links is registered
/// (asked once of `xdg-mime`, with a short time limit, then remembered for the process). A missing
/// or failing `xdg-mime`, or an empty answer, means no. Main thread only.
bool canSendMail();

/// Makes canSendMail() answer `answer` instead of asking the desktop; nullopt goes back to the
/// desktop's (remembered) answer. For tests and for a command-line override.
void setCanSendMailOverride(std::optional<bool> answer);

/// Whether the system's own composer for the short-message service can be used. Always false.
bool isTwitterServiceAvailable();

}  // namespace duo
