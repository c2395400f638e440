"""The Python client on real objects: the built module registered in a store of the
suite's own. ORVIK_MODULE names the module file; the platform library is found as
users find it (ORVIK_PLATFORM_LIB in the build)."""

import ctypes
import gc
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import textwrap
import unittest

_store = tempfile.mkdtemp(prefix="orvik-python-")
os.environ["ORVIK_REGISTRY"] = os.path.join(_store, "registry.db")

import orvik  # noqa: E402  (the store is chosen before the platform opens it)
from orvik._dispatch import _table_get as table_get  # noqa: E402
from orvik._dispatch import _table_route as table_route  # noqa: E402
from orvik._dispatch import _calls_for_object as calls_for_object  # noqa: E402

_module = ctypes.CDLL(os.environ["ORVIK_MODULE"])
_module.DllRegisterServer.restype = ctypes.c_int32
_module.DllCanUnloadNow.restype = ctypes.c_int32

ERROR_DEFAULT_BITS = 0x3D83880000000000  # the stored default of every Error argument
E_INVALIDARG, DISP_E_TYPEMISMATCH = 0x80070057, 0x80020005


def setUpModule():
    assert _module.DllRegisterServer() == 0, "registration failed"


def tearDownModule():
    gc.collect()
    try:
        assert _module.DllCanUnloadNow() == 0, "a reference was left behind"
    finally:
        shutil.rmtree(_store, ignore_errors=True)


def bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


class Conventions(unittest.TestCase):
    def test_properties_methods_keywords_and_defaults(self):
        with orvik.Dispatch("Orvik.Point") as p:
            p.Set(1, 2, Z=3)
            x, y, z, e = p.Get()
            self.assertEqual((x, y, z), (1.0, 2.0, 3.0))
            self.assertEqual(bits(e), ERROR_DEFAULT_BITS)
            p.X = 1.5
            self.assertEqual(p.X, 1.5)
            self.assertEqual(p.x, 1.5, "names ignore case")
            p.Set(error=0.25)  # every coordinate left to its default
            self.assertEqual(p.Get(), (0.0, 0.0, 0.0, 0.25))

    def test_objects_arrays_and_indexed_properties(self):
        p, v = orvik.Dispatch("Orvik.Point"), orvik.Dispatch("Orvik.Vector")
        p.Set(1, 2, 3)
        v.AsArray = (0.5, 0.25, 0.125)  # any sequence of numbers
        self.assertEqual(v.AsArray, (0.5, 0.25, 0.125))
        moved = p.Add(v)
        self.assertIsInstance(moved, orvik.Dispatch)
        self.assertEqual(moved.AsArray, (1.5, 2.25, 3.125))

        shift, turn = orvik.Dispatch("Orvik.Matrix"), orvik.Dispatch("Orvik.Matrix")
        shift.SetTranslation(v)
        self.assertEqual(shift.Element(3, 0), 0.5, "column 3 holds the translation")
        turn.SetElement(0, 0, 2.0)
        self.assertEqual(turn.Element(0, 0), 2.0)
        both = shift.Mul(turn)  # turn first, then shift
        self.assertEqual(p.Apply(both).AsArray, (2.5, 2.25, 3.125))

        area = orvik.Dispatch("Orvik.AreaProperties")
        area.Barycenter = p
        self.assertEqual(area.Barycenter.AsArray, (1.0, 2.0, 3.0))

    def test_pointers_already_held_are_wrapped_with_their_own_reference(self):
        p = orvik.Dispatch("Orvik.Point")
        p.Set(4, 5, 6)
        same = orvik.Dispatch(p._ptr.value)
        p.release()
        self.assertEqual(same.Get()[:3], (4.0, 5.0, 6.0))
        self.assertIn("IPoint", repr(same))
        same.release()

    def test_names_listed_and_unknown_ones_refused(self):
        m = orvik.Dispatch("Orvik.Matrix")
        self.assertIn("Element", dir(m))
        self.assertIn("SetElement", dir(m))
        self.assertFalse(hasattr(m, "Nothing"))
        self.assertIsNone(getattr(m, "Nothing", None))
        with self.assertRaises(AttributeError):
            m.Nothing = 1
        self.assertIn("Element", m.Element.__doc__)

    def test_help_shows_members_their_help_strings_and_parameters(self):
        import inspect
        import pydoc
        p = orvik.Dispatch("Orvik.Point")
        self.assertEqual(type(p).__name__, "IPoint")
        self.assertIsInstance(p, orvik.Dispatch)
        text = pydoc.render_doc(p)
        for expected in ("X coordinate", "Set all properties at once", "Get all properties"):
            self.assertIn(expected, text)
        parameters = inspect.signature(p.Set).parameters
        self.assertEqual(list(parameters), ["X", "Y", "Z", "Error"])
        self.assertEqual(parameters["X"].default, 0.0)
        self.assertEqual(bits(parameters["Error"].default), ERROR_DEFAULT_BITS,
                         "the library's stored default, bit for bit")
        self.assertIn("X: [out] number", p.Get.__doc__)
        m = orvik.Dispatch("Orvik.Matrix")
        self.assertIn("indice2: [in] integer, default -1", m.Element.__doc__)
        self.assertIn("axis2: [in] IVector object, default None", m.SetPv.__doc__)
        self.assertIn("Gives back (X, Y, Z, Error)", p.Get.__doc__)
        self.assertEqual(p.set.__name__, "Set", "any case finds the member")


CLASSES = ("Point", "Vector", "Axis", "Matrix", "BoundingBox", "AreaProperties",
           "MassProperties", "Length", "Angle", "Plane", "Option", "RgbData")


def plain_properties(o):
    return [m for m in o._members.members.values()
            if m.method is None and table_get(m.get) is not None]


def primed(progid):
    """A new object whose settable plain properties each hold a value of its own,
    set through Invoke."""
    o = orvik.Dispatch(progid)
    for i, m in enumerate(plain_properties(o)):
        if m.put is not None:
            value = {11: bool(i % 2), 2: i + 1, 3: i + 1}.get(m.get.params[0].vt, 0.5 + i)
            try:
                setattr(o, m.name, value)
            except orvik.ComError:
                pass  # a value the object refuses
    return o


def state(o):
    """Every plain property of an object, numbers by their bits."""
    return {m.name: bits(v) if isinstance(v, float) else v
            for m in plain_properties(o) for v in (getattr(o, m.name),)}


class TableRoutes(unittest.TestCase):
    def test_plain_gets_read_from_the_table_agree_with_invoke(self):
        # Each settable plain property holds a value of its own, so that a get
        # reading the wrong slot would show.
        checked = 0
        for name in CLASSES:
            with primed("Orvik." + name) as o:
                members = plain_properties(o)
                for m in members:
                    through_invoke = o._invoke(m.name, m.get, 2, (), {})
                    self.assertEqual(getattr(o, m.name), through_invoke, "%s.%s" % (name, m.name))
                    checked += 1
        self.assertGreater(checked, 30)

    def test_numbers_put_straight_into_the_table_land_where_invoke_puts_them(self):
        # Every put of a double, given a distinct number each, read back through
        # Invoke; a NaN the object holds reads back as a NaN, not as a failure.
        checked = 0
        for name in CLASSES:
            with orvik.Dispatch("Orvik." + name) as o:
                for i, (member, slot) in enumerate(sorted(type(o)._puts.items())):
                    value = 3 + i if i % 2 else 0.5 + i  # an int goes in as its double
                    setattr(o, member, value)
                    through = o._invoke(member, o._member(member).get, 2, (), {})
                    self.assertEqual(through, float(value), "%s.%s" % (name, member))
                    checked += 1
        self.assertGreater(checked, 20)
        with orvik.Dispatch("Orvik.Point") as p:
            p.X = float("nan")
            self.assertNotEqual(p.X, p.X)
            with self.assertRaises(TypeError):
                p.X = "1"
            p.release()
            with self.assertRaises(ValueError):
                p.X = 1.0

    def test_methods_called_through_the_table_agree_with_invoke(self):
        # Each method with plain arguments runs twice on a table route and once
        # through Invoke, every route on objects primed alike, with a distinct value
        # in every argument position: result, code and the state left behind agree.
        checked = 0
        for name in CLASSES:
            with orvik.Dispatch("Orvik." + name) as probe:
                methods = [m for m in probe._members.members.values()
                           if m.method is not None and table_route(m.method) is not None]
            for m in methods:
                kinds = table_route(m.method)[0]
                outcomes = []
                for route in ("table", "table", "invoke"):
                    args = [1.5 + 0.25 * i if iid is None else
                            primed("Orvik." + m.method.params[i].interface[1:])
                            for i, iid in enumerate(kinds)]
                    with primed("Orvik." + name) as o:
                        try:
                            if route == "table":
                                result = getattr(o, m.name)(*args)
                                self.assertTrue(calls_for_object(m.method) or
                                                m.method.slot in o._table, "%s.%s" % (name, m.name))
                            else:
                                result = o._invoke(m.name, m.method, 1, tuple(args), {})
                        except orvik.ComError as error:
                            result = ("failed", error.hresult, error.member, error.argerr)
                        if isinstance(result, orvik.Dispatch):
                            result = (type(result).__name__, state(result))
                        elif isinstance(result, float):
                            result = bits(result)
                        outcomes.append((result, state(o), [state(a) for a in args
                                                            if isinstance(a, orvik.Dispatch)]))
                self.assertEqual(outcomes[0], outcomes[2], "%s.%s" % (name, m.name))
                self.assertEqual(outcomes[1], outcomes[2], "%s.%s, again" % (name, m.name))
                checked += 1
        self.assertGreater(checked, 60)
        with orvik.Dispatch("Orvik.Matrix") as m:
            with self.assertRaises(orvik.ComError) as caught:
                m.SetNegate()  # a table call that fails
            self.assertEqual((caught.exception.name, caught.exception.member,
                              caught.exception.argerr), ("E_NOTIMPL", "IMatrix.SetNegate", None))


class Failures(unittest.TestCase):
    def test_an_operations_own_failure_is_its_code(self):
        m = orvik.Dispatch("Orvik.Matrix")
        with self.assertRaises(orvik.ComError) as caught:
            m.Element(1)  # the second index left to its default, -1
        error = caught.exception
        self.assertIsInstance(error, OSError)
        self.assertEqual((error.hresult, error.name, error.member),
                         (E_INVALIDARG, "E_INVALIDARG", "IMatrix.Element"))
        # The cause is said once; the platform's echo of the code is no description.
        self.assertIsNone(error.description)
        self.assertEqual(str(error),
                         "IMatrix.Element failed: The parameter is incorrect. (E_INVALIDARG, "
                         "0x80070057)")

    def test_an_argument_the_call_refuses_is_named_by_position(self):
        p = orvik.Dispatch("Orvik.Point")
        with self.assertRaises(orvik.ComError) as caught:
            p.Add(orvik.Dispatch("Orvik.Point"))  # a point where a vector belongs
        self.assertEqual((caught.exception.hresult, caught.exception.argerr),
                         (DISP_E_TYPEMISMATCH, 0))

    def test_wrong_types_are_refused_before_any_call(self):
        p = orvik.Dispatch("Orvik.Point")
        for call in (lambda: p.Set("one"), lambda: p.Add(3), lambda: p.Set(1, 2, 3, 4, 5),
                     lambda: p.Set(W=1), lambda: p.Add()):
            with self.assertRaises(TypeError):
                call()

    def test_released_wrappers_and_unknown_classes(self):
        p = orvik.Dispatch("Orvik.Point")
        p.release()
        with self.assertRaises(ValueError):
            p.X
        p.release()  # a second release does nothing
        with self.assertRaises(orvik.ComError) as caught:
            orvik.Dispatch("Orvik.Nothing")
        self.assertEqual(caught.exception.name, "CO_E_CLASSSTRING")
        with self.assertRaises(orvik.ComError) as caught:
            orvik.Dispatch("{12345678-1234-1234-1234-123456789ABC}")
        self.assertEqual(caught.exception.name, "REGDB_E_CLASSNOTREG")
        with self.assertRaises(orvik.ComError) as caught:
            orvik.Dispatch("Orvik.Point\0junk")  # not "Orvik.Point" cut short
        self.assertEqual(caught.exception.name, "CO_E_CLASSSTRING")

    def test_a_parameter_named_twice_in_two_cases_is_refused(self):
        p = orvik.Dispatch("Orvik.Point")
        with self.assertRaises(TypeError):
            p.Set(X=1, x=2)
        with self.assertRaises(TypeError):
            p.Set(1, x=2)
        p.Set(x=1, y=2, Z=3)
        self.assertEqual(p.Get()[:3], (1.0, 2.0, 3.0))


# Run in a child process of its own: a fault there is a failed test, not the end of
# the suite.
def run_child(body):
    source = textwrap.dedent("""
        import ctypes, os, sys, threading
        os.environ["ORVIK_REGISTRY"] = %r
        import orvik
        """ % os.environ["ORVIK_REGISTRY"]) + textwrap.dedent(body)
    return subprocess.run([sys.executable, "-c", source], capture_output=True, text=True,
                          timeout=120)


class Hostile(unittest.TestCase):
    def test_release_on_one_thread_while_another_calls_never_faults(self):
        child = run_child("""
            def reader(p, outcome):
                try:
                    while True:
                        p.X  # straight from the table
                        p.Get()  # through Invoke
                        p.Add(v)  # through the table, an object argument
                except ValueError:
                    outcome.append("released")

            v = orvik.Dispatch("Orvik.Vector")
            for round in range(300):
                p, outcome = orvik.Dispatch("Orvik.Point"), []
                thread = threading.Thread(target=reader, args=(p, outcome))
                thread.start()
                for spin in range(round % 50):
                    pass
                p.release()
                thread.join()
                assert outcome == ["released"], outcome
                if round % 3 == 0:  # the argument released under the call instead
                    v.release()
                    v = orvik.Dispatch("Orvik.Vector")
            print("done")
            """)
        self.assertEqual(child.returncode, 0, child.stderr[-2000:])
        self.assertEqual(child.stdout.strip(), "done")

    def test_hostile_arguments_raise_and_never_fault(self):
        child = run_child("""
            p = orvik.Dispatch("Orvik.Point")
            m = orvik.Dispatch("Orvik.Matrix")
            gone = orvik.Dispatch("Orvik.Vector")
            gone.release()
            libc_table = (ctypes.c_void_p * 3)(*[ctypes.cast(f, ctypes.c_void_p).value
                                                  for f in (ctypes.CDLL(None).abs,) * 3])
            libc_object = ctypes.c_void_p(ctypes.addressof(libc_table))
            calls = [
                lambda: orvik.Dispatch(123),
                lambda: orvik.Dispatch(-1),
                lambda: orvik.Dispatch(2**64 + 5),
                lambda: orvik.Dispatch(1.5),
                lambda: orvik.Dispatch(True),
                lambda: orvik.Dispatch(None),
                lambda: orvik.Dispatch(b"Orvik.Point"),
                lambda: orvik.Dispatch(object()),
                lambda: orvik.Dispatch(id(object())),
                lambda: orvik.Dispatch(ctypes.c_void_p(8)),
                lambda: orvik.Dispatch(ctypes.addressof(libc_object)),
                lambda: orvik.Dispatch(""),
                lambda: orvik.Dispatch("x" * 100000),
                lambda: orvik.Dispatch(p),
                lambda: p.Add(123),
                lambda: p.Add(m),
                lambda: p.Add(gone),
                lambda: p.Set(*range(20)),
                lambda: setattr(p, "X", "abc"),
                lambda: setattr(p, "X", 10**400),
                lambda: setattr(p, "AsArray", [object()]),
                lambda: setattr(p, "AsArray", "abc"),
                lambda: setattr(p, "AsArray", None),
                lambda: m.Element(2**80, 0),
                lambda: m.Element("a", 0),
                lambda: getattr(p, "\\0"),
                lambda: gone.X,
                lambda: gone.Set(1, 2, 3),
                lambda: setattr(gone, "X", 1),
            ]
            for i, call in enumerate(calls):
                try:
                    call()
                except Exception:
                    continue
                print("call %d raised nothing" % i)
            print("done")
            """)
        self.assertEqual(child.returncode, 0, child.stderr[-2000:])
        self.assertEqual(child.stdout.strip(), "done")


if __name__ == "__main__":
    unittest.main()


class Words(unittest.TestCase):
    def test_a_bool_given_for_a_number_is_the_number_python_says_it_is(self):
        p = orvik.Dispatch("Orvik.Point")
        p.X = True
        self.assertEqual(p.X, 1.0)
        p.Set(False, True, 2)
        self.assertEqual(p.Get()[:3], (0.0, 1.0, 2.0))

    def test_an_object_names_the_class_that_made_it(self):
        p = orvik.Dispatch("Orvik.Point")
        sum_ = p.Add(orvik.Dispatch("Orvik.Vector"))
        for shown in (repr(p), repr(sum_)):
            self.assertRegex(shown, r"^<orvik\.Point IPoint at 0x[0-9a-f]+>$")
        self.assertNotEqual(repr(p), repr(sum_))
        self.assertRegex(repr(orvik.Dispatch("Orvik.Matrix")), r"^<orvik\.Matrix IMatrix at 0x")
        sum_.release()
        self.assertEqual(repr(sum_), "<orvik.Point IPoint (released)>")

    def test_an_object_made_without_registration_says_to_register(self):
        child = run_child("""
            os.environ["ORVIK_REGISTRY"] = os.path.join(%r, "empty-store.db")
            try:
                orvik.Dispatch("Orvik.Point")
            except orvik.ComError as error:
                print(error.name, error.member)
                print(error.description)
            """ % tempfile.mkdtemp(prefix="orvik-empty-"))
        self.assertEqual(child.returncode, 0, child.stderr)
        self.assertIn("TYPE_E_LIBNOTREGISTERED IDispatch.GetTypeInfo", child.stdout)
        self.assertIn("python3 -m orvik register PATH/liborvik.so", child.stdout)

