#!/usr/bin/env python3
"""tests/layering/check_layers.py: no file includes a header of a layer above its own,
and every source file's banner and include guard name its own path

Usage: check_layers.py SOURCE_DIR

Each top folder is a layer and may include only the layers it is built on. The build
already refuses most upward includes (each layer sees only the include roots of the
layers it links); this check also covers what the build cannot, such as a header
that no target compiles today, and names the offending line.

A source file opens with "// PATH: what it is" (a public header with the path it is
included by, below include/), and a header's guard is that path in capitals with
ORVIK_ before it (unless the path already begins with orvik/): a file moved without
its banner is named here.
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
# Folders whose sources carry banners besides the layers.
BANNERED = set(ALLOWED) | {"tests", "fuzz", "clients"}
BANNER = re.compile(r"^(?://|/\*)\s*([^\s:]+):")
GUARD = re.compile(r"^#ifndef\s+(\w+_HP?P?)\s*$")
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


def banner_faults(root):
    """Files whose banner or include guard does not name their own path."""
    faults = []
    for top in sorted(BANNERED):
        folder = root / top
        if not folder.is_dir():
            continue
        for source in sorted(folder.rglob("*")):
            if source.suffix not in SOURCE_SUFFIXES or not source.is_file():
                continue
            path = source.relative_to(root).as_posix()
            named = path.split("/include/", 1)[1] if "/include/" in path else path
            lines = source.read_text(errors="replace").splitlines()
            banner = BANNER.match(lines[0]) if lines else None
            if not banner:
                faults.append(f"{path}:1: no banner naming {named}")
            elif banner.group(1) != named:
                faults.append(f"{path}:1: the banner names {banner.group(1)}, not {named}")
            if source.suffix in (".h", ".hpp"):
                want = ("" if named.startswith("orvik/") else "ORVIK_") + \
                    re.sub(r"[/.]", "_", named).upper()
                guard = next((m.group(1) for m in map(GUARD.match, lines[:60]) if m), None)
                if guard != want:
                    faults.append(f"{path}: the include guard is {guard}, not {want}")
    return faults


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    root = pathlib.Path(sys.argv[1])
    faults = check(root)
    banners = banner_faults(root)
    for fault in faults + banners:
        print(fault)
    print(f"layering: {len(faults)} upward include(s), {len(banners)} banner fault(s)")
    return 1 if faults or banners else 0


if __name__ == "__main__":
    sys.exit(main())
