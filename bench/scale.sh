#!/usr/bin/env bash
# The program at scale: N simulated game servers (k3ded) started and supervised by haldmoor3, measured
# in one run. Usage: bench/scale.sh [N] [BUILD_DIR]   (N 1 to 500, default 50)
#
# Prints, for the run:
#   - the worst and median `--send status` latency while sampled every 100 ms for SCALE_SECONDS (60);
#   - the longest supervisor pass the program measured (`--send stats`);
#   - the program's CPU while idle over SCALE_SECONDS, its resident memory and threads;
#   - a burst of SCALE_PAIRS (2000) join+leave pairs on one server: events seen against pairs sent,
#     console time-outs and relaunches it caused;
#   - the wall time of `--send exit` (servers keep running), and after a restart that finds them
#     again, of `--send stop-exit` (every server stopped).
# Everything runs in a temporary folder on 127.0.0.1; no game server is left behind.
set -euo pipefail
count="${1:-50}"
build="${2:-build}"
seconds="${SCALE_SECONDS:-60}"
pairs="${SCALE_PAIRS:-2000}"
base_port="${SCALE_PORT:-31000}"
bin="$(cd "$build/bin" && pwd)"
work=$(mktemp -d)
program=""
cleanup() {
  [ -n "$program" ] && kill -KILL "$program" 2>/dev/null || true
  pkill -KILL -f "$work/game/main.exe" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# A supervisor pass a second (SCALE_TIMER_MS): a third of the demo configurations are scheduled, and the
# supervisor starts one of those per pass, so with the 15 s period 500 servers would take 40 minutes
# to come up. The passes then also run 15 times as often as in production: the figures err on the
# safe side.
export HALDMOOR3_TIMER_MS="${SCALE_TIMER_MS:-1000}"
export HALDMOOR3_REGISTRY="$work/registry.reg" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
"$bin/k3ded" make-install "$work/game" >/dev/null
"$bin/k3ded" demo-configs "$work/cfg" "$base_port" "$count" >/dev/null
cd "$work"

now_ms() { date +%s%3N; }
send() { "$bin/haldmoor3" --send "$@"; }
running_servers() { send status 2>/dev/null | awk -F'\t' 'NR > 1 && $1 != "-" && $1 != ""' | wc -l; }
logged_in() { grep -c 'player(s) assumed' "$work/events.txt" || true; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

start_program() {
  "$bin/haldmoor3" --headless >> "$work/events.txt" 2>&1 &
  program=$!
  local before=$1
  for _ in $(seq 1 600); do
    sleep 1
    [ "$(running_servers)" -ge "$count" ] && [ "$(logged_in)" -ge $((before + count)) ] && return 0
  done
  echo "scale: only $(running_servers) of $count servers ran with a console after 600 s" >&2
  return 1
}

wait_gone() {  # waits until the program has ended; prints the milliseconds since $2
  while kill -0 "$1" 2>/dev/null; do sleep 0.05; done
  wait "$1" 2>/dev/null || true
  echo $(( $(now_ms) - $2 ))
}

t0=$(now_ms)
start_program 0
echo "N=$count: all servers running with consoles logged in after $(( ($(now_ms) - t0) / 1000 )) s"

# Status latency, sampled every 100 ms.
latencies="$work/latencies"
: > "$latencies"
end=$(( $(date +%s) + seconds ))
while [ "$(date +%s)" -lt "$end" ]; do
  a=$(now_ms)
  send status > /dev/null
  echo $(( $(now_ms) - a )) >> "$latencies"
  sleep 0.1
done
samples=$(wc -l < "$latencies")
worst=$(sort -n "$latencies" | tail -1)
median=$(sort -n "$latencies" | awk -v n="$samples" 'NR == int((n + 1) / 2)')
echo "status latency: worst ${worst} ms, median ${median} ms over ${samples} samples"

# Idle CPU: nobody asks anything.
hz=$(getconf CLK_TCK)
c0=$(cpu_ticks "$program")
sleep "$seconds"
c1=$(cpu_ticks "$program")
awk -v d=$((c1 - c0)) -v hz="$hz" -v s="$seconds" 'BEGIN { printf "idle CPU: %.2f %% of a core over %d s\n", 100 * d / hz / s, s }'
rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$program/status")
threads=$(awk '/^Threads/ { print $2 }' "/proc/$program/status")
echo "resident memory: $((rss / 1024)) MB (${rss} kB), ${threads} threads"

# A burst of joins and leaves on the first server.
launches_before=$(grep -c ': Launched' "$work/events.txt" || true)
a=$(now_ms)
"$bin/k3ded" client --port "$base_port" burst "$pairs" Pilot > "$work/burst.txt" || true
sent_ms=$(( $(now_ms) - a ))
server="Server $base_port"
for _ in $(seq 1 120); do
  [ "$(grep -c "^.*$server: Player '.*' has left\." "$work/events.txt" || true)" -ge "$pairs" ] && break
  sleep 1
done
sleep 20  # some passes more, in which a console that fell behind would time out
joins=$(grep -c "$server: Player '.*' has joined\." "$work/events.txt" || true)
leaves=$(grep -c "$server: Player '.*' has left\." "$work/events.txt" || true)
timeouts=$(grep -c 'remote console timeout' "$work/events.txt" || true)
launches_after=$(grep -c ': Launched' "$work/events.txt" || true)
echo "burst: $(cat "$work/burst.txt") in ${sent_ms} ms; events seen: ${joins} joins, ${leaves} leaves of ${pairs}; console time-outs: ${timeouts}; relaunches: $((launches_after - launches_before))"
echo "longest supervisor pass: $(send stats | awk -F'\t' '$1 == "longest pass ms" { print $2 }') ms"

# Exit (servers keep running), then a restart that finds them again, then stop-exit.
a=$(now_ms)
send exit > /dev/null
echo "exit: $(wait_gone "$program" "$a") ms"
program=""
start_program "$(logged_in)"
a=$(now_ms)
send stop-exit > /dev/null
echo "stop-exit: $(wait_gone "$program" "$a") ms"
program=""
left=$(pgrep -f "$work/game/main.exe" | wc -l || true)
echo "game servers left running: ${left}"
