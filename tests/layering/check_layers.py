#!/usr/bin/env python3
"""tests/layering/check_layers.py: no file includes a header of a layer above its own

Usage: check_layers.py SOURCE_DIR

Each top folder is a layer and may include only the layers it is built on. The build
already refuses most upward includes (each layer sees only the include roots of the
layers it links); this check also covers what the build cannot, such as a header
that no target compiles today, and names the offending line.
"""
import pathlib
import re
import sys

# What each folder may include, besides itself.
ALLOWED = {
    "platform": set(),
    "server": {"platform"},
    "geometry": {"platform", "interfaces", "server"},
    "records": {"platform", "interfaces", "server", "geometry"},
    "registration": {"platform"},
    "module": {"platform", "interfaces", "server", "geometry", "records", "registration"},
    "tools": {"platform", "registration"},
    "bench": {"platform", "interfaces", "server", "geometry", "records", "registration",
              "module"},
    "examples": {"platform", "interfaces"},
}
SOURCE_SUFFIXES = {".c", ".cpp", ".h", ".hpp"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of_include(path):
    """The layer a quoted include names, or None for a header of the same folder."""
    if path.startswith("orvik/platform"):
        return "platform"
    if path == "orvik/orvik_i.h":
        return "interfaces"
    head = path.split("/", 1)[0]
    if "/" in path and head in ALLOWED or head == "tests":
        return head
    return None


def check(root):
    faults = []
    for layer, allowed in ALLOWED.items():
        folder = root / layer
        if not folder.is_dir():
            continue
        for source in sorted(folder.rglob("*")):
            if source.suffix not in SOURCE_SUFFIXES:
                continue
            for number, line in enumerate(source.read_text(errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = layer_of_include(match.group(1))
                if target and target != layer and target not in allowed:
                    faults.append(f"{source.relative_to(root)}:{number}: {layer} includes "
                                  f"{match.group(1)} of layer {target}")
    return faults


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    faults = check(pathlib.Path(sys.argv[1]))
    for fault in faults:
        print(fault)
    print(f"layering: {len(faults)} upward include(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
