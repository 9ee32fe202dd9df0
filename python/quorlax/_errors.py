"""Exceptions raised for the library's negative result codes."""
from __future__ import annotations

from typing import Dict, NoReturn, Optional, Type

from . import _native

__all__ = [
    "shown",
    "QuorlaxError",
    "InvalidArgumentError",
    "NotConfiguredError",
    "BufferFullError",
    "UnsupportedError",
    "OutOfMemoryError",
    "raise_for_code",
]


def shown(value: object, limit: int = 60) -> str:
    """`value` as an error message quotes it: its repr, cut short when long
    (a whole recording passed by mistake must not make a megabyte message)."""
    text = repr(value)
    return text if len(text) <= limit else f"{text[:limit - 15]}... ({len(text)} characters)"


class QuorlaxError(Exception):
    """A call into the library failed.

    Attributes
    ----------
    code : int
        The library's negative result code.
    """

    code: int

    def __init__(self, code: int, detail: Optional[str] = None) -> None:
        self.code = int(code)
        text = _native.error_text(self.code)
        super().__init__(f"{detail}: {text}" if detail else text)


class InvalidArgumentError(QuorlaxError):
    """Result code -4: the library refused an argument."""


class NotConfiguredError(QuorlaxError):
    """Result code -5: the handle is missing or was never configured."""


class BufferFullError(QuorlaxError):
    """Result code -6: the decoder's queue had no room even after draining."""


class UnsupportedError(QuorlaxError):
    """Result code -7: the mode cannot work at this rate or with this grid."""


class OutOfMemoryError(QuorlaxError, MemoryError):
    """Result code -8: the library could not get the memory it needed."""


_BY_CODE: Dict[int, Type[QuorlaxError]] = {
    _native.ERROR_INVALID_ARGUMENT: InvalidArgumentError,
    _native.ERROR_NOT_CONFIGURED: NotConfiguredError,
    _native.ERROR_BUFFER_FULL: BufferFullError,
    _native.ERROR_UNSUPPORTED: UnsupportedError,
    _native.ERROR_OUT_OF_MEMORY: OutOfMemoryError,
}


def raise_for_code(code: int, detail: Optional[str] = None) -> NoReturn:
    """Raise the exception class that belongs to `code`."""
    raise _BY_CODE.get(int(code), QuorlaxError)(code, detail)
