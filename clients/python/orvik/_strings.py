"""Text crossing the platform is 16-bit (UTF-16), whatever ctypes' own wide character
is, so strings are passed and read as UTF-16 bytes here."""

import ctypes

from ._library import SysAllocStringLen, SysStringLen


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

