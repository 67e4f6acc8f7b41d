#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then builds and runs them all once more
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the threaded tests under ThreadSanitizer;
# then a short run of every fuzz target, and last the program with its window in Xvfb.
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

# ThreadSanitizer over the tests that run threads (label "threaded") and the programs they start.
# Every report, also one from a started k3ded or haldmoor3, lands in build-tsan/tsan-reports and fails
# the stage. HM_SKIP_TSAN=1 (or HM_SKIP_SANITIZE=1) leaves it out.
if [ "${HM_SKIP_SANITIZE:-0}" != "1" ] && [ "${HM_SKIP_TSAN:-0}" != "1" ]; then
  echo "== build (thread sanitizer, threaded tests only) =="
  tsan_start=$(date +%s)
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHM_TSAN=ON -DHM_BUILD_BENCH=OFF >/dev/null
  cmake --build build-tsan -j "$jobs" --target threaded_tests
  echo "== threaded tests under the thread sanitizer =="
  rm -rf build-tsan/tsan-reports && mkdir -p build-tsan/tsan-reports
  tsan_failed=0
  (cd build-tsan && TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:log_path=$PWD/tsan-reports/tsan" \
    ctest --output-on-failure -j "$jobs" -L threaded) || tsan_failed=1
  if compgen -G "build-tsan/tsan-reports/tsan*" >/dev/null; then
    echo "thread sanitizer reports:"
    cat build-tsan/tsan-reports/tsan*
    tsan_failed=1
  fi
  echo "== thread sanitizer stage took $(( $(date +%s) - tsan_start )) s =="
  [ "$tsan_failed" = "0" ]
fi

# A short run of every fuzz target on its seed corpus (clang with libFuzzer, ASan and UBSan); it
# starts from the seeds alone each time, so a finding here is one that the seeds nearly reach.
if [ "${HM_SKIP_FUZZ:-0}" != "1" ]; then
  echo "== fuzz targets, ${HM_FUZZ_SECONDS:-10} s each on the seed corpus =="
  if command -v clang++ >/dev/null; then
    rm -rf build-fuzz/ci-runs
    HM_FUZZ_WORK="$PWD/build-fuzz/ci-runs" bash scripts/fuzz.sh all "${HM_FUZZ_SECONDS:-10}"
  else
    echo "skipped: clang++ is not installed"
  fi
fi

# The real program with its window in a private X server: servers start, the window shows, a
# screenshot lands in build/ui-shots/desktop.png, and "stop-exit" ends it all. HM_SKIP_GUI_SMOKE=1
# leaves it out.
if [ "${HM_SKIP_GUI_SMOKE:-0}" != "1" ]; then
  echo "== desktop smoke test (Xvfb) =="
  bash scripts/gui-smoke.sh build
fi

# The Debian package, unpacked into a scratch folder and run there (tests/package_check.sh). HM_SKIP_PACKAGE=1 leaves it out.
[ "${HM_SKIP_PACKAGE:-0}" = "1" ] || { echo "== Debian package =="; bash tests/package_check.sh build; }
