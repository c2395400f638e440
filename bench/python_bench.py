#!/usr/bin/env python3
"""bench/python_bench.py: the Python client against the cost of crossing into C, and
against the closest peer, PyGObject, in the same interpreter.

Reports, from interleaved repetitions of one run, the median time of each case and
ratios to one ctypes call of a trivial platform function (lower is faster). The
module (ORVIK_MODULE or the first argument) is registered in a store of the run's
own.

    PYTHONPATH=clients/python ORVIK_PLATFORM_LIB=build/platform/liborvik-platform.so.2006 \\
        python3 bench/python_bench.py build/module/liborvik.so

The peer is measured when `gi` imports (Debian's python3-gi and gir1.2-glib-2.0, for
the system's /usr/bin/python3; scripts/install-deps installs them with the test
tools): a GObject property read through `props`, the same through its getter, and
Gio.File.get_child, a method that gives back a new object.
"""

import ctypes
import os
import shutil
import statistics
import sys
import tempfile
import timeit

store = tempfile.mkdtemp(prefix="orvik-python-bench-")
os.environ["ORVIK_REGISTRY"] = os.path.join(store, "registry.db")

import orvik  # noqa: E402  (after the store is chosen)
from orvik import _platform  # noqa: E402


def peer_cases():
    """PyGObject's cases, or {} where gi does not import in this interpreter."""
    try:
        import gi
        gi.require_version("Gio", "2.0")
        from gi.repository import Gio
    except (ImportError, ValueError):
        return {}
    action = Gio.SimpleAction.new("a", None)
    folder = Gio.File.new_for_path(tempfile.gettempdir())
    return {
        "gi property": lambda: action.props.enabled,
        "gi getter": lambda: action.get_enabled(),
        "gi get_child": lambda: folder.get_child("c"),
    }


def main():
    quick = "--quick" in sys.argv
    args = [a for a in sys.argv[1:] if a != "--quick"]
    module = ctypes.CDLL(args[0] if args else os.environ["ORVIK_MODULE"])
    module.DllRegisterServer.restype = ctypes.c_int32
    if module.DllRegisterServer() != 0:
        sys.exit("python_bench: the module could not be registered")
    p, v = orvik.Dispatch("Orvik.Point"), orvik.Dispatch("Orvik.Vector")
    p.Set(1, 2, 3)
    v.Set(0.5, 0.25, 0.125)

    def put():
        p.X = 1.5

    cases = {
        "ctypes call": lambda: _platform.SysStringLen(None),
        "p.X": lambda: p.X,
        "p.X = 1.5": put,
        "p.Add(v)": lambda: p.Add(v),
    }
    cases.update(peer_cases())
    number, repeats = (200, 3) if quick else (20000, 15)
    times = {name: [] for name in cases}
    for _ in range(repeats):  # interleaved, so that drift touches every case alike
        for name, function in cases.items():
            times[name].append(timeit.timeit(function, number=number) / number)
    medians = {name: statistics.median(values) for name, values in times.items()}
    for name, seconds in medians.items():
        print("%-14s %8.3f us" % (name, seconds * 1e6))
    call = medians["ctypes call"]
    print("Ratios to one ctypes call of the same run (lower is faster), and targets:")
    rows = [("p.X", "<= 2"), ("p.X = 1.5", "report"), ("p.Add(v)", "<= 6")]
    rows += [(name, "peer") for name in cases if name.startswith("gi ")]
    for name, target in rows:
        print("  %-14s %6.2f   (%s)" % (name, medians[name] / call, target))
    if "gi property" in medians:
        print("Against the peer (below 1 is ahead of it):")
        print("  p.X / gi property      = %6.2f" % (medians["p.X"] / medians["gi property"]))
        print("  p.Add(v) / gi get_child = %6.2f" % (medians["p.Add(v)"] / medians["gi get_child"]))
    else:
        print("The peer was not measured: gi does not import in %s (try /usr/bin/python3)"
              % sys.executable)
    p.release()
    v.release()


if __name__ == "__main__":
    try:
        main()
    finally:
        shutil.rmtree(store, ignore_errors=True)
