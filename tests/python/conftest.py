"""What the tests of the Python package share: kevrale-thin run on a picture
written to a file, generated pictures, and a reader of its SVG paths."""

import os
import re
import shutil
import subprocess

import numpy as np
import pytest
from PIL import Image


def thin_command():
    """kevrale-thin: the build's (KEVRALE_THIN) or the one on the PATH."""
    command = os.environ.get("KEVRALE_THIN") or shutil.which("kevrale-thin")
    if not command:
        pytest.fail("kevrale-thin not found: set KEVRALE_THIN or put it on the PATH")
    return command


def run_cli(tmp_path, image, *options, output="out.bmp"):
    """kevrale-thin on `image` (written as BMP) with `options`; returns the
    path of its result."""
    source = tmp_path / "in.bmp"
    Image.fromarray(image).save(source, "BMP")
    result = tmp_path / output
    subprocess.run([thin_command(), *options, "-o", str(result), str(source)], check=True)
    return result


def cli_thin(tmp_path, image, *options):
    """The picture kevrale-thin makes of `image`, as an array."""
    with Image.open(run_cli(tmp_path, image, *options)) as result:
        return np.asarray(result)


def cli_paths(tmp_path, image, *options):
    """The paths of kevrale-thin's SVG result, each an (N, 2) array of the
    points it runs through (a closed one ending at its first point)."""
    text = run_cli(tmp_path, image, *options, output="out.svg").read_text()
    return [parse_path(d) for d in re.findall(r' d="([^"]*)"', text)]


def parse_path(d):
    """Path data of M, h, v, l and z commands (a letter may be left out
    when it repeats) as the points it visits."""
    tokens = re.findall(r"[MhvlzZ]|-?[0-9]+(?:\.[0-9]+)?", d)
    points, command, i = [], None, 0
    while i < len(tokens):
        if tokens[i].isalpha():
            command = tokens[i]
            i += 1
            if command in "zZ":
                points.append(points[0])
            continue
        x, y = points[-1] if points else (0.0, 0.0)
        if command == "M":
            x, y = float(tokens[i]), float(tokens[i + 1])
            i += 2
        elif command == "h":
            x += float(tokens[i])
            i += 1
        elif command == "v":
            y += float(tokens[i])
            i += 1
        elif command == "l":
            x, y = x + float(tokens[i]), y + float(tokens[i + 1])
            i += 2
        else:
            raise ValueError("unexpected path data: " + d)
        points.append((x, y))
    # A lone pixel is written as a zero-length segment: one point.
    if len(points) == 2 and points[0] == points[1]:
        points = points[:1]
    return np.array(points, dtype=np.float64)


def line_art(height, width, seed, strokes=12, max_radius=6):
    """A mask of thick strokes drawn from a fixed seed, kept two pixels away
    from the edges."""
    rng = np.random.default_rng(seed)
    mask = np.zeros((height, width), dtype=bool)
    for _ in range(strokes):
        r = int(rng.integers(1, max_radius + 1))
        y0, y1 = rng.integers(r + 2, height - r - 2, size=2)
        x0, x1 = rng.integers(r + 2, width - r - 2, size=2)
        # A disc of radius r at every pixel step along the segment.
        dy, dx = np.mgrid[-r : r + 1, -r : r + 1]
        disc = dy * dy + dx * dx <= r * r
        for t in np.linspace(0.0, 1.0, max(abs(y1 - y0), abs(x1 - x0)) + 1):
            cy, cx = int(round(y0 + t * (y1 - y0))), int(round(x0 + t * (x1 - x0)))
            mask[cy - r : cy + r + 1, cx - r : cx + r + 1] |= disc
    return mask


def picture(mask, ink=(0, 0, 0), paper=(255, 255, 255), channels=3):
    """The mask as an RGB (or RGBA, opaque) picture: ink on paper."""
    image = np.empty(mask.shape + (channels,), dtype=np.uint8)
    image[..., :3] = paper
    image[mask, :3] = ink
    if channels == 4:
        image[..., 3] = 255
    return image
