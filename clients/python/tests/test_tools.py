"""The package's command line and its own build backend."""

import base64
import hashlib
import importlib.machinery
import importlib.util
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE_ROOT = os.path.dirname(HERE)


def run_orvik(*args, store, cwd=None):
    env = dict(os.environ, ORVIK_REGISTRY=store, PYTHONPATH=PACKAGE_ROOT)
    return subprocess.run([sys.executable, "-m", "orvik", *args], env=env, capture_output=True,
                          text=True, cwd=cwd)


class CommandLine(unittest.TestCase):
    def test_register_list_and_unregister(self):
        with tempfile.TemporaryDirectory() as work:
            store = os.path.join(work, "registry.db")
            module = os.environ["ORVIK_MODULE"]
            empty = run_orvik("classes", store=store)
            self.assertEqual((empty.returncode, empty.stdout), (1, ""))
            self.assertIn("no Orvik class is registered in " + store, empty.stderr)
            done = run_orvik("register", module, store=store)
            self.assertEqual(done.returncode, 0, done.stderr)
            lines = run_orvik("classes", store=store).stdout.splitlines()
            self.assertEqual(len(lines), 12)
            self.assertEqual(lines[0].split(),
                             ["Orvik.Angle.1", "Orvik.Angle", "{1761DDB6-360E-11D4-BDF9-00500400405B}"])
            self.check_stubs(work, store)
            self.assertEqual(run_orvik("unregister", module, store=store).returncode, 0)
            self.assertEqual(run_orvik("classes", store=store).stdout, "")
            missing = run_orvik("register", os.path.join(work, "none.so"), store=store)
            self.assertEqual(missing.returncode, 3)
            self.assertIn("cannot load", missing.stderr)
            self.assertEqual(run_orvik("frobnicate", store=store).returncode, 2)

    def test_the_version_is_the_projects(self):
        with open(os.path.join(PACKAGE_ROOT, "..", "..", "CMakeLists.txt")) as cmake:
            version = re.search(r"project\(Orvik VERSION ([0-9.]+)", cmake.read()).group(1)
        shown = run_orvik("--version", store=os.devnull)
        self.assertEqual((shown.returncode, shown.stdout.strip()), (0, "orvik " + version))
        env = dict(os.environ, PYTHONPATH=PACKAGE_ROOT)
        imported = subprocess.run([sys.executable, "-c", "import orvik; print(orvik.__version__)"],
                                  env=env, capture_output=True, text=True)
        self.assertEqual(imported.stdout.strip(), version, imported.stderr)

    def test_a_broken_script_is_told_by_position_and_reason(self):
        with tempfile.TemporaryDirectory() as work:
            store = os.path.join(work, "registry.db")
            broken = os.path.join(work, "liborvik.so")
            with open(os.environ["ORVIK_MODULE"], "rb") as original:
                data = original.read()
            # The Matrix class's script, made to name a root key that does not exist.
            data = data.replace(b"HKCR\r\n{\r\n\tOrvik.Matrix.1", b"HKXX\r\n{\r\n\tOrvik.Matrix.1")
            with open(broken, "wb") as copy:
                copy.write(data)
            where = os.path.realpath(broken) + "(REGISTRY 104):1:1: unknown root key 'HKXX'"
            done = run_orvik("register", broken, store=store)
            self.assertEqual(done.returncode, 5)
            self.assertEqual(done.stderr.strip(), "orvik: DllRegisterServer failed: Exception "
                             "occurred. (DISP_E_EXCEPTION, 0x80020009): " + where)
            env = dict(os.environ, ORVIK_REGISTRY=store, PYTHONPATH=PACKAGE_ROOT)
            caught = subprocess.run([sys.executable, "-c", """if True:
                import sys, orvik
                try:
                    orvik.register_module(sys.argv[1])
                except orvik.ComError as error:
                    print(error.hresult == 0x80020009, error.description)
                """, broken], env=env, capture_output=True, text=True)
            self.assertEqual(caught.stdout.strip(), "True " + where, caught.stderr)


    def check_stubs(self, work, store):
        # An identifier as another module could register it: text that, written raw
        # into the stub, would end the literal and run code.
        hostile = 'Orvik.Point"]) -> "IPoint": ...\nimport sys; sys.exit(7)\n#'
        setter = subprocess.run([sys.executable, "-c", """if True:
            import ctypes, sys
            from orvik import _platform as P
            key = ctypes.c_void_p()
            P._declare("RegOpenKeyExA", ctypes.c_int32, ctypes.c_void_p, ctypes.c_char_p,
                       ctypes.c_uint32, ctypes.c_uint32, ctypes.POINTER(ctypes.c_void_p))
            assert P.lib.RegOpenKeyExA(P.HKEY_CLASSES_ROOT,
                b"CLSID\\\\{283075AE-B177-11D3-BE8E-0060B0EB1D67}\\\\VersionIndependentProgID",
                0, 0xF003F,
                ctypes.byref(key)) == 0
            text = sys.argv[1].encode() + b"\\0"
            P._declare("RegSetValueExA", ctypes.c_int32, ctypes.c_void_p, ctypes.c_char_p,
                       ctypes.c_uint32, ctypes.c_uint32, ctypes.c_char_p, ctypes.c_uint32)
            assert P.lib.RegSetValueExA(key, None, 0, 1, text, len(text)) == 0
            P.RegCloseKey(key)
            """, hostile], env=dict(os.environ, ORVIK_REGISTRY=store, PYTHONPATH=PACKAGE_ROOT),
            capture_output=True, text=True)
        self.assertEqual(setter.returncode, 0, setter.stderr)
        written = run_orvik("stubs", work, store=store)
        self.assertEqual(written.returncode, 0, written.stderr)
        path = os.path.join(work, "orvik", "__init__.pyi")
        self.assertEqual(written.stdout.strip(), path)
        with open(path) as stub:
            text = stub.read()
        self.assertIn("class IPoint(Dispatch):", text)
        self.assertIn("def Set(self, X: float = ..., Y: float = ..., Z: float = ..., "
                      "Error: float = ...) -> None: ...", text)
        self.assertIn("def Get(self) -> Tuple[float, float, float, float]: ...", text)
        self.assertIn('def __new__(cls, target: Literal["Orvik.Point.1"]) -> "IPoint": ...', text)
        # The stub is Python an interpreter runs as it stands.
        loader = importlib.machinery.SourceFileLoader("orvik_stub", path)
        module = importlib.util.module_from_spec(importlib.util.spec_from_loader("orvik_stub", loader))
        loader.exec_module(module)
        self.assertTrue(issubclass(module.IMatrix, module.Dispatch))
        self.assertIn("Literal[%s]" % json.dumps(hostile), text)
        # By default into ./typings, never beside the installed package.
        default = run_orvik("stubs", store=store, cwd=work)
        self.assertEqual(default.stdout.strip(), os.path.join("typings", "orvik", "__init__.pyi"))
        self.assertTrue(os.path.exists(os.path.join(work, "typings", "orvik", "__init__.pyi")))


class BuildBackend(unittest.TestCase):
    def test_the_wheel_holds_the_package_and_a_record_that_matches_it(self):
        sys.path.insert(0, os.path.join(PACKAGE_ROOT, "build_backend"))
        try:
            import orvik_backend
        finally:
            sys.path.pop(0)
        with tempfile.TemporaryDirectory() as out:
            name = orvik_backend.build_wheel(out)
            with open(os.path.join(PACKAGE_ROOT, "..", "..", "CMakeLists.txt")) as cmake:
                self.assertIn("project(Orvik VERSION %s " % orvik_backend.VERSION, cmake.read())
            self.assertEqual(name, "orvik-%s-py3-none-any.whl" % orvik_backend.VERSION)
            info = "orvik-%s.dist-info/" % orvik_backend.VERSION
            with zipfile.ZipFile(os.path.join(out, name)) as wheel:
                names = set(wheel.namelist())
                self.assertTrue({"orvik/__init__.py", "orvik/_dispatch.py", "orvik/__main__.py",
                                 "orvik/py.typed", "orvik/__init__.pyi", info + "WHEEL"} <= names)
                record = wheel.read(info + "RECORD").decode().splitlines()
                for line in record:
                    path, digest, size = line.rsplit(",", 2)
                    if path.endswith("RECORD"):
                        continue
                    data = wheel.read(path)
                    expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
                    self.assertEqual((digest, int(size)), ("sha256=" + expected.decode(), len(data)))
                self.assertIn("Root-Is-Purelib: true", wheel.read(info + "WHEEL").decode())
                compile(wheel.read("orvik/__init__.pyi"), "__init__.pyi", "exec")  # Python
                metadata = wheel.read(info + "METADATA").decode()
                self.assertIn("License: MIT", metadata)
                self.assertIn("Author: the Orvik developers", metadata)
                self.assertIn(b"MIT License", wheel.read(info + "LICENSE"))
                self.assertEqual(wheel.read("orvik/_version.py").decode(),
                                 "VERSION = %r\n" % orvik_backend.VERSION)

    @unittest.skipIf(subprocess.run([sys.executable, "-m", "pip", "--version"],
                                    capture_output=True).returncode != 0, "no pip here")
    def test_pip_installs_the_package_without_any_index(self):
        with tempfile.TemporaryDirectory() as target:
            done = subprocess.run([sys.executable, "-m", "pip", "install", "--no-index",
                                   "--no-cache-dir", "--disable-pip-version-check", "--target",
                                   target, PACKAGE_ROOT], capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr)
            found = subprocess.run(
                [sys.executable, "-c",
                 "import orvik, sys; sys.stdout.write(orvik.__file__ + ' ' + orvik.__version__)"],
                env=dict(os.environ, PYTHONPATH=target), cwd=target, capture_output=True,
                text=True)
            self.assertEqual(found.returncode, 0, found.stderr)
            where, version = found.stdout.split(" ")
            self.assertEqual(os.path.dirname(where), os.path.join(target, "orvik"))
            self.assertRegex(version, r"^[0-9]+\.[0-9]+\.[0-9]+$")  # the wheel's own record
            # Without ORVIK_PLATFORM_LIB, the copy finds the platform library through the
            # orvik.pc that pkg-config finds.
            pc = os.path.join(target, "pc")
            os.makedirs(pc)
            with open(os.path.join(pc, "orvik.pc"), "w") as out:
                out.write("libdir=%s\nName: orvik\nDescription: a test\nVersion: %s\n"
                          % (os.path.dirname(os.environ["ORVIK_PLATFORM_LIB"]), version))
            env = {k: v for k, v in os.environ.items() if k != "ORVIK_PLATFORM_LIB"}
            for pkg_config_path, works in ((pc, True), (os.path.join(target, "none"), False)):
                tried = subprocess.run(
                    [sys.executable, "-c", "import orvik"], cwd=target, capture_output=True,
                    text=True, env=dict(env, PYTHONPATH=target, PKG_CONFIG_PATH=pkg_config_path,
                                        LD_LIBRARY_PATH=""))
                self.assertEqual(tried.returncode == 0, works, tried.stderr)
            self.assertIn("PKG_CONFIG_PATH to the folder of its orvik.pc", tried.stderr)


if __name__ == "__main__":
    unittest.main()


class CreationFailures(unittest.TestCase):
    """A failed creation tells the store searched and the cause, in a process of its
    own so that no module is loaded here."""

    def create(self, **env):
        environment = {k: v for k, v in os.environ.items() if k != "ORVIK_MODULE"}
        environment.update(env, PYTHONPATH=PACKAGE_ROOT)
        return subprocess.run(
            [sys.executable, "-c", "import orvik\ntry:\n orvik.Dispatch('Orvik.Point')\n"
             "except orvik.ComError as e:\n print(e.name)\n print(e.description)"],
            env=environment, capture_output=True, text=True).stdout

    def test_each_cause_is_told(self):
        with tempfile.TemporaryDirectory() as work:
            store = os.path.join(work, "none", "registry.db")
            out = self.create(ORVIK_REGISTRY=store)
            self.assertIn("CO_E_CLASSSTRING", out)
            self.assertIn("there is no registry store at " + store, out)
            self.assertIn("python3 -m orvik register", out)
            self.assertFalse(os.path.exists(os.path.join(work, "none")))

            text = os.path.join(work, "notes.txt")
            with open(text, "w") as f:
                f.write("not a store\n")
            out = self.create(ORVIK_REGISTRY=text)
            self.assertIn("the registry store %s cannot be read" % text, out)

            missing = os.path.join(work, "gone.so")
            out = self.create(ORVIK_REGISTRY=store, ORVIK_MODULE=missing)
            self.assertIn("ERROR_MOD_NOT_FOUND", out)
            self.assertIn("ORVIK_MODULE names %s, which does not exist" % missing, out)


class Layouts(unittest.TestCase):
    def test_every_structure_is_laid_out_as_the_c_headers_lay_it_out(self):
        printer = os.environ.get("ORVIK_LAYOUTS_PRINTER")
        if not printer:
            self.skipTest("no layout printer named (ORVIK_LAYOUTS_PRINTER)")
        from orvik import _layouts
        printed = dict(line.rsplit(" ", 1) for line in
                       subprocess.run([printer], capture_output=True, text=True,
                                      check=True).stdout.splitlines())
        for layout in _layouts.LAYOUTS:
            name = layout.__name__
            self.assertEqual(ctypes_size(layout), int(printed[name]), name)
            for field, _ in layout._fields_:
                key = "%s.%s" % (name, field)
                self.assertIn(key, printed, "the C side prints no offset for " + key)
                self.assertEqual(getattr(layout, field).offset, int(printed[key]), key)


def ctypes_size(layout):
    import ctypes
    return ctypes.sizeof(layout)


class Example(unittest.TestCase):
    def test_the_readme_example_is_the_example_script_and_runs(self):
        root = os.path.join(PACKAGE_ROOT, "..", "..")
        with open(os.path.join(root, "README.md")) as readme:
            section = readme.read().split("## From Python", 1)[1]
        lines = section.splitlines()
        start = next(i for i, line in enumerate(lines) if line.startswith("    "))
        block = []
        for line in lines[start:]:
            if not line.startswith("    "):
                break
            block.append(line[4:])
        self.assertTrue(block and block[0].startswith("import orvik"), block)
        script_path = os.path.join(root, "examples", "python_example.py")
        with open(script_path) as script:
            self.assertIn("\n".join(block) + "\n", script.read())
        with tempfile.TemporaryDirectory() as work:
            store = os.path.join(work, "registry.db")
            self.assertEqual(run_orvik("register", os.environ["ORVIK_MODULE"],
                                       store=store).returncode, 0)
            env = dict(os.environ, ORVIK_REGISTRY=store, PYTHONPATH=PACKAGE_ROOT)
            ran = subprocess.run([sys.executable, script_path], env=env, capture_output=True,
                                 text=True)
            self.assertEqual(ran.returncode, 0, ran.stderr)
            self.assertTrue(ran.stdout.startswith("point (1.0, 2.0, 3.0) error "), ran.stdout)
