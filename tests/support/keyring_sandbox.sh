#!/usr/bin/env bash
# Runs a command with a secret service of its own: a private D-Bus session (dbus-run-session)
# with a gnome-keyring-daemon unlocked by an empty password, in a private HOME and XDG folders,
# so that nothing touches the user's own keyring. Sets DUOSCOPE_KEYRING_SANDBOX=1 for the
# command.
#
# Exit status: the command's, or 77 (the test runner's "skipped") when the tools are missing.
set -euo pipefail

if [ "${DUOSCOPE_IN_KEYRING_SANDBOX:-}" != 1 ]; then
  for tool in dbus-run-session gnome-keyring-daemon dbus-send; do
    command -v "$tool" >/dev/null || {
      echo "keyring_sandbox: skipped: $tool is missing (scripts/setup.sh installs it)" >&2
      exit 77
    }
  done
  dir=$(mktemp -d /tmp/duoscope-keyring.XXXXXX)
  trap 'rm -rf "$dir"' EXIT
  mkdir -p "$dir/home" "$dir/config" "$dir/data" "$dir/cache" "$dir/runtime"
  chmod 700 "$dir/runtime"
  status=0
  env -u DISPLAY -u WAYLAND_DISPLAY HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" \
    XDG_DATA_HOME="$dir/data" XDG_CACHE_HOME="$dir/cache" XDG_RUNTIME_DIR="$dir/runtime" \
    DUOSCOPE_IN_KEYRING_SANDBOX=1 dbus-run-session -- "$0" "$@" || status=$?
  exit "$status"
fi

# Inside the private session. A keyring with an empty password is a plain file to the daemon;
# made beforehand and named the default, the daemon never needs to prompt for creating one.
mkdir -p "$XDG_DATA_HOME/keyrings"
printf '[keyring]\ndisplay-name=login\nctime=0\nmtime=0\nlock-on-idle=false\nlock-after=false\n' \
  >"$XDG_DATA_HOME/keyrings/login.keyring"
printf 'login' >"$XDG_DATA_HOME/keyrings/default"
chmod -R go-rwx "$XDG_DATA_HOME/keyrings"
printf '' | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
daemon=$!
trap 'kill "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
       org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
     grep -q 'boolean true'; then
    break
  fi
  sleep 0.05
done
status=0
DUOSCOPE_KEYRING_SANDBOX=1 "$@" || status=$?
exit "$status"
