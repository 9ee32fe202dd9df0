"""A small program written against quorlax's type hints: scripts/test-wheel.sh
checks it with `mypy --strict` against the installed package, then runs it."""
from __future__ import annotations

import sys
import tempfile
from pathlib import Path
from typing import Dict, List

import numpy as np
import numpy.typing as npt

import quorlax


def send(texts: List[str], rate: int) -> npt.NDArray[np.float32]:
    gap = np.zeros(rate // 2, np.float32)
    parts: List[npt.NDArray[np.float32]] = [gap]
    for text in texts:
        parts += [quorlax.encode(quorlax.check_message(text), mode="audible", rate=rate), gap]
    return np.concatenate(parts)


def heard(messages: List[quorlax.Message]) -> Dict[str, float]:
    return {m.text: round(m.time, 2) for m in messages if m.ok}


def streamed(audio: npt.NDArray[np.float32], rate: int, chunk: int) -> List[quorlax.Message]:
    with quorlax.Decoder(rate=rate, mode="all") as decoder:
        for start in range(0, len(audio), chunk):
            decoder.feed(audio[start:start + chunk])
    return decoder.messages


def main() -> int:
    rate = 44100
    audio = send(["hello1234", "c0ffee42a"], rate)
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "two.flac"
        quorlax.write(path, audio, rate)
        samples, file_rate = quorlax.read(path)
        from_file = heard(quorlax.decode_file(path))
        scanned = [r["text"] for r in quorlax.scan([folder]) if r.get("ok")]
    whole = heard(quorlax.decode(samples, file_rate))
    chunks = heard(streamed(audio, rate, 4096))
    grids: List[quorlax.BandGrid] = quorlax.band_grids(rate)
    try:
        quorlax.encode("hello", rate=rate)
    except ValueError as e:
        refused: str = str(e)
    print(f"quorlax {quorlax.__version__}: {from_file} {whole == from_file == chunks} {sorted(scanned)} "
          f"{len(grids)} bands; short message: {refused}")
    return 0 if whole == from_file == chunks and sorted(scanned) == sorted(whole) and len(whole) == 2 else 1


if __name__ == "__main__":
    sys.exit(main())
