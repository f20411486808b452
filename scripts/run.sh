#!/usr/bin/env bash
# Builds Lumivex.exe and starts it under Wine in the project's prefix: on the X display when $DISPLAY
# is set, otherwise on a virtual screen (Xvfb), where it runs unseen until Ctrl+C.
# LUMIVEX_BUILD_DIR chooses the build folder (default build/mingw).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build_dir=${LUMIVEX_BUILD_DIR:-build/mingw}

# Runs the program until its window is closed. Wine ignores SIGINT, so Ctrl+C is passed on as SIGTERM.
run_program() {
  scripts/wine-run.sh "$build_dir/Lumivex.exe" &
  program=$!
  trap 'kill -TERM "$program" 2>/dev/null || true' INT TERM
  # A trapped signal interrupts the first wait; the second one lets the program finish.
  wait "$program" || true
  wait "$program" 2>/dev/null || true
}

if [ "${1:-}" = "--on-screen" ]; then
  run_program
  exit
fi

source scripts/setup.sh
lumivex_build_for_screen "$build_dir"
# The tests need the null driver back once the program has ended, whichever way it ends.
trap 'scripts/wine-prefix.sh' EXIT
lumivex_screen_prefix

if [ -n "${DISPLAY:-}" ]; then
  run_program
else
  echo "No DISPLAY: Lumivex runs on a virtual screen (Xvfb); end it with Ctrl+C."
  xvfb-run -a -s '-screen 0 1024x768x24' "$0" --on-screen
fi
