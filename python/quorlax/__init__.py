"""Quorlax: nine-character messages sent as sound.

A thin, typed layer over the `_quorlax` extension module::

    import quorlax
    audio = quorlax.encode("hello1234", mode="audible", rate=44100)
    for m in quorlax.decode(audio, rate=44100):
        print(m.text, m.ok, m.band, m.time)

Rates: 44100 and 48000 Hz for every mode, 22050 Hz for audible (and custom
when its grid fits); other rates raise `UnsupportedError`.
"""
from __future__ import annotations

import re

import _quorlax

from ._codec import Decoder, Message, as_mono, check_message, decode, encode
from ._device import Device, DeviceError, InputOverflowWarning, Listening, devices, listen, play
from ._errors import (
    BufferFullError,
    InvalidArgumentError,
    NotConfiguredError,
    QuorlaxError,
    UnsupportedError,
)
from ._inspect import inspect
from ._modes import BAND_NAMES, MODES, RATES, BandGrid, band_grids
from ._wav import read_wav, write_wav


def _library_version() -> str:
    text = _quorlax.QUORLAX_GetVersion() or ""
    found = re.search(r"version\s+(\d+(?:\.\d+)*)", text)
    return found.group(1) if found else "0"


__version__: str = _library_version()

__all__ = [
    "__version__",
    "encode",
    "decode",
    "Decoder",
    "Message",
    "inspect",
    "read_wav",
    "write_wav",
    "as_mono",
    "check_message",
    "band_grids",
    "BandGrid",
    "MODES",
    "BAND_NAMES",
    "RATES",
    "QuorlaxError",
    "InvalidArgumentError",
    "NotConfiguredError",
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
