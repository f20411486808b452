# shellcheck shell=bash
# Sourced by the scripts that draw the README's before-and-after pictures.

# Builds the Windows preset's target $1 and readies the project's Wine prefix.
lumivex_build_target() {
  cmake --preset mingw >/dev/null
  cmake --build --preset mingw --target "$1"
  scripts/wine-prefix.sh
  source scripts/wine-env.sh
}

# Writes docs/$1: image $3 labelled "$2" and image $5 labelled "$4", side by side (tile 2x1) or one
# above the other (1x2) as $6 says.
lumivex_before_after() {
  mkdir -p docs
  montage -font DejaVu-Sans -pointsize 13 -label "$2" "$3" -label "$4" "$5" -tile "$6" -geometry +8+8 -strip "docs/$1"
  echo "docs/$1"
}

# Writes docs/$4 from a copy of tests/fixtures/$2 in the scratch folder $1: the page before, labelled
# "$5", and after "lumivex-batch $3" on it, labelled with the line the tool printed, each at $6 of its size.
lumivex_batch_sample() {
  local work=$1 line
  cp "tests/fixtures/$2" "$work/scan.png"
  cp "$work/scan.png" "$work/before.png"
  lumivex_build_target lumivex-batch
  line=$(cd "$work" && "$OLDPWD/scripts/wine-run.sh" "$OLDPWD/build/mingw/lumivex-batch.exe" "$3" scan.png |
    tr -d '\r' | sed -n 1p)
  echo "$line"
  for way in before scan; do
    convert "$work/$way.png" -resize "$6" -bordercolor '#999999' -border 1 "$work/$way-shown.png"
  done
  lumivex_before_after "$4" "$5" "$work/before-shown.png" "After: ${line#*: }" "$work/scan-shown.png" 2x1
}
