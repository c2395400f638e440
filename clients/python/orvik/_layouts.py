"""The platform's structures, as its C headers lay them out, and the constants a
client of the platform uses. A test compares every layout here with the sizes and
offsets a C program built against the headers prints."""

import ctypes
from ctypes import (POINTER, Structure, Union, c_double, c_int16, c_int32, c_int64, c_ubyte,
                    c_uint16, c_uint32, c_void_p)

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
TKIND_INTERFACE, TKIND_DISPATCH, TKIND_COCLASS = 3, 4, 5
IMPLTYPEFLAG_FDEFAULT = 0x1
TYPEFLAG_FDUAL = 0x40
CLSCTX_INPROC_SERVER = 0x1
DISP_E_EXCEPTION = -2147352567  # 0x80020009
CO_E_CLASSSTRING = -2147221005  # 0x800401F3
DISP_E_PARAMNOTFOUND = -2147352572  # 0x80020004

IID_IDispatch = GUID(0x00020400, 0, 0, (c_ubyte * 8)(0xC0, 0, 0, 0, 0, 0, 0, 0x46))
IID_NULL = GUID()


class Slot:
    """Places in the interfaces' operation tables, in table order."""
    QUERY_INTERFACE, ADD_REF, RELEASE = 0, 1, 2
    # IDispatch
    GET_TYPE_INFO = 4
    # ITypeInfo
    GET_TYPE_ATTR, GET_FUNC_DESC, GET_NAMES, GET_REF_TYPE_OF_IMPL_TYPE = 3, 5, 7, 8
    GET_IMPL_TYPE_FLAGS, GET_DOCUMENTATION, GET_REF_TYPE_INFO = 9, 12, 14
    GET_CONTAINING_TYPE_LIB, RELEASE_TYPE_ATTR, RELEASE_FUNC_DESC = 18, 19, 20
    # ITypeLib
    LIB_GET_TYPE_INFO_COUNT, LIB_GET_TYPE_INFO, LIB_GET_TYPE_INFO_TYPE = 3, 4, 5
    # IErrorInfo
    GET_DESCRIPTION = 5


# The structures a test checks against the C headers' layouts.
LAYOUTS = (GUID, VARIANT, DISPPARAMS, EXCEPINFO, TYPEDESC, PARAMDESC, PARAMDESCEX, ELEMDESC,
           FUNCDESC, TYPEATTR)
