#!/usr/bin/python3
"""Measures how PNG row filters and zlib settings do on line art: for each
picture, in the colour type that the PNG writer gives it (one bit of black
and white, grey, palette or RGB), the size of its compressed rows and the
time zlib takes, for filters none, sub and up, levels 1 to 9 and the
strategies default, filtered and RLE, against the size of PIL's default
save of the same picture in the same colour type.

    bench/png-compression.py [--as MODE] PICTURE...   (any file PIL opens)

--as gives the colour type (1, L, P or RGB) instead of the smallest one,
as the writer does for a grey or palette source with few colours.

Only the rows are compressed here (PNG's IDAT data), as the writer does;
the chunks around them add a few dozen bytes. The times are zlib's alone,
on this machine, as it is loaded."""
import io
import sys
import time
import zlib

import numpy as np
from PIL import Image


def smallest_mode(im):
    """The colour type the writer chooses for the picture's colours."""
    colours = im.convert('RGB').getcolors(257)
    if colours is None:
        return 'RGB'
    values = [c for _, c in colours]
    if all(r == g == b for r, g, b in values):
        if all(r in (0, 255) for r, _, _ in values):
            return '1'
        return 'L'
    return 'P'


def rows_of(im, mode):
    """The picture's rows as PNG stores them before filtering, and the
    filter's step in bytes (one pixel, at least one byte)."""
    if mode == '1':
        a = np.array(im.convert('1'), dtype=np.uint8)
        return np.packbits(a, axis=1), 1
    if mode == 'L':
        return np.array(im.convert('L'), dtype=np.uint8), 1
    if mode == 'P':
        return np.array(im.convert('RGB').convert('P', palette=Image.ADAPTIVE, colors=256),
                        dtype=np.uint8), 1
    return np.array(im.convert('RGB'), dtype=np.uint8).reshape(im.height, -1), 3


def filtered(rows, step, kind):
    """Every row with its filter byte in front."""
    if kind == 'none':
        out = rows
        code = 0
    elif kind == 'sub':
        out = rows.copy()
        out[:, step:] = rows[:, step:] - rows[:, :-step]
        code = 1
    else:  # up
        out = rows.copy()
        out[1:] = rows[1:] - rows[:-1]
        code = 2
    head = np.full((rows.shape[0], 1), code, dtype=np.uint8)
    return np.hstack([head, out]).tobytes()


STRATEGIES = {'default': zlib.Z_DEFAULT_STRATEGY, 'filtered': zlib.Z_FILTERED,
              'rle': zlib.Z_RLE}


def pil_size(im, mode):
    buffer = io.BytesIO()
    source = im.convert('RGB')
    if mode == 'P':
        source = source.convert('P', palette=Image.ADAPTIVE, colors=256)
    elif mode != 'RGB':
        source = im.convert(mode)
    start = time.perf_counter()
    source.save(buffer, 'PNG')
    return buffer.tell(), time.perf_counter() - start


def main():
    args = sys.argv[1:]
    forced = None
    if args[:1] == ['--as']:
        forced, args = args[1], args[2:]
    for path in args:
        im = Image.open(path)
        im.load()
        mode = forced or smallest_mode(im)
        rows, step = rows_of(im, mode)
        pil, pil_time = pil_size(im, mode)
        print(f'{path}: {im.width}x{im.height}, as {mode}; PIL {pil} bytes in {pil_time:.3f} s')
        print(f'  {"filter":6} {"strategy":8} {"level":>5} {"bytes":>10} {"vs PIL":>7} {"zlib s":>7}')
        results = []
        for kind in ('none', 'sub', 'up'):
            data = filtered(rows, step, kind)
            for name, strategy in STRATEGIES.items():
                for level in (1, 2, 3, 4, 6, 9):
                    if name == 'rle' and level != 1:
                        continue  # RLE ignores the level's search
                    start = time.perf_counter()
                    c = zlib.compressobj(level, zlib.DEFLATED, 15, 8, strategy)
                    size = len(c.compress(data) + c.flush())
                    took = time.perf_counter() - start
                    results.append((kind, name, level, size, took))
        for kind, name, level, size, took in results:
            print(f'  {kind:6} {name:8} {level:5} {size:10} {size / pil:7.2f} {took:7.3f}')


if __name__ == '__main__':
    main()
