#!/usr/bin/env python3
"""doc/figures.py: the reference's figures, drawn by Graphviz from the objects' numbers

usage: figures.py NUMBERS OUTDIR

NUMBERS is what figure_numbers printed (the module's own objects computed every value
in it). Writes into OUTDIR, as SVG:
  matrix_columns.svg  the matrix's twelve entries as its four columns
  point_moved.svg     a point and where the matrix moves it, with the matrix's frame
  axis_frame.svg      a vector and the frame that Vector.Axes builds from it
  plane_normal.svg    a plane and its normal
Each picture is described in Graphviz's language and laid out by dot (the table) or
by neato at fixed positions (the drawings); a picture that Graphviz cannot make is an
error.
"""

import math
import os
import subprocess
import sys

SCALE = 72.0  # points per unit of length
COLOURS = {"x": "#c0392b", "y": "#27ae60", "z": "#2874a6", "item": "#7d3c98", "grey": "#909497"}


def read_numbers(path):
    numbers = {"entry": {}}
    with open(path, encoding="utf-8") as f:
        for line in f:
            words = line.split()
            if not words:
                continue
            if words[0] == "entry":
                column, row, value = int(words[1]), int(words[2]), float(words[3])
                numbers["entry"][(column, row)] = value
            else:
                numbers[words[0]] = [float(w) for w in words[1:]]
    expected = {"point", "moved", "vector", "axisY", "axisZ", "plane"}
    missing = sorted(expected - numbers.keys())
    if missing or len(numbers["entry"]) != 12:
        sys.exit("figures.py: %s lacks %s" % (path, ", ".join(missing) or "matrix entries"))
    return numbers


def unit(p):
    length = math.sqrt(sum(k * k for k in p))
    return tuple(k / length for k in p)


def cross(p, q):
    return (p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0])


# Space seen from (2, 1.2, 1), looking at the origin, z up: x comes toward the reader
# on the left, y goes to the right.
VIEW = unit((2.0, 1.2, 1.0))
RIGHT = unit(cross((0, 0, 1), VIEW))
UP = cross(VIEW, RIGHT)


def project(p):
    """A point of space on the page, in points."""
    return (sum(p[i] * RIGHT[i] for i in range(3)) * SCALE,
            sum(p[i] * UP[i] for i in range(3)) * SCALE)


class Drawing:
    """Points at fixed places and straight arrows between them, for neato -n2."""

    def __init__(self, name):
        self.lines = [
            "digraph %s {" % name,
            '  graph [splines=line, outputorder=edgesfirst, pad="0.3", bgcolor="white"];',
            '  node [shape=point, width=0.06, label=""];',
            '  edge [penwidth=1.6, arrowsize=0.7, fontname="Helvetica", fontsize=11];',
        ]
        self.count = 0

    def place(self, p, flat=False, visible=False, label="", colour="black", offset=(14, 10)):
        self.count += 1
        name = "n%d" % self.count
        x, y = (p[0] * SCALE, p[1] * SCALE) if flat else project(p)
        style = "" if visible else ", style=invis"
        self.lines.append('  %s [pos="%.1f,%.1f!"%s, color="%s"];' % (name, x, y, style, colour))
        if label:
            self.count += 1
            self.lines.append(
                '  n%d [shape=plaintext, label="%s", fontname="Helvetica", fontsize=11, '
                'fontcolor="%s", pos="%.1f,%.1f!"];' % (self.count, label, colour, x + offset[0],
                                                   y + offset[1]))
        return name

    def arrow(self, a, b, colour="black", dashed=False, head=True):
        attributes = ['color="%s"' % colour]
        if dashed:
            attributes.append("style=dashed")
        if not head:
            attributes.append("arrowhead=none")
        self.lines.append("  %s -> %s [%s];" % (a, b, ", ".join(attributes)))

    def text(self):
        return "\n".join(self.lines + ["}"]) + "\n"


def number(v):
    text = "%.3f" % v
    text = text.rstrip("0").rstrip(".")
    return "0" if text in ("-0", "") else text


def matrix_columns(numbers):
    names = ["X axis", "Y axis", "Z axis", "origin"]
    colours = [COLOURS["x"], COLOURS["y"], COLOURS["z"], COLOURS["grey"]]
    rows = ['<tr><td border="0"></td>']
    for column, name in enumerate(names):
        rows.append('<td bgcolor="%s"><font color="white"><b>%s</b><br/>column %d</font></td>'
                    % (colours[column], name, column))
    rows.append("</tr>")
    for row, component in enumerate("xyz"):
        rows.append('<tr><td border="0"><b>%s</b></td>' % component)
        for column in range(4):
            rows.append('<td>%s<br/><font point-size="9">Element(%d, %d), AsArray[%d]</font></td>'
                        % (number(numbers["entry"][(column, row)]), column, row, column * 3 + row))
        rows.append("</tr>")
    label = ('<table border="0" cellborder="1" cellspacing="0" cellpadding="6">%s</table>'
             % "".join(rows))
    return ("digraph matrix_columns {\n  graph [pad=\"0.2\"];\n"
            "  node [shape=plaintext, fontname=\"Helvetica\", fontsize=12];\n"
            "  matrix [label=<%s>];\n}\n" % label)


def point_moved(numbers):
    d = Drawing("point_moved")
    origin = d.place((0, 0), flat=True)
    for axis, end in (("x", (4, 0)), ("y", (0, 2.5))):
        d.arrow(origin, d.place(end, flat=True, label=axis, colour=COLOURS["grey"]),
                colour=COLOURS["grey"])
    # The matrix's frame: its origin column, and its X and Y axis columns drawn from it.
    entry = numbers["entry"]
    moved_origin = (entry[(3, 0)], entry[(3, 1)])
    frame = d.place(moved_origin, flat=True, visible=True, label="origin column",
                    colour=COLOURS["grey"], offset=(20, -12))
    for column, axis in ((0, "x"), (1, "y")):
        end = (moved_origin[0] + entry[(column, 0)], moved_origin[1] + entry[(column, 1)])
        d.arrow(frame, d.place(end, flat=True, label="%s axis column" % axis.upper(),
                               colour=COLOURS[axis], offset=(0, -14) if column else (0, 12)),
                colour=COLOURS[axis])
    point = numbers["point"]
    moved = numbers["moved"]
    p = d.place(point[:2], flat=True, visible=True,
                label="p (%s, %s)" % (number(point[0]), number(point[1])), colour="black",
                offset=(0, -14))
    q = d.place(moved[:2], flat=True, visible=True,
                label="p.Apply(m) (%s, %s)" % (number(moved[0]), number(moved[1])),
                colour=COLOURS["item"], offset=(-10, 14))
    d.arrow(p, q, colour=COLOURS["item"], dashed=True)
    return d.text()


def axis_frame(numbers):
    d = Drawing("axis_frame")
    origin = d.place((0, 0, 0), visible=True)
    for axis, end in (("x", (1.2, 0, 0)), ("y", (0, 1.2, 0)), ("z", (0, 0, 1.2))):
        d.arrow(origin, d.place(end, label=axis, colour=COLOURS["grey"]), colour=COLOURS["grey"],
                dashed=True)
    # The unit vectors drawn longer than the world's axes' unit, to be seen.
    for name, label, colour in (("vector", "v (normalised)", COLOURS["x"]),
                                ("axisY", "pY from v.Axes", COLOURS["y"]),
                                ("axisZ", "pZ from v.Axes", COLOURS["z"])):
        end = tuple(1.5 * k for k in numbers[name])
        d.arrow(origin, d.place(end, label=label, colour=colour), colour=colour)
    return d.text()


def equation(a, b, c, d):
    """"x + y + 2z - 2 = 0" for the plane (1, 1, 2, -2)."""
    terms = []
    for k, name in ((a, "x"), (b, "y"), (c, "z"), (d, "")):
        if k == 0:
            continue
        magnitude = number(abs(k))
        term = name if magnitude == "1" and name else magnitude + name
        if not terms:
            terms.append(("-" if k < 0 else "") + term)
        else:
            terms.append(("- " if k < 0 else "+ ") + term)
    return " ".join(terms or ["0"]) + " = 0"


def plane_normal(numbers):
    a, b, c, dd = numbers["plane"]
    length = math.sqrt(a * a + b * b + c * c)
    n = (a / length, b / length, c / length)
    # The plane's point nearest the origin, and two directions within the plane.
    foot = tuple(-dd / length * k for k in n)
    helper = (0, 0, 1) if abs(n[2]) < 0.9 else (1, 0, 0)
    u = unit(cross(n, helper))
    w = cross(n, u)
    d = Drawing("plane_normal")
    corners = []
    for su, sw in ((-1, -1), (1, -1), (1, 1), (-1, 1)):
        corners.append(d.place(tuple(foot[i] + 1.3 * (su * u[i] + sw * w[i]) for i in range(3))))
    for i in range(4):
        d.arrow(corners[i], corners[(i + 1) % 4], colour=COLOURS["z"], head=False)
    origin = d.place((0, 0, 0), visible=True, label="origin", colour=COLOURS["grey"],
                     offset=(-30, -8))
    base = d.place(foot, visible=True, colour=COLOURS["item"])
    d.arrow(origin, base, colour=COLOURS["grey"], dashed=True)
    tip = tuple(foot[i] + n[i] for i in range(3))
    d.arrow(base, d.place(tip, label="normal (A, B, C) = (%s, %s, %s)" % tuple(
        number(k) for k in (a, b, c)), colour=COLOURS["item"]), colour=COLOURS["item"])
    d.place(tuple(foot[i] - 0.9 * (u[i] - w[i]) for i in range(3)),
            label=equation(a, b, c, dd), offset=(0, 0),
            colour=COLOURS["z"])
    return d.text()


def render(source, engine, path):
    command = [engine, "-Tsvg", "-o", path] + (["-n2"] if engine == "neato" else [])
    done = subprocess.run(command, input=source, text=True, capture_output=True)
    if done.returncode != 0 or not os.path.isfile(path):
        sys.exit("figures.py: %s could not draw %s: %s" % (engine, path, done.stderr.strip()))


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    numbers = read_numbers(argv[0])
    os.makedirs(argv[1], exist_ok=True)
    for name, draw, engine in (("matrix_columns", matrix_columns, "dot"),
                               ("point_moved", point_moved, "neato"),
                               ("axis_frame", axis_frame, "neato"),
                               ("plane_normal", plane_normal, "neato")):
        render(draw(numbers), engine, os.path.join(argv[1], name + ".svg"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
