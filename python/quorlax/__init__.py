"""Quorlax: nine-character messages sent as sound.

A typed package over the Quorlax library::

    import quorlax
    audio = quorlax.encode("hello1234", mode="audible", rate=44100)
    for m in quorlax.decode(audio, rate=44100):
        print(m.text, m.ok, m.band, m.time)
    quorlax.decode_file("recording.flac")      # any length, a block at a time

Encoding works at 44100 and 48000 Hz for every mode, 22050 Hz for audible
(and custom when its grid fits); decoding at any rate (converted as the
quorlax program does). Nothing is printed.
"""
from __future__ import annotations

import re

from . import _native
from ._audio import read, read_wav, write, write_wav
from ._codec import Decoder, Message, as_mono, check_message, decode, decode_file, encode
from ._device import Device, DeviceError, InputOverflowWarning, Listening, devices, listen, play
from ._errors import (
    BufferFullError,
    InvalidArgumentError,
    NotConfiguredError,
    OutOfMemoryError,
    QuorlaxError,
    UnsupportedError,
)
from ._inspect import inspect
from ._modes import BAND_NAMES, MODES, RATES, BandGrid, band_grids, mode_info
from ._scan import scan


def _library_version() -> str:
    text = _native.version()
    found = re.search(r"version\s+(\d+(?:\.\d+)*)", text)
    return found.group(1) if found else "0"


__version__: str = _library_version()

__all__ = [
    "__version__",
    "encode",
    "decode",
    "decode_file",
    "Decoder",
    "Message",
    "inspect",
    "read",
    "write",
    "scan",
    "read_wav",
    "write_wav",
    "as_mono",
    "check_message",
    "band_grids",
    "BandGrid",
    "MODES",
    "BAND_NAMES",
    "RATES",
    "mode_info",
    "QuorlaxError",
    "InvalidArgumentError",
    "NotConfiguredError",
    "OutOfMemoryError",
    "BufferFullError",
    "UnsupportedError",
    "play",
    "listen",
    "devices",
    "Device",
    "Listening",
    "DeviceError",
    "InputOverflowWarning",
]
