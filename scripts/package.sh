#!/usr/bin/env bash
# Builds the Debian package of Haldmoor3 with CPack from a build folder (default build/) into
# BUILD/package/haldmoor3_VERSION_ARCH.deb. Its dependencies are read from the shared libraries the
# programs link (dpkg-shlibdeps); the install rules are those of "cmake --install".
#
# Usage: scripts/package.sh [BUILD]
# The build folder is configured for the prefix /usr (so the library lands in Debian's multiarch
# folder); nothing is compiled again for that. A build with sanitizers or fuzzing is refused: its
# programs must not ship.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
jobs="${HM_JOBS:-2}"
bash scripts/deps.sh

cmake -S . -B "$build" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
for option in HM_SANITIZE HM_TSAN HM_FUZZ; do
  if grep -q "^$option:BOOL=ON" "$build/CMakeCache.txt"; then
    echo "package: $build is built with $option=ON; package a plain build (scripts/build.sh build)" >&2
    exit 1
  fi
done
type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")
type="${type:-Release}"  # the project builds Release when no type is given
if [ "$type" != "Release" ]; then
  echo "package: note: $build is a $type build, not Release" >&2
fi
cmake --build "$build" -j "$jobs" --target haldmoor3 haldmoor3-updater haldmoor3-sign haldscope k3ded jotwell

rm -rf "$build/package"
(cd "$build" && cpack --config CPackConfig.cmake -G DEB) >"$build/cpack.log" 2>&1 || {
  cat "$build/cpack.log" >&2
  echo "package: cpack failed" >&2
  exit 1
}
shopt -s nullglob
debs=("$build"/package/*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  cat "$build/cpack.log" >&2
  echo "package: expected one package in $build/package, found ${#debs[@]}" >&2
  exit 1
fi
echo "package: ${debs[0]}"
dpkg-deb --field "${debs[0]}" Package Version Architecture Depends
