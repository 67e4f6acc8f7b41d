#!/usr/bin/env bash
# Configures and builds everything into build/ (or the folder given as $1, with further CMake options after it).
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"
shift || true
jobs="${HM_JOBS:-2}"
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j "$jobs"
