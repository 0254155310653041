#!/usr/bin/env bash
# Unpacks the Debian packages into a scratch root the way dpkg -x does and runs each program from
# it: vyxgrab with its built-in simulator and against lvtcamsim, vyxview, the GStreamer element
# and a three-frame grab through the Python module. Only the variables that point GStreamer and
# Python into the scratch root are set (the system is not where they look); libvyxhost and the
# plug-in are found by the run paths and beside libvyxhost, as when installed.
# usage: check_unpacked.sh PACKAGE_DIR PYTHON
set -euo pipefail
dir=$(cd "$1" && pwd)
python=$2
fail() { echo "check_unpacked: $*" >&2; exit 1; }
scratch=$(mktemp -d /tmp/vyx-unpacked-XXXXXX)
# shellcheck source=tests/support/lvtcamsim.sh
. "$(dirname "$0")/../support/lvtcamsim.sh"
cleanup() {
  stop_lvtcamsim
  rm -rf "$scratch"
}
trap cleanup EXIT
unset LVT_PLUGIN GST_PLUGIN_PATH PYTHONPATH LD_LIBRARY_PATH
root=$scratch/root
for d in "$dir"/*.deb; do dpkg -x "$d" "$root"; done
ma=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
plugin=$root/usr/lib/$ma/vyx/lvt.L32.vcp

run() {  # run NAME COMMAND...: runs it, its output in $scratch/NAME.log
  local name=$1; shift
  "$@" >"$scratch/$name.log" 2>&1 || { cat "$scratch/$name.log"; fail "$name failed: $*"; }
}

# vyxgrab loads the plug-in from the root, not from the build tree or the system.
run grab-help "$root/usr/bin/vyxgrab" --help
grep -q "$root/usr/bin/../lib/$ma/vyx/lvt.L32.vcp  <- will be loaded" "$scratch/grab-help.log" ||
  { cat "$scratch/grab-help.log"; fail "vyxgrab does not pick the plug-in from the root"; }
run grab "$root/usr/bin/vyxgrab" --simulate --frames 2 --out "$scratch/grab"
[ -s "$scratch/grab/frame_00001_10001_distance.npy" ] || fail "vyxgrab --simulate wrote no frames"

start_lvtcamsim "$root/usr/bin/lvtcamsim" "$scratch/sim.log" || fail "lvtcamsim did not start"
run grab-sim "$root/usr/bin/vyxgrab" --address "$sim_address" --frames 2 --out "$scratch/grab-sim"
[ -s "$scratch/grab-sim/frame_00001_10001_distance.npy" ] || fail "no frames from lvtcamsim"
stop_lvtcamsim

run view-help "$root/usr/bin/vyxview" --help
grep -q -- "--simulate" "$scratch/view-help.log" || fail "vyxview --help does not list its options"

# The element from the root's GStreamer folder, in a registry of the test's own.
export GST_REGISTRY=$scratch/gst-registry.bin
GST_PLUGIN_PATH=$root$(pkg-config --variable=pluginsdir gstreamer-1.0)
export GST_PLUGIN_PATH
run gst-inspect gst-inspect-1.0 lvtsrc
grep -q "$GST_PLUGIN_PATH/libgstlvt.so" "$scratch/gst-inspect.log" || fail "lvtsrc is not the root's"
run gst-launch gst-launch-1.0 -q lvtsrc simulate=true num-buffers=3 ! \
  multifilesink location="$scratch/gst_%d.raw"
for i in 0 1 2; do  # 64 x 50 GRAY16_LE
  [ "$(stat -c %s "$scratch/gst_$i.raw")" -eq 6400 ] || fail "lvtsrc buffer $i is not 64 x 50 x 2 bytes"
done

export PYTHONPATH=$root/usr/lib/python3/dist-packages
run python "$python" -c "
import os, lvtcam, numpy
assert lvtcam.__file__.startswith('$root/'), lvtcam.__file__
assert lvtcam.__version__ == '$(dpkg-deb -f "$dir"/python3-lvtcam_*.deb Version)', lvtcam.__version__
loaded = [line.split(': ', 1)[1].split('  <- ')[0] for line in lvtcam.plugin_search().splitlines()
          if line.endswith('<- will be loaded')]
assert [os.path.realpath(p) for p in loaded] == ['$plugin'], lvtcam.plugin_search()
with lvtcam.simulate() as address, lvtcam.open(address) as cam:
    frames = list(cam.frames(3))
assert [f.distance.shape for f in frames] == [(50, 64)] * 3
assert all(numpy.isfinite(f.distance).any() for f in frames)
print('python: lvtcam', lvtcam.__version__, 'grabbed', len(frames), 'frames')
"
cat "$scratch/python.log"
echo "check_unpacked: ok"
