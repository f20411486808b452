#!/usr/bin/env bash
# Makes docs/deskew-before-after.png: the fixture text page turned by 3.9 degrees as a skewed scan
# (tests/fixtures/make_fixtures.sh draws and turns it with ImageMagick), and the same file after
# "lumivex-batch deskew"; each shown whole at a quarter of its size, with the line the tool printed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build_dir=build/mingw
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp tests/fixtures/skew_3.90.png "$work/scan.png"
cp "$work/scan.png" "$work/before.png"

source scripts/before-after.sh
lumivex_build_target lumivex-batch
line=$(cd "$work" && "$OLDPWD/scripts/wine-run.sh" "$OLDPWD/$build_dir/lumivex-batch.exe" deskew scan.png | tr -d '\r' | sed -n 1p)
echo "$line"
for way in before scan; do
  convert "$work/$way.png" -resize 25% -bordercolor '#999999' -border 1 "$work/$way-shown.png"
done
lumivex_before_after deskew-before-after.png "Before: a page scanned 3.9 degrees askew" "$work/before-shown.png" \
  "After: ${line#*: }" "$work/scan-shown.png" 2x1
