#!/usr/bin/env bash
# Renders res/icon.svg into res/lumivex.ico: six 32-bit RGBA images (16 to 256 px), each entry
# stored as PNG. Needs rsvg-convert (Debian: librsvg2-bin) and python3; the output is reproducible.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sizes=(16 32 48 64 128 256)
for size in "${sizes[@]}"; do
  rsvg-convert --width "$size" --height "$size" --format png "$here/icon.svg" --output "$work/$size.png"
done

# The container is written here rather than by an image tool so that every entry is surely PNG,
# never a BMP/DIB one, whatever the tool's defaults for small sizes.
python3 - "$here/lumivex.ico" "$work" "${sizes[@]}" <<'PY'
import struct, sys, zlib

target, folder, sizes = sys.argv[1], sys.argv[2], [int(s) for s in sys.argv[3:]]
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

def chunks(png):
    at = len(PNG_SIGNATURE)
    while at < len(png):
        length, kind = struct.unpack(">I4s", png[at:at + 8])
        yield kind, png[at + 8:at + 8 + length]
        at += 12 + length

def checked(png, size):
    if not png.startswith(PNG_SIGNATURE):
        sys.exit(f"{size} px: not a PNG")
    header = dict(chunks(png))[b"IHDR"]
    width, height, depth, colour = struct.unpack(">IIBB", header[:10])
    # Colour type 6 with 8-bit samples is the 32-bit RGBA the icon directory announces.
    if (width, height, depth, colour) != (size, size, 8, 6):
        sys.exit(f"{size} px: got {width}x{height} depth {depth} colour type {colour}")
    # Keep only the chunks that draw the image, so nothing dated or tool-specific gets in.
    kept = b"".join(struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
                    for kind, data in chunks(png) if kind in (b"IHDR", b"IDAT", b"IEND"))
    return PNG_SIGNATURE + kept

images = [checked(open(f"{folder}/{size}.png", "rb").read(), size) for size in sizes]
offset = 6 + 16 * len(images)
directory = struct.pack("<HHH", 0, 1, len(images))
for size, png in zip(sizes, images):
    side = 0 if size == 256 else size  # a byte holds 1..255; 0 stands for 256
    directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(png), offset)
    offset += len(png)
with open(target, "wb") as out:
    out.write(directory + b"".join(images))
print(f"{target}: {len(images)} PNG entries, {offset} bytes")
PY
