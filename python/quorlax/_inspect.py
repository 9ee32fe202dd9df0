"""A picture of what the decoder heard: spectrogram, tone grids, token windows."""
from __future__ import annotations

import os
from typing import Any, List, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

from ._codec import Message, as_mono, decode_traced
from ._modes import ALPHABET, MODES, ModeLike, analysis, band_grids, mode_value, token_samples

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
            mode: ModeLike = "all", *, base_hz: float = 12000.0, separation: int = 1,
            title: Optional[str] = None, size: Tuple[int, int] = (1400, 800),
            dpi: int = 100) -> List[Message]:
    """Decode `audio` and draw what was heard into a PNG.

    The picture shows the spectrogram from 2.5 kHz up (the audible band at
    3.3-9.3 kHz, compression at 14-15.5 kHz, non-audible at 17.8-20 kHz), the
    nine tones of each band as faint lines, and for every message found its
    front door and its 18 token windows boxed in its band, each labelled with
    the token the decoder decided; green when the message passed its check,
    red when it did not.

    Parameters
    ----------
    audio : array-like
        Mono samples (a 2-D array's first column is used).
    rate : int
        44100, 48000 or 22050 Hz.
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
    Figure, FigureCanvasAgg, Rectangle = _matplotlib()
    x = as_mono(audio)
    traces = decode_traced(x, rate, mode, base_hz=base_hz, separation=separation)
    custom = mode_value(mode) == MODES["custom"]
    grids = {g.name: g for g in band_grids(rate, base_hz if custom else None, separation)}

    window, _ = analysis(rate)
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

    tok = token_samples(rate) / rate
    for t in traces:
        m = t.message
        assert m is not None
        band = grids.get(m.band)
        if band is None:
            continue
        colour = _OK_COLOUR if m.ok else _FAILED_COLOUR
        low, high = band.low / 1000, band.high / 1000
        start = m.time
        ax.add_patch(Rectangle((start, low), 2 * tok, high - low, fill=False, edgecolor=colour,
                               linewidth=1.4))
        ax.text(start + tok, low - 0.08, "door", ha="center", va="top", fontsize=6.5, color=colour)
        for k, (token, _) in enumerate(t.tokens[:18]):
            left = start + (k + 2) * tok
            ax.add_patch(Rectangle((left, low), tok, high - low, fill=False, edgecolor=colour,
                                   linewidth=0.8))
            ax.text(left + tok / 2, high + 0.08, ALPHABET[token], ha="center", va="bottom",
                    fontsize=7.5, color=colour, family="monospace", fontweight="bold")
        verdict = "ok" if m.ok else "check failed"
        above = high + 1.0 < f_high / 1000
        ax.text(start, high + 0.55 if above else low - 0.45, f"{m.text}  {verdict}  {m.band}  confidence {m.confidence:.2f}  "
                f"at {m.time:.2f} s", ha="left", va="bottom" if above else "top", fontsize=8.5, color=colour,
                fontweight="bold", bbox=dict(facecolor="black", alpha=0.55, edgecolor="none", pad=1.5))

    ax.set_xlim(0.0, duration)
    ax.set_ylim(f_low / 1000, f_high / 1000)
    ax.set_xlabel("time (s)")
    ax.set_ylabel("frequency (kHz)")
    found = sum(1 for t in traces if t.message is not None and t.message.ok)
    ax.set_title(title if title is not None else
                 f"quorlax heard {found} message{'s' if found != 1 else ''} "
                 f"({len(traces) - found} failed their check) at {rate} Hz", fontsize=10)
    fig.savefig(os.fspath(path), dpi=dpi, format="png")
    return [t.message for t in traces if t.message is not None]
