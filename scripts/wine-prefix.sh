#!/usr/bin/env bash
# Creates the project's Wine prefix once (null graphics driver, so windows work without a display)
# and reuses it afterwards. With --screen the prefix draws through X11 for screenshots instead.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  echo "Creating Wine prefix $WINEPREFIX"
  DISPLAY='' wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi

driver=null
[ "${1:-}" = "--screen" ] && driver=x11
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$driver" /f >/dev/null 2>&1
# Wine has no "Segoe UI"; Tahoma (fonts-wine) has the width the layout was drawn for.
wine reg add 'HKCU\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v 'Segoe UI' /d Tahoma /f >/dev/null 2>&1
# A crashing test must end, not wait for a debugger to be attached. Without a Debugger value Wine
# starts winedbg --auto, which hangs when its output is not a terminal; a command that exits at once
# lets the faulting process end with an error status.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d 'cmd /c exit' /f >/dev/null 2>&1
