#!/usr/bin/python3
"""The Python package on the 4096 x 4096 line art, in one process:
kevrale.skeletonize against skimage.morphology.skeletonize on the same
mask, and kevrale.thin against the engine's own time on the same picture.

usage: bench/python-bench.py [BUILD] [ROUNDS]

BUILD is a release build folder (default build/release), which holds the
package (BUILD/python) and the picture writer (BUILD/bench). Each round
times every contender once, in turn; the table gives each one's best and
median. scikit-image (python3-skimage) is optional: without it, its rows
are left out.
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "build/release"))
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
sys.path.insert(0, os.path.join(build, "python"))

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

import kevrale  # noqa: E402
from kevrale import _kevrale  # noqa: E402

try:
    from skimage.morphology import skeletonize as skimage_skeletonize
except ImportError:
    skimage_skeletonize = None

Image.MAX_IMAGE_PIXELS = None


def line_art():
    """The benchmarks' lineart-4k picture, as kevrale-bench-images draws it."""
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([os.path.join(build, "bench", "kevrale-bench-images"), folder, "lineart-4k"],
                       check=True, stdout=subprocess.DEVNULL)
        with Image.open(os.path.join(folder, "lineart-4k.bmp")) as picture:
            return np.asarray(picture.convert("RGB")).copy()


def timed(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def main():
    image = line_art()
    mask = (image == 0).all(axis=2)
    print(f"lineart-4k: {image.shape[1]} x {image.shape[0]}, {mask.mean():.1%} ink; "
          f"{rounds} rounds, Python {sys.version.split()[0]}, NumPy {np.__version__}")

    contenders = {
        "engine alone (thinning)": lambda: times.append(_kevrale.engine_seconds(image, 0, 1, 0)),
        "kevrale.thin": lambda: kevrale.thin(image),
        "kevrale.skeletonize": lambda: kevrale.skeletonize(mask),
    }
    if skimage_skeletonize is not None:
        contenders["skimage.morphology.skeletonize"] = lambda: skimage_skeletonize(mask)
    results = {name: [] for name in contenders}
    times = []
    for _ in range(rounds):
        for name, call in contenders.items():
            if name.startswith("engine"):
                call()
                results[name].append(times.pop())
            else:
                results[name].append(timed(call))

    print(f"{'':34} {'best s':>8} {'median s':>9}")
    for name, seconds in results.items():
        print(f"{name:34} {min(seconds):8.3f} {statistics.median(seconds):9.3f}")
    engine = results["engine alone (thinning)"]
    thin = results["kevrale.thin"]
    print(f"kevrale.thin / engine alone: {min(thin) / min(engine):.2f} (best), "
          f"{statistics.median(thin) / statistics.median(engine):.2f} (median)")
    if skimage_skeletonize is not None:
        ratio = min(results["skimage.morphology.skeletonize"]) / min(results["kevrale.skeletonize"])
        print(f"skimage / kevrale.skeletonize: {ratio:.1f} times")
        same = (kevrale.skeletonize(mask) == skimage_skeletonize(mask)).mean()
        print(f"pixels on which the two skeletons agree: {same:.4%}")


if __name__ == "__main__":
    main()
