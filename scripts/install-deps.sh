#!/usr/bin/env bash
# Installs every Debian package the project needs (Debian 12, as root).
# Idempotent, and quiet when everything is already there.
set -euo pipefail

native=(cmake g++ make pkg-config git libflxmlrpc-dev libgtest-dev libgmock-dev
        libbenchmark-dev libpng-dev nlohmann-json3-dev libcli11-dev clang libclang-rt-14-dev clang-tidy cppcheck
        clang-format g++-multilib python3 python3-numpy python3-dev pybind11-dev python3-pytest
        libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
        gstreamer1.0-plugins-base gstreamer1.0-plugins-good
        libboost-dev chromium chromium-driver python3-selenium)
i386=(libflxmlrpc-dev:i386 libgtest-dev:i386 libpng-dev:i386 libbenchmark-dev:i386)

missing=()
have_i386=$(dpkg --print-foreign-architectures | grep -qx i386 && echo yes || echo no)
for p in "${native[@]}" "${i386[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ "$have_i386" = yes ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}); run as root" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
[ "$have_i386" = yes ] || dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
