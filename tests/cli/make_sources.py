"""Writes the PNG and JPEG sources of the streamed-run tests into a folder:
every PNG colour type and bit depth (written chunk by chunk here, so that
each is exactly what its name says), and JPEG files through PIL.

    make_sources.py FOLDER WIDTH HEIGHT

A picture is black strokes on white with a band of colour (or grey) across
it, so that thinning has lines to thin and colours to keep."""
import struct
import sys
import zlib


def level(x, y, w, h):
    """0 black stroke, 1 white, 2 the band's colour, 3 a second one."""
    if (x + 2 * y) % 11 < 3 or (w > 6 and 2 <= x - w // 3 < 5):
        return 0
    if y % 7 == 3:
        return 2
    if (x * 3 + y) % 17 == 0:
        return 3
    return 1


def chunk(kind, data):
    body = kind + data
    return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))


def pack(samples, depth):
    """A row of samples packed at `depth` bits, high bits first."""
    if depth >= 8:
        size = depth // 8
        return b''.join(s.to_bytes(size, 'big') for s in samples)
    out = bytearray()
    byte = filled = 0
    for s in samples:
        byte = byte << depth | s
        filled += depth
        if filled == 8:
            out.append(byte)
            byte = filled = 0
    if filled:
        out.append(byte << (8 - filled))
    return bytes(out)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def filtered(row, above, kind, bpp):
    """`row` stored with filter `kind` (0 to 4), `above` the row before."""
    out = bytearray(len(row))
    for i, v in enumerate(row):
        a = row[i - bpp] if i >= bpp else 0
        b = above[i]
        c = above[i - bpp] if i >= bpp else 0
        guess = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]
        out[i] = (v - guess) & 0xFF
    return bytes(out)


def png(path, w, h, colour_type, depth, sample, plte=None, trns=None, interlace=0,
        filters=None, damage=None):
    """`sample(x, y)` gives the tuple of samples of a pixel. `filters(y)`:
    the filter of row y (else none). `damage`: 'checksum' spoils the image
    data's checksum, 'extra' puts bytes after its end, 'filter' gives a row
    a filter that does not exist."""
    raw = bytearray()
    rows = []
    for y in range(h):
        flat = [s for x in range(w) for s in sample(x, y)]
        rows.append(pack(flat, depth))
    if interlace:
        # Adam7 passes, each row with filter byte 0.
        passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4),
                  (1, 0, 2, 2), (0, 1, 1, 2)]
        for x0, y0, dx, dy in passes:
            for y in range(y0, h, dy):
                xs = range(x0, w, dx)
                if not xs:
                    continue
                flat = [s for x in xs for s in sample(x, y)]
                raw += b'\0' + pack(flat, depth)
    else:
        channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour_type]
        bpp = max(1, channels * depth // 8)
        above = bytes(len(rows[0]))
        for y, r in enumerate(rows):
            kind = filters(y) if filters else 0
            raw += bytes([kind]) + filtered(r, above, kind, bpp)
            above = r
        if damage == 'filter':
            raw[(len(rows[0]) + 1) * (h // 2)] = 7
    compressed = zlib.compress(bytes(raw))
    if damage == 'checksum':
        compressed = compressed[:-1] + bytes([compressed[-1] ^ 1])
    if damage == 'extra':
        compressed += b'\0\1\2\3'
    data = b'\x89PNG\r\n\x1a\n'
    data += chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, depth, colour_type, 0, 0, interlace))
    data += chunk(b'pHYs', struct.pack('>IIB', 11811, 11811, 1))
    if plte is not None:
        data += chunk(b'PLTE', b''.join(bytes(c) for c in plte))
    if trns is not None:
        data += chunk(b'tRNS', trns)
    data += chunk(b'IDAT', compressed)
    data += chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(data)


def main():
    folder, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    lv = lambda x, y: level(x, y, w, h)
    grey = {1: [0, 1, 1, 0], 2: [0, 3, 1, 2], 4: [0, 15, 6, 9], 8: [0, 255, 90, 170],
            16: [0, 65535, 23130, 43690]}
    for depth, values in grey.items():
        png(f'{folder}/grey{depth}.png', w, h, 0, depth, lambda x, y: (values[lv(x, y)],))
    png(f'{folder}/grey8-trns.png', w, h, 0, 8, lambda x, y: ((0, 255, 90, 170)[lv(x, y)],),
        trns=struct.pack('>H', 90))
    png(f'{folder}/grey-alpha.png', w, h, 4, 8,
        lambda x, y: ((0, 255, 90, 170)[lv(x, y)], (255, 255, 128, 0)[lv(x, y)]))
    palette = [(0, 0, 0), (255, 255, 255), (200, 30, 40), (10, 120, 220), (9, 9, 9)]
    for depth in (1, 2, 4, 8):
        n = 2 if depth == 1 else 4
        png(f'{folder}/palette{depth}.png', w, h, 3, depth,
            lambda x, y: (lv(x, y) % n,), plte=palette[:n])
    # An index past a short palette is the plug-in's index 0.
    png(f'{folder}/palette-short.png', w, h, 3, 4, lambda x, y: ((0, 1, 2, 12)[lv(x, y)],),
        plte=palette[:3])
    png(f'{folder}/palette-trns.png', w, h, 3, 8, lambda x, y: (lv(x, y),), plte=palette[:4],
        trns=bytes([255, 255, 0, 128]))
    png(f'{folder}/palette-trns-opaque.png', w, h, 3, 8, lambda x, y: (lv(x, y),),
        plte=palette[:4], trns=bytes([255, 255]))
    colours = [(0, 0, 0), (255, 255, 255), (200, 30, 40), (10, 120, 220)]
    png(f'{folder}/rgb.png', w, h, 2, 8, lambda x, y: colours[lv(x, y)])
    png(f'{folder}/rgb16.png', w, h, 2, 16,
        lambda x, y: tuple(min(c * 257 + (x % 3), 65535) for c in colours[lv(x, y)]))
    png(f'{folder}/rgb-trns.png', w, h, 2, 8, lambda x, y: colours[lv(x, y)],
        trns=struct.pack('>HHH', 200, 30, 40))
    png(f'{folder}/rgba.png', w, h, 6, 8,
        lambda x, y: colours[lv(x, y)] + ((255, 255, 40, 0)[lv(x, y)],))
    png(f'{folder}/rgba-opaque.png', w, h, 6, 8, lambda x, y: colours[lv(x, y)] + (255,))
    png(f'{folder}/rgba16.png', w, h, 6, 16,
        lambda x, y: tuple(c * 257 for c in colours[lv(x, y)]) + ((65535, 65535, 9000, 0)[lv(x, y)],))
    # Every row filter, alone and in runs (Paeth rows are undone in pairs),
    # for the kinds whose rows are unfiltered by the program itself and for
    # grey; and damaged image data.
    cycle = lambda y: (0, 1, 2, 3, 4, 4, 4, 1, 4, 4, 3)[y % 11]
    png(f'{folder}/rgb-filtered.png', w, h, 2, 8, lambda x, y: colours[lv(x, y)], filters=cycle)
    png(f'{folder}/rgba-filtered.png', w, h, 6, 8,
        lambda x, y: colours[lv(x, y)] + ((255, 255, 40, 0)[lv(x, y)],), filters=cycle)
    png(f'{folder}/grey8-filtered.png', w, h, 0, 8, lambda x, y: ((0, 255, 90, 170)[lv(x, y)],),
        filters=cycle)
    for damage in ('checksum', 'extra', 'filter'):
        png(f'{folder}/rgb-bad-{damage}.png', w, h, 2, 8, lambda x, y: colours[lv(x, y)],
            filters=cycle, damage=damage)
    png(f'{folder}/interlaced.png', w, h, 0, 8, lambda x, y: ((0, 255, 90, 170)[lv(x, y)],),
        interlace=1)

    try:
        from PIL import Image
    except ImportError:
        return
    im = Image.new('RGB', (w, h))
    im.putdata([colours[lv(x, y)] for y in range(h) for x in range(w)])
    im.save(f'{folder}/rgb.jpg', quality=90, dpi=(300, 300))
    im.save(f'{folder}/progressive.jpg', quality=90, progressive=True)
    im.convert('L').save(f'{folder}/grey.jpg', quality=90)
    im.convert('CMYK').save(f'{folder}/cmyk.jpg', quality=90)


if __name__ == '__main__':
    main()
