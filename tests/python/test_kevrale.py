"""The Python package kevrale against kevrale-thin, and its handling of
arrays and arguments."""

import subprocess
import sys
import threading

import numpy as np
import pytest

import kevrale
from conftest import cli_paths, cli_thin, line_art, picture


@pytest.fixture(scope="module")
def mask():
    return line_art(90, 130, seed=7)


def noisy(image, seed, spread):
    """The picture with every channel of every pixel moved by up to
    `spread`, so that a tolerance decides which pixels are the target."""
    rng = np.random.default_rng(seed)
    moved = image.astype(int) + rng.integers(-spread, spread + 1, size=image.shape)
    return np.clip(moved, 0, 255).astype(np.uint8)


# ---- thin() gives kevrale-thin's picture --------------------------------


def test_thin_rgb_like_cli(tmp_path, mask):
    image = picture(mask)
    result = kevrale.thin(image)
    assert result.shape == image.shape and result.dtype == np.uint8
    np.testing.assert_array_equal(result, cli_thin(tmp_path, image))
    # Something was thinned, and only the lines changed.
    assert (result != image).any()
    assert (result[~mask] == image[~mask]).all()


def test_thin_colours_tolerance_prune_like_cli(tmp_path, mask):
    # Red lines (shaded) on a blue paper, thinned to green.
    image = noisy(picture(mask, ink=(200, 30, 30), paper=(20, 40, 220)), seed=3, spread=25)
    result = kevrale.thin(image, target=(200, 30, 30), surround=(0, 255, 0), tolerance=40, prune=6)
    expected = cli_thin(tmp_path, image, "--target", "#C81E1E", "--surround", "00ff00",
                        "--tolerance", "40", "--prune", "6")
    np.testing.assert_array_equal(result, expected)
    # Without the tolerance only exact red pixels are lines: another result.
    assert (kevrale.thin(image, target=(200, 30, 30), surround=(0, 255, 0)) != result).any()


def test_thin_rgba_like_cli(tmp_path, mask):
    image = picture(mask, channels=4)
    # Half transparent paper, and black pixels that are fully transparent:
    # those are never lines.
    image[::2, :, 3] = 128
    image[40:50, :, 3] = 0
    result = kevrale.thin(image)
    assert result.shape == image.shape
    np.testing.assert_array_equal(result, cli_thin(tmp_path, image))
    np.testing.assert_array_equal(result[40:50], image[40:50])


def test_thin_transparent_surround_like_cli(tmp_path, mask):
    image = picture(mask)
    result = kevrale.thin(image, surround=None)
    # RGB in, RGBA out: removed pixels are transparent, the rest opaque.
    assert result.shape == image.shape[:2] + (4,)
    np.testing.assert_array_equal(result, cli_thin(tmp_path, image, "--surround", "transparent"))
    removed = result[..., 3] == 0
    assert removed.any() and (removed <= mask).all()
    # The colour bytes of removed pixels hold the surround colour.
    np.testing.assert_array_equal(kevrale.thin(picture(mask, channels=4), surround=None), result)


def thick_square():
    # A square this thick needs more than one sweep to become a line.
    block = np.zeros((130, 150), dtype=bool)
    block[5:125, 5:145] = True
    return picture(block)


def test_sweeps_repeat_until_thin():
    image = thick_square()
    once = kevrale.thin(image)
    twice = kevrale.thin(image, sweeps=2)
    until_thin = kevrale.thin(image, sweeps="all")
    assert (once != twice).any() and (twice != until_thin).any()
    # What "all" leaves, another sweep leaves as it is.
    np.testing.assert_array_equal(kevrale.thin(until_thin), until_thin)
    np.testing.assert_array_equal(kevrale.thin(image, sweeps=1000), until_thin)
    np.testing.assert_array_equal(kevrale.skeletonize(image[..., 0] == 0, sweeps="all"),
                                  until_thin[..., 0] == 0)


def test_sweeps_like_cli(tmp_path):
    image = thick_square()
    try:
        expected = cli_thin(tmp_path, image, "--sweeps", "2")
    except subprocess.CalledProcessError:
        pytest.skip("this kevrale-thin has no --sweeps")
    np.testing.assert_array_equal(kevrale.thin(image, sweeps=2), expected)
    np.testing.assert_array_equal(kevrale.thin(image, sweeps="all"),
                                  cli_thin(tmp_path, image, "--sweeps", "all"))


# ---- skeletonize() -------------------------------------------------------


def test_skeletonize_is_thin_on_a_mask(mask):
    skeleton = kevrale.skeletonize(mask)
    assert skeleton.dtype == bool and skeleton.shape == mask.shape
    np.testing.assert_array_equal(skeleton, kevrale.thin(picture(mask))[..., 0] == 0)
    assert (skeleton <= mask).all() and 0 < skeleton.sum() < mask.sum()
    # Any nonzero value is the shape.
    np.testing.assert_array_equal(kevrale.skeletonize(mask.astype(np.uint8) * 7), skeleton)
    np.testing.assert_array_equal(kevrale.skeletonize(np.where(mask, -0.5, 0.0)), skeleton)
    np.testing.assert_array_equal(kevrale.skeletonize(mask.tolist()), skeleton)
    pruned = kevrale.skeletonize(mask, prune=8)
    np.testing.assert_array_equal(pruned, kevrale.thin(picture(mask), prune=8)[..., 0] == 0)


# ---- trace() gives the SVG's paths ----------------------------------------


@pytest.mark.parametrize("options", [{}, {"simplify": 1.5}, {"prune": 6}])
def test_trace_mask_like_svg(tmp_path, mask, options):
    cli_options = []
    for name, value in options.items():
        cli_options += ["--" + name, str(value)]
    expected = cli_paths(tmp_path, picture(mask), *cli_options)
    paths = kevrale.trace(mask, **options)
    assert len(paths) == len(expected) > 1
    for path, svg in zip(paths, expected):
        assert path.dtype == np.float64 and path.ndim == 2 and path.shape[1] == 2
        np.testing.assert_array_equal(path + 0.5, svg)


def test_trace_image_like_svg_and_pixels(tmp_path, mask):
    # A closed loop and a lone pixel among the lines, drawn in a colour on
    # a picture with alpha.
    shape = mask.copy()
    shape[66:89, 96:129] = False
    ring = np.zeros_like(mask)
    ring[70:85, 100:125] = True
    ring[72:83, 102:123] = False
    image = picture(shape | ring, ink=(10, 200, 10), channels=4)
    image[0, 0, :3] = (10, 200, 10)
    image[0, :, 3] = 100
    paths = kevrale.trace(image, target=(10, 200, 10))
    expected = cli_paths(tmp_path, image, "--target", "0ac80a")
    assert len(paths) == len(expected)
    for path, svg in zip(paths, expected):
        np.testing.assert_array_equal(path + 0.5, svg)
    assert any(len(p) == 1 for p in paths)
    assert any(len(p) > 2 and (p[0] == p[-1]).all() for p in paths)
    # Exact paths run through every pixel of the centre lines.
    skeleton = kevrale.thin(image, target=(10, 200, 10))[..., 1] == 200
    visited = np.zeros_like(skeleton)
    for p in paths:
        for (x0, y0), (x1, y1) in zip(p, p[1:] if len(p) > 1 else p):
            n = int(max(abs(x1 - x0), abs(y1 - y0)))
            for t in range(n + 1):
                k = t / max(n, 1)
                visited[int(y0 + (y1 - y0) * k), int(x0 + (x1 - x0) * k)] = True
    np.testing.assert_array_equal(visited, skeleton)


# ---- Arrays: never modified, any strides ---------------------------------


def test_input_kept_and_strides_honoured(mask):
    image = picture(mask, ink=(0, 0, 0), paper=(250, 240, 230))
    expected = kevrale.thin(image)
    wide = np.zeros((mask.shape[0] * 2, mask.shape[1] * 3, 5), dtype=np.uint8)
    views = {
        "fortran": np.asfortranarray(image),
        "strided": wide[::2, ::3, 1:4],
        "bgr reversed": image[:, :, ::-1][:, :, ::-1],
    }
    views["strided"][...] = image
    for name, view in views.items():
        before = view.copy()
        np.testing.assert_array_equal(kevrale.thin(view), expected, err_msg=name)
        np.testing.assert_array_equal(view, before, err_msg=name)
    # Flipped views give the flipped result's skeleton of the flipped mask.
    flipped = mask[::-1, ::-1]
    np.testing.assert_array_equal(kevrale.skeletonize(flipped),
                                  kevrale.skeletonize(np.ascontiguousarray(flipped)))
    kept = mask.copy()
    kevrale.skeletonize(mask)
    kevrale.trace(mask)
    np.testing.assert_array_equal(mask, kept)


def test_empty_arrays():
    assert kevrale.thin(np.zeros((0, 4, 3), np.uint8)).shape == (0, 4, 3)
    assert kevrale.thin(np.zeros((3, 0, 3), np.uint8), surround=None).shape == (3, 0, 4)
    assert kevrale.skeletonize(np.zeros((5, 0), bool)).shape == (5, 0)
    assert kevrale.trace(np.zeros((0, 0), bool)) == []


# ---- Wrong input ---------------------------------------------------------


@pytest.mark.parametrize(
    "call, error, text",
    [
        (lambda i, m: kevrale.thin(i.astype(np.float32)), TypeError, "uint8"),
        (lambda i, m: kevrale.thin(i.astype(bool)), TypeError, "uint8"),
        (lambda i, m: kevrale.thin(i[..., :2]), ValueError, "(height, width, 3)"),
        (lambda i, m: kevrale.thin(m.astype(np.uint8)), ValueError, "got (8, 9)"),
        (lambda i, m: kevrale.thin(i, target=(1, 2)), ValueError, "three integers"),
        (lambda i, m: kevrale.thin(i, target="black"), TypeError, "target"),
        (lambda i, m: kevrale.thin(i, target=(0, 0, 256)), ValueError, "got 256"),
        (lambda i, m: kevrale.thin(i, surround=(0.5, 0, 0)), TypeError, "surround"),
        (lambda i, m: kevrale.thin(i, tolerance=-1), ValueError, "tolerance"),
        (lambda i, m: kevrale.thin(i, tolerance=256), ValueError, "tolerance"),
        (lambda i, m: kevrale.thin(i, tolerance=2.0), TypeError, "tolerance"),
        (lambda i, m: kevrale.thin(i, tolerance=10**30), ValueError, "got 1000000000000000000000000000000"),
        (lambda i, m: kevrale.thin(i, target=(0, -(10**40), 0)), ValueError, "target"),
        (lambda i, m: kevrale.thin(i, sweeps=0), ValueError, "sweeps"),
        (lambda i, m: kevrale.thin(i, sweeps="many"), ValueError, "sweeps"),
        (lambda i, m: kevrale.thin(i, prune=-3), ValueError, "prune"),
        (lambda i, m: kevrale.skeletonize(m.astype(complex)), TypeError, "mask"),
        (lambda i, m: kevrale.skeletonize(m[None]), ValueError, "2-D"),
        (lambda i, m: kevrale.skeletonize(None), TypeError, "mask"),
        (lambda i, m: kevrale.trace(m, simplify=-1), ValueError, "simplify"),
        (lambda i, m: kevrale.trace(m, simplify=float("nan")), ValueError, "simplify"),
        (lambda i, m: kevrale.trace(m, simplify="1"), TypeError, "simplify"),
        (lambda i, m: kevrale.trace(np.zeros(5)), ValueError, "2-D mask"),
    ],
)
def test_wrong_input_is_refused(call, error, text):
    m = np.zeros((8, 9), dtype=bool)
    i = picture(m)
    with pytest.raises(error) as raised:
        call(i, m)
    assert text in str(raised.value)


def test_too_wide_picture_gives_the_engine_message():
    wide = np.zeros((2, kevrale.MAX_WIDTH + 1, 3), dtype=np.uint8)
    for call in (kevrale.thin, kevrale.skeletonize, kevrale.trace):
        with pytest.raises(ValueError) as raised:
            call(wide if call is kevrale.thin else wide[..., 0])
        assert str(raised.value).startswith("画像の横幅が12000pixelを越えていて実行できません\n")
        assert "縦長なら縮小して実行してください" in str(raised.value)
    # The widest picture is thinned.
    assert kevrale.thin(wide[:, 1:]).shape == (2, kevrale.MAX_WIDTH, 3)


# ---- Threads -------------------------------------------------------------


def test_threads_thin_at_once_with_the_same_results():
    masks = [line_art(120, 160, seed=s) for s in range(6)]
    expected = [kevrale.skeletonize(m) for m in masks]
    results = [None] * len(masks)

    def work(k):
        results[k] = kevrale.skeletonize(masks[k])

    threads = [threading.Thread(target=work, args=(k,)) for k in range(len(masks))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got, want in zip(results, expected):
        np.testing.assert_array_equal(got, want)


def test_lock_released_while_the_engine_runs():
    # With the interpreter's switch interval far longer than the run, the
    # main thread can run while the worker is inside thin() only when thin()
    # lets go of the lock. A main thread woken late may miss a run, so a few
    # runs are tried.
    image = picture(line_art(1000, 1000, seed=1, strokes=60, max_radius=15))
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    try:
        for _ in range(5):
            state = {"done": False}
            started = threading.Event()

            def work():
                started.set()
                kevrale.thin(image)
                state["done"] = True

            worker = threading.Thread(target=work)
            worker.start()
            started.wait()
            seen_during_run = not state["done"]
            worker.join()
            if seen_during_run:
                break
        assert seen_during_run
    finally:
        sys.setswitchinterval(interval)
