"""Modes, rates and the bands, as the library's queries give them."""
from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Dict, List, Optional, Tuple, Union

import numpy as np

from . import _native
from ._errors import UnsupportedError, raise_for_code, shown

MODES: Dict[str, int] = {name: value for value, name in _native.modes()}
MODE_NAMES: Dict[int, str] = {v: k for k, v in MODES.items()}

# Rates the library works at directly (when the mode's band fits); audio at
# any other rate is converted to DEFAULT_RATE to be decoded.
RATES: Tuple[int, ...] = tuple(_native.sample_rates())
DEFAULT_RATE = 48000

# A mode that hears one band is that band; "all" hears several.
BAND_NAMES: Tuple[str, ...] = tuple(
    name for name, value in MODES.items() if _native.mode_info(value, DEFAULT_RATE)["hears"] == [value])

MESSAGE_LENGTH: int = _native.MESSAGE_LENGTH
ALPHABET: str = _native.ALPHABET
DEFAULT_BASE_HZ: float = _native.DEFAULT_BASE_HZ
DEFAULT_SEPARATION: int = _native.DEFAULT_SEPARATION

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
    names = list(MODES)
    raise ValueError(f"unknown mode {shown(mode)} (choose {', '.join(names[:-1])} or {names[-1]})")


def mode_name(band_mode: int) -> str:
    """Name of a band (or mode), as the library names it."""
    return MODE_NAMES.get(int(band_mode), "unknown")


def describe(mode: int, rate: int, base_hz: float = DEFAULT_BASE_HZ, separation: int = DEFAULT_SEPARATION) -> str:
    """'audible mode at 44100 Hz', with the grid for custom mode."""
    if mode == MODES["custom"]:
        return f"custom mode (base {base_hz:g} Hz, separation {separation}) at {rate} Hz"
    return f"{MODE_NAMES[mode]} mode at {rate} Hz"


def check_rate(rate: Union[int, float]) -> int:
    """The rate as an int: a whole, positive number of samples per second."""
    if isinstance(rate, bool) or not isinstance(rate, (int, float, np.integer, np.floating)):
        raise TypeError(f"rate must be a number of samples per second, not {type(rate).__name__}")
    if not math.isfinite(float(rate)) or float(rate) != int(rate) or int(rate) <= 0:
        raise ValueError(f"rate must be a whole number of samples per second above 0, not {shown(rate)}")
    return int(rate)


def check_library_rate(rate: Union[int, float]) -> int:
    """The rate as an int; UnsupportedError unless the library works at it directly."""
    rate = check_rate(rate)
    if rate not in RATES:
        works = ", ".join(str(r) for r in RATES[:-1]) + f" and {RATES[-1]}"
        raise UnsupportedError(_native.ERROR_UNSUPPORTED, f"{rate} Hz (quorlax works at {works} Hz, where the mode fits)")
    return rate


def decoding_rate(mode: ModeLike, rate: int, base_hz: float = DEFAULT_BASE_HZ,
                  separation: int = DEFAULT_SEPARATION) -> int:
    """Rate at which audio recorded at `rate` is decoded: `rate` itself when the
    library works there for the mode, DEFAULT_RATE otherwise (the quorlax program's rule)."""
    value = mode_value(mode)
    if rate in RATES:
        code = _native.is_supported(value, float(rate), float(base_hz), int(separation))
        if code == 0:
            return rate
        if code != _native.ERROR_UNSUPPORTED:
            raise_for_code(code, describe(value, rate, base_hz, separation))
    return DEFAULT_RATE


def mode_info(mode: ModeLike, rate: int, base_hz: float = DEFAULT_BASE_HZ,
              separation: int = DEFAULT_SEPARATION) -> Dict[str, object]:
    """What the library says `mode` is at `rate`: name, bands sent and heard,
    token and transmission lengths in samples, the longest encoder output and
    the range on air in Hz. UnsupportedError where the mode does not work."""
    value = mode_value(mode)
    try:
        info: Dict[str, object] = _native.mode_info(value, float(rate), float(base_hz), int(separation))
        return info
    except _native.LibraryError as e:
        raise_for_code(e.args[0], describe(value, int(rate), base_hz, separation))


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


def band_grids(rate: int, base_hz: Optional[float] = None, separation: int = DEFAULT_SEPARATION) -> List[BandGrid]:
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
    modes = [MODES[name] for name in BAND_NAMES if name != "custom" or base_hz is not None]
    for mode in modes:
        try:
            info = _native.band_info(mode, float(rate), float(base_hz or DEFAULT_BASE_HZ), int(separation))
        except _native.LibraryError:
            info = None
        if info is not None:
            grids.append(BandGrid(info["name"], tuple(info["tones"]), info["shift_hz"]))
    return grids
