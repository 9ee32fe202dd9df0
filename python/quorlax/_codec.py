"""Encoding, decoding whole recordings and files, and the streaming Decoder."""
from __future__ import annotations

import os
from dataclasses import dataclass
from types import TracebackType
from typing import Any, List, Optional, Type, Union

import numpy as np
import numpy.typing as npt

from . import _native
from ._errors import raise_for_code, shown
from ._modes import (
    ALPHABET,
    DEFAULT_BASE_HZ,
    DEFAULT_SEPARATION,
    MESSAGE_LENGTH,
    ModeLike,
    check_library_rate,
    check_rate,
    decoding_rate,
    describe,
    mode_name,
    mode_value,
    mode_info,
)

__all__ = ["Message", "Decoder", "encode", "decode", "decode_file", "as_mono"]

_FloatArray = npt.NDArray[np.float32]

# decode_file's largest block: a block is held in memory at once.
_MAX_BLOCK = 1 << 22


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
        Band it was heard in: ``"audible"``, ``"nonaudible"``, ``"compression"`` or ``"custom"``.
    confidence : float
        0..1: how far the tones stood above the band, and how few positions needed correcting.
    level_db : float
        Received level of its tones, dB re full scale (a full-scale sine reads 0).
    time : float
        Start of its front door, in seconds from the first sample of the stream.
    end : float
        End of its last token, in seconds from the first sample.
    pitch_offset : float
        Its tones' frequencies over the grid's, minus 1: ``0.02`` when they arrived 2 % high
        (a sender moving closer, or playing fast).
    tempo_offset : float
        Its tokens' rate over the nominal, minus 1: ``0.02`` when they came 2 % fast. A sender
        playing 2 % fast, or whose clock runs 2 % fast, shows ``0.02`` in both.
    """

    text: str
    ok: bool
    band: str
    confidence: float
    level_db: float
    time: float
    end: float
    pitch_offset: float = 0.0
    tempo_offset: float = 0.0


def as_mono(audio: npt.ArrayLike, what: str = "audio") -> _FloatArray:
    """Convert an array-like of mono samples to a contiguous 1-D float32 array.

    A (frames, 1) array counts as mono. Integer samples are converted without scaling.

    Raises
    ------
    TypeError
        For a file name or path (read it with `quorlax.read` or use `decode_file`),
        and for data that are not numbers.
    ValueError
        For several channels (pick one: ``audio[:, k]``), channels-first arrays,
        scalars and arrays of more than two dimensions.
    """
    if isinstance(audio, (bytes, bytearray, memoryview)):
        raise TypeError(f"{what} must be samples (a 1-D array of numbers), not {len(audio)} bytes: a file name "
                        f"is read with quorlax.read() or decode_file(); raw little-endian float32 samples are "
                        f"numpy.frombuffer(data, '<f4')")
    if isinstance(audio, (str, os.PathLike)):
        raise TypeError(f"{what} must be samples (a 1-D array), not the file name {shown(audio)}: read the file "
                        f"with quorlax.read(), or decode it with quorlax.decode_file()")
    a = np.asarray(audio)
    if a.ndim == 2 and a.shape[1] == 1:
        a = a[:, 0]
    elif a.ndim == 2:
        if a.shape[0] < a.shape[1] and a.shape[0] <= 8:
            raise ValueError(f"{what} of shape {a.shape} looks channels-first, and {a.shape[0]} channels are "
                             f"more than one: pass one of them as a 1-D array, e.g. {what}[0]")
        raise ValueError(f"{what} must be mono, a 1-D array of samples; this one has {a.shape[1]} channels "
                         f"(shape {a.shape}): pass one of them, e.g. {what}[:, 0]")
    elif a.ndim != 1:
        raise ValueError(f"{what} must be mono, a 1-D array of samples, not {a.ndim}-D of shape {a.shape}")
    if a.dtype.kind not in "fiub":
        raise TypeError(f"{what} samples must be numbers, not {a.dtype}")
    return np.ascontiguousarray(a, dtype=np.float32)


def _shown(c: str) -> str:
    return c if " " <= c <= "~" else repr(c)[1:-1]


def _check_alphabet(text: str, what: str) -> None:
    if not isinstance(text, str):
        raise TypeError(f"{what} must be a str, not {type(text).__name__}")
    for i, c in enumerate(text):
        if not c.isascii() or c.lower() not in ALPHABET:
            raise ValueError(f"invalid character '{_shown(c)}' at position {i + 1} in {what} (allowed: 0-9, a-v)")


def check_message(message: str) -> str:
    """Validate a message, returning it in lower case.

    Raises
    ------
    ValueError
        Naming the first character outside ``0``-``9``/``a``-``v`` (either
        case) and its position (counted from 1, as the quorlax program counts),
        or the wrong length.
    """
    _check_alphabet(message, "message")
    if len(message) != MESSAGE_LENGTH:
        raise ValueError(f"message {shown(message)} has {len(message)} characters; it needs exactly "
                         f"{MESSAGE_LENGTH}")
    return message.lower()


def encode(message: str, mode: ModeLike = "audible", rate: int = 44100, *,
           melody: Optional[str] = None, synth: bool = False, volume_db: Optional[float] = None,
           base_hz: float = DEFAULT_BASE_HZ, separation: int = DEFAULT_SEPARATION) -> _FloatArray:
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
        Gain of the `synth` melody in dB, from -60 to 0 (0, the library's
        default, makes it as loud as the tones). The library keeps it process-wide.
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
    """
    message = check_message(message)
    if melody is not None and synth:
        raise ValueError("choose either melody or synth, not both")
    if volume_db is not None and not synth:
        raise ValueError("volume_db sets the gain of the synth melody; pass synth=True")
    low, high = _native.SYNTH_VOLUME_MIN_DB, _native.SYNTH_VOLUME_MAX_DB
    if volume_db is not None and (isinstance(volume_db, bool) or not isinstance(volume_db, (int, float, np.number))
                                  or not low <= volume_db <= high):
        raise ValueError(f"volume_db must be a gain from {low:g} to {high:g} dB, not {shown(volume_db)}")
    notes = b""
    if melody is not None:
        if melody == "":
            raise ValueError("melody needs at least one note (0-9, a-v)")
        _check_alphabet(melody, "melody")
        notes = melody.lower().encode("ascii")
    kind = 1 if synth else (2 if melody is not None else 0)
    rate = check_library_rate(rate)
    value = mode_value(mode)
    out = _native.encode(message, value, float(rate), kind, notes.decode("ascii"),
                         None if volume_db is None else float(volume_db), float(base_hz), int(separation))
    if isinstance(out, tuple):
        code, step = out
        if step == "volume":
            raise ValueError(f"volume_db {shown(volume_db)}: {_native.error_text(code)}")
        if step == "encode" and kind == 2 and code == _native.ERROR_INVALID_ARGUMENT:
            info = mode_info(value, rate, base_hz, separation)
            most = int(info["max_encoded_samples"]) // int(info["token_samples"])
            raise ValueError(f"melody of {len(notes)} notes is too long (at most {most} at {rate} Hz)")
        # -1 from configure only means an unknown mode, which mode_value rules out.
        raise_for_code(_native.ERROR_UNSUPPORTED if code == -1 else code, describe(value, rate, base_hz, separation)
                       if step in ("configure", "custom") else f"cannot encode '{message}'")
    return out


class Decoder:
    """Streaming decoder: feed it audio in chunks of any size.

    Built on the library's listener, which hears every band of the mode at
    once, never goes deaf and owns its buffering, so results do not depend on
    how the input is cut up. `close()` (or leaving a ``with`` block without an
    exception) ends the stream and completes what is in flight.

    Audio at a rate the mode cannot work at is converted to 48000 Hz on the
    way in, with libsoxr at the quality the quorlax program uses, so both
    hear the same.

    Parameters
    ----------
    rate : int
        Sample rate of the audio fed, Hz.
    mode : str or int
        Which band(s) to listen to; ``"all"`` hears the three fixed bands.
    base_hz, separation : float, int
        Custom mode grid.
    failed : bool
        Also report readings that failed their check (``Message.ok`` False).

    Attributes
    ----------
    messages : list of Message
        Every message read out so far, including those that `close()` found.
    samples_in : int
        Samples fed so far.

    Raises
    ------
    UnsupportedError
        The mode cannot work at `rate` nor at 48000 Hz (a custom grid too high).

    Examples
    --------
    >>> with Decoder(rate=48000) as dec:            # doctest: +SKIP
    ...     for chunk in chunks:
    ...         for m in dec.feed(chunk):
    ...             print(m.text, m.ok, m.time)
    >>> dec.messages                                 # doctest: +SKIP
    """

    def __init__(self, rate: int = 48000, mode: ModeLike = "all", *, base_hz: float = DEFAULT_BASE_HZ,
                 separation: int = DEFAULT_SEPARATION, failed: bool = True) -> None:
        self._listener: Any = None
        self.rate = check_rate(rate)
        self.mode = mode_value(mode)
        self._rate = decoding_rate(self.mode, self.rate, base_hz, separation)
        self._resampler = None if self._rate == self.rate else _native.Resampler(self.rate, self._rate)
        try:
            self._listener = _native.Listener(self.mode, float(self._rate), float(base_hz), int(separation),
                                              bool(failed))
        except _native.LibraryError as e:
            raise_for_code(e.args[0], describe(self.mode, self._rate, base_hz, separation))
        self.samples_in = 0
        self.messages: List[Message] = []

    def feed(self, audio: npt.ArrayLike) -> List[Message]:
        """Decode more audio.

        Parameters
        ----------
        audio : array-like
            Mono samples: a 1-D array (or a (frames, 1) one).

        Returns
        -------
        list of Message
            Messages completed by this chunk, in order.
        """
        if self._listener is None:
            raise ValueError("feed() on a closed Decoder")
        x = as_mono(audio)
        self.samples_in += len(x)
        if self._resampler is not None:
            x = self._resampler.process(x)
        return self._take(self._listener.push(x))

    def close(self) -> List[Message]:
        """End the stream: complete what is in flight and release the listener.

        Returns
        -------
        list of Message
            Messages that only the end of the stream completed.
        """
        if self._listener is None:
            return []
        try:
            out = self._take(self._listener.push(self._resampler.flush())) if self._resampler is not None else []
            return out + self._take(self._listener.flush())
        finally:
            self._listener = None

    @property
    def closed(self) -> bool:
        """True once `close()` has run."""
        return self._listener is None

    def __enter__(self) -> "Decoder":
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                 tb: Optional[TracebackType]) -> None:
        if exc_type is None:
            self.close()
        else:
            self._listener = None

    def _take(self, got: List[Any]) -> List[Message]:
        out = [Message(text=text, ok=bool(ok), band=mode_name(band), confidence=float(confidence),
                       level_db=float(level), time=start / self._rate, end=end / self._rate,
                       pitch_offset=float(pitch), tempo_offset=float(tempo))
               for text, ok, band, start, end, level, confidence, pitch, tempo in got]
        self.messages.extend(out)
        return out


def decode(audio: npt.ArrayLike, rate: int = 44100, mode: ModeLike = "all", *,
           base_hz: float = DEFAULT_BASE_HZ, separation: int = DEFAULT_SEPARATION) -> List[Message]:
    """Decode a whole recording.

    Parameters
    ----------
    audio : array-like
        Mono samples, a 1-D array (to decode a file, use `decode_file`).
    rate : int
        Sample rate in Hz. At a rate the mode cannot work at (anything but
        44100 and 48000, and 22050 for audible and custom) the audio is
        converted to 48000 Hz first, as the quorlax program does.
    mode : str or int
        ``"all"`` (default) hears the audible, non-audible and compression bands.
    base_hz, separation : float, int
        Custom mode grid.

    Returns
    -------
    list of Message
        Every message read out, passed or failed its check, in order.

    Raises
    ------
    TypeError, ValueError
        A file name, several channels or no numbers where mono samples belong.
    """
    x = as_mono(audio)
    dec = Decoder(rate, mode, base_hz=base_hz, separation=separation)
    dec.feed(x)
    dec.close()
    return dec.messages


def decode_file(path: Union[str, "os.PathLike[str]", Any], mode: ModeLike = "all", *, channel: int = 1,
                base_hz: float = DEFAULT_BASE_HZ, separation: int = DEFAULT_SEPARATION, blocksize: int = 65536) -> List[Message]:
    """Decode a sound file block by block, so any length fits in a few megabytes.

    Parameters
    ----------
    path : str, path-like or binary file
        Any format libsndfile reads, at any rate (converted as in `decode`).
    mode : str or int
        ``"all"`` by default.
    channel : int
        Channel to decode, counted from 1.
    base_hz, separation : float, int
        Custom mode grid.
    blocksize : int
        Frames read at a time, 1 to 4194304 (2**22).

    Returns
    -------
    list of Message
        As `decode`; times count from the file's first sample.

    Raises
    ------
    ValueError
        A channel the file does not have, or a blocksize out of range.
    soundfile.LibsndfileError
        The file cannot be read (not a sound file, missing, cut off or damaged, ...).
    """
    from ._audio import _soundfile, damaged

    if isinstance(blocksize, bool) or not isinstance(blocksize, (int, np.integer)) or \
            not 1 <= blocksize <= _MAX_BLOCK:
        raise ValueError(f"blocksize must be a whole number of frames from 1 to {_MAX_BLOCK}, not {shown(blocksize)}")
    sf = _soundfile()
    with sf.SoundFile(path) as f:
        if isinstance(channel, bool) or not isinstance(channel, (int, np.integer)) or \
                not 1 <= channel <= f.channels:
            raise ValueError(f"channel {shown(channel)} does not exist: the file has {f.channels} (counted from 1)")
        dec = Decoder(f.samplerate, mode, base_hz=base_hz, separation=separation)
        frames = 0
        try:
            for block in f.blocks(int(blocksize), dtype="float32", always_2d=True):
                dec.feed(block[:, int(channel) - 1])
                frames += len(block)
        except sf.LibsndfileError as e:
            raise damaged(sf, path, f, f.tell() if f.seekable() else frames, e) from e
    dec.close()
    return dec.messages
