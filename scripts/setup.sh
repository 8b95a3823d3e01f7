#!/usr/bin/env bash
# Installs every Debian package Duoscope needs to build, test and benchmark, plus any named as
# arguments (scripts/fuzz.sh asks for its compiler this way, so that ordinary builds and CI do
# not pull it in). Idempotent: when everything is present it changes nothing and touches no
# network.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libjpeg62-turbo-dev libpng-dev zlib1g-dev libexif-dev libgd-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-qpa-plugins fonts-inter
  qt6-multimedia-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  ccache
  xdg-utils libglib2.0-dev
  libopencv-core-dev libopencv-imgproc-dev libopencv-features2d-dev
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
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
