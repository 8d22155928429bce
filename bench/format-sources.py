#!/usr/bin/python3
"""Writes the sources of bench/cli-e2e.sh --formats into a folder, once:
the 4096 x 4096 line art (lineart-4k.bmp, already there) as 8-bit grey PNG,
RGB PNG, deflate-coded RGB TIFF and JPEG of quality 90, each as PIL saves
it by default otherwise; and a 12500 x 20000 scan of line art as 8-bit grey
PNG and as a striped, deflate-coded grey TIFF.

    bench/format-sources.py FOLDER"""
import os
import sys

from PIL import Image, ImageDraw

Image.MAX_IMAGE_PIXELS = None


def main():
    folder = sys.argv[1]
    path = lambda name: os.path.join(folder, name)
    art = Image.open(path('lineart-4k.bmp')).convert('RGB')
    outputs = {
        'lineart-4k-grey.png': lambda f: art.convert('L').save(f),
        'lineart-4k-rgb.png': lambda f: art.save(f),
        'lineart-4k-deflate.tif': lambda f: art.save(f, compression='tiff_adobe_deflate'),
        'lineart-4k-q90.jpg': lambda f: art.save(f, quality=90),
    }
    for name, save in outputs.items():
        if not os.path.exists(path(name)):
            save(path(name))

    if os.path.exists(path('scan-12500x20000.png')) and os.path.exists(
            path('scan-12500x20000.tif')):
        return
    scan = Image.new('L', (12500, 20000), 255)
    draw = ImageDraw.Draw(scan)
    for y in range(0, 20000, 97):
        draw.line([(0, y), (12499, (y * 7) % 20000)], fill=0, width=5)
    for x in range(0, 12500, 131):
        draw.line([(x, 0), ((x * 3) % 12500, 19999)], fill=0, width=3)
    scan.save(path('scan-12500x20000.png'))
    scan.save(path('scan-12500x20000.tif'), compression='tiff_adobe_deflate')


if __name__ == '__main__':
    main()
