#!/usr/bin/env bash
# Builds the benchmarks in release mode and prints their figures: the pure ones natively and under
# Wine, the Windows ones under Wine. Nothing here passes or fails on time.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/setup.sh
lumivex_install_missing

cmake --preset bench >/dev/null
cmake --build --preset bench
lumivex_build_windows
lumivex_start_wine

for bench in build/bench-native/pure_*_bench; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench") (native)"
  "$bench"
done
for bench in build/mingw/pure_*_bench.exe build/mingw/win_*_bench.exe; do
  [ -f "$bench" ] || continue
  echo "== $(basename "$bench" .exe) (Windows build under Wine)"
  scripts/wine-run.sh "$bench"
done
echo "== jpeg_tools_bench (lumivex-batch under Wine against jpegtran and convert)"
bench/jpeg_tools_bench.sh
