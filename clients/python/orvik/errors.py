"""Failures of calls into Orvik's objects, with the result code in words."""

# The symbolic names of the result codes a caller of these objects meets.
NAMES = {
    0x80004001: "E_NOTIMPL", 0x80004002: "E_NOINTERFACE", 0x80004003: "E_POINTER",
    0x80004004: "E_ABORT", 0x80004005: "E_FAIL", 0x8000FFFF: "E_UNEXPECTED",
    0x80070005: "E_ACCESSDENIED", 0x80070057: "E_INVALIDARG", 0x8007000E: "E_OUTOFMEMORY",
    0x80020003: "DISP_E_MEMBERNOTFOUND", 0x80020004: "DISP_E_PARAMNOTFOUND",
    0x80020005: "DISP_E_TYPEMISMATCH", 0x80020006: "DISP_E_UNKNOWNNAME",
    0x80020009: "DISP_E_EXCEPTION", 0x8002000A: "DISP_E_OVERFLOW",
    0x8002000E: "DISP_E_BADPARAMCOUNT", 0x8002000F: "DISP_E_PARAMNOTOPTIONAL",
    0x80040154: "REGDB_E_CLASSNOTREG", 0x800401F3: "CO_E_CLASSSTRING",
    0x800401F8: "CO_E_DLLNOTFOUND", 0x800401F9: "CO_E_ERRORINDLL",
    0x80040110: "CLASS_E_NOAGGREGATION", 0x80040111: "CLASS_E_CLASSNOTAVAILABLE",
    0x8002801D: "TYPE_E_LIBNOTREGISTERED", 0x80029C4A: "TYPE_E_CANTLOADLIBRARY",
}


def code_name(hresult):
    """The symbolic name of a result code, or None when it has none here."""
    return NAMES.get(hresult & 0xFFFFFFFF)


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
        words = "%s (0x%08X)" % (self.name, self.hresult) if self.name else "0x%08X" % self.hresult
        text = "%s failed: %s" % (member, words) if member else words
        if description:
            text += ": " + description
        if argerr is not None:
            text += " (argument %d)" % argerr
        super().__init__(text)
