#!/usr/bin/env bash
# Builds the Debian package into build-package/ (or $DUOSCOPE_PACKAGE_BUILD_DIR): a Release
# build for /usr with Debian's hardening flags, packed by CPack, then checked by lintian.
# Prints the package's path on the last line. Extra arguments go to cmake (the services' keys,
# -DDUOSCOPE_SCREENSHOTS_URL=…).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DUOSCOPE_PACKAGE_BUILD_DIR:-$root/build-package}
"$root/scripts/setup.sh" lintian

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Fortified, stack-protected, position-independent, full RELRO, bind-now: what Debian builds
# its own packages with.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DDUOSCOPE_BUILD_TESTS=OFF "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_MODULE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/duoscope_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls "$build"/duoscope_*.deb)

# lintian's findings are errors for us, except those explained in the overrides file.
lintian --fail-on error,warning --suppress-tags-from-file "$root/resources/package/lintian-suppressions" \
  --info "$package"
echo "$package"
