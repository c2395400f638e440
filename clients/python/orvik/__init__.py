"""Orvik's geometry objects from Python, called by name.

    import orvik
    p = orvik.Dispatch("Orvik.Point")
    p.Set(1, 2, Z=3)
    x, y, z, e = p.Get()

The module must be registered (orvik-regsvr liborvik.so) in the store
ORVIK_REGISTRY names. The platform library is found beside this package, through
ORVIK_PLATFORM_LIB, or by its soname.
"""

import os as _os
import re as _re

from ._dispatch import Dispatch
from .errors import ComError, code_name
from .registration import register_module, unregister_module

__all__ = ["Dispatch", "ComError", "code_name", "register_module", "unregister_module"]


def _project_version():
    """The version the wheel or the install wrote beside the package, else the one in
    the source tree's top-level CMakeLists.txt this package sits in."""
    try:
        from ._version import VERSION
        return VERSION
    except ImportError:
        pass
    here = _os.path.dirname(_os.path.abspath(__file__))
    try:
        with open(_os.path.join(here, "..", "..", "..", "CMakeLists.txt")) as cmake:
            found = _re.search(r"project\(Orvik VERSION ([0-9.]+)", cmake.read())
        return found.group(1) if found else "unknown"
    except OSError:
        return "unknown"


__version__ = _project_version()
