#!/usr/bin/env python3
"""Reads an SVG document with Python's own XML parser and prints its size
and the points of each path, for a test to check:

    size W H
    path STROKE open|closed X,Y X,Y ...

Anything but an svg element (viewBox "0 0 W H") of path elements with fill
none, stroke width 1 and round caps and joins fails with exit status 1.
"""
import re
import sys
import xml.etree.ElementTree as ET

SVG = "{http://www.w3.org/2000/svg}"
STYLE = {"fill": "none", "stroke-width": "1", "stroke-linecap": "round",
         "stroke-linejoin": "round"}
ARGUMENTS = {"M": 2, "L": 2, "H": 1, "V": 1}


def fail(message):
    sys.exit("svg_paths: " + message)


def points_of(d):
    tokens = re.findall(r"[MmLlHhVvZz]|[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?", d)
    if "".join(tokens) != re.sub(r"[\s,]+", "", d):
        fail("path data with stray characters: " + d)
    points, closed, command, x, y, i = [], False, None, 0.0, 0.0, 0
    while i < len(tokens):
        if tokens[i].isalpha():
            command, i = tokens[i], i + 1
            closed = closed or command in "Zz"
            continue
        if command is None or command in "Zz" or closed:
            fail("numbers without a command, or after a closepath: " + d)
        n = ARGUMENTS[command.upper()]
        values = [float(v) for v in tokens[i:i + n]]
        i += n
        if len(values) != n:
            fail("command " + command + " without its numbers")
        dx, dy = (x, y) if command.islower() and points else (0.0, 0.0)
        if command in "MmLl":
            x, y = dx + values[0], dy + values[1]
        elif command in "Hh":
            x = dx + values[0]
        else:
            y = dy + values[0]
        points.append((x, y))
        command = {"M": "L", "m": "l"}.get(command, command)  # pairs after a moveto
    return points, closed


root = ET.parse(sys.argv[1]).getroot()
if root.tag != SVG + "svg":
    fail("the root is " + root.tag)
width, height = root.get("width"), root.get("height")
if root.get("viewBox") != "0 0 %s %s" % (width, height):
    fail("viewBox %r for size %s x %s" % (root.get("viewBox"), width, height))
print("size", width, height)
for element in root:
    if element.tag != SVG + "path" or any(element.get(k) != v for k, v in STYLE.items()):
        fail("not a path of the expected style: " + str(element.attrib))
    stroke = element.get("stroke") or ""
    if not re.fullmatch(r"#[0-9a-f]{6}", stroke):
        fail("stroke " + stroke)
    points, closed = points_of(element.get("d") or "")
    if not points:
        fail("a path without points")
    print("path", stroke, "closed" if closed else "open", " ".join("%r,%r" % p for p in points))
