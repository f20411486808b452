#!/usr/bin/env bash
# Makes docs/scale-before-after.png: lines of text as a 600-DPI scan (ImageMagick renders them in
# black and white), scaled by 0.3 x 0.3 with the platform's bicubic drawing that Lumivex used before
# and with its own resampler: each at its real size, with its second line's start enlarged 3 times.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build_dir=build/mingw
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -density 600 -size 2400x -background white -fill black \
  -font /usr/share/fonts/opentype/urw-base35/NimbusRoman-Regular.otf -pointsize 9 \
  caption:"Scanned at 600 DPI and shrunk to 0.3 of its size, a page keeps its letters: every thin stroke turns a lighter grey instead of vanishing or staying black by chance. The quick brown fox jumps over the lazy dog; 0123456789 (illiterate millimetre)." \
  -threshold 50% -type Bilevel -strip -units PixelsPerCentimeter -density 236.22 \
  -define png:exclude-chunk=all -define png:include-chunk=pHYs "$work/page.png"

source scripts/before-after.sh
lumivex_build_target win_scale_bench
scripts/wine-run.sh "$build_dir/win_scale_bench.exe" "Z:$work/page.png" "Z:$work/own.png" "Z:$work/platform.png"
for way in platform own; do
  convert "$work/$way.png" \( +clone -crop 240x21+0+24 +repage -filter point -resize 300% \) -append "$work/$way-shown.png"
done
lumivex_before_after scale-before-after.png \
  "Before: the platform's bicubic drawing (Wine 8: bilinear, no prefilter)" "$work/platform-shown.png" \
  "After: Lumivex's own prefiltered bicubic resampler" "$work/own-shown.png" 1x2
