#!/usr/bin/env bash
# The `windows` preset's way of taking libjpeg-turbo (LUMIVEX_JPEG_INSTALLED: an installed library, as
# MSYS2's mingw-w64-x86_64-libjpeg-turbo package installs it), tried here with the cross toolchain:
# Debian's source of the library built and installed into build/installed-jpeg/prefix with its static
# and shared libraries, the project configured against that prefix and built, then its JPEG tests run
# under Wine, and the programs' DLLs listed (system ones only).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/setup.sh
lumivex_install_missing
here=$PWD
work=$here/build/installed-jpeg
toolchain=$here/cmake/mingw-w64-x86_64.cmake
source_dir=$here/build/libjpeg-turbo/source

cmake -S "$source_dir" -B "$work/library" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$work/prefix" -DWITH_TURBOJPEG=OFF -DENABLE_SHARED=ON -DENABLE_STATIC=ON -DWITH_SIMD=ON \
  -DREQUIRE_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm >/dev/null
cmake --build "$work/library" -j 2 >/dev/null
cmake --install "$work/library" >/dev/null
cmake -S . -B "$work/project" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DLUMIVEX_JPEG_INSTALLED=ON -DCMAKE_PREFIX_PATH="$work/prefix" -DLUMIVEX_JPEG_SOURCE="$source_dir" >/dev/null
cmake --build "$work/project" -j 2 --target Lumivex lumivex-batch win_tests
lumivex_start_wine
scripts/wine-run.sh "$work/project/win_tests.exe" --gtest_filter='Rotate*:Scale*:SafeSave*:DpiGate*:LoadFailure*'
for program in Lumivex lumivex-batch; do
  echo "$program.exe imports: $(x86_64-w64-mingw32-objdump -p "$work/project/$program.exe" | awk '/DLL Name/ { printf "%s ", $3 }')"
done
