"""Calls through interfaces' operation tables, reference counts, and the check that a
number a caller gives is an interface pointer before anything is called through it."""

import ctypes
import os
from ctypes import POINTER, Structure, byref, c_int32, c_uint32, c_void_p

from ._layouts import GUID, HRESULT, Slot
from ._library import GetErrorInfo, SysFreeString
from ._strings import from_bstr


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



def take_error_description():
    """The description a failed call left in this thread's error information (the
    thread is left with none), or None."""
    info = c_void_p()
    if GetErrorInfo(0, ctypes.byref(info)) != 0 or not info.value:
        return None
    try:
        text = c_void_p()
        if call(info, Slot.GET_DESCRIPTION, HRESULT, (POINTER(c_void_p),), ctypes.byref(text)) < 0:
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
    hr = call(pointer, Slot.QUERY_INTERFACE, HRESULT, (POINTER(GUID), POINTER(c_void_p)), byref(iid), byref(out))
    return hr, out
