#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the benchmarks and the demo need
# (the X server, window tools and screenshot tool are for scripts/gui-smoke.sh; dpkg-dev and file
# for the package's dependencies, man-db, groff-base and desktop-file-utils for checking what it installs).
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential g++ cmake ninja-build pkg-config
  qt6-base-dev
  libgtest-dev libgmock-dev googletest
  libbenchmark-dev
  zlib1g-dev
  libcurl4-openssl-dev libssl-dev openssl
  libsodium-dev
  nlohmann-json3-dev
  libspdlog-dev
  procps psmisc
  clang libclang-rt-14-dev
  xvfb xauth xdotool x11-utils imagemagick
  dpkg-dev file man-db groff-base desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
