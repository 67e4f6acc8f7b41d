#!/usr/bin/env bash
# Checks the help pages as the program finds them beside itself (BUILD/bin/help): every one of the
# 13 pages the program opens by number exists, is UTF-8, has a title, and every link between pages
# (file and #anchor) leads somewhere. Usage: help_pages_check.sh HELP_FOLDER
set -uo pipefail
dir="${1:?usage: help_pages_check.sh HELP_FOLDER}"
pages=(00-overview.html 01-server-list.html 02-server-configuration.html 03-game-options.html
       04-console-and-logging.html 05-scheduler.html 06-global-options.html 07-trackers.html
       08-anti-cheat.html 09-remote-info-server.html 10-updates.html 11-main-window.html
       12-files-and-commands.html)
failures=0
fail() { echo "help pages: $*"; failures=$((failures + 1)); }

[ -d "$dir" ] || { echo "help pages: folder $dir is missing"; exit 1; }
for p in "${pages[@]}"; do
  [ -f "$dir/$p" ] || fail "page $p is missing"
done
[ -f "$dir/style.css" ] || fail "style.css is missing"

shopt -s nullglob
for file in "$dir"/*.html; do
  name=$(basename "$file")
  iconv -f UTF-8 -t UTF-8 "$file" >/dev/null 2>&1 || fail "$name is not valid UTF-8"
  grep -q '<title>Haldmoor3 help: [^<]' "$file" || fail "$name has no title \"Haldmoor3 help: ...\""
  grep -qi '<script' "$file" && fail "$name carries a script"
  # Every href and src of the page; addresses with a scheme (http:, mailto:) are not ours to check.
  while IFS= read -r link; do
    case "$link" in
      *:*) continue ;;
    esac
    target="${link%%#*}"
    anchor=""
    [ "$target" != "$link" ] && anchor="${link#*#}"
    [ -z "$target" ] && target="$name"
    if [ ! -f "$dir/$target" ]; then
      fail "$name links to $link, but $target does not exist"
    elif [ -n "$anchor" ] && ! grep -q "id=\"$anchor\"" "$dir/$target"; then
      fail "$name links to $link, but $target has no id \"$anchor\""
    fi
  done < <(grep -oE '(href|src)="[^"]*"' "$file" | sed -E 's/^(href|src)="(.*)"$/\2/')
done

if [ "$failures" -ne 0 ]; then
  echo "help pages: $failures problem(s) in $dir"
  exit 1
fi
echo "help pages: ${#pages[@]} pages and their links are in order in $dir"
