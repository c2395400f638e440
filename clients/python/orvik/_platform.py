"""The platform library through ctypes, gathered from the modules that hold each idea:
structure layouts and constants (_layouts), the library and its functions
(_library), 16-bit text (_strings), table calls (_tables) and the registry
(_registry)."""

from ._layouts import *  # noqa: F401,F403
from ._layouts import HRESULT, Slot  # noqa: F401
from ._library import *  # noqa: F401,F403
from ._library import SONAME, _declare, installed_module, lib  # noqa: F401
from ._registry import *  # noqa: F401,F403
from ._strings import bstr, from_bstr, utf16z  # noqa: F401
from ._tables import (add_ref, call, entry, plausible_interface, query_interface,  # noqa: F401
                      release, take_error_description)
