#!/usr/bin/env bash
# Builds everything and runs every test: the pure pixel code natively under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the Windows build (program, tests) under Wine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/setup.sh
lumivex_install_missing

cmake --preset native-sanitize >/dev/null
cmake --build --preset native-sanitize
ctest --preset native-sanitize

cmake --preset mingw >/dev/null
cmake --build --preset mingw
scripts/wine-prefix.sh
source scripts/wine-env.sh
# One wineserver for the whole run, so each test process starts in a fraction of a second.
wineserver -w  # the prefix set-up's server ends first; a new one then stays for the whole run
wineserver -p
# Start Wine's own services once, before tests start processes two at a time.
wine cmd /c exit >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true' EXIT
ctest --preset mingw
