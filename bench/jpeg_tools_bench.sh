#!/usr/bin/env bash
# A4 JPEG turns through lumivex-batch under Wine against the reference tools run natively, on the same
# files in the same run. The lossless turn of a 4960 x 7008 page against `jpegtran -rotate 90 -perfect
# -copy all`, twice: coded with the standard Huffman tables (as scanners write pages; the result keeps
# them) and with tables of its own (the result gets its own too, where jpegtran writes the standard
# ones into a larger file). The re-encoded turn of a 4961 x 7016 page against ImageMagick's `convert
# -rotate 90`. Both pages quality 90, 4:2:0, 600 DPI. Medians of 9 runs of each, taken in turns, each
# on a fresh copy with no backup beside it, and the median of the pairs' ratios; then the batch tool's
# peak resident memory for each turn (Wine's own included: its figure for --help is printed too), and
# the PSNR of each re-encoded turn.
# Usage: bench/jpeg_tools_bench.sh [LUMIVEX_BATCH_EXE] (default: the mingw build's).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
batch=$(realpath "${1:-$here/build/mingw/lumivex-batch.exe}")
source "$here/scripts/wine-env.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs=9

# A scanned letter: paper with a little noise, lines of text, a photograph of smooth colours.
page() {  # page WIDTHxHEIGHT TARGET
  /usr/bin/convert -size "$1" xc:'#f3efe6' -attenuate 0.3 +noise Uniform \
    \( -size 1200x700 -seed 5 plasma:steelblue-orange \) -geometry +3200+200 -composite \
    -font DejaVu-Sans -pointsize 10 -density 600 -fill '#222' \
    -annotate +600+1400 "$(yes 'Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor.' |
      head -n 60)" \
    -units PixelsPerInch -density 600 -quality 90 -sampling-factor 2x2 "$2"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Seconds of wall time of one command, as a number.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

# The batch tool's turn of SOURCE and the reference command, taken in turns `runs` times, each on a
# fresh copy at $work/run/page.jpg, so that both meet the machine in the same state: prints the median
# seconds of each and the median of the ratios of the pairs.
paired() {  # paired SOURCE REFERENCE-COMMAND
  local source=$1 reference=$2 ours theirs
  for run in $(seq 0 "$runs"); do  # run 0 warms the caches and is not counted
    rm -rf "$work/run" && mkdir "$work/run" && cp "$source" "$work/run/page.jpg"
    ours=$(seconds wine "$batch" rotate right "Z:$work/run/page.jpg")
    rm -rf "$work/run" && mkdir "$work/run" && cp "$source" "$work/run/page.jpg"
    theirs=$(seconds sh -c "$reference")
    [ "$run" -gt 0 ] && echo "$ours $theirs $(echo "$ours / $theirs" | bc -l)"
  done >"$work/pairs"
  printf '%s %s %s\n' "$(cut -d' ' -f1 "$work/pairs" | median)" "$(cut -d' ' -f2 "$work/pairs" | median)" \
    "$(cut -d' ' -f3 "$work/pairs" | median)"
}

page 4960x7008 "$work/lossless.jpg"
page 4961x7016 "$work/reencode.jpg"
jpegtran -copy all "$work/lossless.jpg" >"$work/standard.jpg"  # the same coefficients, the standard tables
wine cmd /c exit >/dev/null 2>&1  # the server up before the first timing

jpegtran="jpegtran -rotate 90 -perfect -copy all '$work/run/page.jpg' >'$work/run/out.jpg'"
convert="/usr/bin/convert '$work/run/page.jpg' -rotate 90 '$work/run/out.jpg'"
read -r ours theirs ratio < <(paired "$work/standard.jpg" "$jpegtran")
printf 'lossless turn, 4960 x 7008, standard tables:  lumivex-batch %.2f s, jpegtran -perfect %.2f s: %.2f x\n' \
  "$ours" "$theirs" "$ratio"
read -r ours theirs ratio < <(paired "$work/lossless.jpg" "$jpegtran")
printf 'lossless turn, 4960 x 7008, tables of its own: lumivex-batch %.2f s, jpegtran -perfect %.2f s: %.2f x\n' \
  "$ours" "$theirs" "$ratio"
read -r ours theirs ratio < <(paired "$work/reencode.jpg" "$convert")
printf 're-encoded turn, 4961 x 7016: lumivex-batch %.2f s, convert -rotate 90 %.2f s: %.2f x\n' "$ours" "$theirs" \
  "$ratio"

# How close each re-encoded turn stays to the source's decoded pixels turned exactly, over a 3000 x 3000
# part with text and the photograph (ImageMagick's resource policy refuses whole pages to compare).
rm -rf "$work/run" && mkdir "$work/run" && cp "$work/reencode.jpg" "$work/run/page.jpg"
wine "$batch" rotate right "Z:$work/run/page.jpg" >/dev/null 2>&1
/usr/bin/convert "$work/reencode.jpg" -rotate 90 "$work/convert.jpg"
part() { /usr/bin/convert "$1" -crop 3000x3000+3500+1500 +repage "$2"; }
/usr/bin/convert "$work/reencode.jpg" -rotate 90 -crop 3000x3000+3500+1500 +repage "$work/exact.ppm"
part "$work/run/page.jpg" "$work/lumivex.ppm"
part "$work/convert.jpg" "$work/convert.ppm"
psnr() { /usr/bin/compare -metric PSNR "$1" "$work/exact.ppm" null: 2>&1 || true; }
printf 're-encoded turn against the exact turn of the decoded source: lumivex-batch %s dB, convert %s dB\n' \
  "$(psnr "$work/lumivex.ppm")" "$(psnr "$work/convert.ppm")"

# Peak resident set of the Wine process, in MB.
peak() {
  /usr/bin/time -f %M wine "$@" 2>&1 >/dev/null | tail -n 1 | awk '{ printf "%.0f", $1 / 1024 }'
}
idle=$(peak "$batch" --help)
for kind in lossless reencode; do
  rm -rf "$work/run" && mkdir "$work/run" && cp "$work/$kind.jpg" "$work/run/page.jpg"
  printf 'peak memory, %s turn: %s MB (lumivex-batch --help: %s MB; decoded page %s MB)\n' "$kind" \
    "$(peak "$batch" rotate right "Z:$work/run/page.jpg")" "$idle" "$((4961 * 7016 * 3 / 1000000))"
done
