"""The Inkscape extension run as Inkscape runs it: the script with the
document and the selected ids, its result read from standard output."""

import base64
import io
import os
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import numpy as np
import pytest
from PIL import Image

EXTENSIONS = os.environ.get("INKSCAPE_EXTENSIONS", "/usr/share/inkscape/extensions")
sys.path.insert(0, EXTENSIONS)
inkex = pytest.importorskip("inkex")

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "..", "..", "inkscape")
SCRIPT = os.path.join(SOURCE, "kevrale_centrelines.py")
INX = os.path.join(SOURCE, "kevrale_centrelines.inx")


def thin_command():
    command = os.environ.get("KEVRALE_THIN") or shutil.which("kevrale-thin")
    if not command:
        pytest.fail("kevrale-thin not found: set KEVRALE_THIN or put it on the PATH")
    return os.path.abspath(command)


def run_extension(document, *arguments, script=SCRIPT, path=None):
    """The script as Inkscape starts it; kevrale-thin is found on `path`
    (default: the folder of the build's kevrale-thin)."""
    environment = dict(os.environ)
    environment["PYTHONPATH"] = EXTENSIONS
    environment["PATH"] = path if path is not None else os.path.dirname(thin_command())
    environment.pop("DOCUMENT_PATH", None)
    return subprocess.run([sys.executable, script, *arguments, str(document)],
                          capture_output=True, env=environment, cwd="/")


def drawing(height, width, seed, ink=(0, 0, 0)):
    """Thick strokes of `ink` on white, from a fixed seed."""
    rng = np.random.default_rng(seed)
    image = np.full((height, width, 3), 255, dtype=np.uint8)
    for _ in range(6):
        y, x = rng.integers(3, height - 12), rng.integers(3, width - 30)
        image[y:y + rng.integers(3, 9), x:x + rng.integers(10, 28)] = ink
        image[y:y + rng.integers(10, 20), x:x + rng.integers(3, 8)] = ink
    return image


def png_data_uri(image):
    data = io.BytesIO()
    Image.fromarray(image).save(data, "PNG")
    # Inkscape wraps the base64 text in lines.
    return "data:image/png;base64," + base64.encodebytes(data.getvalue()).decode("ascii")


def cli_svg(tmp_path, image, *options):
    """kevrale-thin's SVG of `image`: its size and its paths' data."""
    source = tmp_path / "cli.bmp"
    Image.fromarray(image).save(source, "BMP")
    result = tmp_path / "cli.svg"
    subprocess.run([thin_command(), *options, "-o", str(result), str(source)], check=True)
    root = ElementTree.parse(result).getroot()
    paths = [p.get("d") for p in root.iter("{http://www.w3.org/2000/svg}path")]
    return int(root.get("width")), int(root.get("height")), paths


SVG = """<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink"
     xmlns:inkscape="http://www.inkscape.org/namespaces/inkscape" width="400" height="300">
  <g id="layer" transform="translate(7, -3)">
    <image id="embedded" x="10" y="20" width="{ew}" height="{eh}" preserveAspectRatio="none"
           transform="rotate(12) scale(1.5)" xlink:href="{uri}"/>
  </g>
  <image id="linked" x="5" y="150" width="{lw}" height="{lh}" xlink:href="{name}"/>
  <rect id="rect" width="10" height="10"/>
</svg>"""


@pytest.fixture
def document(tmp_path):
    """An SVG with an embedded PNG, stretched, moved and turned inside a
    moved layer, and a linked BMP (a path relative to the document) in a
    box wider than the picture, which is centred in it."""
    embedded = drawing(40, 70, seed=1)
    linked = drawing(50, 60, seed=2)
    folder = tmp_path / "drawings"
    folder.mkdir()
    Image.fromarray(linked).save(folder / "scan.bmp", "BMP")
    svg = folder / "doc.svg"
    svg.write_text(SVG.format(ew=140, eh=60, uri=png_data_uri(embedded), lw=180, lh=100,
                              name="scan.bmp"))
    return {"svg": svg, "embedded": embedded, "linked": linked}


def result_of(run):
    assert run.returncode == 0, run.stderr.decode()
    return inkex.load_svg(io.BytesIO(run.stdout)).getroot()


def lines_above(root, image_id):
    """The group the extension put right after the image."""
    image = root.getElementById(image_id)
    group = image.getnext()
    assert isinstance(group, inkex.Group)
    assert group.label == "Centre lines of " + image_id
    return group


def assert_transform(actual, expected):
    np.testing.assert_allclose(np.array(actual.matrix), np.array(expected.matrix), atol=1e-9)


def test_paths_lie_over_each_image(tmp_path, document):
    run = run_extension(document["svg"], "--id=embedded", "--id=linked")
    root = result_of(run)
    T = inkex.Transform

    # Embedded: 70 x 40 pixels stretched over 140 x 60 at (10, 20), under
    # the image's and the layer's transforms.
    width, height, paths = cli_svg(tmp_path, document["embedded"])
    assert (width, height) == (70, 40)
    group = lines_above(root, "embedded")
    expected = (T(translate=(7, -3)) @ T(rotate=12) @ T(scale=1.5) @ T(translate=(10, 20))
                @ T(scale=(2, 1.5)))
    assert_transform(group.composed_transform(), expected)
    assert [p.get("d") for p in group] == paths and len(paths) > 1

    # Linked: 60 x 50 pixels in a 180 x 100 box, scaled 2 (the height
    # fits) and centred: (180 - 120) / 2 = 30 to the right.
    width, height, paths = cli_svg(tmp_path, document["linked"])
    group = lines_above(root, "linked")
    assert_transform(group.composed_transform(), T(translate=(5 + 30, 150)) @ T(scale=2))
    assert [p.get("d") for p in group] == paths and len(paths) > 1
    for path in group:
        assert path.style["stroke"] == "#000000" and path.style["fill"] == "none"

    # A point of a path lands on its pixel of the image: the centre of
    # pixel (c, r) is (c + 0.5, r + 0.5) in the picture's own units.
    start = inkex.Path(paths[0]).to_absolute()[0]
    x, y = group.composed_transform().apply_to_point((start.x, start.y))
    assert re.match(r"M(\d+)\.5 (\d+)\.5", paths[0])
    assert 35 <= x <= 35 + 120 and 150 <= y <= 250


def test_options_reach_kevrale_thin(tmp_path, document):
    red = drawing(50, 60, seed=2, ink=(200, 20, 20))
    red[2:48, 8:52] = (200, 20, 20)  # thicker than one sweep thins
    red[::3, ::2] = (215, 35, 5)  # near shades, inside the tolerance
    Image.fromarray(red).save(document["svg"].parent / "scan.bmp", "BMP")
    # Inkscape hands a colour over as one number: 0xRRGGBBAA.
    run = run_extension(document["svg"], "--id=linked", "--tab=options",
                        "--target=%d" % 0xC81414FF, "--tolerance=20", "--until_thin=true",
                        "--prune=4", "--simplify=1.5")
    group = lines_above(result_of(run), "linked")
    _, _, paths = cli_svg(tmp_path, red, "--target", "c81414", "--tolerance", "20",
                          "--sweeps", "all", "--prune", "4", "--simplify", "1.5")
    assert [p.get("d") for p in group] == paths and paths
    assert all(p.style["stroke"] == "#c81414" for p in group)
    # The repeated sweeps made a difference.
    assert cli_svg(tmp_path, red, "--target", "c81414", "--tolerance", "20", "--prune", "4",
                   "--simplify", "1.5")[2] != paths


def test_bad_selections_change_nothing(document):
    # Nothing to trace: only a rectangle selected, or nothing.
    for ids in (["--id=rect"], []):
        run = run_extension(document["svg"], *ids)
        assert run.returncode != 0 and run.stdout == b""
        assert b"Select one or more bitmap images" in run.stderr

    # A picture that does not decode, selected with a good one: nothing is
    # added, and the message names the image.
    text = document["svg"].read_text()
    broken = text.replace('id="linked"', 'id="broken"').replace(
        'xlink:href="scan.bmp"', 'xlink:href="data:image/png;base64,iVBORw0KGgoAAAAA"')
    document["svg"].write_text(text.replace("</svg>", broken[broken.index("<image id=\"broken\""):]))
    run = run_extension(document["svg"], "--id=linked", "--id=broken")
    assert run.returncode != 0 and run.stdout == b""
    assert b'Image "broken" could not be traced' in run.stderr

    # Base64 text cut short.
    document["svg"].write_text(text.replace('xlink:href="scan.bmp"',
                                            'xlink:href="data:image/png;base64,iVBORw0KG"'))
    run = run_extension(document["svg"], "--id=linked")
    assert run.returncode != 0 and run.stdout == b""
    assert b'Image "linked" holds broken base64 data' in run.stderr

    # A linked file that is not there.
    document["svg"].write_text(text.replace("scan.bmp", "missing.bmp"))
    run = run_extension(document["svg"], "--id=linked")
    assert run.returncode != 0 and run.stdout == b""
    assert b"missing.bmp" in run.stderr


def test_kevrale_thin_beside_the_script(tmp_path, document):
    # Installed beside the program, without it on the PATH.
    folder = tmp_path / "extension"
    folder.mkdir()
    shutil.copy(SCRIPT, folder)
    os.symlink(thin_command(), folder / "kevrale-thin")
    run = run_extension(document["svg"], "--id=linked",
                        script=str(folder / "kevrale_centrelines.py"), path="/nonexistent")
    assert lines_above(result_of(run), "linked") is not None
    # Neither beside it nor on the PATH: a message, nothing changed.
    run = run_extension(document["svg"], "--id=linked", path="/nonexistent")
    assert run.returncode != 0 and b"kevrale-thin was found neither" in run.stderr


def test_inx_matches_the_script():
    ns = {"i": "http://www.inkscape.org/namespace/inkscape/extension"}
    inx = ElementTree.parse(INX).getroot()
    assert inx.find("i:script/i:command", ns).text == os.path.basename(SCRIPT)
    submenu = inx.find("i:effect/i:effects-menu/i:submenu", ns)
    assert inx.find("i:name", ns).text == "Centre lines" and submenu.get("name") == "Kevrale"
    assert inx.find("i:effect", ns).get("needs-live-preview") == "true"
    # Every parameter, with its default, is an option the script takes.
    script = open(SCRIPT, encoding="utf-8").read()
    params = inx.findall(".//i:param", ns)
    assert {p.get("name") for p in params} == {"tab", "target", "tolerance", "until_thin",
                                                 "prune", "simplify"}
    for p in params:
        assert '"--%s"' % p.get("name") in script
