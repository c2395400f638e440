"""Finding and loading the platform library, and its functions' signatures."""

import ctypes
import os
import subprocess
from ctypes import POINTER, c_int32, c_uint16, c_uint32, c_void_p

from ._layouts import GUID, HRESULT, VARIANT

SONAME = "liborvik-platform.so.2006"


def installed_module():
    """The module file the install recorded beside the package, or None."""
    try:
        from ._installed import MODULE
        return MODULE
    except ImportError:
        return None


def _candidates():
    here = os.path.dirname(os.path.abspath(__file__))
    if os.environ.get("ORVIK_PLATFORM_LIB"):
        yield os.environ["ORVIK_PLATFORM_LIB"]
    yield os.path.join(here, SONAME)
    try:  # written by the install, naming where the library went
        from ._installed import PLATFORM_LIB
        yield PLATFORM_LIB
    except ImportError:
        pass
    yield SONAME
    # A copy installed apart from Orvik (pip) asks pkg-config where Orvik is.
    libdir = _pkg_config_libdir()
    if libdir:
        yield os.path.join(libdir, SONAME)


def _pkg_config_libdir():
    """The library folder of the Orvik that pkg-config knows (orvik.pc), or None."""
    try:
        found = subprocess.run(["pkg-config", "--variable=libdir", "orvik"],
                               capture_output=True, text=True, timeout=10)
    except (OSError, subprocess.SubprocessError):
        return None
    return found.stdout.strip() if found.returncode == 0 and found.stdout.strip() else None


def _load():
    tried = []
    for path in _candidates():
        if path != SONAME and not os.path.exists(path):
            tried.append(path + " (no such file)")
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as error:
            tried.append("%s (%s)" % (path, error))
    raise ImportError("orvik: cannot load the platform library %s; tried: %s. Set "
                      "ORVIK_PLATFORM_LIB to its path, or PKG_CONFIG_PATH to the folder of its "
                      "orvik.pc." % (SONAME, "; ".join(tried)))


lib = _load()


def _declare(name, restype, *argtypes):
    fn = getattr(lib, name)
    fn.restype = restype
    fn.argtypes = list(argtypes)
    return fn



SysAllocStringLen = _declare("SysAllocStringLen", c_void_p, c_void_p, c_uint32)
SysFreeString = _declare("SysFreeString", None, c_void_p)
SysStringLen = _declare("SysStringLen", c_uint32, c_void_p)
VariantInit = _declare("VariantInit", None, POINTER(VARIANT))
VariantClear = _declare("VariantClear", HRESULT, POINTER(VARIANT))
SafeArrayCreateVector = _declare("SafeArrayCreateVector", c_void_p, c_uint16, c_int32, c_uint32)
SafeArrayGetLBound = _declare("SafeArrayGetLBound", HRESULT, c_void_p, c_uint32, POINTER(c_int32))
SafeArrayGetUBound = _declare("SafeArrayGetUBound", HRESULT, c_void_p, c_uint32, POINTER(c_int32))
SafeArrayGetElement = _declare("SafeArrayGetElement", HRESULT, c_void_p, POINTER(c_int32), c_void_p)
SafeArrayPutElement = _declare("SafeArrayPutElement", HRESULT, c_void_p, POINTER(c_int32), c_void_p)
SafeArrayDestroy = _declare("SafeArrayDestroy", HRESULT, c_void_p)
CLSIDFromProgID = _declare("CLSIDFromProgID", HRESULT, c_void_p, POINTER(GUID))
CLSIDFromString = _declare("CLSIDFromString", HRESULT, c_void_p, POINTER(GUID))
CoCreateInstance = _declare("CoCreateInstance", HRESULT, POINTER(GUID), c_void_p, c_uint32,
                            POINTER(GUID), POINTER(c_void_p))
CoInitializeEx = _declare("CoInitializeEx", HRESULT, c_void_p, c_uint32)
OrvikCreateInstanceByName = _declare("OrvikCreateInstanceByName", HRESULT, c_void_p,
                                     ctypes.c_char_p, POINTER(GUID), POINTER(c_void_p),
                                     ctypes.c_char_p, c_uint32)
OrvikResultCodeName = _declare("OrvikResultCodeName", ctypes.c_char_p, HRESULT)
OrvikResultCodeText = _declare("OrvikResultCodeText", ctypes.c_char_p, HRESULT)
GetErrorInfo = _declare("GetErrorInfo", HRESULT, c_uint32, POINTER(c_void_p))


# The same library, its functions called with the interpreter's lock held: for calls
# that are over in nanoseconds, where letting the lock go and taking it back would
# cost more than the call. Only for entries of Orvik's own objects, which never wait.
_held = ctypes.PyDLL(lib._name, handle=lib._handle)


def _declare_bare(name, restype):
    """A function called without ctypes converting its arguments, which costs more
    than the call itself: every argument must come as the C type it is (an object as
    a c_void_p, a slot or a width as a Python int, which passes as a C int, a double
    as a Python float). None where a platform library of an earlier version lacks it."""
    fn = getattr(_held, name, None)
    if fn is not None:
        fn.restype = restype
        fn.argtypes = None
    return fn


# A table entry called in one step; without them the client calls the entry itself.
OrvikTableGetDouble = _declare_bare("OrvikTableGetDouble", ctypes.c_double)
OrvikTableGetInteger = _declare_bare("OrvikTableGetInteger", ctypes.c_int64)
OrvikTableCallResult = _declare_bare("OrvikTableCallResult", HRESULT)
OrvikTablePutDouble = _declare_bare("OrvikTablePutDouble", HRESULT)
# Its result type is set where the reference class is (the caller's _Reference).
OrvikTableCallForObject = _declare_bare("OrvikTableCallForObject", c_void_p)
OrvikTableRelease = _declare_bare("OrvikTableRelease", c_uint32)
