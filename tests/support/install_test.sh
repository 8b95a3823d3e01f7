#!/bin/bash
# Installs the build into a temporary prefix and checks what a user of the installed copy gets:
# the desktop entry, the AppStream metainfo, the manual pages, the icons, the MIME types with
# Duoscope offered for them, the shell completion, and the programs working from the prefix
# alone, with the source and build trees out of reach.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
for tool in desktop-file-validate appstreamcli man gio update-mime-database update-desktop-database; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (scripts/setup.sh installs it)"; exit 77; }
done
scratch=$(mktemp -d /tmp/duoscope-install.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/usr
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "FAIL: $*" >&2; exit 1; }

share=$prefix/share
for file in bin/duoscope bin/duoscope-cli bin/duoscope-receiver \
    share/applications/duoscope.desktop share/metainfo/org.duoscope.Duoscope.metainfo.xml \
    share/mime/packages/duoscope.xml share/icons/hicolor/scalable/apps/duoscope.svg \
    share/bash-completion/completions/duoscope-cli \
    share/duoscope/sample/left.jpg share/duoscope/sample/right.jpg; do
  [ -s "$prefix/$file" ] || fail "$file was not installed"
done

desktop-file-validate "$share/applications/duoscope.desktop"
appstreamcli validate --no-net "$share/metainfo/org.duoscope.Duoscope.metainfo.xml"

# Each page renders without a warning from the formatter and has its program's options.
for program in duoscope duoscope-cli duoscope-receiver; do
  page=$share/man/man1/$program.1.gz
  [ -s "$page" ] || fail "no manual page for $program"
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$scratch/page.txt") || fail "man -l $page"
  [ -z "$warnings" ] || fail "$page: $warnings"
  grep -q -- '--version' "$scratch/page.txt" || fail "$page has no options"
  grep -q "^NAME" "$scratch/page.txt" || fail "$page has no NAME section"
done

# Every PNG size of the icon is a square of that size.
for size in 16 22 24 32 48 64 128 256 512; do
  icon=$share/icons/hicolor/${size}x${size}/apps/duoscope.png
  [[ $("$prefix/bin/duoscope-cli" info "$icon") == *"PNG ${size}x${size},"* ]] || fail "$icon is not ${size}x${size}"
done

# The desktop's own databases, built over the prefix as a package's triggers would: MPO and
# JPS files get their types by name, and Duoscope is offered for both.
update-mime-database "$share/mime" >/dev/null 2>&1 || fail "update-mime-database"
update-desktop-database "$share/applications"
# GIO offers only entries whose program is on the PATH.
export XDG_DATA_DIRS=$share:/usr/share XDG_DATA_HOME=$scratch/data XDG_CONFIG_HOME=$scratch/config
export PATH=$prefix/bin:$PATH
for type in image/x-mpo image/x-jps; do
  [[ $(gio mime "$type") == *duoscope.desktop* ]] || fail "Duoscope is not offered for $type"
  # A subclass of image/jpeg, so that viewers still open it.
  grep -q '<sub-class-of type="image/jpeg"/>' "$share/mime/${type}.xml" || fail "$type is no JPEG"
done
# JPEG content, as both are; the name tells them apart from a plain JPEG.
cp "$share/duoscope/sample/left.jpg" "$scratch/pair.mpo"
cp "$share/duoscope/sample/left.jpg" "$scratch/pair.jps"
for ext in mpo jps; do
  type=$(gio info -a standard::content-type "$scratch/pair.$ext" | sed -n 's/.*standard::content-type: //p')
  [ "$type" = "image/x-$ext" ] || fail "pair.$ext is '$type'"
done

# Completion: commands, an option's values, and images only where a pair is expected.
complete_words() {
  (cd "$scratch" && bash -c '
    source /usr/share/bash-completion/bash_completion 2>/dev/null || exit 77
    source "$0"
    COMP_WORDS=("${@}"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _duoscope_cli
    printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' \
    "$share/bash-completion/completions/duoscope-cli" "$@")
}
if [ -f /usr/share/bash-completion/bash_completion ]; then
  touch "$scratch/notes.txt"
  check_completion() {
    local expected=$1; shift
    local got; got=$(complete_words "$@")
    [ "$got" = "$expected" ] || fail "completing '$*': got '$got', expected '$expected'"
  }
  check_completion "render " duoscope-cli re
  check_completion "color " duoscope-cli render a.jpg b.jpg --kind co
  check_completion "cross parallel " duoscope-cli align x.jps --sbs ""
  check_completion "pair.jps pair.mpo " duoscope-cli render pa
  check_completion "--format " duoscope-cli batch pairs --f
else
  echo "note: bash-completion is not installed; the completion was not tried"
fi

# The programs from the prefix alone: the source and build trees are hidden behind empty
# folders in a mount namespace of their own (where one can be made; otherwise they stay visible).
out=$scratch/out
mkdir -p "$out"
mkdir -p "$scratch/probe"
isolation=no
if [ "$(id -u)" -eq 0 ] && unshare -m mount -t tmpfs none "$scratch/probe" 2>/dev/null; then
  isolation=yes
fi
run_isolated() {
  if [ "$isolation" = yes ]; then
    unshare -m bash -c 'mount -t tmpfs none "$2" && mount -t tmpfs none "$1" && shift 2 && cd / && exec "$@"' \
      _ "$source" "$build" "$@"
  else
    echo "note: no mount namespace here (not root?), so the source and build trees stay visible" >&2
    (cd / && "$@")
  fi
}
# A sanitizer build reads its leak suppressions from the source tree, which is about to vanish.
if [[ ${LSAN_OPTIONS:-} =~ suppressions=([^:]+) ]]; then
  cp "${BASH_REMATCH[1]}" "$scratch/lsan-suppressions.txt"
  export LSAN_OPTIONS=${LSAN_OPTIONS/${BASH_REMATCH[1]}/$scratch/lsan-suppressions.txt}
fi
sample=$share/duoscope/sample
run_isolated "$prefix/bin/duoscope-cli" render "$sample/left.jpg" "$sample/right.jpg" --kind all \
  --offset 4,0 -o "$out"
for file in "Color Anaglyph.png" "Grey Anaglyph.png" "Stereogram.png" "Wigglegram.gif"; do
  [ -s "$out/$file" ] || fail "the installed duoscope-cli did not write $file"
done
# The alignment module and libgd are opened from the installed tree too.
suggested=$(run_isolated "$prefix/bin/duoscope-cli" align "$sample/left.jpg" "$sample/right.jpg" | head -1)
[[ $suggested =~ ^-?[0-9]+,-?[0-9]+$ ]] || fail "the installed duoscope-cli suggested no alignment: '$suggested'"
[[ $(head -c 6 "$out/Wigglegram.gif") == GIF89a ]] || fail "the wigglegram is no GIF"
[[ $("$prefix/bin/duoscope-cli" info "$out/Color Anaglyph.png") == *"PNG 476x360,"* ]] ||
  fail "the colour anaglyph is not 476x360 (480x360 less the 4-pixel offset)"
# The application finds its sample pair beside itself and stays open on it (killed after 5 s),
# rather than ending at once with an error.
status=0
HOME=$scratch/home QT_QPA_PLATFORM=offscreen run_isolated timeout 5 "$prefix/bin/duoscope" --sample \
  >"$scratch/app.log" 2>&1 || status=$?
[ "$status" -eq 124 ] || { cat "$scratch/app.log" >&2; fail "duoscope --sample ended with $status"; }
[[ $("$prefix/bin/duoscope-receiver" --version) =~ ^duoscope-receiver\ [0-9.]+$ ]] || fail "receiver version"
echo "install into $prefix checked"
