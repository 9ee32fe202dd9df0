"""python3 -m quorlax encode|decode|inspect: the quorlax CLI's lines, from Python."""
from __future__ import annotations

import argparse
import json
import math
import sys
from typing import Any, Optional, Sequence, Tuple

import numpy as np

from . import __version__
from ._codec import Message, decode, encode
from ._errors import QuorlaxError
from ._wav import read_wav, write_wav

EXIT_FOUND, EXIT_NOTHING, EXIT_USAGE = 0, 1, 2


def _fixed(v: float, digits: int) -> str:
    if math.isnan(v):
        return "nan"
    if math.isinf(v):
        return "-inf" if v < 0 else "inf"
    return f"{v:.{digits}f}"


def _json_number(v: float, digits: int) -> str:
    return _fixed(v, digits) if math.isfinite(v) else "null"


def format_message(m: Message, as_json: bool = False) -> str:
    """One message as the quorlax CLI prints it (tab-separated or JSON)."""
    if as_json:
        return ("{\"text\":" + json.dumps(m.text) + ",\"ok\":" + ("true" if m.ok else "false")
                + ",\"band\":" + json.dumps(m.band) + ",\"confidence\":" + _json_number(m.confidence, 2)
                + ",\"level_db\":" + _json_number(m.level_db, 1) + ",\"time\":" + _json_number(m.time, 2) + "}")
    return (f"{m.text}\t{'ok' if m.ok else 'check-failed'}\tband={m.band}\tconfidence={_fixed(m.confidence, 2)}"
            f"\tlevel={_fixed(m.level_db, 1)} dB\tat={_fixed(m.time, 2)} s")


class _UsageError(Exception):
    pass


def _read(path: str, channel: int) -> Tuple["np.ndarray[Any, np.dtype[np.float32]]", int]:
    if channel < 1:
        raise _UsageError("--channel counts from 1")
    try:
        if path == "-":
            if sys.stdin.isatty():
                raise _UsageError("no input: name a FILE or pipe a WAV file into standard input")
            audio, rate = read_wav(sys.stdin.buffer, channel - 1)
        else:
            audio, rate = read_wav(path, channel - 1)
    except OSError as e:
        raise _UsageError(f"cannot read '{path}': {e.strerror or e}") from e
    except ValueError as e:
        raise _UsageError(f"cannot read '{path}': {e}") from e
    if len(audio) == 0:
        raise _UsageError(f"'{path}' holds no audio")
    return audio, rate


def _mode_args(p: argparse.ArgumentParser, default: str) -> None:
    p.add_argument("-m", "--mode", default=default,
                   choices=["audible", "nonaudible", "compression", "all", "custom"],
                   help=f"band (default {default})")
    p.add_argument("--base", type=float, default=12000.0, help="custom mode: lowest tone in Hz")
    p.add_argument("--separation", type=int, default=1, help="custom mode: separation")


def _parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog="python3 -m quorlax",
                                description="Send and receive nine-character messages as sound.",
                                epilog="Exit status: 0 a message passed its check (or the command "
                                       "succeeded), 1 none did, 2 usage or input/output errors.")
    p.add_argument("-V", "--version", action="version", version=f"quorlax {__version__}")
    sub = p.add_subparsers(dest="command", required=True)

    e = sub.add_parser("encode", help="write one transmission to a WAV file")
    e.add_argument("message", help="9 characters from 0-9 and a-v")
    _mode_args(e, "audible")
    e.add_argument("-r", "--rate", type=int, default=44100, help="sample rate (default 44100)")
    e.add_argument("-o", "--output", help="WAV file (default MESSAGE.wav); '-' writes raw float32 to stdout")
    e.add_argument("--melody", help="blend a melody in, one note per character (0-9, a-v)")
    e.add_argument("--synth", action="store_true", help="blend a random melody in")
    e.add_argument("--volume", type=float, help="gain of the --synth melody, dB")
    e.add_argument("--float", dest="float_wav", action="store_true", help="32-bit float WAV")

    d = sub.add_parser("decode", help="print the messages in a WAV file")
    d.add_argument("file", nargs="?", default="-", help="WAV file, or '-' for standard input")
    _mode_args(d, "all")
    d.add_argument("--json", action="store_true", help="one JSON object per message")
    d.add_argument("--failed", action="store_true", help="also show messages that failed their check")
    d.add_argument("--channel", type=int, default=1, help="channel to decode, from 1 (default 1)")
    d.add_argument("-q", "--quiet", action="store_true", help="accepted for the CLI's sake; nothing to hush")

    i = sub.add_parser("inspect", help="draw what the decoder heard into a PNG")
    i.add_argument("file", help="WAV file")
    _mode_args(i, "all")
    i.add_argument("-o", "--output", default="heard.png", help="PNG to write (default heard.png)")
    i.add_argument("--channel", type=int, default=1, help="channel, from 1 (default 1)")
    i.add_argument("--title", help="title above the picture")
    return p


def _encode(a: argparse.Namespace) -> int:
    audio = encode(a.message, a.mode, a.rate, melody=a.melody, synth=a.synth, volume_db=a.volume,
                   base_hz=a.base, separation=a.separation)
    out = a.output or f"{a.message}.wav"
    if out == "-":
        if sys.stdout.isatty():
            raise _UsageError("refusing to write raw audio to a terminal; pipe it or use -o FILE")
        sys.stdout.buffer.write(np.asarray(audio, "<f4").tobytes())
        sys.stdout.buffer.flush()
        return EXIT_FOUND
    try:
        write_wav(out, audio, a.rate, float32=a.float_wav)
    except OSError as e:
        raise _UsageError(f"cannot write '{out}': {e.strerror or e}") from e
    if sys.stderr.isatty():
        print(f"quorlax: wrote {out} ({len(audio) / a.rate:.2f} s, {a.mode} mode, {a.rate} Hz)", file=sys.stderr)
    return EXIT_FOUND


def _decode(a: argparse.Namespace) -> int:
    audio, rate = _read(a.file, a.channel)
    passed = 0
    for m in decode(audio, rate, a.mode, base_hz=a.base, separation=a.separation):
        passed += m.ok
        if m.ok or a.failed:
            print(format_message(m, a.json), flush=True)
    return EXIT_FOUND if passed else EXIT_NOTHING


def _inspect(a: argparse.Namespace) -> int:
    from ._inspect import inspect

    audio, rate = _read(a.file, a.channel)
    try:
        messages = inspect(audio, rate, a.output, a.mode, base_hz=a.base, separation=a.separation, title=a.title)
    except OSError as e:
        raise _UsageError(f"cannot write '{a.output}': {e.strerror or e}") from e
    for m in messages:
        print(format_message(m))
    return EXIT_FOUND if any(m.ok for m in messages) else EXIT_NOTHING


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run the command line; returns the exit status."""
    a = _parser().parse_args(argv)
    run = {"encode": _encode, "decode": _decode, "inspect": _inspect}[a.command]
    try:
        return run(a)
    except (_UsageError, ValueError, QuorlaxError, ImportError) as e:
        print(f"quorlax: {e}", file=sys.stderr)
        return EXIT_USAGE


if __name__ == "__main__":
    sys.exit(main())
