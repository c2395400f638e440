"""Failures of calls into Orvik's objects, with the result code in words."""

import ctypes

def code_name(hresult):
    """The symbolic name of a result code, or None when the platform knows none."""
    from . import _platform
    name = _platform.OrvikResultCodeName(ctypes.c_int32(hresult).value)
    return name.decode() if name else None


def code_text(hresult):
    """The platform's text for a result code, or None."""
    from . import _platform
    text = _platform.OrvikResultCodeText(ctypes.c_int32(hresult).value)
    return text.decode() if text else None


class ComError(OSError):
    """A call that failed: its result code (the operation's own, where the object
    reported one), the code's name, the member called, the Python position of the
    argument at fault (or None) and the description."""

    def __init__(self, hresult, member=None, description=None, argerr=None):
        self.hresult = hresult & 0xFFFFFFFF
        self.name = code_name(self.hresult)
        self.member = member
        self.argerr = argerr
        self.description = description
        code = "%s, 0x%08X" % (self.name, self.hresult) if self.name else "0x%08X" % self.hresult
        meaning = code_text(self.hresult)
        words = "%s (%s)" % (meaning, code) if meaning else code
        text = "%s failed: %s" % (member, words) if member else words
        if description:
            text += ": " + description
        if argerr is not None:
            text += " (argument %d)" % argerr
        super().__init__(text)
