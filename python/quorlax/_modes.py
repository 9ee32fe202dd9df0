"""Modes, rates and the tone grids of the three fixed bands."""
from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Dict, List, Optional, Tuple, Union

import numpy as np

import _quorlax

from ._errors import UnsupportedError, raise_for_code

MODES: Dict[str, int] = {
    "audible": 2,
    "nonaudible": 3,
    "compression": 4,
    "all": 5,
    "custom": 6,
}
MODE_NAMES: Dict[int, str] = {v: k for k, v in MODES.items()}
# Index = QUORLAX_GetDecodedMode.
BAND_NAMES: Tuple[str, ...] = ("audible", "nonaudible", "compression", "custom")

# The lead-in (window - hop) is only known for these; the library accepts a few
# more for some modes, but the CLI never decodes at them either.
RATES: Tuple[int, ...] = (22050, 44100, 48000)
_ANALYSIS: Dict[int, Tuple[int, int]] = {22050: (1024, 128), 44100: (2048, 256), 48000: (2048, 64)}

TOKENS_PER_TRANSMISSION = 20
MESSAGE_LENGTH = 9
ALPHABET = "0123456789abcdefghijklmnopqrstuv"

ModeLike = Union[str, int]


def band_name(band: int) -> str:
    """Name of a band index reported by the decoder ("unknown" when none)."""
    return BAND_NAMES[band] if 0 <= band < len(BAND_NAMES) else "unknown"


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


def check_rate(rate: Union[int, float]) -> int:
    """The rate as an int; UnsupportedError unless it is 22050, 44100 or 48000."""
    if isinstance(rate, bool) or not isinstance(rate, (int, float, np.integer, np.floating)):
        raise TypeError(f"rate must be a number of samples per second, not {type(rate).__name__}")
    if float(rate) not in RATES:
        raise UnsupportedError(-7, f"{rate} Hz (quorlax works at 44100 and 48000 Hz, and 22050 Hz for "
                                   "audible and custom; resample the audio first)")
    return int(rate)


def analysis(rate: int) -> Tuple[int, int]:
    """(window, hop) of the decoder's spectrum at `rate`."""
    return _ANALYSIS[check_rate(rate)]


def lead_in(rate: int) -> int:
    """Silence pushed ahead of a stream so frames can start before its first sample."""
    window, hop = analysis(rate)
    return window - hop


def token_samples(rate: int) -> int:
    """Samples per token, computed in single precision as the library does."""
    return int(np.float32(0.10448979586362839) * np.float32(rate))


def configure(handle: object, mode: ModeLike, rate: int, buffer_size: int,
              base_hz: float = 12000.0, separation: int = 1) -> int:
    """Configure `handle`; raises the matching QuorlaxError on failure.

    The custom grid is process-wide, so it is set right before the pair is built.
    """
    value = mode_value(mode)
    rate = check_rate(rate)
    what = f"{MODE_NAMES[value]} mode at {rate} Hz"
    if value == MODES["custom"]:
        what = f"custom mode (base {base_hz:g} Hz, separation {separation}) at {rate} Hz"
        r = _quorlax.QUORLAX_SetCustomBaseFreq(float(base_hz), int(separation), handle)
        if r != 0:
            raise_for_code(r, what)
    r = _quorlax.QUORLAX_Configure(value, float(rate), int(buffer_size), handle)
    if r != 0:
        # -1 only means an unknown mode, which mode_value already rules out.
        raise_for_code(r if r < -1 else -7, what)
    return value


@dataclass(frozen=True)
class BandGrid:
    """The nine tones of one band at one rate.

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


# (first tone, step, shift step) in Hz before rounding to bins.
_FIXED_GRIDS: Dict[str, Tuple[float, float, float]] = {
    "audible": (3300.0, 750.0, 258.3984375),
    "nonaudible": (17800.0, 258.3984375, 86.1328125),
    "compression": (14000.0, 193.798828125, 64.599609375),
}


def _whole_bins(hz: float, bin_hz: float) -> float:
    return math.floor(hz / bin_hz + 0.5) * bin_hz


def band_grids(rate: int, base_hz: Optional[float] = None, separation: int = 1) -> List[BandGrid]:
    """Tone grids of the bands that fit below half of `rate`.

    Parameters
    ----------
    rate : int
        Sample rate in Hz (22050, 44100 or 48000).
    base_hz : float, optional
        When given, the custom band with this lowest tone is added (asked of the
        library, so it matches what a custom decoder listens to).
    separation : int
        Custom band separation.
    """
    window, _ = analysis(rate)
    bin_hz = rate / window
    grids = []
    for name, (first, step, shift) in _FIXED_GRIDS.items():
        f0, df = _whole_bins(first, bin_hz), _whole_bins(step, bin_hz)
        g = BandGrid(name, tuple(f0 + i * df for i in range(9)), _whole_bins(shift, bin_hz))
        if g.high < rate / 2:
            grids.append(g)
    if base_hz is not None:
        h = _quorlax.QUORLAX_Create()
        try:
            configure(h, "custom", rate, 1024, base_hz, separation)
            begin = _quorlax.QUORLAX_GetDecodingBeginFreq(h)
            step = (_quorlax.QUORLAX_GetDecodingEndFreq(h) - begin) / 9.0
            grids.append(BandGrid("custom", tuple(begin + i * step for i in range(9)), step / 3.0))
        except UnsupportedError:
            pass
        finally:
            _quorlax.QUORLAX_Destroy(h)
    return grids
