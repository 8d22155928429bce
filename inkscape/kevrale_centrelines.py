#!/usr/bin/env python3
"""Extensions > Kevrale > Centre lines: traces each selected bitmap image
to centre lines with kevrale-thin and adds them above the image as a group
of paths placed exactly over it."""

import base64
import binascii
import os
import shutil
import subprocess
import tempfile
import urllib.parse
import urllib.request

import inkex
from lxml import etree

# Leading bytes of the picture kinds that kevrale-thin opens, and the file
# extension that it chooses its reader by.
MAGIC = (
    (b"\x89PNG", "png"),
    (b"\xff\xd8", "jpg"),
    (b"BM", "bmp"),
    (b"GIF8", "gif"),
    (b"II*\x00", "tif"),
    (b"MM\x00*", "tif"),
)
MIME = {
    "image/png": "png",
    "image/jpeg": "jpg",
    "image/bmp": "bmp",
    "image/gif": "gif",
    "image/tiff": "tif",
    "image/webp": "webp",
}

# How the picture's pixels are fitted into the image's box.
ALIGN = {"min": 0.0, "mid": 0.5, "max": 1.0}


def picture_extension(data, mime=None, name=None):
    """The extension for a picture's bytes, or None for a kind not known."""
    for magic, extension in MAGIC:
        if data.startswith(magic):
            return extension
    if data[:4] == b"RIFF" and data[8:12] == b"WEBP":
        return "webp"
    if mime in MIME:
        return MIME[mime]
    if name:
        extension = os.path.splitext(name)[1].lower().lstrip(".")
        return {"jpeg": "jpg", "tiff": "tif"}.get(extension, extension) or None
    return None


def find_thin_command():
    """kevrale-thin beside this script (as installed with it), else on the
    PATH."""
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), "kevrale-thin")
    if os.path.isfile(beside) and os.access(beside, os.X_OK):
        return beside
    return shutil.which("kevrale-thin")


def fitting(box_width, box_height, width, height, aspect):
    """Scale and offset (sx, sy, dx, dy) that place a picture of width x
    height pixels in a box as preserveAspectRatio asks."""
    words = (aspect or "xMidYMid meet").split()
    if words and words[0] == "defer":
        words = words[1:]
    align = words[0] if words else "xMidYMid"
    sx, sy = box_width / width, box_height / height
    if align == "none":
        return sx, sy, 0.0, 0.0
    scale = max(sx, sy) if len(words) > 1 and words[1] == "slice" else min(sx, sy)
    ax = ALIGN.get(align[1:4].lower(), 0.5)
    ay = ALIGN.get(align[5:8].lower(), 0.5)
    return scale, scale, (box_width - width * scale) * ax, (box_height - height * scale) * ay


class CentreLines(inkex.EffectExtension):
    """The effect: every selected image traced, then every group added."""

    def add_arguments(self, pars):
        pars.add_argument("--tab", default="options")
        pars.add_argument("--target", type=inkex.Color, default=inkex.Color("black"))
        pars.add_argument("--tolerance", type=int, default=0)
        pars.add_argument("--until_thin", type=inkex.Boolean, default=False)
        pars.add_argument("--prune", type=int, default=0)
        pars.add_argument("--simplify", type=float, default=0.0)

    def effect(self):
        images = [e for e in self.svg.selection.values() if isinstance(e, inkex.Image)]
        if not images:
            raise inkex.AbortExtension("Select one or more bitmap images to trace.")
        command = find_thin_command()
        if not command:
            raise inkex.AbortExtension(
                "kevrale-thin was found neither beside this extension nor on the PATH."
            )
        # Every image is traced before the document changes, so that a
        # failure leaves nothing half done.
        traced = [(image, self.trace(image, command)) for image in images]
        for image, (width, height, paths) in traced:
            self.add_lines(image, width, height, paths)

    def picture_bytes(self, image):
        """The bytes of an image's picture and its file extension."""
        href = image.get("xlink:href") or image.get("href")
        name = image.get_id()
        if not href:
            raise inkex.AbortExtension(f'Image "{name}" has no picture (no href).')
        if href.startswith("data:"):
            header, _, payload = href[5:].partition(",")
            parts = header.split(";")
            if "base64" in parts[1:]:
                try:
                    data = base64.b64decode(payload.encode("ascii", "ignore"))
                except binascii.Error as error:
                    raise inkex.AbortExtension(f'Image "{name}" holds broken base64 data: {error}')
            else:
                data = urllib.parse.unquote_to_bytes(payload)
            return data, picture_extension(data, mime=parts[0].strip().lower())
        path = self.linked_path(image, href)
        try:
            with open(path, "rb") as handle:
                data = handle.read()
        except OSError as error:
            raise inkex.AbortExtension(
                f'The picture of image "{name}" cannot be read: {path}: {error.strerror}'
            )
        return data, picture_extension(data, name=path)

    def linked_path(self, image, href):
        """The file a linked image names: a file URI or a path, relative to
        the document's folder; Inkscape's absolute copy when that is not
        there."""
        url = urllib.parse.urlparse(href)
        if url.scheme == "file":
            path = urllib.request.url2pathname(url.path)
        else:
            path = os.path.expanduser(urllib.parse.unquote(href))
        if not os.path.isabs(path):
            folder = self.svg_path() or os.path.dirname(str(self.options.input_file))
            path = os.path.join(folder or ".", path)
        absolute = image.get("sodipodi:absref")
        if not os.path.isfile(path) and absolute and os.path.isfile(absolute):
            return absolute
        return path

    def trace(self, image, command):
        """The picture's size in pixels and its paths' data, as kevrale-thin
        writes them in its SVG result."""
        name = image.get_id()
        data, extension = self.picture_bytes(image)
        if extension is None:
            raise inkex.AbortExtension(f'Image "{name}" is not a bitmap picture kevrale-thin opens.')
        o = self.options
        with tempfile.TemporaryDirectory(prefix="kevrale-") as folder:
            source = os.path.join(folder, "picture." + extension)
            result = os.path.join(folder, "lines.svg")
            with open(source, "wb") as handle:
                handle.write(data)
            arguments = [command, "--target", "%02x%02x%02x" % tuple(o.target.to_rgb()),
                         "--tolerance", str(o.tolerance), "--prune", str(o.prune),
                         "--simplify", repr(float(o.simplify))]
            if o.until_thin:
                arguments += ["--sweeps", "all"]
            arguments += ["-o", result, "--", source]
            run = subprocess.run(arguments, stdin=subprocess.DEVNULL, capture_output=True)
            if run.returncode != 0:
                message = run.stderr.decode("utf-8", "replace").strip()
                raise inkex.AbortExtension(f'Image "{name}" could not be traced: {message}')
            lines = inkex.load_svg(result).getroot()
        width, height = int(lines.get("width")), int(lines.get("height"))
        paths = [p.get("d") for p in lines.iter("{http://www.w3.org/2000/svg}path")]
        return width, height, paths

    def add_lines(self, image, width, height, paths):
        """A group of the paths, placed over the image's pixels, right above
        the image."""
        box_width = image.width if image.get("width") is not None else width
        box_height = image.height if image.get("height") is not None else height
        sx, sy, dx, dy = fitting(
            box_width, box_height, width, height, image.get("preserveAspectRatio")
        )
        group = inkex.Group()
        group.label = f"Centre lines of {image.get_id()}"
        # The image's own transform as written, then the fitting, every
        # number in full, set as plain text: inkex writes a transform it
        # composes with six digits only.
        fit = "translate(%r, %r) scale(%r, %r)" % (image.left + dx, image.top + dy, sx, sy)
        own = etree.ElementBase.get(image, "transform") or ""
        etree.ElementBase.set(group, "transform", (own + " " + fit).strip())
        group.set_id(self.svg.get_unique_id("centre-lines"))
        colour = "#%02x%02x%02x" % tuple(self.options.target.to_rgb())
        for d in paths:
            path = inkex.PathElement()
            path.set("d", d)
            path.style = {
                "fill": "none",
                "stroke": colour,
                "stroke-width": "1",
                "stroke-linecap": "round",
                "stroke-linejoin": "round",
            }
            group.append(path)
        image.addnext(group)


if __name__ == "__main__":
    CentreLines().run()
