"""Reading the classes registry: sub-keys and default values under HKEY_CLASSES_ROOT."""

import ctypes
from ctypes import POINTER, byref, c_int32, c_uint32, c_void_p

from ._library import _declare


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
