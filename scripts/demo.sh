#!/usr/bin/env bash
# Builds everything and shows the main job on a demo installation in demo/:
#  - k3ded (the simulated Kelvane 3 dedicated server) makes a game installation in demo/game,
#    registered in demo/registry.reg, and three server configurations in demo/cfg (one scheduled);
#  - haldmoor3 runs headless in demo/ and launches them as k3ded processes;
#  - simulated players join one server (one with a forbidden nickname, who is kicked);
#  - the demo kills one server with SIGKILL and the supervisor brings it back;
#  - "haldmoor3 --send stop-exit" stops every server and ends the program.
# HM_DEMO_SECONDS keeps it running longer before the stop; HALDMOOR3_TIMER_MS sets the supervisor
# period (1000 ms here instead of 15 s, so the demo does not take minutes).
#
# scripts/demo.sh --gui runs the same installation with the program's window on your display
# (DISPLAY or WAYLAND_DISPLAY) and leaves it running until you close it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
gui=0
case "${1:-}" in
  "") ;;
  --gui) gui=1 ;;
  *) echo "usage: scripts/demo.sh [--gui]" >&2; exit 2 ;;
esac
if [ "$gui" = 1 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo.sh --gui: no display: neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
  echo "Run it in a desktop session, or run the headless demo: scripts/demo.sh" >&2
  exit 1
fi
bash scripts/deps.sh
bash scripts/build.sh build

demo="$root/demo"
mkdir -p "$demo"
export HALDMOOR3_REGISTRY="$demo/registry.reg"
export XDG_RUNTIME_DIR="$demo/run"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export HALDMOOR3_TIMER_MS="${HALDMOOR3_TIMER_MS:-1000}"
seconds="${HM_DEMO_SECONDS:-5}"
bin="$root/build/bin"

if [ ! -f "$demo/game/Kelvane 3.exe" ]; then
  echo "== making a demo game installation in $demo/game =="
  "$bin/k3ded" make-install "$demo/game"
fi
if [ ! -f "$demo/cfg/KelvaneConfig.dat" ]; then
  "$bin/k3ded" demo-configs "$demo/cfg" 2300
fi

cd "$demo"
if [ "$gui" = 1 ]; then
  echo "== haldmoor3 with its window in $demo =="
  echo "The servers start within seconds. To stop them and end the program, press \"Stop & Exit\" in the"
  echo "window, or in another terminal:"
  echo "  cd $demo && HALDMOOR3_REGISTRY=$HALDMOOR3_REGISTRY XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR \\"
  echo "    $bin/haldmoor3 --send stop-exit"
  echo "(\"Exit\" leaves the servers running; the next start of the demo finds them again.)"
  status=0
  "$bin/haldmoor3" || status=$?
  echo "== haldmoor3 ended (exit status $status); stores in $demo/cfg, logs in $demo/log =="
  exit "$status"
fi
echo "== haldmoor3 --headless in $demo (event lines follow) =="
"$bin/haldmoor3" --headless &
pid=$!
trap 'kill -TERM $pid 2>/dev/null || true' INT TERM
sleep 3
echo "== haldmoor3 --send status =="
"$bin/haldmoor3" --send status
echo "== players join the server on port 2301: Alice, Bob, and %evil (an invalid nickname) =="
for name in Alice Bob %evil; do
  "$bin/k3ded" client --port 2301 join "$name" || true
done
sleep 4
victim=$("$bin/haldmoor3" --send status | awk -F'\t' '$5 == "2300" { print $1 }')
if [ -n "$victim" ] && [ "$victim" != "-" ]; then
  echo "== kill -9 $victim (the server on port 2300); the supervisor restarts it =="
  kill -9 "$victim"
  for _ in $(seq 1 30); do
    sleep 1
    now=$("$bin/haldmoor3" --send status | awk -F'\t' '$5 == "2300" { print $1 }')
    if [ -n "$now" ] && [ "$now" != "-" ] && [ "$now" != "$victim" ]; then break; fi
  done
  "$bin/haldmoor3" --send status
fi
sleep "$seconds"
echo "== haldmoor3 --send stop-exit =="
"$bin/haldmoor3" --send stop-exit || true
wait $pid
echo "== stores in $demo/cfg, logs in $demo/log =="
ls -l "$demo/cfg" "$demo/log"
