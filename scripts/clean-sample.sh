#!/usr/bin/env bash
# Makes docs/clean-before-after.png: the clean-up fixture's dusty, shadowed scan turned 2.3 degrees
# (tests/fixtures/make_cleanup_fixtures.sh draws it with ImageMagick), and the same file after
# "lumivex-batch clean"; each shown whole at a third of its size, with the line the tool printed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build_dir=build/mingw
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp tests/fixtures/cleanup_skewed.png "$work/scan.png"
cp "$work/scan.png" "$work/before.png"

source scripts/before-after.sh
lumivex_build_target lumivex-batch
line=$(cd "$work" && "$OLDPWD/scripts/wine-run.sh" "$OLDPWD/$build_dir/lumivex-batch.exe" clean scan.png | tr -d '\r' | sed -n 1p)
echo "$line"
for way in before scan; do
  convert "$work/$way.png" -resize 33% -bordercolor '#999999' -border 1 "$work/$way-shown.png"
done
lumivex_before_after clean-before-after.png "Before: a dusty scan, 2.3 degrees askew, with the lid's shadows" \
  "$work/before-shown.png" "After: ${line#*: }" "$work/scan-shown.png" 2x1
