#!/usr/bin/env bash
# Draws the program icon (ferrolyn.ico: 16, 32 and 64 pixels, 24 bits per pixel with a 1-bit
# mask) and the banner (banner.bmp: 539 x 92 pixels, 24 bits per pixel) of the main window.
# Needs ImageMagick 6 ("convert"), the DejaVu fonts and python3. The results are checked in;
# run this only to change them.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert=${CONVERT:-convert}

steel_light='#2f6b98'
steel_dark='#14304f'
copper='#d9822b'
bold_font=DejaVu-Sans-Bold
plain_font=DejaVu-Sans

# The emblem: a white padlock with a copper keyhole on a steel-blue tile with rounded corners.
# Drawn at 256 pixels and scaled down for 64 and 32, where the shapes stay smooth.
emblem_large() {  # emblem_large OUT
    "$convert" -size 256x256 xc:none \
        \( -size 256x256 gradient:"$steel_light"-"$steel_dark" -alpha set \) \
        \( -size 256x256 xc:none -fill white -draw 'roundrectangle 4,4 251,251 44,44' \) \
        -delete 0 -compose DstIn -composite \
        \( -size 256x256 xc:none -fill white -draw 'circle 128,90 128,35' -draw 'rectangle 73,90 183,124' \
           \( -size 256x256 xc:none -fill white -draw 'circle 128,90 128,61' -draw 'rectangle 99,90 157,124' \) \
           -compose DstOut -composite \) \
        -compose Over -composite \
        -fill white -draw 'roundrectangle 58,112 198,214 14,14' \
        -fill "$copper" -draw 'circle 128,150 128,170' -draw 'polygon 118,158 138,158 144,192 112,192' \
        "$1"
}

# At 16 pixels every shape sits on whole pixels, drawn without smoothing so it stays crisp.
emblem_small() {  # emblem_small OUT
    "$convert" -size 16x16 xc:none \
        \( -size 16x16 gradient:"$steel_light"-"$steel_dark" -alpha set \) \
        \( -size 16x16 xc:none -fill white -draw 'roundrectangle 0,0 15,15 3,3' \) \
        -delete 0 -compose DstIn -composite -compose Over +antialias \
        -fill white -draw 'rectangle 5,3 6,7' -draw 'rectangle 9,3 10,7' -draw 'rectangle 6,2 9,3' \
        -draw 'rectangle 3,7 12,13' \
        -fill "$copper" -draw 'rectangle 7,9 8,11' \
        "$1"
}

emblem_large "$work/emblem256.png"
"$convert" "$work/emblem256.png" -filter Lanczos -resize 64x64 "$work/icon64.png"
"$convert" "$work/emblem256.png" -filter Lanczos -resize 32x32 "$work/icon32.png"
emblem_small "$work/icon16.png"
for size in 16 32 64; do
    "$convert" "$work/icon$size.png" -depth 8 "rgba:$work/icon$size.rgba"
done

# ImageMagick writes icons without alpha only with no mask at all, so the icon file is put
# together here: per image a BITMAPINFOHEADER, bottom-up BGR rows padded to 4 bytes, and an AND
# mask that is set where the drawing is less than half opaque (the rounded corners).
python3 - "$work" "$here/ferrolyn.ico" <<'PY'
import struct, sys
work, out = sys.argv[1], sys.argv[2]
sizes = [16, 32, 64]
images = []
for n in sizes:
    rgba = open(f"{work}/icon{n}.rgba", "rb").read()
    assert len(rgba) == n * n * 4
    xor_stride = (n * 3 + 3) // 4 * 4
    and_stride = ((n + 31) // 32) * 4
    xor, mask = bytearray(), bytearray()
    for y in reversed(range(n)):
        row, bits = bytearray(), bytearray(and_stride)
        for x in range(n):
            r, g, b, a = rgba[(y * n + x) * 4:(y * n + x) * 4 + 4]
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
                r = g = b = 0
            row += bytes((b, g, r))
        row += bytes(xor_stride - len(row))
        xor += row
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 24, 0, len(xor) + len(mask), 0, 0, 0, 0)
    images.append(header + xor + mask)
offset = 6 + 16 * len(images)
data = struct.pack("<HHH", 0, 1, len(images))
for n, image in zip(sizes, images):
    data += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 24, len(image), offset)
    offset += len(image)
open(out, "wb").write(data + b"".join(images))
PY

# The banner: the emblem, the name and one line of what the program does, on a steel gradient
# with a copper rule along the bottom edge.
"$convert" "$work/emblem256.png" -filter Lanczos -resize 64x64 "$work/banner_emblem.png"
"$convert" -size 92x539 gradient:"$steel_dark"-"$steel_light" -rotate 90 \
    -fill "$copper" -draw 'rectangle 0,88 538,91' \
    "$work/banner_emblem.png" -geometry +22+12 -compose Over -composite \
    -font "$bold_font" -pointsize 40 -fill white -annotate +104+54 'Ferrolyn' \
    -font "$plain_font" -pointsize 14 -fill '#c9dcec' -annotate +106+76 'Filkryptering med AES-256 eller Serpent' \
    -alpha off -type TrueColor "BMP3:$here/banner.bmp"
