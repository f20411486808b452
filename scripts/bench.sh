#!/usr/bin/env bash
# Builds the benchmarks in release mode and prints their figures: the pure ones natively and under
# Wine, the Windows ones under Wine. Nothing here passes or fails on time.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/setup.sh
lumivex_install_missing

cmake -S . -B build/bench-native -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench-native
cmake --preset mingw >/dev/null
cmake --build --preset mingw
scripts/wine-prefix.sh
source scripts/wine-env.sh
wineserver -w  # the prefix set-up's server ends first; a new one then stays for the whole run
wineserver -p
# Start Wine's own services once, before tests start processes two at a time.
wine cmd /c exit >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true' EXIT

for bench in build/bench-native/pure_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench") (native)"
  "$bench"
done
for bench in build/mingw/pure_*.exe build/mingw/win_*.exe; do
  [ -f "$bench" ] || continue
  echo "== $(basename "$bench" .exe) (Windows build under Wine)"
  scripts/wine-run.sh "$bench"
done
