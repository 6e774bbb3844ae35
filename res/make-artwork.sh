#!/usr/bin/env bash
# Makes the launcher's own artwork with ImageMagick: the banner (bitmap 137) and
# the icon (group 128). The results are kept in the tree; run this only to change
# them. Needs ImageMagick and the DejaVu fonts (Debian: imagemagick, fonts-dejavu-core).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
convert=/usr/bin/convert
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Banner: 469 x 141, a deep teal gradient, a band of light, the product's name.
$convert -size 469x141 gradient:'#0b3d4f'-'#11708a' -rotate 0 \
  \( -size 469x141 xc:none -fill 'rgba(255,255,255,0.10)' \
     -draw 'polygon 250,0 469,0 469,141 330,141' \
     -fill 'rgba(255,255,255,0.07)' -draw 'polygon 300,0 360,0 240,141 180,141' \) -composite \
  -fill '#f2c14e' -draw 'rectangle 28,96 150,99' \
  -font DejaVu-Sans-Bold -pointsize 40 -fill white -annotate +26+82 'Korvane' \
  -font DejaVu-Sans -pointsize 13 -fill '#cfe8ef' -annotate +28+120 'Setup' \
  -type TrueColor -alpha off "$tmp/banner.png"
$convert "$tmp/banner.png" -type TrueColor -alpha off BMP3:"$tmp/banner.bmp"
# Fix the header fields the resource is checked against: 40-byte info header,
# no compression, image size, 11811 pixels per metre.
python3 - "$tmp/banner.bmp" banner.bmp <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
offset = struct.unpack_from('<I', data, 10)[0]
width, height = struct.unpack_from('<ii', data, 18)
assert (width, height) == (469, 141) and struct.unpack_from('<H', data, 28)[0] == 24
stride = (width * 3 + 3) & ~3
pixels = data[offset:offset + stride * height]
header = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, stride * height, 11811, 11811, 0, 0)
body = header + pixels
open(sys.argv[2], 'wb').write(struct.pack('<2sIHHI', b'BM', 14 + len(body), 0, 0, 54) + body)
PY

# Icon: a rounded teal square with a white K and a gold bar, 16 to 128 px, 32-bit.
for size in 16 32 48 64 128; do
  r=$((size / 6)); bar=$((size / 12 > 0 ? size / 12 : 1))
  $convert -size ${size}x${size} xc:none -fill '#11708a' \
    -draw "roundrectangle 0,0 $((size - 1)),$((size - 1)) $r,$r" \
    -font DejaVu-Sans-Bold -pointsize $((size * 3 / 4)) -fill white -gravity center \
    -annotate +0-$((size / 16)) 'K' -gravity northwest -fill '#f2c14e' \
    -draw "rectangle $((size / 4)),$((size - size / 5)) $((size * 3 / 4)),$((size - size / 5 + bar))" \
    -depth 8 -strip -define png:color-type=6 -define png:compression-level=9 "$tmp/icon$size.png"
done
# The two small images as 32-bit BGRA bitmaps with their mask, which every
# version of Windows reads; from 48 px on as PNG (Vista and later read it), a
# tenth of the bitmap's bytes. -strip leaves out the PNG's dates, so that the
# same artwork gives the same file.
for size in 16 32 48 64 128; do $convert "$tmp/icon$size.png" -depth 8 rgba:"$tmp/icon$size.rgba"; done
python3 - "$tmp" korvane.ico <<'PY'
import struct, sys
tmp, out = sys.argv[1], sys.argv[2]
images = []
for size in (16, 32, 48, 64, 128):
    if size >= 48:
        images.append((size, open(f'{tmp}/icon{size}.png', 'rb').read()))
        continue
    rgba = open(f'{tmp}/icon{size}.rgba', 'rb').read()
    rows = [rgba[y * size * 4:(y + 1) * size * 4] for y in range(size)]
    xor = b''.join(bytes(b for px in range(size) for b in (r[px*4+2], r[px*4+1], r[px*4], r[px*4+3])) for r in reversed(rows))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # all opaque: the alpha channel decides
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    images.append((size, header + xor + mask))
directory = struct.pack('<HHH', 0, 1, len(images))
offset = 6 + 16 * len(images)
entries, blobs = b'', b''
for size, blob in images:
    entries += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(blob), offset + len(blobs))
    blobs += blob
open(out, 'wb').write(directory + entries + blobs)
PY
echo "wrote res/banner.bmp and res/korvane.ico"
