#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds the consumer against it once with
# find_package and once with pkg-config, and runs both against lvtcamsim from that prefix.
# Then moves the prefix and checks that its vyxgrab still loads its own plug-in.
# usage: check_install.sh BUILD_DIR CONSUMER_SOURCE_DIR LIBDIR CXX
set -euo pipefail
build=$1 source=$2 libdir=$3 cxx=$4
scratch=$(mktemp -d /tmp/vyx-install-XXXXXX)
# shellcheck source=tests/support/lvtcamsim.sh
. "$(dirname "$0")/../support/lvtcamsim.sh"
cleanup() {
  stop_lvtcamsim
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "check_install: $*" >&2; exit 1; }

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"
# The closing summary names each place under the prefix, and each is there.
grep -q "installed under $prefix:" "$scratch/install.log" || fail "no install summary"
grep -q "export GST_PLUGIN_PATH=$prefix/\|export PYTHONPATH=$prefix/\|LD_LIBRARY_PATH=$prefix/" \
  "$scratch/install.log" || fail "the install summary says nothing to set for $prefix"
places=$(sed -n "/installed under/,\$ s|^-- .*: \($prefix/.*\)$|\1|p" "$scratch/install.log")
[ "$(wc -l <<<"$places")" -ge 3 ] || fail "the install summary names too few places: $places"
while read -r dir; do
  [ -d "$dir" ] || fail "the install summary names $dir, which is not there"
done <<<"$places"
for f in bin/vyxgrab bin/lvtcamsim "$libdir/vyx/lvt.L32.vcp" "$libdir/libvyxhost.so.1" \
         include/vyxhost/vyxhost.h include/vyxhost/locate.h include/vyx/vyxplugin.h \
         "$libdir/cmake/vyxhost/vyxhostConfig.cmake" "$libdir/pkgconfig/vyxhost.pc"; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done

cmake -S "$source" -B "$scratch/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_RPATH="$prefix/$libdir" >"$scratch/configure.log" 2>&1 ||
  { cat "$scratch/configure.log"; fail "find_package(vyxhost) configure failed"; }
cmake --build "$scratch/cmake-build" >"$scratch/build.log" 2>&1 ||
  { cat "$scratch/build.log"; fail "find_package build failed"; }
flags=$(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config --cflags --libs vyxhost)
# shellcheck disable=SC2086  # the flags are words
"$cxx" -o "$scratch/consumer-pc" "$source/consumer.cpp" $flags -Wl,-rpath,"$prefix/$libdir"

# A simulated camera from the prefix on its own random loopback address.
start_lvtcamsim "$prefix/bin/lvtcamsim" "$scratch/sim.log" || fail "lvtcamsim did not start"
address=$sim_address

for consumer in "$scratch/cmake-build/consumer" "$scratch/consumer-pc"; do
  out=$(env -u LVT_PLUGIN "$consumer" "$address") || fail "$consumer failed: $out"
  echo "$out"
  grep -qx "plugin $prefix/$libdir/vyx/lvt.L32.vcp" <<<"$out" ||
    fail "$consumer did not load the installed plug-in"
  grep -q "^distance 64 x 50, " <<<"$out" || fail "$consumer: unexpected image"
done

# A moved install keeps working on its own files: nothing points back into the build tree.
mv "$prefix" "$scratch/moved"
help=$(env -u LVT_PLUGIN "$scratch/moved/bin/vyxgrab" --help)
grep -q "$scratch/moved/bin/../$libdir/vyx/lvt.L32.vcp  <- will be loaded" <<<"$help" ||
  { echo "$help"; fail "a moved vyxgrab does not pick the plug-in beside it"; }
[ "$(grep -c "<- will be loaded" <<<"$help")" = 1 ] ||
  { echo "$help"; fail "vyxgrab --help marks more than one plug-in file"; }
! grep -q "$build" <<<"$help" || { echo "$help"; fail "an installed vyxgrab lists the build tree"; }
env -u LVT_PLUGIN "$scratch/moved/bin/vyxgrab" --address "$address" --frames 1 \
  --out "$scratch/grab" >"$scratch/grab.log" 2>&1 || { cat "$scratch/grab.log"; fail "moved vyxgrab"; }
echo "check_install: ok"
