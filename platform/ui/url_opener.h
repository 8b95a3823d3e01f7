#pragma once

#include <QUrl>

#include <functional>

namespace duo {

/// Whether openURL() can hand `url` to something: true for http, https, mailto and file links,
/// and for any other scheme only when the desktop has a handler registered for it (asked once per
/// scheme of `xdg-mime`, with a short time limit, then remembered for the process). False for an
/// invalid or scheme-less URL. Main thread only.
bool canOpenURL(const QUrl& url);

/// Hands `url` to the desktop (the web browser, the mail program, the scheme's handler). False
/// when the URL is invalid or the desktop refused it.
bool openURL(const QUrl& url);

/// Replaces what openURL() does with `opener` (its answer is returned); an empty function goes
/// back to the desktop. Nothing is recorded on the hook's behalf. For tests.
void setURLOpenerForTesting(std::function<bool(const QUrl&)> opener);

/// Replaces what canOpenURL() answers with `answer`; an empty function goes back to the rules
/// above. For tests.
void setCanOpenURLForTesting(std::function<bool(const QUrl&)> answer);

}  // namespace duo
