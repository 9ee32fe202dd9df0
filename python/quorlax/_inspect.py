"""A picture of what the decoder heard: spectrogram, tone grids, token windows."""
from __future__ import annotations

import argparse
import os
import sys
from typing import Any, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _native
from ._codec import Message, as_mono, decode
from ._modes import DEFAULT_BASE_HZ, DEFAULT_SEPARATION, MODES, ModeLike, band_grids, decoding_rate, mode_value

# Positions of a transmission: two door tokens, nine word tokens (the
# message's characters), the check token and eight parity tokens.
_TOKENS = 20
_WORD = range(2, 11)

__all__ = ["inspect"]

_OK_COLOUR = "#39e75f"
_FAILED_COLOUR = "#ff4040"
_GRID_COLOUR = "#9fd8ff"


def _matplotlib() -> Tuple[Any, Any, Any]:
    try:
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        from matplotlib.figure import Figure
        from matplotlib.patches import Rectangle
    except ImportError as e:  # pragma: no cover - depends on the machine
        raise ImportError(
            "quorlax.inspect draws with matplotlib, which is not installed: "
            "apt-get install python3-matplotlib (or pip install matplotlib)") from e
    return Figure, FigureCanvasAgg, Rectangle


def _spectrogram(x: npt.NDArray[np.float32], window: int, hop: int) -> npt.NDArray[np.float64]:
    """Power in dB, shape (bins, frames); computed in batches to bound memory."""
    if len(x) < window:
        x = np.concatenate([x, np.zeros(window - len(x), np.float32)])
    frames = 1 + (len(x) - window) // hop
    taper = np.hanning(window).astype(np.float32)
    out = np.empty((window // 2 + 1, frames))
    for first in range(0, frames, 256):
        starts = hop * np.arange(first, min(frames, first + 256))
        spectrum = np.fft.rfft(x[starts[:, None] + np.arange(window)[None, :]] * taper, axis=1)
        out[:, first:first + len(starts)] = 10.0 * np.log10(spectrum.real.T ** 2 + spectrum.imag.T ** 2 + 1e-12)
    return out


def inspect(audio: npt.ArrayLike, rate: int, path: Union[str, "os.PathLike[str]"] = "heard.png",
            mode: ModeLike = "all", *, base_hz: float = DEFAULT_BASE_HZ, separation: int = DEFAULT_SEPARATION,
            title: Optional[str] = None, size: Tuple[int, int] = (1400, 800),
            dpi: int = 100) -> List[Message]:
    """Decode `audio` and draw what was heard into a PNG.

    The picture shows the spectrogram from 2.5 kHz up (the bands as the
    library places them at the rate), the
    nine tones of each band as faint lines, and for every message found its
    front door and its 18 token windows boxed in its band, the nine word
    tokens labelled with the message's characters; green when the message
    passed its check, red when it did not.

    Parameters
    ----------
    audio : array-like
        Mono samples, a 1-D array.
    rate : int
        Sample rate in Hz (converted as `decode` does when the mode cannot work at it).
    path : str or path-like
        PNG to write.
    mode : str or int
        Decoding mode, ``"all"`` by default.
    base_hz, separation : float, int
        Custom mode grid (drawn when `mode` is ``"custom"``).
    title : str, optional
        Title above the picture.
    size : (int, int)
        Picture size in pixels.
    dpi : int
        Resolution used to lay out text.

    Returns
    -------
    list of Message
        What `decode` would return.

    Raises
    ------
    ImportError
        matplotlib is missing.
    """
    fig, messages = _figure(audio, rate, mode, base_hz=base_hz, separation=separation, title=title, size=size,
                            dpi=dpi)
    fig.savefig(os.fspath(path), dpi=dpi, format="png")
    return messages


def _keep_inside(fig: Any, texts: Sequence[Any], margin: float = 2.0) -> None:
    """Moves each text whose box crosses the picture's edge back inside it."""
    renderer = fig.canvas.get_renderer()
    edge = fig.bbox
    for t in texts:
        box = t.get_window_extent(renderer)
        dx = max(0.0, edge.x0 + margin - box.x0) - max(0.0, box.x1 - (edge.x1 - margin))
        dy = max(0.0, edge.y0 + margin - box.y0) - max(0.0, box.y1 - (edge.y1 - margin))
        if dx or dy:
            transform = t.get_transform()
            x, y = transform.transform(t.get_position())
            t.set_position(transform.inverted().transform((x + dx, y + dy)))


def _figure(audio: npt.ArrayLike, rate: int, mode: ModeLike = "all", *, base_hz: float = DEFAULT_BASE_HZ,
            separation: int = DEFAULT_SEPARATION, title: Optional[str] = None, size: Tuple[int, int] = (1400, 800),
            dpi: int = 100) -> Tuple[Any, List[Message]]:
    x = as_mono(audio)  # a wrong argument is named even where matplotlib is missing
    Figure, FigureCanvasAgg, Rectangle = _matplotlib()
    # Drawn at the rate it is decoded at, so the grids are the decoder's.
    to = decoding_rate(mode, int(rate), base_hz, separation)
    if to != rate:
        r = _native.Resampler(rate, to)
        x = np.concatenate([r.process(x), r.flush()])
        rate = to
    messages = decode(x, rate, mode, base_hz=base_hz, separation=separation)
    custom = mode_value(mode) == MODES["custom"]
    grids = {g.name: g for g in band_grids(rate, base_hz if custom else None, separation)}

    window = 2048 if rate > 30000 else 1024  # about 20 Hz per bin
    hop = max(window // 4, -(-len(x) // 4000))  # no more columns than a picture can show
    db = _spectrogram(x, window, hop)
    duration = max(len(x), window) / rate
    nyquist = rate / 2
    f_low = 2500.0
    f_high = min(21000.0, nyquist)
    lo_bin = int(f_low / nyquist * (db.shape[0] - 1))
    hi_bin = int(np.ceil(f_high / nyquist * (db.shape[0] - 1))) + 1
    shown = db[lo_bin:hi_bin]
    # Floor just above the median bin so noise stays dark and tones stand out.
    vmin = float(np.median(shown)) + 1.0
    vmax = max(float(np.percentile(shown, 99.95)), vmin + 20.0)

    fig = Figure(figsize=(size[0] / dpi, size[1] / dpi), dpi=dpi)
    FigureCanvasAgg(fig)
    ax = fig.add_axes((0.06, 0.08, 0.88, 0.84))
    ax.imshow(shown, origin="lower", aspect="auto", cmap="magma", vmin=vmin, vmax=vmax,
              extent=(0.0, duration, lo_bin * nyquist / (db.shape[0] - 1) / 1000,
                      (hi_bin - 1) * nyquist / (db.shape[0] - 1) / 1000), interpolation="nearest")
    for g in grids.values():
        for f in g.tones:
            ax.axhline(f / 1000, color=_GRID_COLOUR, alpha=0.3, linewidth=0.6)
        ax.text(1.005, (g.tones[0] + g.tones[-1]) / 2000, g.name, transform=ax.get_yaxis_transform(),
                rotation=90, va="center", ha="left", fontsize=8, color="#333333")

    for m in messages:
        band = grids.get(m.band)
        if band is None:
            continue
        colour = _OK_COLOUR if m.ok else _FAILED_COLOUR
        low, high = band.low / 1000, band.high / 1000
        start, tok = m.time, (m.end - m.time) / _TOKENS
        ax.add_patch(Rectangle((start, low), 2 * tok, high - low, fill=False, edgecolor=colour,
                               linewidth=1.4))
        ax.text(start + tok, low - 0.08, "door", ha="center", va="top", fontsize=6.5, color=colour)
        for k in range(2, _TOKENS):
            left = start + k * tok
            ax.add_patch(Rectangle((left, low), tok, high - low, fill=False, edgecolor=colour,
                                   linewidth=0.8 if k in _WORD else 0.4))
            if k in _WORD:
                ax.text(left + tok / 2, high + 0.08, m.text[k - 2], ha="center", va="bottom", fontsize=7.5,
                        color=colour, family="monospace", fontweight="bold", clip_on=True)
        verdict = "ok" if m.ok else "check failed"
        above = high + 1.0 < f_high / 1000
        ax.text(start, high + 0.55 if above else low - 0.45, f"{m.text}  {verdict}  {m.band}  confidence "
                f"{m.confidence:.2f}  at {m.time:.2f} s", ha="left", va="bottom" if above else "top", fontsize=8.5,
                color=colour, fontweight="bold", bbox=dict(facecolor="black", alpha=0.55, edgecolor="none", pad=1.5))

    ax.set_xlim(0.0, duration)
    ax.set_ylim(f_low / 1000, f_high / 1000)
    ax.set_xlabel("time (s)")
    ax.set_ylabel("frequency (kHz)")
    found = sum(1 for m in messages if m.ok)
    ax.set_title(title if title is not None else
                 f"quorlax heard {found} message{'s' if found != 1 else ''} "
                 f"({len(messages) - found} failed their check) at {rate} Hz", fontsize=10)
    fig.canvas.draw()
    _keep_inside(fig, ax.texts)
    return fig, messages


def main(argv: Optional[Sequence[str]] = None) -> int:
    """`quorlax inspect` once the program has checked its arguments."""
    p = argparse.ArgumentParser(prog="quorlax inspect")
    p.add_argument("file")
    p.add_argument("-o", "--output", default="heard.png")
    p.add_argument("-m", "--mode", default="all")
    p.add_argument("--base", type=float, default=DEFAULT_BASE_HZ)
    p.add_argument("--separation", type=int, default=1)
    p.add_argument("--channel", type=int, default=1)
    p.add_argument("--title")
    a = p.parse_args(argv)
    from ._audio import read

    mode: ModeLike = int(a.mode) if a.mode.isdigit() else a.mode
    try:
        audio, rate = read(a.file, channel=a.channel)
    except ValueError as e:
        print(f"quorlax: '{a.file}': {e}", file=sys.stderr)
        return 2
    except (OSError, RuntimeError) as e:  # soundfile's errors are RuntimeErrors
        print(f"quorlax: cannot read '{a.file}': {e}", file=sys.stderr)
        return 2
    try:
        messages = inspect(audio, rate, a.output, mode, base_hz=a.base, separation=a.separation, title=a.title)
    except OSError as e:
        print(f"quorlax: cannot write '{a.output}': {e.strerror or e}", file=sys.stderr)
        return 2
    passed = sum(m.ok for m in messages)
    if sys.stderr.isatty():
        print(f"quorlax: wrote {a.output}: {len(messages)} message(s) heard, {passed} passed their check",
              file=sys.stderr)
    return 0 if passed else 1
