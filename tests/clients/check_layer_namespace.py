#!/usr/bin/env python3
"""tests/clients/check_layer_namespace.py: the C++ layer keeps to namespace orvik

usage: check_layer_namespace.py COMPILER INCLUDE_DIR... -- HEADER

Preprocesses a file that includes HEADER, follows the line markers to the text that
came from the project's own headers (those under an INCLUDE_DIR), and fails when
that text declares anything at file scope but `namespace orvik { ... }`, or when one
of those headers defines a macro whose name does not begin with ORVIK_. The standard
headers the layer includes are not the project's and are not checked.
"""

import os
import re
import subprocess
import sys
import tempfile

MARKER = re.compile(r'^# (\d+) "((?:[^"\\]|\\.)*)"')
DEFINE = re.compile(r"^\s*#\s*define\s+([A-Za-z_]\w*)")
TOKEN = re.compile(r'"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'|[A-Za-z_]\w*|::|\S')


def ours(path, roots):
    real = os.path.realpath(path)
    return any(real.startswith(root + os.sep) for root in roots)


def project_text(preprocessed, roots):
    """The lines of the preprocessed text that came from the project's headers, and
    the headers themselves."""
    lines, files, current = [], set(), None
    for line in preprocessed.splitlines():
        marker = MARKER.match(line)
        if marker:
            current = marker.group(2)
            if ours(current, roots):
                files.add(os.path.realpath(current))
            continue
        if current is not None and ours(current, roots):
            lines.append(line)
    return "\n".join(lines), files


def file_scope_faults(text):
    """What the text declares at file scope other than namespace orvik."""
    faults, depth, tokens = [], 0, TOKEN.findall(text)
    i = 0
    while i < len(tokens):
        token = tokens[i]
        if depth == 0:
            if tokens[i:i + 3] == ["namespace", "orvik", "{"]:
                depth, i = 1, i + 3
                continue
            faults.append(" ".join(tokens[i:i + 8]))
            # Skip the declaration to its end so one fault is reported once.
            while i < len(tokens) and tokens[i] not in (";", "{"):
                i += 1
            if i < len(tokens) and tokens[i] == "{":
                depth += 1
            i += 1
            continue
        if token == "{":
            depth += 1
        elif token == "}":
            depth -= 1
        i += 1
    return faults


def main(argv):
    if "--" not in argv or argv.index("--") < 2:
        sys.exit(__doc__)
    split = argv.index("--")
    compiler, includes, header = argv[0], argv[1:split], argv[split + 1]
    roots = [os.path.realpath(d) for d in includes]
    with tempfile.NamedTemporaryFile("w", suffix=".cpp", delete=False) as source:
        source.write('#include "%s"\n' % header)
    try:
        command = [compiler, "-std=c++17", "-E", source.name] + ["-I" + d for d in includes]
        preprocessed = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    finally:
        os.unlink(source.name)
    text, files = project_text(preprocessed, roots)
    problems = ["at file scope: " + f for f in file_scope_faults(text)]
    for path in sorted(files):
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                match = DEFINE.match(line)
                if match and not match.group(1).startswith("ORVIK_"):
                    problems.append("%s:%d: macro %s" % (path, number, match.group(1)))
    if not files:
        problems.append("no text of the project's headers was found (wrong include folders?)")
    for problem in problems:
        print(problem)
    print("%d of the project's headers checked, %d problems" % (len(files), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
