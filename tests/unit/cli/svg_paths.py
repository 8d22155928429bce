#!/usr/bin/env python3
"""Reads an SVG document with Python's own XML parser and prints, for a test
to check, its size and the points of each path:

    size W H
    path STROKE open|closed X,Y X,Y ...

The document must be an svg element (viewBox "0 0 W H") holding only path
elements with fill none, stroke width 1 and round caps and joins. Anything
else ends the script with a message on stderr and exit status 1.
"""
import re
import sys
import xml.etree.ElementTree as ET

SVG = "{http://www.w3.org/2000/svg}"
STYLE = {"fill": "none", "stroke-width": "1", "stroke-linecap": "round",
         "stroke-linejoin": "round"}
ARGUMENTS = {"M": 2, "L": 2, "H": 1, "V": 1, "Z": 0}


def fail(message):
    sys.stderr.write("svg_paths: " + message + "\n")
    sys.exit(1)


def points_of(d):
    tokens = re.findall(r"[A-Za-z]|[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?", d)
    if "".join(tokens) != re.sub(r"[\s,]+", "", d):
        fail("path data with stray characters: " + d)
    points, closed, command, x, y, i = [], False, None, 0.0, 0.0, 0
    while i < len(tokens):
        if re.match(r"[A-Za-z]", tokens[i]):
            command = tokens[i]
            i += 1
            if command.upper() not in ARGUMENTS:
                fail("unexpected command " + command)
            if command.upper() == "Z":
                closed = True
                continue
        elif command is None or command.upper() == "Z":
            fail("numbers without a command: " + d)
        n = ARGUMENTS[command.upper()]
        values = [float(v) for v in tokens[i:i + n]]
        if len(values) != n:
            fail("command " + command + " without its numbers")
        i += n
        relative = command.islower() and points
        up = command.upper()
        if up in ("M", "L"):
            x, y = (x + values[0], y + values[1]) if relative else values
        elif up == "H":
            x = x + values[0] if relative else values[0]
        elif up == "V":
            y = y + values[0] if relative else values[0]
        if closed:
            fail("drawing after a closepath: " + d)
        points.append((x, y))
        if command == "M":
            command = "L"  # pairs after a moveto are linetos
        elif command == "m":
            command = "l"
    return points, closed


def main():
    root = ET.parse(sys.argv[1]).getroot()
    if root.tag != SVG + "svg":
        fail("the root is " + root.tag)
    width, height = root.get("width"), root.get("height")
    if root.get("viewBox") != "0 0 %s %s" % (width, height):
        fail("viewBox %r for size %s x %s" % (root.get("viewBox"), width, height))
    print("size", width, height)
    for element in root:
        if element.tag != SVG + "path":
            fail("an element " + element.tag)
        for name, value in STYLE.items():
            if element.get(name) != value:
                fail("%s=%r" % (name, element.get(name)))
        stroke = element.get("stroke") or ""
        if not re.fullmatch(r"#[0-9a-f]{6}", stroke):
            fail("stroke " + stroke)
        points, closed = points_of(element.get("d") or "")
        if not points:
            fail("a path without points")
        print("path", stroke, "closed" if closed else "open",
              " ".join("%r,%r" % p for p in points))


if __name__ == "__main__":
    main()
