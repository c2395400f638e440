"""Type stubs for editors, written from the type information of the registered
classes: one class per interface with its properties, methods and parameters,
and Dispatch's overloads naming which class each identifier gives."""

import json
import keyword
import os

from ._dispatch import Dispatch

_NUMBERS = {2: "int", 3: "int", 4: "float", 5: "float", 6: "float", 7: "float", 8: "str",
            11: "bool", 16: "int", 17: "int", 18: "int", 19: "int", 20: "int", 21: "int",
            22: "int", 23: "int"}

# The part of the package's own stub that written stubs begin with.
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "__init__.pyi")) as _stub:
    _HEADER = _stub.read().split("    # Written stubs end here")[0]


def _usable(name):
    """Whether a name from a type library can stand in Python source as it is."""
    return name.isidentifier() and not keyword.iskeyword(name)


def _type(param, known):
    if param.is_object:
        return '"%s"' % param.interface if param.interface in known else '"Dispatch"'
    if param.is_array:
        return "Tuple[float, ...]" if param.out or param.retval else "Sequence[float]"
    return _NUMBERS.get(param.vt, "object")


def _result(function, known):
    given = [_type(p, known) for p in function.params if p.out]
    given += [_type(p, known) for p in function.params if p.retval]
    if not given:
        return "None"
    return given[0] if len(given) == 1 else "Tuple[%s]" % ", ".join(given)


def _signature(function, known):
    parameters = ["self"]
    for p, omissible in zip(function.inputs, function.may_omit()):
        text = "%s: %s" % (p.name, _type(p, known))
        if p.is_object and p.optional:
            text = "%s: Optional[%s]" % (p.name, _type(p, known))
        parameters.append(text + (" = ..." if omissible else ""))
    return ", ".join(parameters)


def _interface_stub(interface, known):
    lines = ["", "", "class %s(Dispatch):" % interface.name]
    for member in sorted(interface.members.values(), key=lambda m: m.name):
        functions = [f for f in (member.method, member.get, member.put) if f is not None]
        if not _usable(member.name) or not all(_usable(p.name) for f in functions
                                               for p in f.params):
            continue  # reachable by getattr only; a stub line would not be Python
        if member.method is not None:
            lines.append("    def %s(%s) -> %s: ..." % (member.name, _signature(member.method, known),
                                                       _result(member.method, known)))
        elif member.get is not None and member.get.inputs:
            lines.append("    def %s(%s) -> %s: ..." % (member.name, _signature(member.get, known),
                                                       _result(member.get, known)))
        else:
            function = member.get or member.put
            param = [p for p in function.params if p.retval or not p.out][-1]
            lines.append("    %s: %s" % (member.name, _type(param, known)))
        if member.put is not None and len(member.put.inputs) > 1:
            lines.append("    def Set%s(%s) -> None: ..." % (member.name, _signature(member.put, known)))
    return lines


def write_stubs(classes, directory):
    """Writes directory/orvik/__init__.pyi for the classes given as (programmatic
    identifier, version-independent identifier, class identifier); returns its path."""
    interfaces, names = {}, []
    for prog_id, independent, _ in classes:
        with Dispatch(prog_id) as instance:
            interface = instance._members
        if not _usable(interface.name):
            continue
        interfaces[interface.name] = interface
        names += [(identifier, interface.name) for identifier in (prog_id, independent) if identifier]
    known = set(interfaces)
    lines = _HEADER.rstrip("\n").split("\n")
    # Which class each identifier gives, for Dispatch(...) itself.
    for identifier, interface in sorted(names):
        # Any text can name a class: it is written as a literal Python reads back.
        lines += ["    @overload", '    def __new__(cls, target: Literal[%s]) -> "%s": ...'
                  % (json.dumps(identifier), interface)]
    lines += ["    @overload", '    def __new__(cls, target: object) -> "Dispatch": ...']
    for name in sorted(interfaces):
        lines += _interface_stub(interfaces[name], known)
    lines.append("")
    path = os.path.join(directory, "orvik", "__init__.pyi")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write("\n".join(lines))
    return path
