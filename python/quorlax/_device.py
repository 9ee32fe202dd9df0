"""Playing and listening through the machine's own sound devices.

The devices are reached through the `_quorlax_device` extension module
(PortAudio); it is loaded on first use, so the rest of the package works on a
machine without it.
"""
from __future__ import annotations

import time
import warnings
from dataclasses import dataclass
from types import ModuleType, TracebackType
from typing import Any, Iterator, List, Optional, Type, Union

import numpy as np

from ._codec import Decoder, Message, encode
from ._errors import shown
from ._modes import DEFAULT_BASE_HZ, DEFAULT_SEPARATION, ModeLike, check_rate, decoding_rate

__all__ = ["Device", "DeviceError", "InputOverflowWarning", "Listening", "devices", "listen", "play"]

# Samples asked of the device per read; about 0.1 s, well below the latency target.
_READ = 4096
# Seconds to wait for the device per read before looking at Ctrl-C again.
_WAIT = 0.1


class DeviceError(OSError):
    """A sound device is missing, busy, refused the request or went away."""


class InputOverflowWarning(UserWarning):
    """Input was dropped because it was not read in time; listening went on."""


@dataclass(frozen=True)
class Device:
    """One input or output device, as `devices()` lists them.

    Attributes
    ----------
    index : int
        What ``device=`` accepts, besides the name.
    name, description, host : str
        Device name, the sound server's description (may be empty), host API.
    input_channels, output_channels : int
    default_rate : int
        Hz.
    default_input, default_output : bool
        Used when no device is named.
    server_default : bool
        The sound server's own default sink or source.
    """

    index: int
    name: str
    description: str
    host: str
    input_channels: int
    output_channels: int
    default_rate: int
    default_input: bool
    default_output: bool
    server_default: bool


def _native() -> ModuleType:
    try:
        import _quorlax_device
    except ImportError as e:
        raise DeviceError(f"sound devices are not available in this build of quorlax ({e})") from None
    return _quorlax_device


def _device_argument(device: Union[None, int, str]) -> str:
    if device is None:
        return "default"
    if isinstance(device, bool) or not isinstance(device, (int, str)):
        raise TypeError(f"device must be a name, an index or None, not {type(device).__name__}")
    if isinstance(device, int) and device < 0:
        raise ValueError(f"device index must be 0 or more, not {device}")
    return str(device)


class _Translated:
    """Turns the extension's DeviceError into quorlax.DeviceError."""

    def __init__(self, native: ModuleType) -> None:
        self._native = native

    def __enter__(self) -> None:
        return None

    def __exit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                 tb: Optional[TracebackType]) -> None:
        if exc is not None and isinstance(exc, self._native.DeviceError):
            raise DeviceError(str(exc)) from None


def devices() -> List[Device]:
    """Input and output devices of this machine.

    Raises
    ------
    DeviceError
        When the sound system cannot be started.
    """
    native = _native()
    with _Translated(native):
        return [Device(**d) for d in native.devices()]


def play(text: str, mode: ModeLike = "audible", rate: Optional[int] = None,
         device: Union[None, int, str] = None, *, repeat: int = 1, gap: float = 1.0) -> None:
    """Send a message through an output device; returns once it has been played.

    Parameters
    ----------
    text : str
        Nine characters from ``0``-``9`` and ``a``-``v``.
    mode : str or int
        As `encode`; ``"all"`` sends non-audible.
    rate : int, optional
        44100 or 48000 (22050 audible); default: the device's own rate when it
        is one of these, else 48000.
    device : str or int, optional
        Name, unique part of a name or description, or index (see
        `devices`); None or ``"default"`` for the default output.
    repeat, gap : int, float
        Send it `repeat` times with `gap` seconds of silence between.

    Raises
    ------
    DeviceError
        No such device, a rate it refuses, or it stopped playing.
    """
    native = _native()
    if isinstance(repeat, bool) or not isinstance(repeat, (int, np.integer)) or \
            not 1 <= repeat <= native.MAX_REPEAT:
        raise ValueError(f"repeat must be a whole number from 1 to {native.MAX_REPEAT}, not {shown(repeat)}")
    if isinstance(gap, bool) or not isinstance(gap, (int, float, np.integer, np.floating)) or \
            not 0 <= gap <= native.MAX_GAP_SECONDS:
        raise ValueError(f"gap must be from 0 to {native.MAX_GAP_SECONDS:g} seconds, not {shown(gap)}")
    wanted = _device_argument(device)
    with _Translated(native):
        if rate is None:
            # The device's own rate where the mode works at it, the device found as
            # play finds it (the program's rule).
            rate = decoding_rate(mode, int(native.find(wanted, False)["default_rate"]))
        native.play(encode(text, mode, rate), rate, wanted, int(repeat), float(gap))


class Listening:
    """Messages heard on an input device, as they complete; see `listen`.

    Iterating yields `Message` objects; `close()` (or leaving a ``with``
    block) releases the device. Message times count from the first captured
    sample.

    Attributes
    ----------
    rate : int
        Capture rate, Hz.
    device : str
        Name of the device listened to.
    samples_read : int
        Samples handed to the decoder so far.
    """

    def __init__(self, mode: ModeLike = "all", device: Union[None, int, str] = None,
                 seconds: Optional[float] = None, *, rate: Optional[int] = None,
                 failed: bool = False, buffer_seconds: float = 8.0,
                 base_hz: float = DEFAULT_BASE_HZ, separation: int = DEFAULT_SEPARATION) -> None:
        if seconds is not None and not (np.isfinite(seconds) and seconds > 0):
            raise ValueError(f"seconds must be above 0, not {shown(seconds)}")
        if not (np.isfinite(buffer_seconds) and 0 < buffer_seconds <= 600):
            raise ValueError(f"buffer_seconds must be above 0 and at most 600, not {shown(buffer_seconds)}")
        if rate is not None:
            rate = check_rate(rate)
        self._native = _native()
        self._capture: Any = None
        with _Translated(self._native):
            cap = self._native.Capture(_device_argument(device), int(rate or 0), float(buffer_seconds))
        self._capture = cap
        try:
            # The listener behind Decoder hears every band of the mode at once and
            # converts rates it cannot work at.
            self._decoder = Decoder(cap.rate, mode, base_hz=base_hz, separation=separation, failed=failed)
        except BaseException:
            self.close()
            raise
        self.rate: int = cap.rate
        self.device: str = cap.device
        self._limit = None if seconds is None else int(seconds * cap.rate)
        self._pending: List[Message] = []
        self._finished = False
        self.samples_read = 0

    @property
    def samples_at_input(self) -> float:
        """Samples that have reached the input so far, also those not yet decoded."""
        cap = self._capture
        if cap is None or cap.closed:
            return float(self.samples_read)
        return cap.delivered + cap.input_latency * cap.rate

    @property
    def closed(self) -> bool:
        """True once the device has been released."""
        return self._capture is None

    def wait_started(self, timeout: float = 10.0) -> bool:
        """Wait until the device delivers audio; a sound server may take a second or two.

        What arrives meanwhile is decoded as usual. Returns False if nothing
        came within `timeout` seconds.
        """
        deadline = time.monotonic() + timeout
        while self.samples_read == 0 and not self._finished:
            if time.monotonic() >= deadline:
                return False
            self._step()
        return self.samples_read > 0

    def __iter__(self) -> Iterator[Message]:
        return self

    def __next__(self) -> Message:
        while True:
            if self._pending:
                return self._pending.pop(0)
            if self._finished:
                raise StopIteration
            self._step()

    def _step(self) -> None:
        cap = self._capture
        if cap is None:
            self._finished = True
            return
        want = _READ if self._limit is None else min(_READ, self._limit - self.samples_read)
        if want <= 0:
            self._finish()
            return
        with _Translated(self._native):
            try:
                chunk = cap.read(want, _WAIT)
            except BaseException:
                self.close()
                raise
            self._warn_overflow(cap.take_overflow(False))
        if len(chunk):
            self.samples_read += len(chunk)
            self._pending.extend(self._decoder.feed(chunk))

    def _finish(self) -> None:
        self._pending.extend(self._decoder.close())
        self._finished = True
        self.close()

    def _warn_overflow(self, lost: int) -> None:
        if lost > 0:
            warnings.warn(f"input overflow: {lost} samples ({1000 * lost // self.rate} ms) lost; listening goes on",
                          InputOverflowWarning, stacklevel=4)

    def close(self) -> None:
        """Release the device (pending overflow reports are given first)."""
        cap, self._capture = self._capture, None
        if cap is not None:
            try:
                self._warn_overflow(cap.take_overflow(True))
            finally:
                cap.close()

    def __enter__(self) -> "Listening":
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                 tb: Optional[TracebackType]) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_capture", None) is not None:
            self.close()


def listen(mode: ModeLike = "all", device: Union[None, int, str] = None, seconds: Optional[float] = None,
           **options: Any) -> Listening:
    """Listen on an input device and yield each message as soon as it completes.

    ::

        for message in quorlax.listen(mode="all", seconds=30):
            print(message.text, message.band)

    Parameters
    ----------
    mode : str or int
        Band(s) to listen to; ``"all"`` hears the three fixed bands.
    device : str or int, optional
        Name, unique part of a name or description, or index (see
        `devices`); None or ``"default"`` for the default input.
    seconds : float, optional
        Stop after this much captured audio; None listens until the loop ends.
    **options
        ``rate`` (capture rate in Hz, a whole number; default the device's own), ``failed``
        (also yield messages that failed their check), ``buffer_seconds``
        (input kept while the loop body runs, at most 600; more is dropped
        with an `InputOverflowWarning`), ``base_hz`` and ``separation`` (custom mode).

    Returns
    -------
    Listening
        An iterator of `Message`, also a context manager.

    Raises
    ------
    TypeError, ValueError
        A rate that is no whole number of samples per second above 0, and other bad values.
    DeviceError
        No such device, a rate it refuses, or it stopped sending audio.
    """
    return Listening(mode, device, seconds, **options)
