"""Centre lines one pixel wide from NumPy arrays.

kevrale thins every region of a target colour to a line one pixel wide
(Hilditch's method), with the same engine as the command kevrale-thin:

    thin(image, ...)           an RGB or RGBA picture thinned, exactly as
                               kevrale-thin thins a file
    skeletonize(mask, ...)     the centre lines of a boolean mask, in the
                               manner of skimage.morphology.skeletonize
    trace(image_or_mask, ...)  the centre lines as polylines of (x, y)
                               points: the paths of kevrale-thin's SVG result

Arrays are never modified; each call returns new ones, and takes arrays of
any strides. Rows are y and columns x: pixel a[r, c] is the point (c, r).
Pictures may be at most MAX_WIDTH (12500) pixels wide. The engine runs
without holding the interpreter lock, so threads thin several arrays at once.

Example:

    >>> import numpy as np, kevrale
    >>> mask = np.zeros((9, 20), bool)
    >>> mask[2:7, 2:18] = True
    >>> kevrale.skeletonize(mask).sum()
    12
    >>> kevrale.trace(mask)
    [array([[ 4.,  4.],
           [15.,  4.]])]
"""

import numpy as _np

from . import _kevrale

__all__ = ["thin", "skeletonize", "trace", "MAX_WIDTH"]

#: The widest picture the engine thins.
MAX_WIDTH = _kevrale.MAX_WIDTH


def thin(image, target=(0, 0, 0), surround=(255, 255, 255), tolerance=0, sweeps=1, prune=0):
    """Thin every region of the target colour to a line one pixel wide.

    Each pixel removed is repainted in the surround colour; no other pixel
    changes. The result is exactly what kevrale-thin gives for the same
    picture and options.

    image      uint8 array of shape (height, width, 3) for RGB or
               (height, width, 4) for RGBA; a fully transparent pixel is
               never the target colour.
    target     (red, green, blue) of the lines to thin.
    surround   (red, green, blue) that removed pixels become, opaque; None
               makes them fully transparent, and the result is then RGBA
               (four channels) even for an RGB image, every other pixel
               opaque.
    tolerance  0..255: also thin the pixels none of whose red, green and
               blue values differs from the target's by more than this.
    sweeps     how many times the thinning sweeps over the picture (1, as
               kevrale-thin by default), or "all": until a sweep removes
               nothing.
    prune      after thinning, remove every branch shorter than this many
               pixels that runs from a line end to a junction (0: none).

    Returns a new uint8 array of the same height and width.
    Raises TypeError for an array that is not uint8, ValueError for a wrong
    shape, an option out of range or a picture wider than MAX_WIDTH.
    """
    return _kevrale.thin(_np.asarray(image), target, surround, tolerance, sweeps, prune)


def skeletonize(mask, sweeps=1, prune=0):
    """The centre lines of a 2-D mask, one pixel wide.

    A drop-in for skimage.morphology.skeletonize(mask): true (nonzero)
    pixels are the shape.

    mask    2-D array of bool, or of integers or floats (nonzero is the
            shape).
    sweeps  as in thin(): 1, more, or "all".
    prune   as in thin(): remove branches shorter than this many pixels.

    Returns a new bool array of the mask's shape, True on the centre lines.
    """
    return _kevrale.skeletonize(_np.asarray(mask), sweeps, prune)


def trace(image_or_mask, target=(0, 0, 0), tolerance=0, sweeps=1, prune=0, simplify=0.0):
    """The centre lines as polylines, in the order kevrale-thin writes them.

    The same paths, in the same order, as kevrale-thin's SVG result (each
    run in the direction a pen draws it, the pen's travel between them kept
    short).

    image_or_mask  a 2-D mask (as for skeletonize; target and tolerance
                   are not used) or an RGB/RGBA uint8 image (as for thin).
    target, tolerance, sweeps, prune
                   as in thin().
    simplify       Douglas-Peucker tolerance in pixels (0: exact; points
                   are kept only where the line turns).

    Returns a list of float64 arrays of shape (N, 2), one per path, each
    row the (x, y) = (column, row) of a pixel the path runs through: pixel
    mask[r, c] is the point (c, r), and the SVG's coordinates are these
    plus 0.5. A closed path repeats its first point at the end; a lone
    pixel is a path of one point.
    """
    return _kevrale.trace(_np.asarray(image_or_mask), target, tolerance, sweeps, prune, simplify)
