#!/usr/bin/env bash
# Runs a Windows program of the build under Wine in the project's prefix (CTest's emulator).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exec wine "$@"
