#!/usr/bin/env bash
# Makes docs/deskew-before-after.png: a 600-DPI text page turned by 3.2 degrees as a skewed scan
# (ImageMagick renders and turns it in black and white), and the same file after
# "lumivex-batch deskew"; each shown whole at a quarter of its size, with the line the tool printed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build_dir=build/mingw
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -density 600 -size 2000x -background white -fill black \
  -font /usr/share/fonts/opentype/urw-base35/NimbusRoman-Regular.otf -pointsize 9 \
  caption:"$(cat tests/fixtures/skew_text.txt)" -threshold 50% "$work/text.png"
convert -size 2400x1400 xc:white "$work/text.png" -geometry +200+160 -composite -fill black \
  -draw "rectangle 200,990 2200,995" -background white -rotate 3.2 -gravity center -extent 2400x1400 \
  -threshold 50% -type Bilevel -strip -units PixelsPerCentimeter -density 236.22 \
  -define png:exclude-chunk=all -define png:include-chunk=pHYs "$work/scan.png"
cp "$work/scan.png" "$work/before.png"

cmake --preset mingw >/dev/null
cmake --build --preset mingw --target lumivex-batch
scripts/wine-prefix.sh
source scripts/wine-env.sh
line=$(cd "$work" && "$OLDPWD/scripts/wine-run.sh" "$OLDPWD/$build_dir/lumivex-batch.exe" deskew scan.png | tr -d '\r' | sed -n 1p)
echo "$line"
for way in before scan; do
  convert "$work/$way.png" -resize 25% -bordercolor '#999999' -border 1 "$work/$way-shown.png"
done
mkdir -p docs
montage -font DejaVu-Sans -pointsize 13 \
  -label "Before: a page scanned 3.2 degrees askew" "$work/before-shown.png" \
  -label "After: ${line#*: }" "$work/scan-shown.png" \
  -tile 2x1 -geometry +8+8 -strip docs/deskew-before-after.png
echo docs/deskew-before-after.png
