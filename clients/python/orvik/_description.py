"""Interfaces as their type information describes them: each interface's members are
read once and kept by interface: names (case-insensitive as the type information
allows), dispatch identifiers, what each kind of access takes, parameter names and
directions."""

import ctypes
import threading
from ctypes import POINTER, byref, c_double, c_int16, c_int32, c_uint32, c_void_p

from . import _platform as P
from .errors import ComError


class _NoDefault:
    def __repr__(self):
        return "<no default>"


_NO_DEFAULT = _NoDefault()

_INVOKE = ctypes.CFUNCTYPE(P.HRESULT, c_void_p, c_int32, POINTER(P.GUID), c_uint32, ctypes.c_uint16,
                           POINTER(P.DISPPARAMS), POINTER(P.VARIANT), POINTER(P.EXCEPINFO),
                           POINTER(c_uint32))

_GET_TYPE_INFO = (c_uint32, c_uint32, POINTER(c_void_p))

_FRAME = {"queryinterface", "addref", "release", "gettypeinfocount", "gettypeinfo",
          "getidsofnames", "invoke"}

_OUT_STORAGE = {P.VT_R8: c_double, P.VT_I4: c_int32, P.VT_I2: c_int16, P.VT_BOOL: c_int16,
                P.VT_INT: c_int32, P.VT_UI4: ctypes.c_uint32}


def _referenced(info, tdesc):
    """The type a VT_USERDEFINED description refers to: its name, its interface
    identifier, and whether it is dual (its table pointer is also an IDispatch)."""
    handle = (ctypes.cast(tdesc.lptdesc, c_void_p).value or 0) & 0xFFFFFFFF
    referenced = c_void_p()
    if P.call(info, P.Slot.GET_REF_TYPE_INFO, P.HRESULT, (c_uint32, POINTER(c_void_p)), handle, byref(referenced)) < 0:
        return None, None, False
    try:
        read = _type_attr(referenced, lambda a: (str(a.guid), bool(a.wTypeFlags & P.TYPEFLAG_FDUAL)))
        if read is None:
            return None, None, False
        iid, dual = read
        return _documentation(referenced, -1)[0] or None, iid, dual
    finally:
        P.release(referenced)


class _Param:
    __slots__ = ("name", "flags", "vt", "is_object", "is_array", "interface", "iid", "dual",
                 "default")

    def __init__(self, name, flags, tdesc, info, defaults=None):
        self.name = name
        self.flags = flags
        self.is_object = False
        self.is_array = False
        # An object parameter's interface: its name, identifier and whether it is dual.
        self.interface, self.iid, self.dual = None, None, False
        vt = tdesc.vt
        pointed = tdesc
        if vt == P.VT_PTR:
            pointed = tdesc.lptdesc.contents
            vt = pointed.vt
            if vt == P.VT_PTR and pointed.lptdesc.contents.vt == P.VT_USERDEFINED:
                vt, self.is_object = P.VT_DISPATCH, True  # an [out] object
                self.interface, self.iid, self.dual = _referenced(info, pointed.lptdesc.contents)
            elif vt == P.VT_USERDEFINED:
                vt, self.is_object = P.VT_DISPATCH, True  # an object passed in
                self.interface, self.iid, self.dual = _referenced(info, pointed)
            elif vt == P.VT_SAFEARRAY:
                self.is_array = True
        elif vt == P.VT_USERDEFINED:
            vt, self.is_object = P.VT_DISPATCH, True
            self.interface, self.iid, self.dual = _referenced(info, tdesc)
        elif vt in (P.VT_DISPATCH, P.VT_UNKNOWN):
            self.is_object = True
        self.vt = vt
        self.default = _NO_DEFAULT  # the library's stored default, where it has one
        if flags & P.PARAMFLAG_FHASDEFAULT and defaults:
            stored = ctypes.cast(defaults, POINTER(P.PARAMDESCEX)).contents.varDefaultValue
            if self.is_object:
                self.default = None  # an object's stored 0 is no object
            elif stored.vt in (P.VT_R8, P.VT_R4, P.VT_I2, P.VT_I4, P.VT_BOOL, P.VT_BSTR):
                from ._dispatch import _from_variant  # values and objects live there
                self.default = _from_variant(stored)

    @property
    def out(self):
        return bool(self.flags & P.PARAMFLAG_FOUT) and not self.retval

    @property
    def retval(self):
        return bool(self.flags & P.PARAMFLAG_FRETVAL)

    @property
    def optional(self):
        return bool(self.flags & (P.PARAMFLAG_FOPT | P.PARAMFLAG_FHASDEFAULT))


class _Function:
    __slots__ = ("memid", "kind", "params", "doc", "simple", "slot", "result_class")

    def __init__(self, memid, kind, params, doc):
        self.memid, self.kind, self.params, self.doc = memid, kind, params, doc
        self.slot = None  # its place in a dual interface's table
        self.result_class = None  # the wrapper class of an object it gives back, once seen
        # Callable with no arguments and nothing to write back: nothing to bind.
        self.simple = all(p.retval or (p.optional and not p.out) for p in params)

    @property
    def inputs(self):
        return [p for p in self.params if not p.out and not p.retval]

    def may_omit(self):
        """For each input, whether a caller may leave it out: optional, with nothing
        required after it (a put's value follows an optional index, which must then
        be given to reach it)."""
        flags, required_after = [], False
        for p in reversed(self.inputs):
            flags.append(p.optional and not required_after)
            required_after = required_after or not p.optional
        return flags[::-1]


def _type_attr(info, read):
    """read(TYPEATTR) of the type info at info, or None when it cannot be had."""
    attr = POINTER(P.TYPEATTR)()
    if P.call(info, P.Slot.GET_TYPE_ATTR, P.HRESULT, (POINTER(POINTER(P.TYPEATTR)),),
              byref(attr)) < 0:
        return None
    try:
        return read(attr.contents)
    finally:
        P.call(info, P.Slot.RELEASE_TYPE_ATTR, None, (POINTER(P.TYPEATTR),), attr)


def _class_serving(info, iid):
    """The name of the class in the interface's own library whose default interface it
    is (Point for IPoint), or None."""
    library, index = c_void_p(), c_uint32()
    if P.call(info, P.Slot.GET_CONTAINING_TYPE_LIB, P.HRESULT, (POINTER(c_void_p), POINTER(c_uint32)),
              byref(library), byref(index)) < 0:
        return None
    try:
        count = P.call(library, P.Slot.LIB_GET_TYPE_INFO_COUNT, c_uint32, ())
        for i in range(count):
            kind = c_int32()
            if (P.call(library, P.Slot.LIB_GET_TYPE_INFO_TYPE, P.HRESULT, (c_uint32, POINTER(c_int32)),
                       i, byref(kind)) < 0 or kind.value != P.TKIND_COCLASS):
                continue
            coclass = c_void_p()
            if P.call(library, P.Slot.LIB_GET_TYPE_INFO, P.HRESULT, (c_uint32, POINTER(c_void_p)), i,
                      byref(coclass)) < 0:
                continue
            try:
                if _default_interface_is(coclass, iid):
                    return _documentation(coclass, -1)[0]
            finally:
                P.release(coclass)
    finally:
        P.release(library)
    return None


def _default_interface_is(coclass, iid):
    implemented = _type_attr(coclass, lambda a: a.cImplTypes) or 0
    for i in range(implemented):
        flags, href, itf = c_int32(), c_uint32(), c_void_p()
        if (P.call(coclass, P.Slot.GET_IMPL_TYPE_FLAGS, P.HRESULT, (c_uint32, POINTER(c_int32)), i,
                   byref(flags)) < 0 or not flags.value & P.IMPLTYPEFLAG_FDEFAULT):
            continue
        if (P.call(coclass, P.Slot.GET_REF_TYPE_OF_IMPL_TYPE, P.HRESULT, (c_uint32, POINTER(c_uint32)),
                   i, byref(href)) < 0 or
                P.call(coclass, P.Slot.GET_REF_TYPE_INFO, P.HRESULT, (c_uint32, POINTER(c_void_p)),
                       href, byref(itf)) < 0):
            continue
        try:
            return _type_attr(itf, lambda a: str(a.guid)) == str(iid)
        finally:
            P.release(itf)
    return False


class _Member:
    __slots__ = ("name", "method", "get", "put")

    def __init__(self, name):
        self.name, self.method, self.get, self.put = name, None, None, None


class _Interface:
    """The members of one interface, read from its type information."""

    def __init__(self, info):
        self.members = {}
        self.cls = None  # the Dispatch subclass of this interface, made on first use
        attr = POINTER(P.TYPEATTR)()
        _check(P.call(info, P.Slot.GET_TYPE_ATTR, P.HRESULT, (POINTER(POINTER(P.TYPEATTR)),), byref(attr)), "GetTypeAttr")
        try:
            self.iid = str(attr.contents.guid)
            attr_guid = P.GUID.from_buffer_copy(attr.contents.guid)
            count = attr.contents.cFuncs
            kind = attr.contents.typekind
            dual = bool(attr.contents.wTypeFlags & P.TYPEFLAG_FDUAL)
        finally:
            P.call(info, P.Slot.RELEASE_TYPE_ATTR, None, (POINTER(P.TYPEATTR),), attr)
        self.name = _documentation(info, -1)[0]
        self.coclass = _class_serving(info, attr_guid)
        self._functions = {}
        for index in range(count):
            self._each_function(info, index, lambda f: self._add(info, f))
        # A dual interface's functions are also in its operation table: where each
        # sits there, so that a call with plain arguments is one call. The
        # description is either the table's own or the dispatch view of it.
        if dual and kind == P.TKIND_INTERFACE:
            self._note_slots(info)
        elif dual and kind == P.TKIND_DISPATCH:
            self._note_partner_slots(info)

    @staticmethod
    def _each_function(info, index, use):
        desc = POINTER(P.FUNCDESC)()
        _check(P.call(info, P.Slot.GET_FUNC_DESC, P.HRESULT, (c_uint32, POINTER(POINTER(P.FUNCDESC))), index,
                      byref(desc)), "GetFuncDesc")
        try:
            use(desc.contents)
        finally:
            P.call(info, P.Slot.RELEASE_FUNC_DESC, None, (POINTER(P.FUNCDESC),), desc)

    def _note_slots(self, table):
        count = _type_attr(table, lambda a: a.cFuncs)
        if count is None:
            return

        def note_slot(f):
            function = self._functions.get((f.memid, f.invkind))
            if function is not None:
                function.slot = f.oVft // ctypes.sizeof(c_void_p)

        for index in range(count):
            self._each_function(table, index, note_slot)

    def _note_partner_slots(self, info):
        href = c_uint32()
        if P.call(info, P.Slot.GET_REF_TYPE_OF_IMPL_TYPE, P.HRESULT, (c_uint32, POINTER(c_uint32)), 0xFFFFFFFF, byref(href)) < 0:
            return
        table = c_void_p()
        if P.call(info, P.Slot.GET_REF_TYPE_INFO, P.HRESULT, (c_uint32, POINTER(c_void_p)), href, byref(table)) < 0:
            return
        try:
            self._note_slots(table)
        finally:
            P.release(table)

    def _add(self, info, f):
        names = (c_void_p * (f.cParams + 1))()
        got = c_uint32()
        _check(P.call(info, P.Slot.GET_NAMES, P.HRESULT, (c_int32, c_void_p, c_uint32, POINTER(c_uint32)),
                      f.memid, names, f.cParams + 1, byref(got)), "GetNames")
        texts = [P.from_bstr(names[i]) for i in range(got.value)]
        for i in range(got.value):
            P.SysFreeString(names[i])
        name = texts[0]
        if name.lower() in _FRAME or f.wFuncFlags & P.FUNCFLAG_FRESTRICTED:
            return
        params = [_Param(texts[i + 1] if i + 1 < len(texts) else "arg%d" % i,
                         f.lprgelemdescParam[i].paramdesc.wParamFlags,
                         f.lprgelemdescParam[i].tdesc, info,
                         f.lprgelemdescParam[i].paramdesc.pparamdescex)
                  for i in range(f.cParams)]
        function = _Function(f.memid, f.invkind, params, _documentation(info, f.memid)[1])
        self._functions[(f.memid, f.invkind)] = function
        member = self.members.setdefault(name.lower(), _Member(name))
        if f.invkind == P.INVOKE_FUNC:
            member.method = function
        elif f.invkind == P.INVOKE_PROPERTYGET:
            member.get = function
        elif f.invkind == P.INVOKE_PROPERTYPUT:
            member.put = function


def _documentation(info, memid):
    name, doc = c_void_p(), c_void_p()
    hr = P.call(info, P.Slot.GET_DOCUMENTATION, P.HRESULT, (c_int32, POINTER(c_void_p), POINTER(c_void_p), c_void_p,
                                      c_void_p), memid, byref(name), byref(doc), None, None)
    if hr < 0:
        return "", ""
    texts = P.from_bstr(name.value), P.from_bstr(doc.value)
    P.SysFreeString(name)
    P.SysFreeString(doc)
    return texts


_TYPE_E_LIBNOTREGISTERED = -0x7FFD7FE3  # 0x8002801D
_NOT_REGISTERED = ("the object's type library is not registered, and calls by name need it: "
                   "register the module (python3 -m orvik register PATH/liborvik.so, "
                   "or orvik-regsvr PATH/liborvik.so)")


def _check(hr, member):
    if hr < 0:
        raise ComError(hr, member)


# Interfaces by the address of the type information that describes them: the
# entries keep a reference to it, so an address here is never another's.
_interfaces = {}
_interfaces_lock = threading.Lock()


def _interface_of(pointer):
    """The members of the interface the object at pointer describes, read once per
    interface."""
    info = c_void_p()
    hr = P.call(pointer, P.Slot.GET_TYPE_INFO, P.HRESULT, _GET_TYPE_INFO, 0, 0, byref(info))
    if hr == _TYPE_E_LIBNOTREGISTERED:
        # An object made from the module file without a registry entry can be
        # created, but it reads its members from its registered type library.
        raise ComError(hr, "IDispatch.GetTypeInfo", _NOT_REGISTERED)
    _check(hr, "IDispatch.GetTypeInfo")
    with _interfaces_lock:
        known = _interfaces.get(info.value)
    if known is not None:
        P.release(info)
        return known
    try:
        known = _Interface(info)
    except BaseException:
        P.release(info)
        raise
    with _interfaces_lock:
        if info.value in _interfaces:
            P.release(info)
            return _interfaces[info.value]
        _interfaces[info.value] = known  # the reference stays with the entry
    return known
