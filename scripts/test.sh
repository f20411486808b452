#!/usr/bin/env bash
# Builds everything and runs every test: the pure pixel code natively under AddressSanitizer and
# UndefinedBehaviorSanitizer, shellcheck over the shell scripts, then the Windows build under Wine:
# files dragged onto the real program on a virtual screen, and the Windows tests.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/setup.sh
lumivex_install_missing

cmake --preset native-sanitize >/dev/null
cmake --build --preset native-sanitize
ctest --preset native-sanitize

git ls-files -z '*.sh' .ci/run | xargs -0 shellcheck

lumivex_build_windows
# Before the wineserver that the tests share starts: the drop test needs the prefix on the X11 driver.
tests/desktop/drop_test.sh
lumivex_start_wine
ctest --preset mingw
