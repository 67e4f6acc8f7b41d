#!/usr/bin/env bash
# Desktop smoke test: runs the real program with its window in a private X server (Xvfb), on a
# temporary demo installation, the way a person would: it starts haldmoor3 without --headless, waits
# until the game servers run and the main window is shown, takes a screenshot of the whole screen to
# BUILD/ui-shots/desktop.png, asks for the status, sends "stop-exit", and checks that the program
# ended and left no game server behind.
#
# Usage: scripts/gui-smoke.sh [BUILD]   (default: build)
# Exit status: 0 passed; 1 failed (the message names what was missing); 77 skipped, only when Xvfb or
# ImageMagick's import are missing AND HM_GUI_SMOKE_OPTIONAL=1 is set.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
bin="$build/bin"
shots="$build/ui-shots"
start_timeout="${HM_GUI_SMOKE_SECONDS:-60}"

say() { echo "gui-smoke: $*"; }
fail() {
  say "FAILED: $*"
  if [ -n "${tmp:-}" ] && [ -s "$tmp/haldmoor3.out" ]; then
    say "last output of haldmoor3:"
    tail -n 30 "$tmp/haldmoor3.out" | sed 's/^/  | /'
  fi
  exit 1
}

# --- tools -----------------------------------------------------------------------------------------
missing_core=()
command -v Xvfb >/dev/null || missing_core+=("Xvfb (package xvfb)")
command -v import >/dev/null || missing_core+=("import (package imagemagick)")
if [ ${#missing_core[@]} -gt 0 ]; then
  missing_text="${missing_core[0]}"
  [ ${#missing_core[@]} -gt 1 ] && missing_text+=" and ${missing_core[1]}"
  if [ "${HM_GUI_SMOKE_OPTIONAL:-0}" = "1" ]; then
    say "skipped (${missing_text} not installed)"
    exit 77
  fi
  fail "${missing_text} not installed; run scripts/deps.sh"
fi
command -v xdotool >/dev/null || command -v xwininfo >/dev/null ||
  fail "neither xdotool (package xdotool) nor xwininfo (package x11-utils) is installed; run scripts/deps.sh"
[ -x "$bin/haldmoor3" ] || fail "$bin/haldmoor3 does not exist; build it first (scripts/build.sh $build)"
[ -x "$bin/k3ded" ] || fail "$bin/k3ded does not exist; build it first (scripts/build.sh $build)"

# --- clean-up: only what this script started, by process id -----------------------------------------
tmp=""
xvfb_pid=""
program_pid=""
game_servers() {  # ids of the game servers started from this script's installation
  [ -n "$tmp" ] || return 0
  local p cmd
  for p in /proc/[0-9]*; do
    cmd=$(tr '\0' ' ' <"$p/cmdline" 2>/dev/null) || continue
    case "$cmd" in *"$tmp/game/"*) echo "${p#/proc/}" ;; esac
  done
}
cleanup() {
  local status=$?
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill -TERM "$program_pid" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$program_pid" 2>/dev/null
  fi
  local left
  left=$(game_servers)
  # shellcheck disable=SC2086
  [ -n "$left" ] && kill -KILL $left 2>/dev/null
  if [ -n "$xvfb_pid" ]; then
    kill -TERM "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  if [ -n "$tmp" ] && [ "${HM_GUI_SMOKE_KEEP:-0}" != "1" ]; then rm -rf "$tmp"; fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- a private X server on a free display -----------------------------------------------------------
display=""
for n in $(seq 90 199); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$xvfb_pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
    display=":$n"
    break
  fi
  # Another X server took the number meanwhile: try the next one.
  kill -TERM "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
done
[ -n "$display" ] || fail "no free X display between :90 and :199, or Xvfb did not start"
say "Xvfb runs on display $display (pid $xvfb_pid)"

# --- a demo installation, as scripts/demo.sh makes it ------------------------------------------------
tmp=$(mktemp -d /tmp/hm-gui-smoke.XXXXXX) || fail "cannot make a temporary folder"
export HALDMOOR3_REGISTRY="$tmp/registry.reg"
export XDG_RUNTIME_DIR="$tmp/run"
export HALDMOOR3_TIMER_MS=1000
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

# Three game ports (UDP) that nothing on this host holds, so that no port question stops the start.
port_in_use() {
  local hex
  hex=$(printf ':%04X ' "$1")
  cat /proc/net/udp /proc/net/udp6 /proc/net/tcp /proc/net/tcp6 2>/dev/null | awk '{print $2" "}' | grep -q -- "$hex"
}
base=""
for _ in $(seq 1 50); do
  candidate=$((20000 + RANDOM % 9000))
  if ! port_in_use "$candidate" && ! port_in_use $((candidate + 1)) && ! port_in_use $((candidate + 2)); then
    base=$candidate
    break
  fi
done
[ -n "$base" ] || fail "no three free game ports found between 20000 and 29000"

"$bin/k3ded" make-install "$tmp/game" >"$tmp/k3ded.out" 2>&1 || fail "k3ded make-install failed: $(cat "$tmp/k3ded.out")"
"$bin/k3ded" demo-configs "$tmp/cfg" "$base" >>"$tmp/k3ded.out" 2>&1 ||
  fail "k3ded demo-configs failed: $(cat "$tmp/k3ded.out")"
[ -f "$tmp/game/main.exe" ] || fail "the demo installation has no game/main.exe"
[ -f "$tmp/cfg/KelvaneConfig.dat" ] || fail "the demo installation has no cfg/KelvaneConfig.dat"
say "demo installation in $tmp (game ports $base to $((base + 2)))"

# --- the program with its window ---------------------------------------------------------------------
(
  cd "$tmp" || exit 1
  unset WAYLAND_DISPLAY
  export DISPLAY="$display" QT_QPA_PLATFORM=xcb
  exec "$bin/haldmoor3"
) >"$tmp/haldmoor3.out" 2>&1 &
program_pid=$!
say "haldmoor3 started (pid $program_pid)"

send() { "$bin/haldmoor3" --send "$@"; }
running_servers() {  # status lines whose PID column is a number
  send status 2>/dev/null | awk -F'\t' 'NR > 1 && $1 ~ /^[0-9]+$/' | wc -l
}

deadline=$((SECONDS + start_timeout))
count=0
while [ $SECONDS -lt $deadline ]; do
  kill -0 "$program_pid" 2>/dev/null || fail "haldmoor3 ended by itself before its servers ran"
  count=$(running_servers)
  [ "$count" -ge 2 ] && break
  sleep 1
done
[ "$count" -ge 2 ] || fail "after ${start_timeout} s, '--send status' lists $count server(s) with a PID, expected at least 2"
say "$count game servers run"

window=""
while [ $SECONDS -lt $((deadline + 30)) ]; do
  kill -0 "$program_pid" 2>/dev/null || fail "haldmoor3 ended by itself before its window was shown"
  if command -v xdotool >/dev/null; then
    window=$(DISPLAY="$display" xdotool search --onlyvisible --name '^Haldmoor3 v3\.0' 2>/dev/null | head -n 1)
  fi
  if [ -z "$window" ] && command -v xwininfo >/dev/null; then
    window=$(DISPLAY="$display" xwininfo -root -tree 2>/dev/null | grep -E '^ +0x[0-9a-f]+ "Haldmoor3 v3\.0' |
      awk '{print $1}' | head -n 1)
  fi
  [ -n "$window" ] && break
  sleep 1
done
[ -n "$window" ] || fail "no window whose title begins \"Haldmoor3 v3.0\" on display $display"
say "main window $window: $(DISPLAY="$display" xwininfo -id "$window" 2>/dev/null | sed -n 's/^xwininfo: Window id: [^ ]* //p')"

mkdir -p "$shots"
sleep 1  # let the window finish painting
DISPLAY="$display" import -window root "$shots/desktop.png" 2>"$tmp/import.err" ||
  fail "import could not take the screenshot: $(cat "$tmp/import.err")"
[ -s "$shots/desktop.png" ] || fail "the screenshot $shots/desktop.png is empty"
say "screenshot: $shots/desktop.png"

say "haldmoor3 --send status:"
send status || fail "'haldmoor3 --send status' failed"

say "haldmoor3 --send stop-exit"
send stop-exit || fail "'haldmoor3 --send stop-exit' failed"
deadline=$((SECONDS + 60))
while kill -0 "$program_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.5; done
kill -0 "$program_pid" 2>/dev/null && fail "haldmoor3 still runs 60 s after 'stop-exit'"
wait "$program_pid"
code=$?
program_pid=""
[ "$code" -eq 0 ] || fail "haldmoor3 ended with exit status $code after 'stop-exit'"

left=$(game_servers)
[ -z "$left" ] || fail "game servers of the demo installation still run after 'stop-exit': $(echo $left)"
say "passed"
