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
