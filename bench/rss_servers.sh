#!/usr/bin/env bash
# Resident memory of haldmoor3 while it supervises N simulated game servers with their remote
# consoles (default 50). Usage: bench/rss_servers.sh [BUILD_DIR] [N]
# Runs everything in a temporary folder on 127.0.0.1 and stops every server at the end.
set -euo pipefail
build="${1:-build}"
count="${2:-50}"
bin="$(cd "$build/bin" && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HALDMOOR3_REGISTRY="$work/registry.reg" XDG_RUNTIME_DIR="$work/run" HALDMOOR3_TIMER_MS=1000
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
"$bin/k3ded" make-install "$work/game" >/dev/null
"$bin/k3ded" demo-configs "$work/cfg" 31000 "$count" >/dev/null
cd "$work"
"$bin/haldmoor3" --headless > "$work/events.txt" 2>&1 &
pid=$!
running=0
for _ in $(seq 1 120); do
  sleep 1
  running=$("$bin/haldmoor3" --send status 2>/dev/null | awk -F'\t' 'NR > 1 && $1 != "-"' | wc -l)
  [ "$running" -ge "$count" ] && break
done
sleep 5  # the consoles log in and ask for their player lists
logged=$(grep -c 'player(s) assumed' "$work/events.txt" || true)
rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status")
threads=$(awk '/^Threads/ { print $2 }' "/proc/$pid/status")
echo "haldmoor3 supervising $running of $count servers: VmRSS ${rss} kB, ${threads} threads, ${logged} player-count events"
"$bin/haldmoor3" --send stop-exit >/dev/null
wait $pid
