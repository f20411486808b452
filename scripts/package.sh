#!/usr/bin/env bash
# Builds everything, runs every test (the check of the package among them) and puts the release
# package in dist/: Lumivex-<version>-win64.zip with both programs, README.txt and SHA256SUMS.
# The version is the CMake project version.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/test.sh
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw/CMakeCache.txt)
package=Lumivex-$version-win64.zip
mkdir -p dist
cp "build/mingw/$package" dist/
echo "Release package (checked by the test 'package'):"
sha256sum "dist/$package"
