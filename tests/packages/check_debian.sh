#!/usr/bin/env bash
# Checks the Debian packages as Debian does: lintian finds no error in any of them (warnings are
# printed), each holds the files it should, stripped, and declares the dependencies
# dpkg-shlibdeps and dh_python3 computed.
# usage: check_debian.sh PACKAGE_DIR   (as scripts/build-packages.sh leaves it)
set -euo pipefail
dir=$(cd "$1" && pwd)
fail() { echo "check_debian: $*" >&2; exit 1; }
ma=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
gst_dir=$(pkg-config --variable=pluginsdir gstreamer-1.0)
scratch=$(mktemp -d /tmp/vyx-debian-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

deb() {  # deb NAME: the one package of that name
  local found=("$dir/$1"_*.deb)
  if [ ! -f "${found[0]}" ] || [ ${#found[@]} -ne 1 ]; then fail "no single package $1 in $dir"; fi
  echo "${found[0]}"
}
has_files() {  # has_files NAME FILE...
  local name=$1; shift
  local contents
  contents=$(dpkg-deb -c "$(deb "$name")" | awk '{print $6}' | sed 's|^\./|/|')
  for f in "$@"; do grep -qx -- "$f" <<<"$contents" || fail "$name lacks $f"; done
}
depends_on() {  # depends_on NAME PACKAGE...: each named in Depends (or Pre-Depends)
  local name=$1; shift
  local depends
  depends=$(dpkg-deb -f "$(deb "$name")" Depends Pre-Depends | sed 's/^[A-Za-z-]*: //' |
            tr ',|' '\n' | sed 's/^ *//; s/[ (].*//; s/:any$//')
  for d in "$@"; do
    grep -Fqx -- "$d" <<<"$depends" || fail "$name does not depend on $d: ${depends//$'\n'/ }"
  done
}

# No error from lintian in any package, the debug symbol packages included.
if ! lintian --fail-on error --no-tag-display-limit "$dir"/*.deb "$dir"/dbgsym/*.deb \
    >"$scratch/lintian.log" 2>&1; then
  cat "$scratch/lintian.log"
  fail "lintian reports errors"
fi
echo "lintian: $(grep -c '^E:' "$scratch/lintian.log" || true) errors," \
  "$(grep -c '^W:' "$scratch/lintian.log" || true) warnings"
grep '^[EW]:' "$scratch/lintian.log" || true

doc=(/usr/share/doc/NAME/copyright /usr/share/doc/NAME/changelog.gz)
for name in libvyxhost1 libvyxhost-dev lvt-camera-tools gstreamer1.0-lvt python3-lvtcam; do
  has_files "$name" "${doc[@]//NAME/$name}"
done
has_files libvyxhost1 "/usr/lib/$ma/libvyxhost.so.1" "/usr/lib/$ma/vyx/lvt.L32.vcp"
has_files libvyxhost-dev /usr/include/vyxhost/vyxhost.h /usr/include/vyxhost/locate.h \
  /usr/include/vyx/vyxplugin.h "/usr/lib/$ma/libvyxhost.so" \
  "/usr/lib/$ma/cmake/vyxhost/vyxhostConfig.cmake" "/usr/lib/$ma/pkgconfig/vyxhost.pc"
has_files lvt-camera-tools /usr/bin/vyxgrab /usr/bin/vyxview /usr/bin/lvtcamsim \
  /usr/share/man/man1/vyxgrab.1.gz /usr/share/man/man1/vyxview.1.gz /usr/share/man/man1/lvtcamsim.1.gz
has_files gstreamer1.0-lvt "$gst_dir/libgstlvt.so"
has_files python3-lvtcam /usr/lib/python3/dist-packages/lvtcam/__init__.py \
  /usr/lib/python3/dist-packages/lvtcam/_errors.py

# The library's shlibs and the loader's cache trigger, so dependants get a versioned dependency.
dpkg-deb -e "$(deb libvyxhost1)" "$scratch/control"
grep -q "^libvyxhost 1 libvyxhost1 " "$scratch/control/shlibs" || fail "libvyxhost1: no shlibs"
grep -qx "activate-noawait ldconfig" "$scratch/control/triggers" || fail "libvyxhost1: no ldconfig trigger"

depends_on libvyxhost1 libc6 libstdc++6 libflxmlrpc1
depends_on libvyxhost-dev libvyxhost1
depends_on lvt-camera-tools libvyxhost1 libpng16-16 libflxmlrpc1
depends_on gstreamer1.0-lvt libvyxhost1 libgstreamer1.0-0 libglib2.0-0
depends_on python3-lvtcam libvyxhost1 python3 python3-numpy python3-numpy-abi9

# Stripped, with the symbols in the -dbgsym packages.
for d in "$dir"/*.deb; do dpkg-deb -x "$d" "$scratch/root"; done
unstripped=$(find "$scratch/root" -type f -exec file {} + | grep ELF | grep -v ", stripped" || true)
[ -z "$unstripped" ] || fail "not stripped: $unstripped"
for name in libvyxhost1 lvt-camera-tools gstreamer1.0-lvt python3-lvtcam; do
  compgen -G "$dir/dbgsym/$name-dbgsym_*.deb" >/dev/null || fail "no $name-dbgsym"
done
echo "check_debian: ok"
