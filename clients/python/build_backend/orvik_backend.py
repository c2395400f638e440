"""The package's own build backend: a wheel of the pure-Python package, made with the
standard library alone, so that `pip install clients/python` needs no network and no
build tools beyond the interpreter."""

import base64
import hashlib
import os
import re
import zipfile

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def project_version():
    """The project's version, written once: in the top-level CMakeLists.txt."""
    with open(os.path.join(HERE, "..", "..", "CMakeLists.txt")) as cmake:
        found = re.search(r"project\(Orvik VERSION ([0-9.]+)", cmake.read())
    if not found:
        raise RuntimeError("no project version in the top-level CMakeLists.txt")
    return found.group(1)


NAME, VERSION = "orvik", project_version()
DIST_INFO = "%s-%s.dist-info" % (NAME, VERSION)
METADATA = """Metadata-Version: 2.1
Name: orvik
Version: %s
Summary: Orvik's geometry objects from Python, called by name
Author: the Orvik developers
License: MIT
Classifier: License :: OSI Approved :: MIT License
Classifier: Programming Language :: Python :: 3
Classifier: Operating System :: POSIX :: Linux
Requires-Python: >=3.8
""" % VERSION
WHEEL = """Wheel-Version: 1.0
Generator: orvik_backend
Root-Is-Purelib: true
Tag: py3-none-any
"""


def _digest(data):
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


def _package_files():
    root = os.path.join(HERE, NAME)
    for name in sorted(os.listdir(root)):
        if (name.endswith((".py", ".pyi")) or name == "py.typed") and \
                name not in ("_installed.py", "_version.py"):
            yield "%s/%s" % (NAME, name), os.path.join(root, name)


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    target = os.path.join(metadata_directory, DIST_INFO)
    os.makedirs(target, exist_ok=True)
    with open(os.path.join(target, "METADATA"), "w") as out:
        out.write(METADATA)
    with open(os.path.join(target, "WHEEL"), "w") as out:
        out.write(WHEEL)
    return DIST_INFO


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    name = "%s-%s-py3-none-any.whl" % (NAME, VERSION)
    records = []
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as wheel:
        entries = []
        for arcname, path in _package_files():
            with open(path, "rb") as source:
                entries.append((arcname, source.read()))
        # The version, written into the package it is built with.
        entries.append((NAME + "/_version.py", ("VERSION = %r\n" % VERSION).encode()))
        with open(os.path.join(HERE, "..", "..", "LICENSE"), "rb") as licence:
            entries.append((DIST_INFO + "/LICENSE", licence.read()))
        entries += [(DIST_INFO + "/METADATA", METADATA.encode()),
                    (DIST_INFO + "/WHEEL", WHEEL.encode())]
        for arcname, data in entries:
            wheel.writestr(arcname, data)
            records.append("%s,%s,%d" % (arcname, _digest(data), len(data)))
        records.append(DIST_INFO + "/RECORD,,")
        wheel.writestr(DIST_INFO + "/RECORD", "\n".join(records) + "\n")
    return name
