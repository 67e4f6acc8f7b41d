#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (ASan + UBSan) into build-fuzz/ (or $HM_FUZZ_BUILD)
# and runs one target,
# or all of them, for the given seconds each:
#   scripts/fuzz.sh [TARGET|all] [SECONDS]        (default: all, 60 s)
# Each target starts from its seed corpus fuzz/corpus/TARGET and grows a working corpus in
# $HM_FUZZ_WORK/TARGET/corpus (default <build>/runs); crash, leak and time-out reproducers land in
# $HM_FUZZ_WORK/TARGET/findings, outside every corpus. HM_FUZZ_PARALLEL targets run at once (default 1);
# every run is niced, the machine is shared. Prints executions and findings per target and fails when
# any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
target="${1:-all}"
seconds="${2:-60}"
build="${HM_FUZZ_BUILD:-build-fuzz}"
work="${HM_FUZZ_WORK:-$root/$build/runs}"
parallel="${HM_FUZZ_PARALLEL:-1}"
jobs="${HM_JOBS:-2}"

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is not installed" >&2
  exit 2
fi
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHM_FUZZ=ON \
  -DHM_BUILD_TESTS=OFF -DHM_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
if ! grep -q '^HM_FUZZ:BOOL=ON' "$build/CMakeCache.txt" || ! grep -q '^HM_HAVE_LIBFUZZER:INTERNAL=1' "$build/CMakeCache.txt"; then
  echo "fuzz: this clang cannot build libFuzzer targets (is libclang-rt-dev installed?)" >&2
  exit 2
fi
cmake --build "$build" -j "$jobs" --target fuzz_all

all=()
for f in fuzz/corpus/*/; do all+=("$(basename "$f")"); done
if [ "$target" = "all" ]; then
  targets=("${all[@]}")
else
  if [ ! -x "$build/bin/fuzz_$target" ]; then
    echo "fuzz: no target '$target' (targets: ${all[*]})" >&2
    exit 2
  fi
  targets=("$target")
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

run_one() {
  local t="$1" dir="$work/$1"
  mkdir -p "$dir/corpus" "$dir/findings"
  local before
  before=$(find "$dir/findings" -type f | wc -l)
  (cd "$dir" && nice -n 10 "$root/$build/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
     -max_len=8192 -print_final_stats=1 -artifact_prefix=findings/ corpus "$root/fuzz/corpus/$t" >log.txt 2>&1) || true
  local execs findings
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log.txt" | tail -1)
  findings=$(( $(find "$dir/findings" -type f | wc -l) - before ))
  printf '%-22s %12s executions  %d findings\n' "$t" "${execs:-?}" "$findings" >"$dir/result"
}

for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  run_one "$t" &
done
wait

status=0
for t in "${targets[@]}"; do
  cat "$work/$t/result"
  if ! grep -q ' 0 findings$' "$work/$t/result"; then
    status=1
    echo "  reproducers in $work/$t/findings, log in $work/$t/log.txt"
  fi
done
exit $status
