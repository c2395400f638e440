"""Objects called by name: the wrapper around an IDispatch reference.

Members come from the interface's description (_description); calls go by name
through IDispatch::Invoke, or straight through the table where the interface is dual.
"""

import ctypes
import inspect
import threading
from ctypes import POINTER, byref, c_double, c_int16, c_int32, c_uint32, c_void_p

from . import _platform as P
from ._description import _INVOKE, _NO_DEFAULT, _OUT_STORAGE, _check, _interface_of
from .errors import ComError


class _Arguments:
    """Variants for one call, last first, freed when the call is done."""

    def __init__(self, count):
        self.array = (P.VARIANT * count)()
        self.keep = []

    def set(self, index, param, value, member, position):
        v = self.array[index]
        if value is _OMITTED:
            v.vt, v.value.lVal = P.VT_ERROR, P.DISP_E_PARAMNOTFOUND
        elif param.out:
            storage = (c_void_p if param.is_object else _OUT_STORAGE.get(param.vt, c_double))()
            self.keep.append((param, storage))
            v.vt = P.VT_BYREF | (P.VT_DISPATCH if param.is_object else param.vt)
            v.value.ptr = ctypes.cast(byref(storage), c_void_p)
        else:
            _to_variant(value, v, param, member, position)

    def outs(self):
        return [_from_storage(param, storage) for param, storage in self.keep]

    def clear(self):
        for v in self.array:
            P.VariantClear(byref(v))


class _Omitted:
    def __repr__(self):
        return "<omitted>"


_OMITTED = _Omitted()


def _to_variant(value, v, param, member, position):
    def refuse(what):
        raise TypeError("%s: argument %d (%s) must be %s, not %s" % (
            member, position, param.name, what, type(value).__name__))

    if param.is_object:
        if value is None:
            v.vt = P.VT_EMPTY
        elif isinstance(value, Dispatch):
            pointer = value._reference()  # held while the variant takes its own
            P.add_ref(pointer)
            v.vt, v.value.ptr = P.VT_DISPATCH, pointer.value
        else:
            refuse("an Orvik object or None")
    elif param.is_array:
        try:
            numbers = [float(x) for x in value]
        except (TypeError, ValueError):
            refuse("a sequence of numbers")
        array = P.SafeArrayCreateVector(P.VT_R8, 0, len(numbers))
        for i, x in enumerate(numbers):
            index, element = c_int32(i), c_double(x)
            P.SafeArrayPutElement(array, byref(index), byref(element))
        v.vt, v.value.ptr = P.VT_ARRAY | P.VT_R8, array
    elif isinstance(value, bool) and param.vt in (P.VT_BOOL, P.VT_VARIANT):
        v.vt, v.value.iVal = P.VT_BOOL, -1 if value else 0
    elif isinstance(value, int):  # a bool elsewhere is the number it is in Python
        value = int(value)
        if param.vt in (P.VT_R8, P.VT_R4, P.VT_DATE):
            v.vt, v.value.dblVal = P.VT_R8, float(value)
        elif -2**31 <= value < 2**31:
            v.vt, v.value.lVal = P.VT_I4, value
        else:
            v.vt, v.value.dblVal = P.VT_R8, float(value)
    elif isinstance(value, float):
        if param.vt not in (P.VT_R8, P.VT_R4, P.VT_DATE, P.VT_VARIANT, P.VT_CY):
            refuse("an integer")
        v.vt, v.value.dblVal = P.VT_R8, value
    elif isinstance(value, str):
        if param.vt not in (P.VT_BSTR, P.VT_VARIANT):
            refuse("a number")
        v.vt, v.value.ptr = P.VT_BSTR, P.bstr(value)
    else:
        refuse("a number")


def _from_variant(v):
    vt = v.vt
    if vt in (P.VT_EMPTY, P.VT_NULL):
        return None
    if vt in (P.VT_R8, P.VT_DATE):
        return v.value.dblVal
    if vt == P.VT_R4:
        return v.value.fltVal
    if vt == P.VT_BOOL:
        return v.value.iVal != 0
    if vt in (P.VT_I2,):
        return v.value.iVal
    if vt in (P.VT_I4, P.VT_INT, P.VT_ERROR):
        return v.value.lVal
    if vt == P.VT_BSTR:
        return P.from_bstr(v.value.ptr)
    if vt in (P.VT_DISPATCH, P.VT_UNKNOWN):
        if not v.value.ptr:
            return None
        P.add_ref(v.value.ptr)  # the wrapper's own; the variant's goes with it
        return _adopt(_Reference(v.value.ptr))
    if vt == P.VT_ARRAY | P.VT_R8:
        return _array_values(v.value.ptr)
    return v.value.llVal


def _array_values(array):
    lower, upper = c_int32(), c_int32()
    P.SafeArrayGetLBound(array, 1, byref(lower))
    P.SafeArrayGetUBound(array, 1, byref(upper))
    values = []
    for i in range(lower.value, upper.value + 1):
        index, element = c_int32(i), c_double()
        P.SafeArrayGetElement(array, byref(index), byref(element))
        values.append(element.value)
    return tuple(values)


def _from_storage(param, storage):
    if param.is_object:
        return _adopt(_Reference(storage.value)) if storage.value else None
    if param.vt == P.VT_BOOL:
        return storage.value != 0
    return storage.value


class _Reference(c_void_p):
    """One reference to an interface, given back when the last holder drops it. A
    call holds the reference it calls through for as long as it runs, so a
    release() on another thread lets go only once that call is done: no call ever
    runs through a freed object."""

    __slots__ = ()

    def __del__(self):
        if self.value and P is not None:  # None only while the interpreter ends
            _release(self)


# Release in one step where the platform has it; the result of a call for an object
# comes back as a _Reference, holding the reference the call gave.
_release = P.OrvikTableRelease or (lambda reference: P.release(reference.value))
if P.OrvikTableCallForObject is not None:
    P.OrvikTableCallForObject.restype = _Reference


def _adopt(pointer):
    """The wrapper of the IDispatch reference `pointer` (a _Reference, whose
    reference the wrapper takes over)."""
    interface = _interface_of(pointer)
    # An instance of the interface's own class, whose members help() and editors see.
    self = object.__new__(_class_for(interface))
    object.__setattr__(self, "_ptr", pointer)
    object.__setattr__(self, "_table", None)  # table calls, bound on first use
    return self


def _released():
    return ValueError("orvik: this object was released")


class Dispatch:
    """An Orvik object called by name.

    Dispatch("Orvik.Point"), Dispatch("{283075AE-B177-11D3-BE8E-0060B0EB1D67}"), or an
    interface pointer a caller already holds (an int or c_void_p; the wrapper takes
    a reference of its own). Properties are attributes, methods are calls; a
    property with indices is a call for the get and Set<Name>(indices..., value) for
    the put. [out] parameters come back as a tuple.
    """

    __slots__ = ("_ptr", "_table", "__weakref__")
    _puts = {}  # a class's puts of a double, by member name: their table slots
    _members = None  # each interface's class holds its members here

    def __new__(cls, target):
        if isinstance(target, str):
            return _adopt(_Reference(_create(target).value))
        if type(target) is not int and not isinstance(target, c_void_p):
            raise TypeError("orvik.Dispatch takes a class name or an interface pointer (an int "
                            "or c_void_p), not %s" % type(target).__name__)
        raw = target.value if isinstance(target, c_void_p) else target
        if not raw:
            raise ValueError("orvik.Dispatch: a null interface pointer")
        if not P.plausible_interface(raw):
            raise ValueError("orvik.Dispatch: 0x%X is not an interface pointer of a loaded "
                             "component" % (raw & (2**64 - 1)))
        hr, pointer = P.query_interface(raw, P.IID_IDispatch)
        _check(hr, "QueryInterface")
        return _adopt(_Reference(pointer.value))

    def __init__(self, target):
        pass  # made whole by __new__

    # References. Every call reads self._ptr once and calls through what it read.
    def _reference(self):
        pointer = self._ptr
        if pointer is None:
            raise _released()
        return pointer

    def _table_call(self, slot, prototype, pointer):
        """Slot `slot` of this object's table as a call, bound once per object."""
        calls = self._table
        if calls is None:
            calls = {}
            object.__setattr__(self, "_table", calls)
        call = calls[slot] = prototype(P.entry(pointer, slot))
        return call

    def _call(self, *args):
        """IDispatch::Invoke on this object."""
        pointer = self._ptr
        if pointer is None:
            raise _released()
        calls = self._table
        call = None if calls is None else calls.get(6)
        if call is None:
            call = self._table_call(6, _INVOKE, pointer)
        return call(pointer, *args)

    def release(self):
        """Lets go of the object now (once a call on another thread, if one is under
        way, is done); the wrapper cannot be used afterwards."""
        object.__setattr__(self, "_table", None)  # no table call outlives the reference
        object.__setattr__(self, "_ptr", None)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()

    # Names.
    def _member(self, name):
        members = self._members.members
        return members.get(name.lower())

    def __getattr__(self, name):
        if name.startswith("_"):  # the wrapper's own state, unset only while it is made
            raise AttributeError(name)
        # Only names the class lacks come here: members spelt in another case.
        self._reference()
        member = self._member(name)
        if member is not None:
            return getattr(self, member.name)
        if name[:3].lower() == "set":
            target = self._member(name[3:])
            if target is not None and target.put is not None and len(target.put.inputs) > 1:
                return getattr(self, "Set" + target.name)
        raise AttributeError("%s has no member %r" % (self._describe(), name))

    def __setattr__(self, name, value):
        slot = self._puts.get(name)
        if slot is not None and type(value) in _NUMBERS:
            # A number for a put of a double: straight into the table, in one step.
            pointer = self._ptr
            if pointer is None:
                raise _released()
            hr = _put_double(pointer, slot, c_double(value))
            if hr < 0:
                raise _table_error(self, name, hr)
            return
        self._reference()
        member = self._member(name)
        if member is None or member.put is None:
            raise AttributeError("%s has no settable property %r" % (self._describe(), name))
        self._invoke(member.name, member.put, P.DISPATCH_PROPERTYPUT, (value,), {})

    def __dir__(self):
        members = self._members.members.values()
        names = {m.name for m in members}
        names |= {"Set" + m.name for m in members if m.put and len(m.put.inputs) > 1}
        return sorted(names | {"release"})

    def _describe(self):
        return "<orvik.Dispatch %s>" % self._members.name

    def _qualified(self, member):
        """IPoint.Add: a member as the C++ layer names it in its errors."""
        return "%s.%s" % (self._members.name, member)

    def __repr__(self):
        """<orvik.Point IPoint at 0x55d0c0ffee10>: the class that made the object (or
        Dispatch when its interface names none), the interface and the object's
        address; a released object says so."""
        made_by = self._members.coclass or "Dispatch"
        where = "at 0x%x" % self._ptr.value if self._ptr else "(released)"
        return "<orvik.%s %s %s>" % (made_by, self._members.name, where)

    # Calls.
    def _invoke_plain(self, name, function, kind):
        # A call with no arguments at all: a property get, most often.
        result = P.VARIANT()
        excep = P.EXCEPINFO()
        hr = self._call(function.memid, byref(P.IID_NULL), 0, kind, byref(_NO_ARGUMENTS),
                        byref(result), byref(excep), None)
        if hr < 0:
            _raise(hr, self._qualified(name), excep, 0xFFFFFFFF, 0)
        if result.vt == P.VT_R8:
            return result.value.dblVal
        value = _from_variant(result)
        P.VariantClear(byref(result))
        return value

    def _invoke(self, name, function, kind, args, kwargs):
        if not args and not kwargs and function.simple:
            return self._invoke_plain(name, function, kind)
        inputs = function.inputs
        if len(args) > len(inputs):
            raise TypeError("%s takes at most %d arguments (%d given)" % (name, len(inputs), len(args)))
        values = list(args) + [_OMITTED] * (len(inputs) - len(args))
        for key, value in kwargs.items():
            for i, p in enumerate(inputs):
                if p.name.lower() == key.lower():
                    if i < len(args) or values[i] is not _OMITTED:
                        raise TypeError("%s got two values for %s" % (name, p.name))
                    values[i] = value
                    break
            else:
                raise TypeError("%s has no parameter %r" % (name, key))
        for i, p in enumerate(inputs):
            if values[i] is _OMITTED and not p.optional:
                raise TypeError("%s needs its argument %s" % (name, p.name))
        while values and values[-1] is _OMITTED:
            values.pop()
        # Parameters in order: inputs as given, [out]s as storage, up to the last given.
        order = []
        given = iter(values)
        remaining = len(values)
        for p in function.params:
            if p.retval:
                continue
            if p.out:
                order.append((p, None))
            elif remaining:
                order.append((p, next(given)))
                remaining -= 1
            else:
                break
        arguments = _Arguments(len(order))
        try:
            for position, (p, value) in enumerate(order):
                arguments.set(len(order) - 1 - position, p, value, name, position)
            named = c_int32(P.DISPID_PROPERTYPUT)
            params = P.DISPPARAMS(arguments.array, ctypes.pointer(named) if kind == P.DISPATCH_PROPERTYPUT else None,
                                  len(order), 1 if kind == P.DISPATCH_PROPERTYPUT else 0)
            result = P.VARIANT()
            excep = P.EXCEPINFO()
            argerr = c_uint32(0xFFFFFFFF)
            hr = self._call(function.memid, byref(P.IID_NULL), 0, kind, byref(params),
                            byref(result), byref(excep), byref(argerr))
            if hr < 0:
                _raise(hr, self._qualified(name), excep, argerr.value, len(order))
            value = _from_variant(result)
            P.VariantClear(byref(result))
            outs = arguments.outs()
        finally:
            arguments.clear()
        if outs:
            return tuple(outs) + ((value,) if value is not None else ())
        return value


_NO_ARGUMENTS = P.DISPPARAMS(None, None, 0, 0)


def _raise(hr, name, excep, argerr, count):
    """The failure of a call as ComError: the operation's own code where it reported
    one, and the Python position of the argument at fault. A description that only
    says the member failed with that code says nothing the error does not."""
    description = None
    if hr == P.DISP_E_EXCEPTION:
        hr = excep.scode or hr
        description = P.from_bstr(excep.bstrDescription)
        if description == "%s failed with 0x%08X" % (name, hr & 0xFFFFFFFF):
            description = None
    P.SysFreeString(excep.bstrDescription)
    P.SysFreeString(excep.bstrSource)
    P.SysFreeString(excep.bstrHelpFile)
    position = count - 1 - argerr if argerr < count else None
    raise ComError(hr, name, description, position)


def _signature(function):
    parameters = [inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD)]
    for p, omissible in zip(function.inputs, function.may_omit()):
        default = inspect.Parameter.empty
        if omissible:
            default = p.default if p.default is not _NO_DEFAULT else _OMITTED
        parameters.append(inspect.Parameter(p.name, inspect.Parameter.POSITIONAL_OR_KEYWORD,
                                            default=default))
    return inspect.Signature(parameters)


_TYPE_WORDS = {P.VT_R8: "number", P.VT_R4: "number", P.VT_I2: "integer", P.VT_I4: "integer",
               P.VT_BOOL: "boolean", P.VT_BSTR: "text"}


def _describe_param(p):
    kind = ("%s object" % p.interface if p.interface else "object") if p.is_object else (
        "sequence of numbers" if p.is_array else _TYPE_WORDS.get(p.vt, "value"))
    words = "%s: %s %s" % (p.name, "[out]" if p.out else "[in]", kind)
    if p.default is not _NO_DEFAULT:
        words += ", default %r" % (p.default,)
    elif p.optional:
        words += ", optional"
    return words


def _documentation_of(function):
    text = function.doc or ""
    described = [_describe_param(p) for p in function.params if not p.retval]
    if described:
        text += "\n\nParameters:\n" + "\n".join("    " + d for d in described)
    outs = [p.name for p in function.params if p.out]
    if outs:
        text += "\n\nGives back (%s)." % ", ".join(outs)
    return text.strip() or None


def _table_route(function):
    """What a method's call straight into a dual interface's table takes, or None
    when it must go through Invoke: for each argument the interface identifier an
    object must have (None for a number), and the kind of result."""
    if function.slot is None:
        return None
    kinds, result = [], None
    for p in function.params:
        plain_number = p.vt == P.VT_R8 and not p.is_array and not p.is_object
        if p.retval:
            if p.is_object and p.dual:
                result = _Reference
            elif plain_number:
                result = c_double
            else:
                return None
        elif p.out:
            return None
        elif p.is_object and p.dual and p.iid:
            kinds.append(p.iid)
        elif plain_number:
            kinds.append(None)
        else:
            return None
    return kinds, result


# The body of a table call, written out for each method's arguments: a loop over
# them costs as much again as the call into C.
_TABLE_CALL = """
def call(self, *args, **kwargs):
    if kwargs or len(args) != {count}:
        return by_name(self, args, kwargs)
    {unpack}
    if not ({checks}):
        return by_name(self, args, kwargs)
    pointer = self._ptr
    if pointer is None:
        raise _released()
    calls = self._table
    bound = None if calls is None else calls.get(slot)
    if bound is None:
        bound = self._table_call(slot, prototype, pointer)
    {out}
    hr = bound(pointer, {passed})
    if hr < 0:
        raise _table_error(self, name, hr)
    {finish}
"""

# The same for a method that takes one object and gives back another, the
# commonest shape (Add, Sub, Apply, ...): one call of the platform, which hands the
# result back as a _Reference, with no cell to make or pass.
_OBJECT_FOR_OBJECT_CALL = """
def call(self, a0=_ABSENT, /, *rest, **kwargs):
    if rest or kwargs or a0 is _ABSENT:
        return by_name(self, rest if a0 is _ABSENT else (a0,) + rest, kwargs)
    if not ((type(a0) in accepted or accepts(a0)) and (pa0 := a0._ptr) is not None):
        return by_name(self, (a0,), kwargs)
    pointer = self._ptr
    if pointer is None:
        raise _released()
    out = call_for_object(pointer, slot, pa0)
    if not out:
        hr = last_result()
        if hr < 0:
            raise _table_error(self, name, hr)
        return None
    {finish}
"""

_FINISH_OBJECT = """if not out.value:
        return None
    cls = function.result_class
    if cls is None:
        return _wrap_result(function, declared, out)
    wrapper = _new_object(cls)  # takes over the reference, as Dispatch.__new__ would
    _set_pointer(wrapper, out)
    _set_table(wrapper, None)
    return wrapper"""


def _calls_for_object(function):
    """Whether a method taking one object and giving back another is called in one
    step of the platform (its table is then not bound in the wrapper)."""
    route = _table_route(function)
    return (route is not None and len(route[0]) == 1 and route[0][0] is not None and
            route[1] is _Reference and P.OrvikTableCallForObject is not None)


def _table_method(name, function):
    """A method's call with every argument given plainly (numbers, and objects of
    exactly the declared interface) made straight through the table; anything else
    goes through Invoke, which converts, fills in defaults and names the argument
    at fault."""
    route = _table_route(function)

    def by_name(self, args, kwargs):
        return self._invoke(name, function, P.DISPATCH_METHOD, args, kwargs)

    if route is None:
        return lambda self, *args, **kwargs: by_name(self, args, kwargs)
    kinds, result = route
    arguments = ["a%d" % i for i in range(len(kinds))]
    checks, passed = [], []
    for argument, iid in zip(arguments, kinds):
        if iid is None:
            checks.append("type(%s) in _NUMBERS" % argument)
            passed.append(argument)
        else:  # a dual wrapper's pointer is its table's, read once and held
            held = "p" + argument
            checks.append("isinstance(%s, Dispatch) and (%s := %s._ptr) is not None and "
                          "%s._members.iid == %r" % (argument, held, argument, argument, iid))
            passed.append(held)
    if result is not None:
        passed.append("out")  # ctypes passes the cell's address
    one_object = _calls_for_object(function)
    source = (_OBJECT_FOR_OBJECT_CALL if one_object else _TABLE_CALL).format(
        count=len(kinds), unpack="%s, = args" % ", ".join(arguments) if arguments else "",
        checks=" and ".join(checks) or "True", passed=", ".join(passed),
        out="out = result()" if result is not None else "",
        finish={None: "return None", c_double: "return out.value"}.get(result, _FINISH_OBJECT))
    # For the one-object call: the classes of objects that have the interface its
    # argument takes, learnt as they come.
    accepted = set()

    def accepts(argument):
        if isinstance(argument, Dispatch) and argument._members.iid == kinds[0]:
            accepted.add(type(argument))
            return True
        return False

    scope = dict(globals(), by_name=by_name, slot=function.slot, name=name, function=function,
                 accepted=accepted, accepts=accepts,
                 call_for_object=P.OrvikTableCallForObject, last_result=P.OrvikTableCallResult,
                 result=result, declared=next((p.iid for p in function.params
                                               if p.retval and p.is_object), None),
                 prototype=ctypes.CFUNCTYPE(P.HRESULT, c_void_p,
                                            *[c_double if iid is None else c_void_p
                                              for iid in kinds],
                                            *([POINTER(result)] if result else [])))
    exec(source, scope)
    return scope["call"]


_NUMBERS = frozenset((float, int))
_ABSENT = object()  # an argument not given


def _table_error(self, member, hr):
    return ComError(hr, self._qualified(member))


_new_object = object.__new__
_set_pointer = Dispatch._ptr.__set__
_set_table = Dispatch._table.__set__


def _wrap_result(function, declared, pointer):
    """The wrapper of the first object a table call gives back, taking over its
    reference. Its class is learnt through the object's own IDispatch; when that is
    the declared interface itself, later results take that class at once."""
    hr, dispatch = P.query_interface(pointer, P.IID_IDispatch)  # a reference of its own
    _check(hr, "QueryInterface")
    wrapper = _adopt(_Reference(dispatch.value))
    if wrapper._ptr.value == pointer.value and wrapper._members.iid == declared:
        function.result_class = type(wrapper)
    return wrapper


def _accessor(name, function, kind):
    if kind == P.DISPATCH_METHOD:
        call = _table_method(name, function)
    else:
        def call(self, *args, **kwargs):
            return self._invoke(name, function, kind, args, kwargs)

    call.__name__ = call.__qualname__ = name
    call.__doc__ = _documentation_of(function)
    signature = _signature(function)
    if signature is not None:
        call.__signature__ = signature
    return call


# Property gets read straight from the table: the value's storage and the slot's
# prototype, by the type the retval declares.
_TABLE_GETS = {P.VT_R8: c_double, P.VT_I4: c_int32, P.VT_I2: c_int16, P.VT_BOOL: c_int16}


def _table_get(get):
    """The value type a get reads from the table, or None to go through Invoke."""
    if get is None or get.slot is None or len(get.params) != 1 or not get.params[0].retval:
        return None
    return _TABLE_GETS.get(get.params[0].vt)


def _property(member):
    get, put = member.get, member.put
    storage = _table_get(get)

    def fget(self):
        self._reference()
        return self._invoke(member.name, get, P.DISPATCH_PROPERTYGET, (), {})

    if storage is not None:
        prototype = ctypes.CFUNCTYPE(P.HRESULT, c_void_p, POINTER(storage))
        is_bool = get.params[0].vt == P.VT_BOOL

        slot = get.slot

        def fget(self):  # noqa: F811 (the same get, one call into the table)
            pointer = self._ptr
            if pointer is None:
                raise _released()
            calls = self._table
            call = None if calls is None else calls.get(slot)
            if call is None:
                call = self._table_call(slot, prototype, pointer)
            value = storage()
            hr = call(pointer, value)  # ctypes passes its address
            if hr < 0:
                raise _table_error(self, member.name, hr)
            return value.value != 0 if is_bool else value.value

    if storage is not None and P.OrvikTableGetDouble is not None:
        fget = _one_step_get(member.name, slot, storage, is_bool)

    def fset(self, value):
        self._invoke(member.name, put, P.DISPATCH_PROPERTYPUT, (value,), {})

    return property(fget if get else None, fset if put else None,
                    doc=(get or put).doc or None)


_put_double = P.OrvikTablePutDouble
_INTEGER_FAILED = -(1 << 63)  # what OrvikTableGetInteger answers for a failure


def _one_step_get(name, slot, storage, is_bool):
    """A get of a number as one call of the platform, which calls the table entry
    and hands the value back: no cell of ctypes' to make and read."""
    last_result = P.OrvikTableCallResult
    if storage is c_double:
        read = P.OrvikTableGetDouble

        def fget(self):
            pointer = self._ptr
            if pointer is None:
                raise _released()
            value = read(pointer, slot)
            if value != value:  # a NaN: a failure, or a NaN the object holds
                hr = last_result()
                if hr < 0:
                    raise _table_error(self, name, hr)
            return value
        return fget

    read_integer, width = P.OrvikTableGetInteger, ctypes.sizeof(storage)

    def fget(self):
        pointer = self._ptr
        if pointer is None:
            raise _released()
        value = read_integer(pointer, slot, width)
        if value == _INTEGER_FAILED:
            raise _table_error(self, name, last_result())
        return value != 0 if is_bool else value
    return fget


def _one_step_put(put):
    """Whether a put takes one double straight into its table entry."""
    return (put is not None and put.slot is not None and len(put.params) == 1 and
            put.params[0].vt == P.VT_R8 and not put.params[0].is_array and
            not put.params[0].is_object and not put.params[0].out)


_classes_lock = threading.Lock()


def _class_for(interface):
    """The Dispatch subclass of an interface: its properties, methods and indexed
    properties as class members, made once."""
    if interface.cls is not None:
        return interface.cls
    namespace = {"__slots__": (), "__doc__": "%s, called by name.\n\n%s" % (
        interface.name, Dispatch.__doc__), "__module__": "orvik"}
    for member in interface.members.values():
        if member.method is not None:
            namespace[member.name] = _accessor(member.name, member.method, P.DISPATCH_METHOD)
        elif member.get is not None and member.get.inputs:
            namespace[member.name] = _accessor(member.name, member.get, P.DISPATCH_PROPERTYGET)
        else:
            namespace[member.name] = _property(member)
        if member.put is not None and len(member.put.inputs) > 1:
            namespace["Set" + member.name] = _accessor(member.name, member.put,
                                                       P.DISPATCH_PROPERTYPUT)
    namespace["_members"] = interface
    # The puts a number goes straight into, by the name as the library spells it.
    namespace["_puts"] = {m.name: m.put.slot for m in interface.members.values()
                          if _one_step_put(m.put) and _put_double is not None}
    with _classes_lock:
        if interface.cls is None:
            interface.cls = type(interface.name, (Dispatch,), namespace)
    return interface.cls


def _create(name):
    """A new object of the class `name` names, through the registry or, when the
    registry does not know it, from the module file ORVIK_MODULE or the install
    names; a failure says why in the platform's words."""
    if "\0" in name:
        raise ComError(P.CO_E_CLASSSTRING, name, "a class name cannot hold a NUL character")
    pointer = c_void_p()
    module = P.installed_module()
    report = ctypes.create_string_buffer(2048)
    hr = P.OrvikCreateInstanceByName(ctypes.cast(P.utf16z(name), c_void_p),
                                     module.encode() if module else None,
                                     byref(P.IID_IDispatch), byref(pointer), report,
                                     len(report))
    if hr < 0:
        raise ComError(hr, name, report.value.decode("utf-8", "replace") or None)
    return pointer
