#!/usr/bin/env python3
"""bench/python_bench.py: the Python client against the cost of crossing into C.

Reports, from interleaved repetitions of one run, the median time of p.X through
the client against one ctypes call of a trivial platform function, and of p.Add(v)
against p.X, as ratios (lower is faster). The module (ORVIK_MODULE or the first
argument) is registered in a store of the run's own.

    PYTHONPATH=clients/python ORVIK_PLATFORM_LIB=build/platform/liborvik-platform.so.2006 \\
        python3 bench/python_bench.py build/module/liborvik.so
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
    cases = {
        "ctypes call": lambda: _platform.SysStringLen(None),
        "p.X": lambda: p.X,
        "p.Add(v)": lambda: p.Add(v),
    }
    number, repeats = (200, 3) if quick else (20000, 15)
    times = {name: [] for name in cases}
    for _ in range(repeats):  # interleaved, so that drift touches every case alike
        for name, function in cases.items():
            times[name].append(timeit.timeit(function, number=number) / number)
    medians = {name: statistics.median(values) for name, values in times.items()}
    for name, seconds in medians.items():
        print("%-12s %8.3f us" % (name, seconds * 1e6))
    print("Ratios to a baseline of the same run (lower is faster):")
    print("  p.X / ctypes call = %6.2f   (target 5)" % (medians["p.X"] / medians["ctypes call"]))
    print("  p.Add(v) / p.X    = %6.2f   (target 4)" % (medians["p.Add(v)"] / medians["p.X"]))
    p.release()
    v.release()


if __name__ == "__main__":
    try:
        main()
    finally:
        shutil.rmtree(store, ignore_errors=True)
