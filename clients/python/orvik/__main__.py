"""python3 -m orvik: register or unregister a module file, list the registered
Orvik classes, write type stubs. The registry store is the one ORVIK_REGISTRY names."""

import argparse
import ctypes
import os
import sys

from . import _platform as P
from .errors import ComError


def _run_entry(module, entry):
    from .registration import _run_entry as run
    try:
        path = run(module, entry)
    except ComError as error:
        print("orvik: %s" % error, file=sys.stderr)
        return 5
    except FileNotFoundError:
        print("orvik: cannot load %s: no such file" % os.path.abspath(module), file=sys.stderr)
        return 3
    except AttributeError:
        print("orvik: %s has no entry point %s" % (os.path.abspath(module), entry),
              file=sys.stderr)
        return 4
    except OSError as error:
        print("orvik: cannot load %s: %s" % (os.path.abspath(module), error), file=sys.stderr)
        return 3
    print("%s in %s succeeded." % (entry, path))
    return 0


def _store():
    """The registry store in use, as the platform names it."""
    path = ctypes.create_string_buffer(4096)
    P.lib.OrvikGetRegistryStorePath(path, len(path))
    return path.value.decode(errors="replace") or "the registry store"


def _classes():
    """(programmatic identifier, version-independent identifier, class identifier) of
    every registered class whose identifier begins with "Orvik."."""
    found = []
    for clsid in P.registry_subkeys("CLSID"):
        prog_id = P.registry_value("CLSID\\" + clsid + "\\ProgID")
        if prog_id and prog_id.startswith("Orvik."):
            independent = P.registry_value("CLSID\\" + clsid + "\\VersionIndependentProgID")
            found.append((prog_id, independent or "", clsid))
    return sorted(found)


def main(argv=None):
    from . import __version__
    parser = argparse.ArgumentParser(prog="python3 -m orvik", description=__doc__)
    parser.add_argument("--version", action="version", version="orvik " + __version__)
    commands = parser.add_subparsers(dest="command", required=True)
    for name, text in (("register", "register a module file through DllRegisterServer"),
                       ("unregister", "unregister it through DllUnregisterServer")):
        sub = commands.add_parser(name, help=text)
        sub.add_argument("module", help="the module file, e.g. liborvik.so")
    commands.add_parser("classes", help="list the registered Orvik classes")
    stubs = commands.add_parser("stubs", help="write type stubs (.pyi) for editors")
    stubs.add_argument("directory", nargs="?", default="typings",
                       help="where the orvik/ folder of stubs goes (default: ./typings, where "
                            "pyright looks; for mypy, MYPYPATH=typings)")
    args = parser.parse_args(argv)
    if args.command == "register":
        return _run_entry(args.module, "DllRegisterServer")
    if args.command == "unregister":
        return _run_entry(args.module, "DllUnregisterServer")
    if args.command == "stubs":
        from .stubs import write_stubs
        classes = _classes()
        if not classes:
            print("orvik: no Orvik class is registered; register the module first",
                  file=sys.stderr)
            return 1
        try:
            print(write_stubs(classes, args.directory))
        except (OSError, ComError) as error:
            print("orvik: cannot write the stubs: %s" % error, file=sys.stderr)
            return 1
        return 0
    classes = _classes()
    if not classes:
        print("orvik: no Orvik class is registered in %s; register the module first "
              "(python3 -m orvik register liborvik.so)" % _store(), file=sys.stderr)
        return 1
    for prog_id, independent, clsid in classes:
        print("%-26s %-24s %s" % (prog_id, independent, clsid))
    return 0


if __name__ == "__main__":
    sys.exit(main())
