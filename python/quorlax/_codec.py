"""Encoding, whole-stream decoding and the streaming Decoder."""
from __future__ import annotations

import contextlib
import threading
from dataclasses import dataclass, field
from types import TracebackType
from typing import Any, List, Optional, Tuple, Type

import numpy as np
import numpy.typing as npt

import _quorlax

from ._errors import raise_for_code
from ._modes import (
    ALPHABET,
    MESSAGE_LENGTH,
    TOKENS_PER_TRANSMISSION,
    ModeLike,
    band_name,
    check_rate,
    configure,
    lead_in,
    token_samples,
)

__all__ = ["Message", "Decoder", "encode", "decode", "as_mono"]

# Silence pushed after the input so the last message's read-out is reached.
TAIL_SILENCE = 4096
# The decoder reports a front door once two tokens past the transmission's start.
_DOOR_LAG_TOKENS = 2
_ENCODE_BUFFER = 8192

_FloatArray = npt.NDArray[np.float32]


@dataclass(frozen=True)
class Message:
    """One message the decoder read out.

    Attributes
    ----------
    text : str
        The nine characters (``0``-``9``, ``a``-``v``).
    ok : bool
        True when the text passed its check.
    band : str
        Band it was heard in: ``"audible"``, ``"nonaudible"``, ``"compression"``,
        ``"custom"`` (or ``"unknown"``).
    confidence : float
        0..1: level above the band combined with `confidence_error`.
    confidence_error : float
        Share of the 12 message positions that needed no correction.
    noise_db : float
        Mean level of the decided tones above the rest of the band, dB.
    level_db : float
        Received level of the decided tones, dB (may be ``-inf``).
    time : float
        Estimated start of the transmission (its front door), in seconds from
        the first sample of the stream.
    """

    text: str
    ok: bool
    band: str
    confidence: float
    confidence_error: float
    noise_db: float
    level_db: float
    time: float


@dataclass
class _Trace:
    """What the decoder reported on the way to one message (for pictures)."""

    message: Optional[Message]
    door_sample: int  # samples of input consumed at the front door, -1 if unseen
    tokens: List[Tuple[int, int]] = field(default_factory=list)  # (token, input samples consumed)


def as_mono(audio: npt.ArrayLike) -> _FloatArray:
    """Convert any array-like of samples to a contiguous 1-D float32 array.

    A 2-D array is read as (samples, channels) and its first channel is used.
    Integer samples are converted without scaling.

    Raises
    ------
    ValueError
        For scalars, arrays of more than two dimensions or with no channel.
    TypeError
        For data that are not numbers.
    """
    a = np.asarray(audio)
    if a.ndim == 2:
        if a.shape[1] == 0:
            raise ValueError("audio has no channel (shape %r)" % (a.shape,))
        a = a[:, 0]
    elif a.ndim != 1:
        raise ValueError(f"audio must be 1-D (mono) or 2-D (samples, channels), not {a.ndim}-D")
    if a.dtype.kind not in "fiub":
        raise TypeError(f"audio samples must be numbers, not {a.dtype}")
    return np.ascontiguousarray(a, dtype=np.float32)


def _shown(c: str) -> str:
    return c if " " <= c <= "~" else repr(c)[1:-1]


def _check_alphabet(text: str, what: str) -> None:
    if not isinstance(text, str):
        raise TypeError(f"{what} must be a str, not {type(text).__name__}")
    for i, c in enumerate(text):
        if not c.isascii() or c.lower() not in ALPHABET:
            raise ValueError(f"invalid character '{_shown(c)}' at position {i} in {what} (allowed: 0-9, a-v)")


def check_message(message: str) -> str:
    """Validate a message, returning it in lower case.

    Raises
    ------
    ValueError
        Naming the first character outside ``0``-``9``/``a``-``v`` (either
        case) and its position (counted from 0), or the wrong length.
    """
    _check_alphabet(message, "message")
    if len(message) != MESSAGE_LENGTH:
        raise ValueError(f"message '{message}' has {len(message)} characters; it needs exactly {MESSAGE_LENGTH}")
    return message.lower()


class _Discard:
    """Stands in for sys.stdout: the binding prints one line per encoded buffer."""

    def write(self, s: str) -> int:
        return len(s)

    def flush(self) -> None:
        pass


_stdout_lock = threading.Lock()


def encode(message: str, mode: ModeLike = "audible", rate: int = 44100, *,
           melody: Optional[str] = None, synth: bool = False, volume_db: Optional[float] = None,
           base_hz: float = 12000.0, separation: int = 1) -> _FloatArray:
    """Synthesise one transmission of `message`.

    Parameters
    ----------
    message : str
        Nine characters from ``0``-``9`` and ``a``-``v`` (either case).
    mode : str or int
        ``"audible"``, ``"nonaudible"``, ``"compression"``, ``"all"`` (sends
        non-audible) or ``"custom"``; or the numbers 2..6.
    rate : int
        44100 or 48000 (every mode), 22050 (audible; custom when it fits).
    melody : str, optional
        Notes (``0``-``9``, ``a``-``v``) blended into the transmission.
    synth : bool
        Blend a random melody in instead.
    volume_db : float, optional
        Gain of the `synth` melody in dB. The library keeps it process-wide.
    base_hz, separation : float, int
        Custom mode grid: lowest tone and separation.

    Returns
    -------
    numpy.ndarray
        float32 mono samples, 20 tokens long.

    Raises
    ------
    ValueError
        Bad message, melody or option combination.
    UnsupportedError
        The mode cannot work at `rate`.

    Notes
    -----
    The binding prints a line for every buffer it hands out; `sys.stdout` is
    swapped for a sink while the samples are collected, so output printed by
    other threads at that moment is lost.
    """
    message = check_message(message)
    if melody is not None and synth:
        raise ValueError("choose either melody or synth, not both")
    if volume_db is not None and not synth:
        raise ValueError("volume_db sets the gain of the synth melody; pass synth=True")
    notes = b""
    if melody is not None:
        if melody == "":
            raise ValueError("melody needs at least one note (0-9, a-v)")
        _check_alphabet(melody, "melody")
        notes = melody.lower().encode("ascii")
    kind = 1 if synth else (2 if melody is not None else 0)
    rate = check_rate(rate)
    h = _quorlax.QUORLAX_Create()
    if h is None:
        raise MemoryError("cannot create a quorlax handle")
    try:
        configure(h, mode, rate, _ENCODE_BUFFER, base_hz, separation)
        if volume_db is not None:
            r = _quorlax.QUORLAX_SetSynthVolume(float(volume_db), h)
            if r != 0:
                raise ValueError(f"volume_db {volume_db!r}: {_quorlax.QUORLAX_GetErrorText(r)}")
        n = _quorlax.QUORLAX_EncodeDataToAudioBuffer(message, MESSAGE_LENGTH, kind, notes, len(notes), h)
        if n < 0:
            if kind == 2 and n == -4:
                most = int(np.float32(rate) * 10) // token_samples(rate)
                raise ValueError(f"melody of {len(notes)} notes is too long (at most {most} at {rate} Hz)")
            raise_for_code(n, f"cannot encode '{message}'")
        out = np.empty(n, np.float32)
        buf = np.zeros(_ENCODE_BUFFER, np.float32)
        pos = 0
        with _stdout_lock, contextlib.redirect_stdout(_Discard()):  # type: ignore[type-var]
            while (got := _quorlax.GetEncodedAudioBuffer(buf, h)) > 0:
                out[pos:pos + got] = buf[:got]
                pos += got
        if got < 0:
            raise_for_code(got, "cannot encode")
        return out[:pos]
    finally:
        _quorlax.QUORLAX_Destroy(h)


class Decoder:
    """Streaming decoder: feed it audio in chunks of any size.

    Samples are handed to the library in pushes of `buffer_size`, each drained
    until the library needs more audio, so results do not depend on how the
    input is cut up. `window - hop` samples of silence are pushed at
    construction so that a transmission at the very first sample is found, and
    `close()` (or leaving a ``with`` block without an exception) pushes 4096
    samples of silence so the last message is read out.

    Parameters
    ----------
    rate : int
        44100 or 48000 (every mode), 22050 (audible; custom when it fits).
    mode : str or int
        Which band(s) to listen to; ``"all"`` hears the three fixed bands.
    base_hz, separation : float, int
        Custom mode grid.
    buffer_size : int
        Samples per push.

    Attributes
    ----------
    messages : list of Message
        Every message read out so far, including those that `close()` found.

    Raises
    ------
    UnsupportedError
        The mode cannot work at `rate`.

    Examples
    --------
    >>> with Decoder(rate=48000) as dec:            # doctest: +SKIP
    ...     for chunk in chunks:
    ...         for m in dec.feed(chunk):
    ...             print(m.text, m.ok, m.time)
    >>> dec.messages                                 # doctest: +SKIP
    """

    def __init__(self, rate: int = 48000, mode: ModeLike = "all", *, base_hz: float = 12000.0,
                 separation: int = 1, buffer_size: int = 1024) -> None:
        self._h: Any = None
        self.rate = check_rate(rate)
        if isinstance(buffer_size, bool) or not isinstance(buffer_size, int) or buffer_size < 1:
            raise ValueError(f"buffer_size must be a positive int, not {buffer_size!r}")
        h = _quorlax.QUORLAX_Create()
        if h is None:
            raise MemoryError("cannot create a quorlax handle")
        try:
            self.mode = configure(h, mode, self.rate, buffer_size, base_hz, separation)
        except BaseException:
            _quorlax.QUORLAX_Destroy(h)
            raise
        self._h = h
        self._block = np.zeros(buffer_size, np.float32)
        self._empty = np.zeros(0, np.float32)
        self._filled = 0
        self._fed = 0  # samples handed to the library, lead-in included
        self._lead = lead_in(self.rate)
        self._token = token_samples(self.rate)
        self._door = -1
        self._current: Optional[_Trace] = None
        self._out: List[Message] = []
        self.samples_in = 0
        self.messages: List[Message] = []
        self._traces: List[_Trace] = []
        self._push(np.zeros(self._lead, np.float32))

    # -- public -----------------------------------------------------------------

    def feed(self, audio: npt.ArrayLike) -> List[Message]:
        """Decode more audio.

        Parameters
        ----------
        audio : array-like
            Mono samples (a 2-D array's first column is used).

        Returns
        -------
        list of Message
            Messages completed by this chunk, in order.
        """
        if self._h is None:
            raise ValueError("feed() on a closed Decoder")
        x = as_mono(audio)
        self.samples_in += len(x)
        return self._push(x)

    def close(self) -> List[Message]:
        """Push the closing silence, release the library's decoder.

        Returns
        -------
        list of Message
            Messages that only the closing silence completed.
        """
        if self._h is None:
            return []
        try:
            out = self._push(np.zeros(TAIL_SILENCE, np.float32))
            if self._filled:
                n, self._filled = self._filled, 0
                self._feed_block(self._block[:n])
                out.extend(self._take())
            return out
        finally:
            self._release()

    @property
    def closed(self) -> bool:
        """True once `close()` has run."""
        return self._h is None

    def __enter__(self) -> "Decoder":
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                 tb: Optional[TracebackType]) -> None:
        if exc_type is None:
            self.close()
        else:
            self._release()

    def __del__(self) -> None:
        self._release()

    # -- internals ----------------------------------------------------------------

    def _release(self) -> None:
        h, self._h = getattr(self, "_h", None), None
        if h is not None:
            _quorlax.QUORLAX_Destroy(h)

    def _take(self) -> List[Message]:
        out, self._out = self._out, []
        return out

    def _push(self, x: _FloatArray) -> List[Message]:
        block = self._block
        size = len(block)
        i, n = 0, len(x)
        while i < n:
            if self._filled == 0 and n - i >= size:
                self._feed_block(x[i:i + size])
                i += size
                continue
            k = min(size - self._filled, n - i)
            block[self._filled:self._filled + k] = x[i:i + k]
            self._filled += k
            i += k
            if self._filled == size:
                self._filled = 0
                self._feed_block(block)
        return self._take()

    def _feed_block(self, x: _FloatArray) -> None:
        h = self._h
        r = _quorlax.DecodeAudioBuffer(x, len(x), h)
        if r == -6:
            self._drain()
            r = _quorlax.DecodeAudioBuffer(x, len(x), h)
        if r < -3:
            raise_for_code(r, "decoder")
        self._fed += len(x)
        self._handle(r)
        self._drain()

    def _drain(self) -> None:
        h, empty = self._h, self._empty
        while (r := _quorlax.DecodeAudioBuffer(empty, 0, h)) != -1:
            if r < -3:
                raise_for_code(r, "decoder")
            self._handle(r)

    def _handle(self, event: int) -> None:
        if event == -2:
            self._door = self._fed
            self._current = _Trace(None, self._fed - self._lead)
        elif event >= 0:
            if self._current is not None:
                self._current.tokens.append((event, self._fed - self._lead))
        elif event == -3:
            self._emit()

    def _emit(self) -> None:
        h = self._h
        r, text = _quorlax.GetDecodedData(h)
        trace, self._current = self._current, None
        door, self._door = self._door, -1
        if r != MESSAGE_LENGTH and r != -9:
            return
        # As the CLI does: count back from the front door report, or a whole
        # transmission when there was none.
        start = (door - _DOOR_LAG_TOKENS * self._token if door >= 0
                 else self._fed - TOKENS_PER_TRANSMISSION * self._token)
        m = Message(
            text=text,
            ok=r == MESSAGE_LENGTH,
            band=band_name(_quorlax.QUORLAX_GetDecodedMode(h)),
            confidence=float(_quorlax.QUORLAX_GetConfidence(h)),
            confidence_error=float(_quorlax.QUORLAX_GetConfidenceError(h)),
            noise_db=float(_quorlax.QUORLAX_GetConfidenceNoise(h)),
            level_db=float(_quorlax.QUORLAX_GetReceivedZunsVolume(h)),
            time=max(0.0, (start - self._lead) / self.rate),
        )
        self._out.append(m)
        self.messages.append(m)
        if trace is None:
            trace = _Trace(m, -1)
        trace.message = m
        self._traces.append(trace)


def decode(audio: npt.ArrayLike, rate: int = 44100, mode: ModeLike = "all", *,
           base_hz: float = 12000.0, separation: int = 1) -> List[Message]:
    """Decode a whole recording.

    Silence is added before (so a transmission at the first sample is found)
    and after (so one ending at the last sample is read out).

    Parameters
    ----------
    audio : array-like
        Mono samples; a 2-D (samples, channels) array's first channel is used.
    rate : int
        44100 or 48000 (every mode), 22050 (audible; custom when it fits).
        Other rates raise UnsupportedError: resample first.
    mode : str or int
        ``"all"`` (default) hears the audible, non-audible and compression bands.
    base_hz, separation : float, int
        Custom mode grid.

    Returns
    -------
    list of Message
        Every message read out, passed or failed its check, in order.
    """
    x = as_mono(audio)
    dec = Decoder(rate, mode, base_hz=base_hz, separation=separation)
    dec.feed(x)
    dec.close()
    return dec.messages


def decode_traced(audio: npt.ArrayLike, rate: int, mode: ModeLike = "all", *,
                  base_hz: float = 12000.0, separation: int = 1) -> List[_Trace]:
    """Like decode(), with the front door and token events of every message."""
    dec = Decoder(rate, mode, base_hz=base_hz, separation=separation)
    dec.feed(audio)
    dec.close()
    return dec._traces

