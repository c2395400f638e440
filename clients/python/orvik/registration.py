"""Registering a module file in the registry store, as orvik-regsvr does: the module
is loaded into this process and its own entry point writes (or removes) its classes
and its interface library."""

import ctypes
import os

from . import _platform as P
from .errors import ComError


def _run_entry(module, entry):
    path = os.path.abspath(module)
    if not os.path.exists(path):
        raise FileNotFoundError(2, "no such file", path)
    loaded = ctypes.CDLL(path)  # OSError when it cannot be loaded
    function = getattr(loaded, entry)  # AttributeError when the module has no such entry
    function.restype = ctypes.c_int32
    hr = function()
    if hr < 0:
        # A script error leaves where and why in this thread's error information.
        raise ComError(hr, entry, P.take_error_description())
    return path


def register_module(module):
    """Registers the module file `module` through its DllRegisterServer; returns its
    absolute path. ComError (with the script's position and reason when a
    registration script is at fault) when the module refuses."""
    return _run_entry(module, "DllRegisterServer")


def unregister_module(module):
    """Unregisters the module file `module` through its DllUnregisterServer."""
    return _run_entry(module, "DllUnregisterServer")
