#!/usr/bin/env bash
# The Debian package as an administrator meets it: scripts/package.sh builds it, dpkg-deb unpacks it
# into a scratch root, and the installed program runs headless on a demo installation (made by the
# installed k3ded) until a supervisor pass has run, then "--send exit" ends it. Checked: the control
# fields and the dependencies read from the shared libraries; every installed file; libjotwell.so is
# found in the installed layout without LD_LIBRARY_PATH (the global log is written through it); the
# help pages; the man page renders without warnings; both units pass "systemd-analyze verify" (when
# that tool is here); the desktop file validates (when desktop-file-validate is here); the maintainer
# scripts leave a scratch root alone and succeed.
#
# Usage: tests/package_check.sh [BUILD]   (default: build)
set -uo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
build="${1:-build}"

say() { echo "package check: $*"; }
fail() {
  say "FAILED: $*"
  if [ -n "${tmp:-}" ] && [ -s "$tmp/work/out.txt" ]; then
    say "output of the installed haldmoor3:"
    tail -n 30 "$tmp/work/out.txt" "$tmp/work/err.txt" 2>/dev/null | sed 's/^/  | /'
  fi
  exit 1
}

tmp=""
program_pid=""
cleanup() {
  local status=$?
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill -KILL "$program_pid" 2>/dev/null
  fi
  [ -n "$tmp" ] && rm -rf "$tmp"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bash scripts/package.sh "$build" >"$build/package-check.log" 2>&1 ||
  { cat "$build/package-check.log"; fail "scripts/package.sh failed"; }
shopt -s nullglob
debs=("$build"/package/haldmoor3_*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one package in $build/package, found ${#debs[@]}"
deb="${debs[0]}"
say "$deb"

# --- control fields ----------------------------------------------------------------------------------
for field in Package Version Architecture Maintainer Section Description; do
  [ -n "$(dpkg-deb --field "$deb" "$field")" ] || fail "the control field $field is empty"
done
depends=$(dpkg-deb --field "$deb" Depends)
for library in libc6 libqt6widgets6 libcurl4 libsodium23; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library (dpkg-shlibdeps did not run?): $depends"
done

# --- installed files ---------------------------------------------------------------------------------
tmp=$(mktemp -d /tmp/hm-package-check.XXXXXX) || fail "cannot make a scratch folder"
root="$tmp/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null) || fail "dpkg-architecture failed"
for f in usr/bin/haldmoor3 usr/bin/haldmoor3-updater usr/bin/haldmoor3-sign usr/bin/haldscope usr/lib/haldmoor3/k3ded; do
  [ -x "$root/$f" ] || fail "/$f is missing or not executable"
done
for f in "usr/lib/$multiarch/libjotwell.so" usr/include/jotwell.h usr/share/man/man1/haldmoor3.1.gz \
         usr/lib/systemd/system/haldmoor3.service usr/lib/systemd/user/haldmoor3.service \
         usr/share/applications/haldmoor3.desktop usr/share/icons/hicolor/scalable/apps/haldmoor3.svg; do
  [ -f "$root/$f" ] || fail "/$f is missing"
done
grep -q '^ExecStart=/usr/bin/haldmoor3 --headless$' "$root/usr/lib/systemd/system/haldmoor3.service" ||
  fail "the system unit does not start /usr/bin/haldmoor3 --headless"
bash tests/help_pages_check.sh "$root/usr/share/haldmoor3/help" || fail "the installed help pages"

# --- the installed program on a demo installation ------------------------------------------------------
mkdir -p "$tmp/run" "$tmp/work" && chmod 700 "$tmp/run"
export HALDMOOR3_REGISTRY="$tmp/registry.reg" XDG_RUNTIME_DIR="$tmp/run" HALDMOOR3_TIMER_MS=100
unset LD_LIBRARY_PATH DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM NOTIFY_SOCKET WATCHDOG_USEC JOURNAL_STREAM
"$root/usr/lib/haldmoor3/k3ded" make-install "$tmp/game" >"$tmp/make-install.out" 2>&1 ||
  fail "the installed k3ded make-install failed: $(cat "$tmp/make-install.out")"
send() { "$root/usr/bin/haldmoor3" --send "$@"; }
(cd "$tmp/work" && exec "$root/usr/bin/haldmoor3" --headless) >"$tmp/work/out.txt" 2>"$tmp/work/err.txt" &
program_pid=$!
deadline=$((SECONDS + 60))
until grep -q ': Initialization completed\.$' "$tmp/work/out.txt"; do
  kill -0 "$program_pid" 2>/dev/null || fail "the installed haldmoor3 ended before its start-up completed"
  [ $SECONDS -lt $deadline ] || fail "no \"Initialization completed.\" within 60 s"
  sleep 0.2
done
passes=0
until [ "$passes" -ge 1 ]; do
  passes=$(send stats 2>/dev/null | awk -F'\t' '$1 == "supervisor passes" { print $2 }')
  passes=${passes:-0}
  [ $SECONDS -lt $deadline ] || fail "no supervisor pass within 60 s"
  [ "$passes" -ge 1 ] || sleep 0.2
done
[ "$(send exit)" = "OK" ] || fail "'haldmoor3 --send exit' was not answered OK"
for _ in $(seq 1 300); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$program_pid" 2>/dev/null && fail "the installed haldmoor3 still runs 30 s after 'exit'"
wait "$program_pid"
code=$?
program_pid=""
[ "$code" -eq 0 ] || fail "the installed haldmoor3 ended with exit status $code"
[ -f "$tmp/work/cfg/KelvaneConfig.dat" ] || fail "no cfg/KelvaneConfig.dat was stored"
# A first start with jotwell present switches the global log on; it exists only when the program bound
# the library from the installed library folder.
logs=("$tmp"/work/log/Haldmoor3_*.log)
[ ${#logs[@]} -eq 1 ] && grep -q 'Initialization completed\.' "${logs[0]}" ||
  fail "no global log written through the installed libjotwell.so in $tmp/work/log"
say "the installed program ran $passes supervisor pass(es), wrote its global log through libjotwell.so and ended on 'exit'"

# --- the man page --------------------------------------------------------------------------------------
man_page="$root/usr/share/man/man1/haldmoor3.1.gz"
warnings=$(zcat "$man_page" | groff -man -ww -z -Tutf8 2>&1)
[ -z "$warnings" ] || fail "groff warns about the man page: $warnings"
if command -v man >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$man_page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man warns about the man page: $warnings"
  for section in OPTIONS COMMANDS ENVIRONMENT FILES "EXIT STATUS"; do
    MANWIDTH=80 man -l "$man_page" 2>/dev/null | grep -q "^$section" || fail "the man page has no section $section"
  done
fi

# --- the units -------------------------------------------------------------------------------------------
if command -v systemd-analyze >/dev/null; then
  # verify wants the programs named by ExecStart to exist: the scratch root's stand in for /usr/bin.
  mkdir -p "$tmp/units/system" "$tmp/units/user" "$tmp/units/xdg" && chmod 700 "$tmp/units/xdg"
  for kind in system user; do
    sed "s|/usr/bin/haldmoor3|$root/usr/bin/haldmoor3|" "$root/usr/lib/systemd/$kind/haldmoor3.service" \
      >"$tmp/units/$kind/haldmoor3.service"
  done
  # Every complaint counts: verify reports a value it could not parse without failing.
  report=$(systemd-analyze verify --man=no "$tmp/units/system/haldmoor3.service" 2>&1) ||
    fail "systemd-analyze verify failed on the system unit: $report"
  [ -z "$report" ] || fail "systemd-analyze verify on the system unit: $report"
  report=$(XDG_RUNTIME_DIR="$tmp/units/xdg" systemd-analyze --user verify --man=no "$tmp/units/user/haldmoor3.service" 2>&1) ||
    fail "systemd-analyze verify failed on the user unit: $report"
  [ -z "$report" ] || fail "systemd-analyze verify on the user unit: $report"
  say "both units pass systemd-analyze verify"
else
  say "note: systemd-analyze is not installed; the units were not verified"
fi

# --- the desktop file --------------------------------------------------------------------------------------
if command -v desktop-file-validate >/dev/null; then
  report=$(desktop-file-validate "$root/usr/share/applications/haldmoor3.desktop" 2>&1) ||
    fail "desktop-file-validate: $report"
  [ -z "$report" ] || fail "desktop-file-validate: $report"
else
  say "note: desktop-file-validate is not installed; the desktop file was not validated"
fi

# --- maintainer scripts in a scratch root ------------------------------------------------------------------
dpkg-deb -e "$deb" "$tmp/control" || fail "dpkg-deb -e failed"
users_before=$(getent passwd | sort)
DPKG_ROOT="$root" sh "$tmp/control/postinst" configure >"$tmp/postinst.out" 2>&1 ||
  fail "postinst configure failed in a scratch root: $(cat "$tmp/postinst.out")"
DPKG_ROOT="$root" sh "$tmp/control/postrm" purge >"$tmp/postrm.out" 2>&1 ||
  fail "postrm purge failed in a scratch root: $(cat "$tmp/postrm.out")"
[ "$(getent passwd | sort)" = "$users_before" ] || fail "the maintainer scripts changed the users of this host"

say "passed"
