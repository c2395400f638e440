"""Type stubs of the orvik package. python3 -m orvik stubs writes stubs that also
name the registered classes and their members."""
from typing import Any, Literal, Optional, Sequence, Tuple, overload


class ComError(OSError):
    hresult: int
    name: Optional[str]
    member: Optional[str]
    argerr: Optional[int]
    description: Optional[str]


__version__: str


def code_name(hresult: int) -> Optional[str]: ...
def register_module(module: str) -> str: ...
def unregister_module(module: str) -> str: ...


class Dispatch:
    def release(self) -> None: ...
    def __enter__(self) -> "Dispatch": ...
    def __exit__(self, *exc: object) -> None: ...
    # Written stubs end here; the package's own stub goes on for any member.
    def __new__(cls, target: object) -> "Dispatch": ...
    def __getattr__(self, name: str) -> Any: ...
