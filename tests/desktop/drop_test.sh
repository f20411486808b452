#!/usr/bin/env bash
# End-to-end: files dragged onto the real Lumivex.exe from an X desktop. The program runs under
# Wine's X11 driver on a virtual screen (Xvfb); xdnd_drag.py drags with X11 drag and drop (XDND) as
# a file manager does; read_message_box.exe reads and closes the box the program shows. A PNG is
# dropped on the Rotation page, then a 1-bit BMP on the Erosion page, and the files are checked on
# disk with ImageMagick and Python. Needs a built build/mingw (LUMIVEX_BUILD_DIR) and a Wine prefix
# that no wineserver holds; ends every process it started.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
build_dir=${LUMIVEX_BUILD_DIR:-build/mingw}
source scripts/wine-env.sh
source scripts/wine-screen.sh
work=$(mktemp -d)
xvfb=''

# Ends Wine's processes in the prefix (the program, its box) and the screen, then puts the prefix
# back on the null driver for the headless tests, whichever way the test ends.
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
  fi
  DISPLAY='' scripts/wine-prefix.sh || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL drop test: $*" >&2
  exit 1
}

# Xvfb picks a free display and writes its number to descriptor 3 once it accepts clients.
start_screen() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb=$!
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  [ -s "$work/display" ] || fail "Xvfb did not start"
  DISPLAY=":$(cat "$work/display")"
  export DISPLAY
}

start_program() {
  LC_ALL=en_US.UTF-8 LANG=en_US.UTF-8 scripts/wine-run.sh "$build_dir/Lumivex.exe" >/dev/null 2>&1 &
  window=$(timeout 40 xdotool search --sync --onlyvisible --name '^Lumivex$' | head -1)
  [ -n "$window" ] || fail "the Lumivex window did not show"
}

# Drags $1 onto the middle of the page and prints the message box the program answers with.
drop_file() {
  local left top width height
  read -r left top width height < <(lumivex_window_box "$window")
  /usr/bin/python3 tests/desktop/xdnd_drag.py "$1" $((left + width / 2)) $((top + height / 2 + 40)) ||
    fail "dragging $(basename "$1") onto the window"
  scripts/wine-run.sh "$build_dir/read_message_box.exe" 20000 | tr -d '\r' || fail "no message box after the drop"
}

# The Rotation page: 90 degrees clockwise, so the 100 x 50 picture becomes 50 x 100 with its red
# top-left quarter in the top right corner; the backup is the file as it was.
check_rotation() {
  local file=$work/rgb_600.png box
  cp tests/fixtures/rgb_600.png "$file"
  box=$(drop_file "$file")
  [[ $box == $'Success\nImage rotated and saved!\nBackup created: rgb_6001.png' ]] || fail "rotation box: $box"
  [ "$(identify -format '%wx%h' "$file")" = 50x100 ] || fail "rotated size $(identify -format '%wx%h' "$file")"
  [ "$(convert "$file" -format '%[pixel:p{49,0}]' info:)" = 'srgb(255,0,0)' ] || fail "rotated corner is not red"
  cmp -s tests/fixtures/rgb_600.png "$work/rgb_6001.png" || fail "the rotation backup differs from the original"
  echo "PASS drop a PNG on the Rotation page"
}

# Reads both files as 1-bit BMPs with a parser of its own and checks that the second is the first
# after one pass: black pixels off the frame with a white neighbour turn white, nothing else changes.
# The second, the program's result, must be exactly the 1-bit BMP the program writes, field by field.
expect_eroded_once() {
  /usr/bin/python3 - "$1" "$2" <<'PY' || fail "the eroded BMP is not the original after one pass"
import struct, sys

def expect_program_bmp(path):
    data = open(path, "rb").read()
    size, offset, header, width, height, planes, bits, compression, image_size, ppm_x, ppm_y, used, important = \
        struct.unpack_from("<2xI4xIIiiHHIIiiII", data, 0)
    stride = (width + 31) // 32 * 4
    fields = [(data[:2], b"BM"), (size, len(data)), (offset, 62), (header, 40), (height > 0, True), (planes, 1),
              (bits, 1), (compression, 0), (image_size, stride * height + 2), ((ppm_x, ppm_y), (23622, 23622)),
              ((used, important), (0, 0)), (data[54:57] + data[58:61], b"\xff\xff\xff\0\0\0"),
              (len(data), 62 + stride * height)]
    for number, (found, wanted) in enumerate(fields):
        if found != wanted:
            sys.exit(f"{path}: field {number} is {found!r}, not {wanted!r}")
    padding = (8 - width % 8) % 8
    if padding and any(data[62 + y * stride + width // 8] & ((1 << padding) - 1) for y in range(height)):
        sys.exit(f"{path}: bits after a row's last pixel are not white")

def black_pixels(path):
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 1:
        sys.exit(f"{path}: {bits} bits a pixel, not 1")
    palette = 14 + struct.unpack_from("<I", data, 14)[0]
    black = 0 if data[palette:palette + 3] == b"\0\0\0" else 1  # the palette entry that is black
    stride = (width + 31) // 32 * 4
    rows = []
    for y in range(abs(height)):
        row = data[offset + (abs(height) - 1 - y if height > 0 else y) * stride:][:stride]
        rows.append([(row[x // 8] >> (7 - x % 8) & 1) == black for x in range(width)])
    return rows

expect_program_bmp(sys.argv[2])
original, eroded = black_pixels(sys.argv[1]), black_pixels(sys.argv[2])
height, width = len(original), len(original[0])
expected = [row[:] for row in original]
for y in range(1, height - 1):
    for x in range(1, width - 1):
        if original[y][x] and not all(original[y + dy][x + dx] for dy in (-1, 0, 1) for dx in (-1, 0, 1)):
            expected[y][x] = False
if expected == original or eroded != expected:
    sys.exit("not eroded by one pass")
PY
}

# The Erosion page, reached with the keyboard (one step right from the Rotation tab): one pass
# whitens every black pixel off the frame that touches white, and the file stays 1-bit.
check_erosion() {
  local file=$work/mono_black_first_600.bmp box
  cp tests/fixtures/mono_black_first_600.bmp "$file"
  lumivex_show_page "$window" 1
  box=$(drop_file "$file")
  [[ $box == $'Success\nImage eroded and saved!\nBackup created: mono_black_first_6001.bmp' ]] ||
    fail "erosion box: $box"
  expect_eroded_once "$work/mono_black_first_6001.bmp" "$file"
  echo "PASS drop a BMP on the Erosion page"
}

lumivex_screen_prefix >/dev/null
start_screen
start_program
check_rotation
check_erosion
