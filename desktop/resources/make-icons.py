#!/usr/bin/python3
"""Draws the program's icon at every size the desktop asks for.

The icon shows what the program does: a thick blue stroke with its red
centre line drawn in, going on as a line one pixel wide. Each size is drawn
on its own (eight times larger, then reduced) so that the thin line stays
one pixel wide at 16 and 32 pixels. Run it after changing the drawing and
commit the PNG files it writes into icons/.
"""
import os

from PIL import Image, ImageDraw

SIZES = (16, 32, 48, 64, 128, 256)
SCALE = 8
PAPER = (248, 246, 236, 255)
FRAME = (80, 80, 80, 255)
BLUE = (32, 64, 160, 255)
RED = (224, 32, 32, 255)


def draw(size):
    big = size * SCALE
    image = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    d = ImageDraw.Draw(image)

    def at(x, y):
        return (x * big, y * big)

    frame = max(SCALE, round(big * 0.03))
    d.rounded_rectangle([at(0.04, 0.04), at(0.96, 0.96)], radius=big * 0.12, fill=PAPER,
                        outline=FRAME, width=frame)
    start, bend, end = (0.22, 0.78), (0.52, 0.48), (0.80, 0.20)
    thick = round(big * 0.26)
    d.line([at(*start), at(*bend)], fill=BLUE, width=thick)
    for point in (start, bend):
        x, y = at(*point)
        d.ellipse([x - thick / 2, y - thick / 2, x + thick / 2, y + thick / 2], fill=BLUE)
    thin = max(SCALE, round(big * 0.035))
    d.line([at(*bend), at(*end)], fill=BLUE, width=thin)
    d.line([at(*start), at(*bend)], fill=RED, width=thin)
    return image.resize((size, size), Image.LANCZOS)


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
    os.makedirs(folder, exist_ok=True)
    for size in SIZES:
        draw(size).save(os.path.join(folder, "kevrale-%d.png" % size))


if __name__ == "__main__":
    main()
