#!/usr/bin/env bash
# Takes the README's screenshots: the four pages in English and the Margins page in Italian, drawn by
# Wine's X11 driver on a virtual screen (Xvfb) and captured with ImageMagick into docs/.
# LUMIVEX_BUILD_DIR chooses the build folder (default build/mingw).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build_dir=${LUMIVEX_BUILD_DIR:-build/mingw}
exe=$build_dir/Lumivex.exe
x11_key='HKCU\Software\Wine\X11 Driver'

# Starts Lumivex in locale $1 and sets $window to its X window once it is shown.
start_program() {
  LC_ALL=$1 LANG=$1 scripts/wine-run.sh "$exe" >/dev/null 2>&1 &
  program=$!
  window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Lumivex$' | head -1)
  sleep 2
}

capture() {
  import -window "$window" "docs/$1"
  echo "docs/$1"
}

stop_program() {
  xdotool key alt+F4
  for _ in $(seq 20); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.5
  done
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
}

take_screenshots() {
  source scripts/wine-env.sh
  source scripts/wine-screen.sh
  mkdir -p docs
  start_program en_US.UTF-8
  capture screenshot-rotation.png
  local page=1
  for name in erosion margins scale; do
    lumivex_show_page "$window" $page
    capture "screenshot-$name.png"
    page=$((page + 1))
  done
  stop_program
  start_program it_IT.UTF-8
  lumivex_show_page "$window" 2
  capture screenshot-margins-it.png
  stop_program
}

if [ "${1:-}" = "--on-screen" ]; then
  take_screenshots
  exit
fi

source scripts/setup.sh
lumivex_build_for_screen "$build_dir"
lumivex_screen_prefix
# Without a window manager Wine draws the caption and frame itself, as Windows does.
wine reg add "$x11_key" /v Decorated /d N /f >/dev/null 2>&1
# A Wine started now would join this server, whose desktop has no display: let it end first.
wineserver -w
trap 'wine reg delete "$x11_key" /v Decorated /f >/dev/null 2>&1; scripts/wine-prefix.sh' EXIT
xvfb-run -a -s '-screen 0 1024x768x24' "$0" --on-screen
