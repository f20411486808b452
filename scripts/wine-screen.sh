# Sourced by the scripts that show Lumivex on an X display: switches the project's prefix to the X11
# driver and gives it the fonts the window is drawn with. scripts/wine-prefix.sh switches back.

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
}
