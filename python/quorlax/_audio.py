"""Sound files through python-soundfile (libsndfile, as the quorlax program uses)."""
from __future__ import annotations

import contextlib
import os
import secrets
from typing import Any, BinaryIO, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

from ._errors import shown

__all__ = ["read", "write"]

PathOrFile = Union[str, "os.PathLike[str]", BinaryIO]


def _soundfile() -> Any:
    try:
        import soundfile
    except ImportError as e:  # pragma: no cover - depends on the machine
        raise ImportError("quorlax reads and writes sound files with python-soundfile, which is not installed: "
                          "apt-get install python3-soundfile (or pip install soundfile)") from e
    return soundfile


def _check_folder(path: PathOrFile) -> None:
    if isinstance(path, (str, os.PathLike)):
        folder = os.path.dirname(os.fspath(path))
        if folder and not os.path.isdir(folder):
            raise FileNotFoundError(f"cannot write '{os.fspath(path)}': there is no folder '{folder}'")


def _name(path: PathOrFile) -> str:
    return f"'{os.fspath(path)}'" if isinstance(path, (str, os.PathLike)) else "the file"


def damaged(sf: Any, path: PathOrFile, f: Any, frames_read: int, error: Exception) -> Exception:
    """libsndfile's error for a file it could not read to its end, saying how far it got."""
    code = getattr(error, "code", 0)
    rate = f.samplerate
    return sf.LibsndfileError(code, f"cannot read {_name(path)} past {frames_read / rate:.2f} s of the "
                                    f"{f.frames / rate:.2f} s its header announces (cut off or damaged): ")


def read(path: PathOrFile, *, channel: Optional[int] = None, dtype: str = "float32",
         always_2d: bool = False) -> Tuple[npt.NDArray[Any], int]:
    """Read a sound file of any format libsndfile knows (WAV, FLAC, Ogg, AIFF, ...).

    Parameters
    ----------
    path : str, path-like or binary file
        The file.
    channel : int, optional
        Return this channel only (counted from 1, as the quorlax program does) as a 1-D array.
    dtype : str
        ``"float32"`` (default) or ``"float64"`` give samples in -1..1; ``"int16"`` and
        ``"int32"`` give the integers, as python-soundfile does.
    always_2d : bool
        Return (frames, channels) even for a mono file.

    Returns
    -------
    (numpy.ndarray, int)
        Samples, 1-D for a mono file (or one `channel`) and (frames, channels) otherwise, and the rate.

    Raises
    ------
    ValueError
        `channel` is not in the file.
    soundfile.LibsndfileError
        The file cannot be read (not a sound file, missing, cut off or damaged, ...).
    """
    sf = _soundfile()
    with sf.SoundFile(path) as f:
        try:
            data = f.read(dtype=dtype, always_2d=True)
        except sf.LibsndfileError as e:
            raise damaged(sf, path, f, f.tell() if f.seekable() else 0, e) from e
        rate = f.samplerate
    if channel is not None:
        if isinstance(channel, bool) or not isinstance(channel, (int, np.integer)) or \
                not 1 <= channel <= data.shape[1]:
            raise ValueError(f"channel {shown(channel)} does not exist: the file has {data.shape[1]} "
                             f"(counted from 1)")
        return np.ascontiguousarray(data[:, int(channel) - 1]), int(rate)
    if data.shape[1] == 1 and not always_2d:
        data = data[:, 0]
    return data, int(rate)


def write(path: PathOrFile, audio: npt.ArrayLike, rate: int, *, subtype: Optional[str] = None,
          format: Optional[str] = None) -> None:
    """Write samples to a sound file; the format follows the extension (or `format`).

    Parameters
    ----------
    path : str, path-like or binary file
        Where to write; ``.wav``, ``.flac``, ``.ogg``, ``.aiff`` and the rest of libsndfile's list.
    audio : array-like
        1-D mono samples or a (frames, channels) array. Floats are in -1..1; int16
        and int32 arrays are written as they are.
    rate : int
        Sample rate in Hz.
    subtype : str, optional
        Sample format (``"PCM_16"``, ``"PCM_24"``, ``"FLOAT"``, ...); python-soundfile's
        default for the format otherwise (16-bit PCM for WAV).
    format : str, optional
        ``"WAV"``, ``"FLAC"``, ... when `path` has no extension or is a file object.

    A file named by a path appears only once it is complete: it is written
    beside its place and then renamed over it, so a failed write (a full
    disk) leaves the old file, or none, and raises the system's reason.

    Raises
    ------
    ValueError
        Float samples beyond -1..1 for an integer sample format (they would be clipped),
        an array that looks channels-first, or a bad rate.
    FileNotFoundError
        The folder does not exist.
    OSError
        The file could not be written (``No space left on device``, ...).
    """
    sf = _soundfile()
    a = np.asarray(audio)
    if a.dtype.kind not in "fiu" or a.ndim not in (1, 2):
        raise ValueError(f"audio must be a 1-D or (frames, channels) array of numbers, not {a.dtype} "
                         f"of shape {a.shape}")
    if a.ndim == 2 and a.shape[0] < a.shape[1] and a.shape[0] <= 8:
        raise ValueError(f"audio of shape {a.shape} looks channels-first; write(path, audio.T, rate) "
                         f"takes (frames, channels)")
    if isinstance(rate, bool) or not isinstance(rate, (int, np.integer)) or rate <= 0:
        raise ValueError(f"rate must be a positive whole number of samples per second, not {shown(rate)}")
    if format is None and isinstance(path, (str, os.PathLike)):
        ext = os.path.splitext(os.fspath(path))[1][1:].upper()
        format = {"AIF": "AIFF", "OGA": "OGG"}.get(ext, ext)
        if format not in sf.available_formats():
            raise ValueError(f"cannot tell the audio format of '{os.fspath(path)}': name it with format=, "
                             f"one of {', '.join(sorted(sf.available_formats()))}")
    format = format.upper() if format is not None else None
    if subtype is None and format is not None:
        subtype = sf.default_subtype(format)
    if a.dtype.kind == "f" and subtype is not None and subtype.startswith("PCM"):
        peak = float(np.max(np.abs(a))) if a.size else 0.0
        if peak > 1.0:
            raise ValueError(f"samples reach {peak:.3g}, beyond the -1..1 of {subtype}: scale them, or write "
                             f"floats with subtype='FLOAT'")
    if format == "WAV" and subtype in ("FLOAT", "DOUBLE"):
        format = "WAVEX"  # plain WAV gives float data a format chunk without its size field
    _check_folder(path)
    if isinstance(path, (str, os.PathLike)) and not _written_in_place(os.fspath(path)):
        _write_whole(sf, os.fspath(path), a, int(rate), subtype, format)
    else:
        sf.write(path, a, int(rate), subtype=subtype, format=format)


def _written_in_place(path: str) -> bool:
    """Devices and pipes (/dev/stdout, a FIFO) cannot be replaced: they are written as they are."""
    return os.path.exists(path) and not os.path.isfile(path)


class _KeepsWriteErrors:
    """A file for libsndfile to write through that keeps the system's reason
    when a write fails; libsndfile itself only says "System error"."""

    def __init__(self, raw: Any) -> None:
        self._raw = raw
        self.error: Optional[OSError] = None

    def write(self, data: bytes) -> int:
        view, done = memoryview(data), 0
        while done < len(view):
            try:
                n = self._raw.write(view[done:])
            except OSError as e:
                self.error = self.error or e
                break
            if not n:
                break
            done += n
        return done

    def readinto(self, buffer: Any) -> int:
        return int(self._raw.readinto(buffer))

    def seek(self, offset: int, whence: int = os.SEEK_SET) -> int:
        return int(self._raw.seek(offset, whence))

    def tell(self) -> int:
        return int(self._raw.tell())


def _write_whole(sf: Any, path: str, audio: npt.NDArray[Any], rate: int, subtype: Optional[str],
                 format: Optional[str]) -> None:
    """Writes beside `path` and renames the file into place once it is complete."""
    target = os.path.realpath(path)  # through a symbolic link: the link keeps pointing at the new file
    folder, base = os.path.split(target)
    while True:
        temp = os.path.join(folder, f".{base}.{secrets.token_hex(4)}")
        try:
            # The mode a new file gets (the umask applies), unlike mkstemp's private one.
            fd = os.open(temp, os.O_RDWR | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
            break
        except FileExistsError:
            continue
    try:
        with os.fdopen(fd, "r+b", buffering=0) as raw:
            sink = _KeepsWriteErrors(raw)
            try:
                sf.write(sink, audio, rate, subtype=subtype, format=format)
            except Exception:
                if sink.error is None:
                    raise
            if sink.error is not None:
                raise type(sink.error)(sink.error.errno, sink.error.strerror, path)
            os.fsync(raw.fileno())
        os.replace(temp, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temp)
        raise


def read_wav(path: PathOrFile, channel: int = 0) -> Tuple[npt.NDArray[np.float32], int]:
    """The earlier name: one channel (counted from 0) as float32; any format `read` takes."""
    return read(path, channel=channel + 1)


def write_wav(path: PathOrFile, audio: npt.ArrayLike, rate: int, *, float32: bool = False) -> None:
    """The earlier name: `write` with 32-bit float samples when `float32`."""
    write(path, audio, rate, subtype="FLOAT" if float32 else None)
