#!/usr/bin/env bash
# Installs the Debian package into a fresh Debian 12 system and takes it out again, as a user
# would: `apt install ./duoscope_*.deb` (which brings the dependencies the package names),
# the installed programs run the main job, then `apt purge` must leave no file of ours in the
# system paths. Downloads a minimal base system, so it is not part of CI. Needs root (mmdebstrap
# builds the chroot with real ownership).
# Usage: scripts/clean_install_check.sh [PACKAGE.deb]   (default: build-package/duoscope_*.deb,
#        built by scripts/package.sh when missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "clean_install_check: run as root" >&2; exit 1; }
"$root/scripts/setup.sh" mmdebstrap
package=${1:-}
if [ -z "$package" ]; then
  package=$(ls "$root"/build-package/duoscope_*.deb 2>/dev/null | head -1 || true)
  [ -n "$package" ] || package=$("$root/scripts/package.sh" | tail -1)
fi
package=$(realpath "$package")
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
work=$(mktemp -d /tmp/duoscope-chroot.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$package" "$work/"

# What runs inside the new system, as root there.
cat >"$work/inside.sh" <<'INSIDE'
#!/bin/sh
set -eu
export DEBIAN_FRONTEND=noninteractive
fail() { echo "FAIL: $*" >&2; exit 1; }
cd /tmp
echo "== apt install ./$(basename /tmp/duoscope_*.deb)"
apt-get install -y ./duoscope_*.deb >/tmp/apt-install.log 2>&1 || { tail -30 /tmp/apt-install.log; fail "apt install"; }
grep -E "^(Setting up|Processing triggers)" /tmp/apt-install.log | grep -E "duoscope|mime|desktop" || true
echo "== the installed programs"
duoscope-cli --version
duoscope --version
duoscope-receiver --version
sample=/usr/share/duoscope/sample
duoscope-cli render "$sample/left.jpg" "$sample/right.jpg" --kind color --offset 4,0 -o /tmp/anaglyph.png
duoscope-cli info /tmp/anaglyph.png
# All four kinds: the wigglegram opens libgd, which no program links.
duoscope-cli render "$sample/left.jpg" "$sample/right.jpg" --kind all -o /tmp/all >/dev/null
ls /tmp/all
# The suggested alignment opens the alignment module and, through it, OpenCV.
duoscope-cli align "$sample/left.jpg" "$sample/right.jpg" | head -1
if [ -f /usr/share/mime/image/x-mpo.xml ]; then echo "MIME database knows image/x-mpo"; fi
if [ -f /usr/share/applications/mimeinfo.cache ]; then grep -E "^image/x-(mpo|jps)=" /usr/share/applications/mimeinfo.cache || true; fi
dpkg -L duoscope >/tmp/ours
echo "== apt purge duoscope"
apt-get purge -y duoscope >/tmp/apt-purge.log 2>&1 || { tail -30 /tmp/apt-purge.log; fail "apt purge"; }
left=""
while read -r path; do
  [ -d "$path" ] && continue
  [ -e "$path" ] || [ -L "$path" ] && left="$left $path"
done </tmp/ours
[ -z "$left" ] || fail "files left after purge:$left"
# Nothing of ours anywhere else either: no stray file, no entry left in the desktop's caches.
stray=$(find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /var/lib/dpkg \
          -o -path /var/log -o -path /var/cache/apt -o -path /var/lib/apt \) -prune -o \
          -iname '*duoscope*' -print)
[ -z "$stray" ] || fail "left behind: $stray"
cached=$(grep -rl -e duoscope -e x-mpo -e x-jps /usr/share/applications /usr/share/mime 2>/dev/null || true)
[ -z "$cached" ] || fail "still named in: $cached"
echo "== purged; no file of ours left"
INSIDE
chmod +x "$work/inside.sh"

# bookworm with its security updates, as a fresh installation has them.
echo "clean_install_check: a fresh Debian 12 from $mirror"
mmdebstrap --variant=apt --quiet bookworm /dev/null \
  "deb $mirror bookworm main" "deb $mirror bookworm-updates main" \
  "deb ${DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security} bookworm-security main" \
  --customize-hook="copy-in $work/inside.sh $work/$(basename "$package") /tmp" \
  --customize-hook='chroot "$1" /tmp/inside.sh'
echo "clean_install_check: passed for $(basename "$package")"
