#!/bin/sh
# The desktop entry passes desktop-file-validate: the build's own, and one made for a build
# with every service's registration, which must claim exactly their callback schemes.
# The AppStream metainfo made with screenshots validates too.
# Usage: desktop_entry_test.sh BUILT_ENTRY desktop_entry.cmake SCRATCH_FOLDER [metainfo.cmake]
set -eu
command -v desktop-file-validate >/dev/null 2>&1 || {
  echo "SKIP: desktop-file-validate is missing (scripts/setup.sh installs desktop-file-utils)"
  exit 77
}
built=$1 script=$2 scratch=$3 metainfo_script=${4:-}
desktop-file-validate "$built"
grep -qx 'Exec=duoscope %U' "$built"
mkdir -p "$scratch"
entry=$scratch/all-services.desktop
cmake -DOUTPUT="$entry" -DDROPBOX_KEY=Ab3k -DFLICKR_KEY=0f1e -DFACEBOOK_ID=4242 -P "$script"
desktop-file-validate "$entry"
grep -qx 'MimeType=image/x-mpo;image/x-jps;x-scheme-handler/db-ab3k;x-scheme-handler/fb4242;x-scheme-handler/flickr0f1e;' "$entry"
# A key that cannot be part of a scheme stops the build instead of writing a broken entry.
if cmake -DOUTPUT="$scratch/bad.desktop" -DFACEBOOK_ID="42 42" -P "$script" 2>/dev/null; then
  echo "a key with a blank was accepted" >&2
  exit 1
fi

# The metainfo with its screenshots validates; an address that is not https is refused.
if [ -n "$metainfo_script" ] && command -v appstreamcli >/dev/null 2>&1; then
  info=$scratch/org.duoscope.Duoscope.metainfo.xml
  cmake -DOUTPUT="$info" -DSCREENSHOTS_URL=https://duoscope.example/docs/screenshots/ -DVERSION=1.2.3 \
    -DRELEASE_DATE=2026-12-08 -DAPP_ID=org.duoscope.Duoscope -P "$metainfo_script"
  appstreamcli validate --no-net "$info" >/dev/null
  grep -q '<image>https://duoscope.example/docs/screenshots/alignment.png</image>' "$info"
  [ "$(grep -c '<screenshot' "$info")" -eq 6 ]  # the list and its five pictures
  if cmake -DOUTPUT="$scratch/bad.xml" -DSCREENSHOTS_URL=docs/screenshots -P "$metainfo_script" 2>/dev/null; then
    echo "a local screenshots path was accepted" >&2
    exit 1
  fi
fi
echo "desktop entries valid"
