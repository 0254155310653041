#!/usr/bin/env bash
# Builds the Debian package from a finished build, checks its contents and declared
# dependencies, unpacks it into a scratch root and grabs from the simulator with the vyxgrab in it.
# usage: check_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d /tmp/vyx-package-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check_package: $*" >&2; exit 1; }

(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >cpack.log 2>&1) ||
  { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb=$(ls "$scratch"/out/*.deb)
contents=$(dpkg-deb -c "$deb" | sed 's/ -> .*//' | awk '{print $NF}')
for f in ./usr/bin/vyxgrab ./usr/bin/lvtcamsim ./usr/lib/vyx/lvt.L32.vcp ./usr/lib/libvyxhost.so \
         ./usr/include/vyxhost/vyxhost.h ./usr/include/vyx/vyxplugin.h \
         ./usr/lib/cmake/vyxhost/vyxhostConfig.cmake ./usr/lib/pkgconfig/vyxhost.pc; do
  grep -qx -- "$f" <<<"$contents" || fail "missing from the package: $f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libflxmlrpc1 libpng16-16; do
  grep -q "$d" <<<"$depends" || fail "dependency $d not declared (Depends: $depends)"
done

dpkg -x "$deb" "$scratch/root"
env -u LVT_PLUGIN "$scratch/root/usr/bin/vyxgrab" --simulate --frames 2 --out "$scratch/grab" \
  >"$scratch/grab.log" 2>&1 || { cat "$scratch/grab.log"; fail "vyxgrab from the package failed"; }
[ -s "$scratch/grab/frame_00001_10001_distance.npy" ] || fail "no frames written"
echo "check_package: ok ($(basename "$deb"))"
