#!/usr/bin/env bash
# Builds everything and runs the program on a demo installation in demo/:
#  - k3ded (the simulated Kelvane 3 dedicated server) makes a game installation in demo/game and
#    registers it in demo/registry.reg;
#  - haldmoor3 runs headless in demo/ (stores in demo/cfg, logs in demo/log), starts up, ticks,
#    answers a status request from a second start, and exits on "haldmoor3 --send exit".
# HM_DEMO_SECONDS keeps it running longer; Ctrl-C acts as "Exit".
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
bin="$root/build/bin"

if [ ! -f "$demo/game/Kelvane 3.exe" ]; then
  echo "== making a demo game installation in $demo/game =="
  "$bin/k3ded" make-install "$demo/game"
fi

cd "$demo"
echo "== haldmoor3 --headless in $demo (supervisor period ${HALDMOOR3_TIMER_MS} ms, ${seconds} s) =="
"$bin/haldmoor3" --headless &
pid=$!
trap 'kill -TERM $pid 2>/dev/null || true' INT TERM
sleep 2
echo "== a second start hands its request to the running instance: haldmoor3 --send status =="
"$bin/haldmoor3" --send status || true
sleep "$seconds"
echo "== haldmoor3 --send exit =="
"$bin/haldmoor3" --send exit || true
wait $pid
echo "== stores in $demo/cfg =="
ls -l "$demo/cfg"
