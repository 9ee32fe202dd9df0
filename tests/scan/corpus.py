"""A folder of generated recordings with transmissions at known times, for
the scan tests: several rates, formats and channel counts, one corrupt file,
empty ones, and files a scan must leave alone."""
from __future__ import annotations

import json
import os
import subprocess
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, List, Tuple

import numpy as np
import soundfile as sf

SEED = 19


def program() -> str:
    q = os.environ.get("QUORLAX_PROGRAM")
    if not q:
        raise RuntimeError("set QUORLAX_PROGRAM to the quorlax program under test")
    return q


def encode(text: str, mode: str, rate: int) -> np.ndarray:
    p = subprocess.run([program(), "encode", text, "-m", mode, "-r", str(rate), "-o", "-"],
                       capture_output=True, check=True)
    return np.frombuffer(p.stdout, dtype="<f4").astype(np.float64)


def resample(x: np.ndarray, src: int, dst: int) -> np.ndarray:
    """Band-limited resampling through the spectrum (short clips only)."""
    n = len(x)
    m = int(round(n * dst / src))
    spectrum = np.fft.rfft(x)
    out = np.zeros(m // 2 + 1, dtype=complex)
    k = min(len(spectrum), len(out))
    out[:k] = spectrum[:k]
    return np.fft.irfft(out, m) * (m / n)


@dataclass
class Sent:
    channel: int  # 1-based
    text: str
    band: str
    at: float     # seconds
    gain: float


@dataclass
class Recording:
    name: str
    rate: int
    channels: int
    subtype: str
    seconds: float
    sent: List[Sent] = field(default_factory=list)


RECORDINGS = [
    Recording("a_44k.wav", 44100, 1, "PCM_16", 8.0,
              [Sent(1, "a1b2c3d4e", "audible", 1.0, 0.3), Sent(1, "fff000ggg", "nonaudible", 4.6, 0.3)]),
    Recording("b_48k_stereo.flac", 48000, 2, "PCM_16", 7.0,
              [Sent(1, "nonaud111", "nonaudible", 0.5, 0.3), Sent(2, "compr2222", "compression", 3.2, 0.2)]),
    Recording("sub/c_22k_float.wav", 22050, 1, "FLOAT", 5.0, [Sent(1, "audi22050", "audible", 2.0, 0.3)]),
    Recording("sub/deeper/d_32k.aiff", 32000, 1, "PCM_16", 5.0, [Sent(1, "th1rt2kkk", "audible", 1.5, 0.3)]),
    Recording("e_48k.ogg", 48000, 1, "VORBIS", 5.0, [Sent(1, "vorb1s123", "audible", 1.0, 0.4)]),
    # A transmission at the very first sample and one that ends with the file.
    Recording("f_edges.wav", 48000, 1, "PCM_16", 0.0,
              [Sent(1, "f1rst0000", "compression", 0.0, 0.3), Sent(1, "1ast00000", "audible", -1.0, 0.3)]),
    Recording("g_noise_4ch.w64", 44100, 4, "PCM_24", 4.0, []),
]
CORRUPT = "h_corrupt.wav"
EMPTY = "sub/i_empty.wav"           # no bytes at all
NO_FRAMES = "sub/j_no_frames.wav"  # a header and nothing else
IGNORED = ["notes.txt", ".hidden.wav", "sub/.cache/k.wav"]


def make(root: Path) -> Tuple[List[str], Dict[str, Recording]]:
    """Writes the folder; returns the files a scan of `root` decodes (walk
    order) and the recordings by path."""
    rng = np.random.default_rng(SEED)
    print(f"corpus seed {SEED}")
    by_path: Dict[str, Recording] = {}
    for rec in RECORDINGS:
        path = root / rec.name
        path.parent.mkdir(parents=True, exist_ok=True)
        clips = []
        for s in rec.sent:
            native = rec.rate if rec.rate in (22050, 44100, 48000) else 48000
            x = encode(s.text, s.band, native)
            clips.append(resample(x, native, rec.rate) if native != rec.rate else x)
        n = int(rec.seconds * rec.rate)
        if rec.seconds == 0.0:  # the edges file: just long enough for both, 1 s apart
            n = sum(len(c) for c in clips) + rec.rate
        audio = rng.normal(0.0, 0.01, (n, rec.channels))
        for s, clip in zip(rec.sent, clips):
            start = n - len(clip) if s.at < 0 else int(round(s.at * rec.rate))
            s.at = start / rec.rate
            audio[start:start + len(clip), s.channel - 1] += s.gain * clip
        sf.write(str(path), audio, rec.rate, subtype=rec.subtype)
        by_path[str(path)] = rec
    (root / CORRUPT).write_bytes(b"RIFF\x24\x00\x00\x00WAVEfmt " + bytes(rng.integers(0, 256, 300, dtype=np.uint8)))
    (root / EMPTY).write_bytes(b"")
    sf.write(str(root / NO_FRAMES), np.zeros((0, 1)), 44100, subtype="PCM_16")
    for name in IGNORED:
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_bytes(b"not a scan target")
    files = sorted([str(root / r.name) for r in RECORDINGS] + [str(root / n) for n in (CORRUPT, EMPTY, NO_FRAMES)])
    return files, by_path


def run_scan(*args, timeout=120) -> subprocess.CompletedProcess:
    return subprocess.run([program(), "scan", *map(str, args)], capture_output=True, timeout=timeout)


def parse(text: str) -> List[dict]:
    return [json.loads(line) for line in text.splitlines() if line]


def canon(records) -> List[str]:
    """Records as sorted JSON texts: equal lists mean the same lines, each as often."""
    return sorted(json.dumps(r, sort_keys=True) for r in records)
