#!/usr/bin/env python3
"""doc/man_page.py: a tool's manual page, made from its own --help text

Usage: man_page.py TOOL VERSION > TOOL.1

The usage lines become the synopsis, the first sentence after them the one-line
description, and the rest the description: indented lines (options, tables) are
kept as they are laid out, other lines run together as paragraphs. The help text is
the one source of what a tool says about itself.
"""
import os
import subprocess
import sys


def roff_text(text):
    """text with roff's escape character and line-leading controls made literal."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def paragraphs(lines):
    block, indented = [], None
    for line in lines + [""]:
        if not line.strip():
            if block:
                yield indented, block
            block, indented = [], None
            continue
        is_indented = line.startswith("  ")
        if block and is_indented != indented:
            yield indented, block
            block = []
        indented = is_indented
        block.append(line)


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    tool, version = sys.argv[1], sys.argv[2]
    name = os.path.basename(tool)
    help_text = subprocess.run([tool, "--help"], capture_output=True, text=True, check=True).stdout
    lines = help_text.rstrip("\n").split("\n")
    if not lines[0].startswith("usage: " + name):
        print("man_page.py: %s --help does not begin with its usage" % name, file=sys.stderr)
        return 1
    synopsis = [lines[0][len("usage: "):]]
    rest = lines[1:]
    while rest and rest[0].startswith(" "):
        synopsis.append(rest.pop(0).strip())
    body = list(paragraphs(rest))
    first = next((" ".join(b) for indented, b in body if not indented), name)
    summary = first.split(". ")[0].rstrip(".")
    out = [".TH %s 1 \"\" \"Orvik %s\" \"Orvik tools\"" % (name.upper(), version),
           ".SH NAME", "%s \\- %s" % (name, roff_text(summary[0].lower() + summary[1:])),
           ".SH SYNOPSIS", ".nf", roff_text(" ".join(synopsis)), ".fi", ".SH DESCRIPTION"]
    for indented, block in body:
        if indented:
            out += [".PP", ".nf"] + [roff_text(line) for line in block] + [".fi"]
        else:
            out += [".PP"] + [roff_text(line.strip()) for line in block]
    out += [".SH SEE ALSO", "The Orvik README, installed with the documentation."]
    sys.stdout.write("\n".join(out) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
