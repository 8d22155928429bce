#!/usr/bin/env bash
# Writes the seed corpora of the plug-in fuzz targets into OUT/<format>/:
# small files of the kinds that the plug-in tests decode, made by
# ImageMagick's convert from generated pixels.
#
#   fuzz/spi/make-seeds.sh OUT
set -euo pipefail
out=${1:?usage: make-seeds.sh OUT}
convert=convert
[ -x /usr/bin/convert-im6.q16 ] && convert=/usr/bin/convert-im6.q16
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"/{png,jpeg,gif,tiff,webp}

# The pictures: grey, bilevel, 12 colours, many colours, colour with alpha,
# 12 colours with transparent pixels.
python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
w, h = 19, 13
pal = [(255,0,0),(0,255,0),(0,0,255),(255,255,0),(0,255,255),(255,0,255),
       (10,20,30),(200,100,50),(0,0,0),(255,255,255),(128,128,128),(60,200,90)]
def pam(name, tupltype, depth, pixels):
    with open(f"{work}/{name}.pam", "wb") as f:
        f.write(f"P7\nWIDTH {w}\nHEIGHT {h}\nDEPTH {depth}\nMAXVAL 255\n"
                f"TUPLTYPE {tupltype}\nENDHDR\n".encode())
        f.write(bytes(v for p in pixels for v in p))
xy = [(x, y) for y in range(h) for x in range(w)]
pam("grey", "GRAYSCALE", 1, [((x*7 + y*11) % 256,) for x, y in xy])
pam("bilevel", "GRAYSCALE", 1, [(0 if (x//3 + y//5) % 2 == 0 else 255,) for x, y in xy])
pam("palette", "RGB", 3, [pal[(x*3 + y*5) % 12] for x, y in xy])
pam("colour", "RGB", 3, [((x*13) % 256, (y*19) % 256, (x*y + 3) % 256) for x, y in xy])
pam("alpha", "RGB_ALPHA", 4, [((x*13) % 256, (y*19) % 256, (x*y) % 256, (x*y*7) % 256) for x, y in xy])
pam("binary", "RGB_ALPHA", 4, [pal[(x*3 + y*5) % 12] + ((0 if (x + y) % 7 == 0 else 255),) for x, y in xy])
PY

n=0
seed() { # seed FORMAT INPUT OUTPUT-SPEC ARGS...
  local format=$1 input=$2 spec=$3
  shift 3
  n=$((n + 1))
  "$convert" "$work/$input.pam" "$@" "$spec$work/seed-$n" && mv "$work/seed-$n" "$out/$format/$input-$n"
}

seed png grey "" -define png:color-type=0 -define png:bit-depth=8
seed png bilevel "" -define png:color-type=0 -define png:bit-depth=1
seed png grey "" -define png:color-type=0 -define png:bit-depth=2
seed png grey "" -depth 16 -define png:color-type=0 -define png:bit-depth=16
seed png palette "" -define png:bit-depth=4 -define png:color-type=3
seed png palette "" -interlace PNG -define png:bit-depth=8 -define png:color-type=3
seed png binary PNG8:
seed png colour PNG24:
seed png alpha PNG32: -interlace PNG
seed png alpha PNG64: -depth 16
seed jpeg colour JPEG: -quality 90
seed jpeg colour JPEG: -quality 90 -interlace JPEG
seed jpeg grey JPEG: -type Grayscale
seed jpeg colour JPEG: -colorspace CMYK
seed gif palette GIF:
seed gif palette GIF: -interlace GIF
seed gif binary GIF:
seed gif colour GIF: -page 30x20+4+3
seed tiff bilevel TIFF: -type Bilevel -compress Group4
seed tiff bilevel TIFF: -type Bilevel -compress Fax
seed tiff bilevel TIFF: -type Bilevel -depth 1 -define tiff:tile-geometry=16x16
seed tiff grey TIFF: -compress LZW
seed tiff palette TIFF: -type Palette -compress LZW
seed tiff colour TIFF: -compress LZW -define tiff:tile-geometry=16x16
seed tiff alpha TIFF: -compress Zip
seed tiff colour TIFF: -depth 16
seed tiff colour TIFF: -colorspace CMYK
seed tiff colour TIFF: -compress JPEG
seed tiff colour TIFF: -compress RLE
seed webp colour WEBP: -define webp:lossless=true
seed webp alpha WEBP: -define webp:lossless=true
seed webp colour WEBP: -quality 80
seed webp alpha WEBP: -quality 80
echo "make-seeds: $n seeds in $out"
