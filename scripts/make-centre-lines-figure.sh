#!/usr/bin/env bash
# Draws the manual's picture of centre lines, docs/centre-lines.png: the
# bundled sample made to look scanned (blurred, grainy, thresholded), the
# thinned and pruned picture, and its SVG drawn in red over the scan, each
# a part of the picture at three times its size.
#
# Needs kevrale-thin of a build (BUILD=build/release by default), ImageMagick
# and rsvg-convert (Debian's imagemagick and librsvg2-bin).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$top/build/release}
thin=$BUILD/bin/kevrale-thin
[ -x "$thin" ] || { echo "make-centre-lines-figure: $thin is missing (build kevrale-thin)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert "$top/samples/lineart.bmp" -colorspace gray -blur 0x1.5 -seed 11 -attenuate 0.9 \
  +noise Gaussian -threshold 52% -type truecolor "BMP3:$work/scan.bmp"
"$thin" --prune 6 -o "$work/thin.bmp" "$work/scan.bmp"
"$thin" --prune 6 -o "$work/lines.svg" "$work/scan.bmp"

rsvg-convert -z 3 "$work/lines.svg" -o "$work/lines.png"
convert "$work/lines.png" -fill '#d01010' -colorize 100 "$work/red.png"
convert "$work/scan.bmp" -scale 300% -fill white -colorize 65% "$work/red.png" -composite \
  "$work/over.png"
crop=(-crop 540x570+0+150 +repage)
convert "$work/scan.bmp" -scale 300% "${crop[@]}" "$work/a.png"
convert "$work/thin.bmp" -scale 300% "${crop[@]}" "$work/b.png"
convert "$work/over.png" "${crop[@]}" "$work/c.png"
convert "$work/a.png" "$work/b.png" "$work/c.png" -bordercolor '#888888' -border 1 +append \
  -strip "PNG8:$top/docs/centre-lines.png"
echo "make-centre-lines-figure: wrote docs/centre-lines.png"
