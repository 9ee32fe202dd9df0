"""WAV files in pure Python: 16-bit PCM or 32-bit float out; PCM 8/16/24/32-bit and float in."""
from __future__ import annotations

import os
import struct
import wave
from typing import BinaryIO, Tuple, Union

import numpy as np
import numpy.typing as npt

__all__ = ["read_wav", "write_wav"]

PathOrFile = Union[str, "os.PathLike[str]", BinaryIO]

_PCM = 1
_FLOAT = 3
_EXTENSIBLE = 0xFFFE


def write_wav(path: PathOrFile, audio: npt.ArrayLike, rate: int, *, float32: bool = False) -> None:
    """Write mono samples to a WAV file.

    Parameters
    ----------
    path : str, path-like or binary file
        Where to write.
    audio : array-like
        Mono samples in -1..1 (a 2-D array's first column is used).
    rate : int
        Sample rate in Hz.
    float32 : bool
        Write 32-bit IEEE float samples instead of 16-bit PCM (which clips to -1..1).
    """
    from ._codec import as_mono

    x = as_mono(audio)
    rate = int(rate)
    if rate <= 0:
        raise ValueError(f"rate must be positive, not {rate}")
    if float32:
        data = x.astype("<f4").tobytes()
        fmt = struct.pack("<HHIIHHH", _FLOAT, 1, rate, rate * 4, 4, 32, 0)
        fact = struct.pack("<I", len(x))
        body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"fact" + struct.pack("<I", 4) + fact
                + b"data" + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b""))
        blob = b"RIFF" + struct.pack("<I", len(body)) + body
        if isinstance(path, (str, os.PathLike)):
            with open(path, "wb") as f:
                f.write(blob)
        else:
            path.write(blob)
        return
    pcm = np.round(np.clip(x, -1.0, 1.0) * 32767.0).astype("<i2")
    w = wave.open(path if not isinstance(path, os.PathLike) else os.fspath(path), "wb")
    try:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(pcm.tobytes())
    finally:
        w.close()


def read_wav(path: PathOrFile, channel: int = 0) -> Tuple[npt.NDArray[np.float32], int]:
    """Read one channel of a WAV file as float32 samples in -1..1.

    Reads 8-, 16-, 24- and 32-bit PCM and 32/64-bit float, plain or
    WAVE_FORMAT_EXTENSIBLE. (The standard `wave` module reads PCM only, so the
    chunks are parsed here.)

    Parameters
    ----------
    path : str, path-like or binary file
        The file.
    channel : int
        Channel to return, counted from 0.

    Returns
    -------
    (numpy.ndarray, int)
        The samples and the sample rate.

    Raises
    ------
    ValueError
        Not a WAV file, an unsupported sample format or a missing channel.
    """
    if isinstance(path, (str, os.PathLike)):
        with open(path, "rb") as f:
            blob = f.read()
    else:
        blob = path.read()
    if len(blob) < 12 or blob[:4] not in (b"RIFF", b"RIFX") or blob[8:12] != b"WAVE":
        raise ValueError("not a WAV file (no RIFF/WAVE header)")
    if blob[:4] == b"RIFX":
        raise ValueError("big-endian (RIFX) WAV files are not supported")
    fmt = None
    data = None
    pos = 12
    while pos + 8 <= len(blob):
        cid = blob[pos:pos + 4]
        (size,) = struct.unpack_from("<I", blob, pos + 4)
        body = blob[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            fmt = body
        elif cid == b"data":
            data = body  # a streamed file's bogus size just runs to the end
            break
        pos += 8 + size + (size & 1)
    if fmt is None or len(fmt) < 16:
        raise ValueError("WAV file has no format chunk")
    if data is None:
        raise ValueError("WAV file has no data chunk")
    tag, channels, rate, _, align, bits = struct.unpack_from("<HHIIHH", fmt)
    if tag == _EXTENSIBLE and len(fmt) >= 26:
        (tag,) = struct.unpack_from("<H", fmt, 24)
    if channels < 1 or rate < 1:
        raise ValueError(f"WAV file has {channels} channels at {rate} Hz")
    if not 0 <= channel < channels:
        raise ValueError(f"channel {channel} does not exist: the file has {channels} (counted from 0)")
    width = bits // 8
    if bits % 8 or width == 0 or align != width * channels:
        raise ValueError(f"unsupported WAV layout: {bits} bits, block align {align}, {channels} channels")
    frames = len(data) // align
    raw = np.frombuffer(data, np.uint8, count=frames * align).reshape(frames, channels, width)[:, channel, :]
    raw = np.ascontiguousarray(raw)
    if tag == _PCM and width == 1:
        out = (raw[:, 0].astype(np.float32) - 128.0) / 128.0
    elif tag == _PCM and width in (2, 4):
        ints = raw.view(f"<i{width}")[:, 0]
        out = ints.astype(np.float32) / np.float32(2.0 ** (bits - 1))
    elif tag == _PCM and width == 3:
        padded = np.zeros((frames, 4), np.uint8)
        padded[:, 1:] = raw  # into the top three bytes, so the sign comes along
        out = (padded.view("<i4")[:, 0] >> 8).astype(np.float32) / np.float32(2.0 ** 23)
    elif tag == _FLOAT and width in (4, 8):
        out = raw.view(f"<f{width}")[:, 0].astype(np.float32)
    else:
        raise ValueError(f"unsupported WAV sample format (format tag {tag}, {bits} bits)")
    return np.ascontiguousarray(out, dtype=np.float32), int(rate)
