#!/usr/bin/env bash
# Installs the Debian packages the project needs (Debian 12, as root).
#   install-deps.sh          everything: the test set (native, 32-bit, sanitizers, lint, fuzzers)
#   install-deps.sh demo     only what ./run demo needs to build vyxgrab and grab
# Idempotent, and quiet when everything is already there.
set -euo pipefail

# Enough to build vyxgrab, the plug-in and the simulator.
demo=(cmake g++ make pkg-config libflxmlrpc-dev libpng-dev nlohmann-json3-dev libcli11-dev
      libzstd-dev zlib1g-dev)
# On top of that for ./run test: test, lint and fuzz tools, the 32-bit toolchain (and the emulator
# for kernels that cannot run it), the Debian packages' build and check (./run package), node for
# the MCAP readers of tests/mcap_check, and what the Python module, the GStreamer element and the
# viewer (with its browser
# test) build and run with; Open3D reads the grabber's point clouds in a test, and OpenCV
# serves the lens calibration tool vyxcalib.
native=(git file libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev clang-tidy
        cppcheck clang-format g++-multilib
        python3 python3-numpy python3-dev pybind11-dev python3-pytest python3-gi gir1.2-gstreamer-1.0
        python3-open3d
        libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
        gstreamer1.0-plugins-base gstreamer1.0-plugins-good
        libboost-dev chromium chromium-driver python3-selenium python3-pil libjs-three
        dpkg-dev debhelper dh-python lintian nodejs libopencv-dev)
i386=(qemu-user libflxmlrpc-dev:i386 libgtest-dev:i386 libpng-dev:i386 libbenchmark-dev:i386
      libzstd-dev:i386 zlib1g-dev:i386)

if [ "${1:-all}" = demo ]; then
  wanted=("${demo[@]}")
  need_i386=no
else
  wanted=("${demo[@]}" "${native[@]}" "${i386[@]}")
  need_i386=yes
fi

missing=()
have_i386=$(dpkg --print-foreign-architectures | grep -qx i386 && echo yes || echo no)
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# The MCAP format's own readers for tests/mcap_check, pinned by its package-lock.json; from
# npm's registry, installed again only when the lock changed.
npm_check() {
  [ "${1:-all}" = demo ] && return 0
  local dir=tests/mcap_check
  command -v npm >/dev/null || { echo "install-deps: no npm; the MCAP check will be skipped" >&2; return 0; }
  cmp -s "$dir/package-lock.json" "$dir/node_modules/.installed-lock" 2>/dev/null && return 0
  (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error >/dev/null &&
    cp package-lock.json node_modules/.installed-lock)
}
cd "$(dirname "$0")/.."

if [ ${#missing[@]} -eq 0 ] && { [ "$need_i386" = no ] || [ "$have_i386" = yes ]; }; then
  npm_check "${1:-all}"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}); run as root" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
[ "$need_i386" = no ] || [ "$have_i386" = yes ] || dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
npm_check "${1:-all}"
