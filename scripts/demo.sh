#!/usr/bin/env bash
# Builds the program and runs it on a demo installation in demo/ (kept between runs):
# the supervisor starts, ticks, answers a status request from a second start, and exits cleanly.
# Set HM_DEMO_SECONDS to keep it running longer (it always ends on Ctrl-C, like "Exit").
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/deps.sh
bash scripts/build.sh build

demo="$root/demo"
mkdir -p "$demo"
export HALDMOOR3_REGISTRY="$demo/registry.reg"
export XDG_RUNTIME_DIR="$demo/run"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export HALDMOOR3_TIMER_MS="${HALDMOOR3_TIMER_MS:-2000}"
seconds="${HM_DEMO_SECONDS:-8}"
bin="$root/build/bin/haldmoor3"

cd "$demo"
echo "== demo folder: $demo (timer ${HALDMOOR3_TIMER_MS} ms, ${seconds} s) =="
"$bin" --headless &
pid=$!
trap 'kill -TERM $pid 2>/dev/null || true' INT TERM
sleep 2
echo "== a second start hands its request to the running instance =="
"$bin" --send status || true
sleep "$seconds"
echo "== haldmoor3 --send exit =="
"$bin" --send exit || true
wait $pid
echo "== stores in $demo/cfg =="
ls -l "$demo/cfg"
if [ -d "$demo/log" ]; then ls -l "$demo/log"; fi
