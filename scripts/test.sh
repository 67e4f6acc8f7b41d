#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then builds and runs them all once more
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs="${HM_JOBS:-2}"

echo "== build (Release) =="
bash scripts/build.sh build
echo "== tests =="
(cd build && ctest --output-on-failure -j "$jobs")

if [ "${HM_SKIP_SANITIZE:-0}" != "1" ]; then
  echo "== build (address + undefined behaviour sanitizers) =="
  bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DHM_SANITIZE=ON -DHM_BUILD_BENCH=OFF
  echo "== tests under sanitizers =="
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  (cd build-asan && ctest --output-on-failure -j "$jobs")
fi
