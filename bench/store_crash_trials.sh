#!/usr/bin/env bash
# Kills haldmoor3 with SIGKILL at random moments while it writes large stores, and counts the stores
# that the next start could not load and the entries they lost; both must stay 0.
# Usage: bench/store_crash_trials.sh [BUILD_DIR] [TRIALS]   (default build, 200 trials)
#
# The stores: 400 configurations, 30000 player records, 20 tracker infos, and a server list of three
# simulated servers (two running, one scheduled and started) that keep running across the kills.
# Each trial:
#  - two of three trials ask the program to exit (SIGTERM) and kill it once its first store's
#    temporary file shows up plus a random 0-30 ms, inside the run of stores at shutdown;
#  - every third trial kills a running server, waits until the supervisor relaunches it and kills the
#    program in the middle of storing the server list with the new process;
# then store_check loads every store with the program's own readers. Temporary files that a kill
# left behind show that the kill fell inside a write. A running server that the next start would not
# take back counts as orphaned; the trial then shows the stored entries and the running servers.
# Needs bench/store_check (built with the bench).
set -euo pipefail
build="${1:-build}"
trials="${2:-200}"
bin="$(cd "$build/bin" && pwd)"
work=$(mktemp -d)
export HALDMOOR3_REGISTRY="$work/registry.reg" XDG_RUNTIME_DIR="$work/run" HALDMOOR3_TIMER_MS=250
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
cfg="$work/cfg"
configs=400 players=30000 trackers=20 servers=3

cleanup() {
  [ -n "${pid:-}" ] && kill -9 "$pid" 2>/dev/null || true
  # Only the simulated servers of this work folder.
  pkill -9 -f -- "-setdir $work/game" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$bin/k3ded" make-install "$work/game" >/dev/null
"$bin/k3ded" demo-configs "$cfg" 31400 "$configs" >/dev/null
"$bin/store_check" grow "$cfg" "$servers" "$players" "$trackers"
cd "$work"

start() {
  "$bin/haldmoor3" --headless >"$work/events.txt" 2>&1 &
  pid=$!
  for _ in $(seq 1 400); do
    grep -q 'Initialization completed.' "$work/events.txt" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "the program did not start:"; cat "$work/events.txt"; exit 1
}
running_servers() { pgrep -c -f -- "-setdir $work/game" || true; }

# A first orderly run starts the servers and writes every store once.
start
for _ in $(seq 1 80); do
  [ "$(running_servers)" -ge "$servers" ] && break
  sleep 0.25
done
kill -TERM "$pid"; wait "$pid" || true
"$bin/store_check" check "$cfg" "$configs" "$players" "$trackers" "$servers" >/dev/null

unloadable=0 lost=0 orphans=0 hits=0 in_write=0
for t in $(seq 1 "$trials"); do
  start
  if [ $((t % 3)) -eq 0 ]; then
    # A server dies; the supervisor relaunches it and stores the list with its new process.
    victim=$(pgrep -f -- "-setdir $work/game" | head -n 1)
    kill -9 "$victim" 2>/dev/null || true
  else
    sleep 0.$((RANDOM % 3))
    kill -TERM "$pid"
  fi
  out=$("$bin/store_check" kill-in-store "$cfg" "$pid" 30000 "$RANDOM$t")
  [ "$out" = "killed while storing" ] && hits=$((hits + 1))
  wait "$pid" 2>/dev/null || true
  pid=
  check_out=$("$bin/store_check" check "$cfg" "$configs" "$players" "$trackers" "$servers") || true
  result=$(echo "$check_out" | tail -n 1)
  set -- $result  # unloadable N lost N temporaries N servers N attached N
  unloadable=$((unloadable + $2)); lost=$((lost + $4))
  [ "$6" -gt 0 ] && in_write=$((in_write + 1))
  # A running server that the stored list does not lead back to is orphaned.
  running=$(running_servers)
  if [ "$running" -gt "${10}" ]; then
    orphans=$((orphans + running - ${10}))
    echo "trial $t: $running servers run, $result"
    echo "$check_out" | grep '^  server' || true
    ps -o pid,ppid,stat,lstart,args -p "$(pgrep -d, -f -- "-setdir $work/game")" | sed 's/^/    /' || true
  fi
  if [ "$2" -ne 0 ] || [ "$4" -ne 0 ]; then echo "trial $t: $result"; fi
done

start
"$bin/haldmoor3" --send stop-exit >/dev/null || true
wait "$pid" || true
pid=
echo "$trials trials: $hits kills while storing, $in_write left a half-written temporary;" \
     "unloadable stores $unloadable, lost entries $lost, orphaned servers $orphans"
[ "$unloadable" -eq 0 ] && [ "$lost" -eq 0 ]
