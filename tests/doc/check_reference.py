#!/usr/bin/env python3
"""tests/doc/check_reference.py: the build drew every figure, and the reference shows them

usage: check_reference.py FIGURES_DIR [REFERENCE_HTML_DIR]

Each figure must be an SVG document that shows the numbers it was drawn from, as the
objects compute them (the values here are worked out by hand from what
figure_numbers asks of the objects). With the reference's folder, its main page must
be the guide and show every figure, copied beside it, and the reference must have
pages for the C++ layer, the C interface, the platform and the Python package.
"""

import os
import sys
import xml.etree.ElementTree as ElementTree

SVG = "{http://www.w3.org/2000/svg}"

# What each figure must say. A quarter turn about Z then a move by (3, 0.5, 0) has the
# columns (0, 1, 0), (-1, 0, 0), (0, 0, 1) and (3, 0.5, 0), and takes (1, 1, 0) to
# (2, 1.5, 0); the plane was set to (1, 1, 2, -2).
EXPECTED = {
    "matrix_columns.svg": ["X axis", "origin", "Element(3, 1), AsArray[10]", "0.5", "-1"],
    "point_moved.svg": ["p (1, 1)", "p.Apply(m) (2, 1.5)", "origin column"],
    "axis_frame.svg": ["v (normalised)", "pY from v.Axes", "pZ from v.Axes"],
    "plane_normal.svg": ["normal (A, B, C) = (1, 1, 2)", "x + y + 2z - 2 = 0"],
}


# Pages Doxygen makes for what a client uses, one of each part.
REFERENCE_PAGES = {
    "classorvik_1_1Point.html": "the C++ layer's Point",
    "orvik__i_8h.html": "the C interface header",
    "activation_8h.html": "the platform's activation functions",
    "registry_8h.html": "the platform's registry functions",
    "classorvik_1_1__dispatch_1_1Dispatch.html": "the Python package's Dispatch",
    "classorvik_1_1errors_1_1ComError.html": "the Python package's ComError",
}


def texts(path):
    root = ElementTree.parse(path).getroot()
    if root.tag != SVG + "svg":
        raise ValueError("not an SVG document: root element %s" % root.tag)
    return [t.text or "" for t in root.iter(SVG + "text")]


def main(argv):
    if not 1 <= len(argv) <= 2:
        sys.exit(__doc__)
    problems = []
    for name, wanted in EXPECTED.items():
        path = os.path.join(argv[0], name)
        try:
            shown = texts(path)
        except (OSError, ValueError, ElementTree.ParseError) as error:
            problems.append("%s: %s" % (name, error))
            continue
        for text in wanted:
            if not any(text in line for line in shown):
                problems.append("%s does not show %r (it shows %r)" % (name, text, shown))
    if len(argv) == 2:
        index = os.path.join(argv[1], "index.html")
        try:
            with open(index, encoding="utf-8") as f:
                page = f.read()
        except OSError as error:
            page = ""
            problems.append("the reference has no main page: %s" % error)
        if page and "The Orvik guide" not in page:
            problems.append("the reference's main page is not the guide")
        for name in EXPECTED:
            if page and name not in page:
                problems.append("the guide does not show %s" % name)
            if not os.path.isfile(os.path.join(argv[1], name)):
                problems.append("%s was not copied into the reference" % name)
        for page, what in REFERENCE_PAGES.items():
            if not os.path.isfile(os.path.join(argv[1], page)):
                problems.append("the reference has no page for %s (%s)" % (what, page))
    for problem in problems:
        print(problem)
    print("%d figures checked, %d problems" % (len(EXPECTED), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
