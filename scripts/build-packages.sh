#!/usr/bin/env bash
# Builds the Debian packages from a finished build folder without compiling anything again:
# packaging/debian is copied to OUT_DIR/source and dpkg-buildpackage packs what
# `cmake --install --prefix /usr` lays out (see packaging/debian/rules).
# usage: build-packages.sh BUILD_DIR OUT_DIR
# Leaves OUT_DIR/*.deb (what apt installs) and OUT_DIR/dbgsym/*.deb (their debug symbols).
set -euo pipefail
fail() { echo "build-packages: $*" >&2; exit 1; }
[ $# -eq 2 ] || fail "usage: build-packages.sh BUILD_DIR OUT_DIR"
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)

# The project version has one home, CMakeLists.txt; the changelog must have an entry for it.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
packaged=$(dpkg-parsechangelog -l "$root/packaging/debian/changelog" -S Version)
[ "$version" = "$packaged" ] ||
  fail "the project is version '$version' but packaging/debian/changelog's newest entry is '$packaged'"

work=$out/source  # dpkg-buildpackage writes the packages into the folder above this one
rm -rf "$work" "$out/dbgsym" "$out"/*.deb "$out"/*.buildinfo "$out"/*.changes "$out/build.log"
mkdir -p "$work" "$out/dbgsym"
cp -r "$root/packaging/debian" "$work/debian"
(cd "$work" && VYX_BUILD_DIR="$build" dpkg-buildpackage --build=binary --no-sign --no-pre-clean) \
  >"$out/build.log" 2>&1 || { tail -40 "$out/build.log"; fail "dpkg-buildpackage failed (log: $out/build.log)"; }
mv "$out"/*-dbgsym_*.deb "$out/dbgsym/" 2>/dev/null || true
rm -rf "$work" "$out"/*.buildinfo "$out"/*.changes
ls -s --block-size=K "$out"/*.deb
