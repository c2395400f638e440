"""Orvik's geometry objects from Python, called by name.

    import orvik
    p = orvik.Dispatch("Orvik.Point")
    p.Set(1, 2, Z=3)
    x, y, z, e = p.Get()

The module must be registered (orvik-regsvr liborvik.so) in the store
ORVIK_REGISTRY names. The platform library is found beside this package, through
ORVIK_PLATFORM_LIB, or by its soname.
"""

from ._dispatch import Dispatch
from .errors import ComError, code_name
from .registration import register_module, unregister_module

__all__ = ["Dispatch", "ComError", "code_name", "register_module", "unregister_module"]
