# shellcheck shell=bash
# Sourced by the scripts that show Lumivex on an X display: switches the project's prefix to the X11
# driver and gives it the fonts the window is drawn with (scripts/wine-prefix.sh switches back), and
# turns the program's pages with the mouse and keyboard (xdotool).

lumivex_screen_prefix() {
  local repo
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  source "$repo/scripts/wine-env.sh"
  # A server kept alive for tests (wineserver -p) would keep the null driver and never let the switch finish.
  if ! timeout 15 wineserver -w; then
    echo "A wineserver keeps running for $WINEPREFIX; end it with 'wineserver -k' and try again." >&2
    return 1
  fi
  "$repo/scripts/wine-prefix.sh" --screen
  # Debian's Wine does not find fonts-wine's files by itself; in the prefix's Fonts folder it does.
  # Tahoma stands in for "Segoe UI", Marlett draws the caption buttons.
  local font
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
    if [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/$font" ] && [ -f "/usr/share/wine/fonts/$font" ]; then
      cp "/usr/share/wine/fonts/$font" "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
  done
  # The switch's own Wine processes started a desktop on the old driver; a program started before
  # their server ends would join it.
  wineserver -w
}

# Prints the left, top, width and height of the X window $1 on the screen, in pixels.
lumivex_window_box() {
  xdotool getwindowgeometry --shell "$1" | sed -n 's/^\(X\|Y\|WIDTH\|HEIGHT\)=//p' | tr '\n' ' '
  echo
}

# Shows page $2 (0 Rotation .. 3 Scale) of the Lumivex window $1: clicks the first tab, which takes
# the keyboard focus, then steps right with the arrow key; the tab control sends TCN_SELCHANGE as it
# does for a click. The client area is 480 x 410 at the bottom of the window, framed evenly.
lumivex_show_page() {
  local width height border client_top step
  read -r _ _ width height < <(lumivex_window_box "$1")
  border=$(((width - 480) / 2))
  client_top=$((height - border - 410))
  xdotool mousemove --window "$1" $((border + 40)) $((client_top + 22)) click 1
  for ((step = 0; step < $2; step++)); do
    xdotool key Right
  done
  # The pointer would otherwise sit over the tab strip in a screenshot.
  xdotool mousemove 0 0
  sleep 1
}
