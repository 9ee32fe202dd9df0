"""Modes, rates and the bands, as the library's band table gives them."""
from __future__ import annotations

import math
from dataclasses import dataclass
from functools import lru_cache
from typing import Dict, List, Optional, Tuple, Union

import numpy as np

from . import _native
from ._errors import UnsupportedError, raise_for_code

MODES: Dict[str, int] = {
    "audible": 2,
    "nonaudible": 3,
    "compression": 4,
    "all": 5,
    "custom": 6,
}
MODE_NAMES: Dict[int, str] = {v: k for k, v in MODES.items()}
BAND_NAMES: Tuple[str, ...] = ("audible", "nonaudible", "compression", "custom")

# Rates the library works at directly (when the mode's band fits); audio at
# any other rate is converted to 48000 Hz to be decoded.
RATES: Tuple[int, ...] = (22050, 44100, 48000)

MESSAGE_LENGTH = 9
ALPHABET = "0123456789abcdefghijklmnopqrstuv"

ModeLike = Union[str, int]


def mode_value(mode: ModeLike) -> int:
    """Numeric mode for a name such as ``"audible"`` (or a number 2..6).

    Raises
    ------
    ValueError
        For an unknown name or number.
    """
    if isinstance(mode, str):
        key = mode.strip().lower().replace("-", "").replace("_", "")
        if key in MODES:
            return MODES[key]
    elif isinstance(mode, (int, np.integer)) and not isinstance(mode, bool) and int(mode) in MODE_NAMES:
        return int(mode)
    raise ValueError(f"unknown mode {mode!r} (choose audible, nonaudible, compression, all or custom)")


@lru_cache(maxsize=None)
def mode_name(band_mode: int) -> str:
    """Name of the band a mode sends in, from the library's table."""
    info = _native.band_info(int(band_mode), 48000.0) if band_mode != MODES["custom"] else None
    return info["name"] if info else MODE_NAMES.get(int(band_mode), "unknown")


def describe(mode: int, rate: int, base_hz: float = 12000.0, separation: int = 1) -> str:
    """'audible mode at 44100 Hz', with the grid for custom mode."""
    if mode == MODES["custom"]:
        return f"custom mode (base {base_hz:g} Hz, separation {separation}) at {rate} Hz"
    return f"{MODE_NAMES[mode]} mode at {rate} Hz"


def check_rate(rate: Union[int, float]) -> int:
    """The rate as an int: a whole, positive number of samples per second."""
    if isinstance(rate, bool) or not isinstance(rate, (int, float, np.integer, np.floating)):
        raise TypeError(f"rate must be a number of samples per second, not {type(rate).__name__}")
    if not math.isfinite(float(rate)) or float(rate) != int(rate) or int(rate) <= 0:
        raise ValueError(f"rate must be a whole number of samples per second above 0, not {rate!r}")
    return int(rate)


def check_library_rate(rate: Union[int, float]) -> int:
    """The rate as an int; UnsupportedError unless the library works at it directly."""
    rate = check_rate(rate)
    if rate not in RATES:
        raise UnsupportedError(-7, f"{rate} Hz (quorlax sends at 44100 and 48000 Hz, and 22050 Hz for "
                                   "audible and custom)")
    return rate


def decoding_rate(mode: ModeLike, rate: int, base_hz: float = 12000.0, separation: int = 1) -> int:
    """Rate at which audio recorded at `rate` is decoded: `rate` itself when the
    library works there for the mode, 48000 otherwise (the quorlax program's rule)."""
    if rate in RATES:
        try:
            _native.Listener(mode_value(mode), float(rate), float(base_hz), int(separation))
            return rate
        except _native.LibraryError as e:
            if e.args[0] != -7:
                raise_for_code(e.args[0], describe(mode_value(mode), rate, base_hz, separation))
    return 48000


def token_samples(rate: int) -> int:
    """Samples per token, computed in single precision as the library does."""
    return int(np.float32(0.10448979586362839) * np.float32(rate))


@dataclass(frozen=True)
class BandGrid:
    """The nine tones of one band at one rate, from the library's band table.

    Attributes
    ----------
    name : str
        Band name.
    tones : tuple of float
        The nine tone frequencies in Hz, lowest first.
    shift : float
        The shift step in Hz (message tokens are raised by 0, 1 or 2 of them).
    """

    name: str
    tones: Tuple[float, ...]
    shift: float

    @property
    def low(self) -> float:
        """Lower edge of the band's box: half a step under the lowest tone."""
        return self.tones[0] - 0.5 * (self.tones[1] - self.tones[0])

    @property
    def high(self) -> float:
        """Upper edge: the highest tone raised twice, plus half a step."""
        return self.tones[-1] + 2 * self.shift + 0.5 * (self.tones[1] - self.tones[0])


def band_grids(rate: int, base_hz: Optional[float] = None, separation: int = 1) -> List[BandGrid]:
    """Tone grids of the fixed bands that fit at `rate`, and the custom band when `base_hz` is given.

    Parameters
    ----------
    rate : int
        Sample rate in Hz.
    base_hz : float, optional
        Lowest tone of the custom band to add.
    separation : int
        Custom band separation.
    """
    grids = []
    modes = [MODES["audible"], MODES["nonaudible"], MODES["compression"]]
    if base_hz is not None:
        modes.append(MODES["custom"])
    for mode in modes:
        try:
            info = _native.band_info(mode, float(rate), float(base_hz or 12000.0), int(separation))
        except _native.LibraryError:
            info = None
        if info is not None:
            grids.append(BandGrid(info["name"], tuple(info["tones"]), info["shift_hz"]))
    return grids
