#!/usr/bin/env bash
# Installs every Debian package Duoscope needs to build, test and benchmark, plus any named as
# arguments (scripts/fuzz.sh asks for its compiler this way, so that ordinary builds and CI do
# not pull it in). Idempotent: when everything is present it changes nothing and touches no
# network.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libjpeg62-turbo-dev libpng-dev zlib1g-dev libdeflate-dev libexif-dev libgd-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev python3-pil
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-qpa-plugins fonts-inter
  qt6-multimedia-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  ccache
  xdg-utils libglib2.0-dev
  libopencv-core-dev libopencv-imgproc-dev libopencv-features2d-dev
  libavahi-client-dev avahi-daemon dbus-daemon iproute2 util-linux
  qt6-networkauth-dev qtkeychain-qt6-dev libsecret-1-0 gnome-keyring dbus-bin dbus-x11
  desktop-file-utils python3
  help2man appstream man-db shared-mime-info libglib2.0-bin bash-completion
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
echo "setup: installing ${missing[*]}"
"${sudo[@]}" apt-get update

# avahi-daemon is only here for the discovery test, which starts its own copy inside a private
# network namespace. Installing it must not start a system-wide daemon announcing this machine
# on a real network, nor leave it enabled for the next boot: services are held back while the
# packages go in (policy-rc.d, unless the machine already has one) and the unit is disabled after.
new_avahi=no
[[ " ${missing[*]} " == *" avahi-daemon "* ]] && new_avahi=yes
own_policy=no
if [ "$new_avahi" = yes ] && [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee /usr/sbin/policy-rc.d >/dev/null
  "${sudo[@]}" chmod 755 /usr/sbin/policy-rc.d
  own_policy=yes
fi
status=0
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" || status=$?
[ "$own_policy" = yes ] && "${sudo[@]}" rm -f /usr/sbin/policy-rc.d
if [ "$new_avahi" = yes ] && command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
  "${sudo[@]}" systemctl disable --now avahi-daemon.service avahi-daemon.socket >/dev/null 2>&1 || true
fi
exit "$status"
