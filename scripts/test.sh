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

lumivex_build_and_start_wine
ctest --preset mingw
