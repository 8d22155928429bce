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
    a filter that does not exist, 'short' ends the data at three fifths;
    'split' is no damage: the data in chunks of 1, 1, 2, 3, 5... bytes."""
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
    if damage == 'short':
        compressed = compressed[:len(compressed) * 3 // 5]
    write_png(path, w, h, colour_type, depth, compressed, plte, trns, interlace,
              split=damage == 'split')


def write_png(path, w, h, colour_type, depth, compressed, plte=None, trns=None, interlace=0,
              split=False):
    data = b'\x89PNG\r\n\x1a\n'
    data += chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, depth, colour_type, 0, 0, interlace))
    data += chunk(b'pHYs', struct.pack('>IIB', 11811, 11811, 1))
    if plte is not None:
        data += chunk(b'PLTE', b''.join(bytes(c) for c in plte))
    if trns is not None:
        data += chunk(b'tRNS', trns)
    at, size, before = 0, 1, 0
    while split and at < len(compressed):
        data += chunk(b'IDAT', compressed[at:at + size])
        at, size, before = at + size, size + before, size
    data += chunk(b'IDAT', compressed[at:])
    data += chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(data)


class Bits:
    """Deflate's bit stream: values from the lowest bit, Huffman codes from
    the highest."""

    def __init__(self):
        self.out, self.value, self.count = bytearray(), 0, 0

    def put(self, value, count):
        self.value |= value << self.count
        self.count += count
        while self.count >= 8:
            self.out.append(self.value & 0xFF)
            self.value >>= 8
            self.count -= 8

    def code(self, code, length):
        self.put(int(format(code, f'0{length}b')[::-1], 2), length)

    def end(self):
        return bytes(self.out) + (bytes([self.value]) if self.count else b'')


LENGTHS = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99,
           115, 131, 163, 195, 227, 258]
LENGTH_BITS = [0] * 8 + [1] * 4 + [2] * 4 + [3] * 4 + [4] * 4 + [5] * 4 + [0]
DISTANCES = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025,
             1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577]
DISTANCE_BITS = [0, 0] + [(n - 2) // 2 for n in range(2, 30)]


def fixed_symbol(bits, symbol):
    if symbol < 144:
        bits.code(0x30 + symbol, 8)
    elif symbol < 256:
        bits.code(0x190 + symbol - 144, 9)
    elif symbol < 280:
        bits.code(symbol - 256, 7)
    else:
        bits.code(0xC0 + symbol - 280, 8)


def zlib_fixed(data, copies, window_bits):
    """`data` as a zlib stream of one block in deflate's fixed codes, all
    literals but for `copies` {position: (length, distance)}, its header
    declaring a window of 2 ** window_bits bytes."""
    bits = Bits()
    bits.put(1, 1)  # the last block
    bits.put(1, 2)  # fixed codes
    i = 0
    while i < len(data):
        if i in copies:
            length, distance = copies[i]
            assert data[i:i + length] == data[i - distance:i - distance + length]
            c = max(k for k, base in enumerate(LENGTHS) if base <= length)
            fixed_symbol(bits, 257 + c)
            bits.put(length - LENGTHS[c], LENGTH_BITS[c])
            d = max(k for k, base in enumerate(DISTANCES) if base <= distance)
            bits.code(d, 5)
            bits.put(distance - DISTANCES[d], DISTANCE_BITS[d])
            i += length
        else:
            fixed_symbol(bits, data[i])
            i += 1
    fixed_symbol(bits, 256)
    method = (window_bits - 8) << 4 | 8
    head = bytes([method, (31 - method * 256 % 31) % 31])
    return head + bits.end() + struct.pack('>I', zlib.adler32(data))


def window_sources(folder):
    """RGB pictures 100 x 40 whose zlib header declares a small window:
    honestly, and not (row 35 copies 20 bytes of row 34, 301 back, past
    the 256 bytes declared and before the row that zlib is asked for)."""
    w, h = 100, 40
    colours = [(0, 0, 0), (255, 255, 255), (200, 30, 40), (10, 120, 220)]
    rows = [bytes(c for x in range(w) for c in colours[level(x, y, w, h)]) for y in range(h)]
    rows[35] = rows[34][:20] + rows[35][20:]
    raw = b''.join(b'\0' + r for r in rows)
    packer = zlib.compressobj(9, zlib.DEFLATED, 9)
    write_png(f'{folder}/rgb-small-window.png', w, h, 2, 8, packer.compress(raw) + packer.flush())
    copy_at = 35 * (3 * w + 1) + 1
    write_png(f'{folder}/rgb-far-window.png', w, h, 2, 8,
              zlib_fixed(raw, {copy_at: (20, 3 * w + 1)}, 8))


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
    # Every row filter, alone and in runs, for the kinds whose rows are
    # unfiltered by the program itself and for grey; and damaged image data.
    cycle = lambda y: (0, 1, 2, 3, 4, 4, 4, 1, 4, 4, 3)[y % 11]
    png(f'{folder}/rgb-filtered.png', w, h, 2, 8, lambda x, y: colours[lv(x, y)], filters=cycle)
    png(f'{folder}/rgba-filtered.png', w, h, 6, 8,
        lambda x, y: colours[lv(x, y)] + ((255, 255, 40, 0)[lv(x, y)],), filters=cycle)
    png(f'{folder}/grey8-filtered.png', w, h, 0, 8, lambda x, y: ((0, 255, 90, 170)[lv(x, y)],),
        filters=cycle)
    for damage in ('checksum', 'extra', 'filter', 'short', 'split'):
        png(f'{folder}/rgb-bad-{damage}.png', w, h, 2, 8, lambda x, y: colours[lv(x, y)],
            filters=cycle, damage=damage)
    window_sources(folder)
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
