"""The platform library through ctypes: its types, functions and table calls.

Text crossing the platform is 16-bit (UTF-16), whatever ctypes' own wide character
is, so strings are passed and read as UTF-16 bytes here.
"""

import ctypes
import os
from ctypes import (POINTER, Structure, Union, byref, c_double, c_int16, c_int32,
                    c_int64, c_ubyte, c_uint16, c_uint32, c_void_p)

SONAME = "liborvik-platform.so.2006"

HRESULT = c_int32


class GUID(Structure):
    _fields_ = [("Data1", c_uint32), ("Data2", c_uint16), ("Data3", c_uint16),
                ("Data4", c_ubyte * 8)]

    def __str__(self):
        d = bytes(self.Data4)
        return "{%08X-%04X-%04X-%s-%s}" % (self.Data1, self.Data2, self.Data3,
                                           d[:2].hex().upper(), d[2:].hex().upper())


class _VariantValue(Union):
    _fields_ = [("llVal", c_int64), ("lVal", c_int32), ("iVal", c_int16),
                ("dblVal", c_double), ("fltVal", ctypes.c_float), ("ptr", c_void_p),
                ("record", c_void_p * 2)]


class VARIANT(Structure):
    _fields_ = [("vt", c_uint16), ("wReserved1", c_uint16), ("wReserved2", c_uint16),
                ("wReserved3", c_uint16), ("value", _VariantValue)]


class DISPPARAMS(Structure):
    _fields_ = [("rgvarg", POINTER(VARIANT)), ("rgdispidNamedArgs", POINTER(c_int32)),
                ("cArgs", c_uint32), ("cNamedArgs", c_uint32)]


class EXCEPINFO(Structure):
    _fields_ = [("wCode", c_uint16), ("wReserved", c_uint16), ("bstrSource", c_void_p),
                ("bstrDescription", c_void_p), ("bstrHelpFile", c_void_p),
                ("dwHelpContext", c_uint32), ("pvReserved", c_void_p),
                ("pfnDeferredFillIn", c_void_p), ("scode", c_int32)]


class TYPEDESC(Structure):
    pass


TYPEDESC._fields_ = [("lptdesc", POINTER(TYPEDESC)), ("vt", c_uint16)]


class PARAMDESC(Structure):
    _fields_ = [("pparamdescex", c_void_p), ("wParamFlags", c_uint16)]


class PARAMDESCEX(Structure):
    _fields_ = [("cBytes", c_uint32), ("varDefaultValue", VARIANT)]


class ELEMDESC(Structure):
    _fields_ = [("tdesc", TYPEDESC), ("paramdesc", PARAMDESC)]


class FUNCDESC(Structure):
    _fields_ = [("memid", c_int32), ("lprgscode", c_void_p),
                ("lprgelemdescParam", POINTER(ELEMDESC)), ("funckind", c_int32),
                ("invkind", c_int32), ("callconv", c_int32), ("cParams", c_int16),
                ("cParamsOpt", c_int16), ("oVft", c_int16), ("cScodes", c_int16),
                ("elemdescFunc", ELEMDESC), ("wFuncFlags", c_uint16)]


class TYPEATTR(Structure):
    _fields_ = [("guid", GUID), ("lcid", c_uint32), ("dwReserved", c_uint32),
                ("memidConstructor", c_int32), ("memidDestructor", c_int32),
                ("lpstrSchema", c_void_p), ("cbSizeInstance", c_uint32),
                ("typekind", c_int32), ("cFuncs", c_uint16), ("cVars", c_uint16),
                ("cImplTypes", c_uint16), ("cbSizeVft", c_uint16),
                ("cbAlignment", c_uint16), ("wTypeFlags", c_uint16),
                ("wMajorVerNum", c_uint16), ("wMinorVerNum", c_uint16),
                ("tdescAlias", TYPEDESC), ("idldescType", c_void_p * 2)]


VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR = 0, 1, 2, 3, 4, 5, 6, 7, 8
VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT, VT_UNKNOWN = 9, 10, 11, 12, 13
VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT = 16, 17, 18, 19, 20, 21, 22, 23
VT_VOID, VT_HRESULT, VT_PTR, VT_SAFEARRAY, VT_USERDEFINED = 24, 25, 26, 27, 29
VT_ARRAY, VT_BYREF = 0x2000, 0x4000

DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT = 1, 2, 4
DISPID_PROPERTYPUT = -3
INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF = 1, 2, 4, 8
PARAMFLAG_FIN, PARAMFLAG_FOUT, PARAMFLAG_FRETVAL = 0x1, 0x2, 0x8
PARAMFLAG_FOPT, PARAMFLAG_FHASDEFAULT = 0x10, 0x20
FUNCFLAG_FRESTRICTED = 0x1
TKIND_INTERFACE, TKIND_DISPATCH = 3, 4
TYPEFLAG_FDUAL = 0x40
CLSCTX_INPROC_SERVER = 0x1
DISP_E_EXCEPTION = -2147352567  # 0x80020009
CO_E_CLASSSTRING = -2147221005  # 0x800401F3
DISP_E_PARAMNOTFOUND = -2147352572  # 0x80020004

IID_IDispatch = GUID(0x00020400, 0, 0, (c_ubyte * 8)(0xC0, 0, 0, 0, 0, 0, 0, 0x46))
IID_NULL = GUID()


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
                      "ORVIK_PLATFORM_LIB to its path." % (SONAME, "; ".join(tried)))


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


def utf16z(text):
    """text as a zero-terminated 16-bit string the platform can read."""
    return ctypes.create_string_buffer(text.encode("utf-16-le") + b"\0\0")


def bstr(text):
    data = text.encode("utf-16-le")
    return SysAllocStringLen(ctypes.c_char_p(data), len(data) // 2)


def from_bstr(pointer):
    if not pointer:
        return ""
    return ctypes.string_at(pointer, SysStringLen(pointer) * 2).decode("utf-16-le")


_prototypes = {}


_read = c_void_p.from_address


def entry(pointer, slot):
    """The address of slot `slot` of the operation table of the interface at
    `pointer` (an int or c_void_p)."""
    address = pointer.value if isinstance(pointer, c_void_p) else pointer
    table = c_void_p.from_address(address).value
    return c_void_p.from_address(table + slot * ctypes.sizeof(c_void_p)).value


def call(pointer, slot, restype, argtypes, *args):
    """Calls slot `slot` of the operation table of the interface at `pointer`."""
    key = (restype, argtypes)
    prototype = _prototypes.get(key)
    if prototype is None:
        prototype = _prototypes[key] = ctypes.CFUNCTYPE(restype, c_void_p, *argtypes)
    return prototype(entry(pointer, slot))(pointer, *args)


_ERROR_INFO_DESCRIPTION = 5  # IErrorInfo: QueryInterface, AddRef, Release, GetGUID, GetSource, GetDescription


def take_error_description():
    """The description a failed call left in this thread's error information (the
    thread is left with none), or None."""
    info = c_void_p()
    if GetErrorInfo(0, ctypes.byref(info)) != 0 or not info.value:
        return None
    try:
        text = c_void_p()
        if call(info, _ERROR_INFO_DESCRIPTION, HRESULT, (POINTER(c_void_p),), ctypes.byref(text)) < 0:
            return None
        try:
            return from_bstr(text.value) or None
        finally:
            SysFreeString(text)
    finally:
        release(info)


_COUNT = ctypes.CFUNCTYPE(c_uint32, c_void_p)
# AddRef and Release by the address of the function: an address names its code
# whatever table it is found in, so a bound call can serve every object.
_counts = {}


def _count(address):
    call = _counts[address] = _COUNT(address)
    return call


def add_ref(pointer):
    this = pointer if type(pointer) is int else pointer.value
    address = _read(_read(this).value + 8).value
    return (_counts.get(address) or _count(address))(this)


def release(pointer):
    this = pointer if type(pointer) is int else pointer.value
    address = _read(_read(this).value + 16).value
    return (_counts.get(address) or _count(address))(this)


class _DlInfo(Structure):
    _fields_ = [("dli_fname", ctypes.c_char_p), ("dli_fbase", c_void_p),
                ("dli_sname", ctypes.c_char_p), ("dli_saddr", c_void_p)]


class _IoVec(Structure):
    _fields_ = [("iov_base", c_void_p), ("iov_len", ctypes.c_size_t)]


_libc = ctypes.CDLL(None, use_errno=True)
_process_vm_readv = _libc.process_vm_readv
_process_vm_readv.restype = ctypes.c_ssize_t
_process_vm_readv.argtypes = (c_int32, POINTER(_IoVec), ctypes.c_ulong, POINTER(_IoVec),
                              ctypes.c_ulong, ctypes.c_ulong)
_dladdr = _libc.dladdr
_dladdr.argtypes = (c_void_p, POINTER(_DlInfo))
_dlopen = _libc.dlopen
_dlopen.restype, _dlopen.argtypes = c_void_p, (ctypes.c_char_p, ctypes.c_int)
_dlsym = _libc.dlsym
_dlsym.restype, _dlsym.argtypes = c_void_p, (c_void_p, ctypes.c_char_p)
_dlclose = _libc.dlclose
_dlclose.argtypes = (c_void_p,)
_RTLD_LAZY, _RTLD_NOLOAD = 0x1, 0x4


def _read_words(address, count):
    """count pointer-sized words at address, or None where any is not readable: the
    kernel copies them, so an address that is not mapped is an error, not a fault."""
    if not 0 < address < 2**64 - 8 * count:
        return None
    words = (c_void_p * count)()
    local = _IoVec(ctypes.cast(words, c_void_p), ctypes.sizeof(words))
    remote = _IoVec(address, ctypes.sizeof(words))
    if _process_vm_readv(os.getpid(), byref(local), 1, byref(remote), 1, 0) != ctypes.sizeof(words):
        return None
    return [w or 0 for w in words]


def _executable(address):
    with open("/proc/self/maps") as maps:
        for line in maps:
            span, perms = line.split(None, 2)[:2]
            start, end = (int(x, 16) for x in span.split("-"))
            if start <= address < end:
                return "x" in perms
    return False


def _served_by_component(address):
    """Whether address is code of the platform library or of a module that serves
    classes (one that exports DllGetClassObject)."""
    info = _DlInfo()
    if not _dladdr(address, byref(info)) or not info.dli_fname or not _executable(address):
        return False
    handle = _dlopen(info.dli_fname, _RTLD_LAZY | _RTLD_NOLOAD)
    if not handle:
        return False
    try:
        return bool(_dlsym(handle, b"DllGetClassObject") or _dlsym(handle, b"CoCreateInstance"))
    finally:
        _dlclose(handle)


def plausible_interface(address):
    """Whether an address a caller gives as an interface pointer is one: readable,
    its table readable, and its first three operations code of a component module
    or of this platform. Checked before anything is called through it, since a
    call through anything else ends the process."""
    table = _read_words(address, 1)
    entries = table and _read_words(table[0], 3)
    return bool(entries) and all(_served_by_component(e) for e in entries)


def query_interface(pointer, iid):
    out = c_void_p()
    hr = call(pointer, 0, HRESULT, (POINTER(GUID), POINTER(c_void_p)), byref(iid), byref(out))
    return hr, out

HKEY_CLASSES_ROOT = c_void_p(0xFFFFFFFF80000000)
KEY_READ = 0x20019
RegOpenKeyExA = _declare("RegOpenKeyExA", c_int32, c_void_p, ctypes.c_char_p, c_uint32, c_uint32,
                         POINTER(c_void_p))
RegCloseKey = _declare("RegCloseKey", c_int32, c_void_p)
RegEnumKeyExA = _declare("RegEnumKeyExA", c_int32, c_void_p, c_uint32, ctypes.c_char_p,
                         POINTER(c_uint32), c_void_p, c_void_p, c_void_p, c_void_p)
RegQueryValueExA = _declare("RegQueryValueExA", c_int32, c_void_p, ctypes.c_char_p, c_void_p,
                            POINTER(c_uint32), ctypes.c_char_p, POINTER(c_uint32))


def _open(path):
    key = c_void_p()
    if RegOpenKeyExA(HKEY_CLASSES_ROOT, path.encode(), 0, KEY_READ, byref(key)) != 0:
        return None
    return key


def registry_subkeys(path):
    """The names of the subkeys of HKEY_CLASSES_ROOT\\path, in order."""
    key = _open(path)
    names = []
    if key is None:
        return names
    try:
        index = 0
        while True:
            name = ctypes.create_string_buffer(256)
            size = c_uint32(len(name))
            if RegEnumKeyExA(key, index, name, byref(size), None, None, None, None) != 0:
                return names
            names.append(name.value.decode())
            index += 1
    finally:
        RegCloseKey(key)


def registry_value(path):
    """The default value of HKEY_CLASSES_ROOT\\path as text, or None."""
    key = _open(path)
    if key is None:
        return None
    try:
        size = c_uint32(0)
        if RegQueryValueExA(key, None, None, None, None, byref(size)) != 0:
            return None
        data = ctypes.create_string_buffer(size.value + 1)
        if RegQueryValueExA(key, None, None, None, data, byref(size)) != 0:
            return None
        return data.value.decode()
    finally:
        RegCloseKey(key)
