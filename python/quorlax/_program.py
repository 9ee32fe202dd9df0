"""Finding and running the quorlax program.

Standard library only, and nothing from the rest of the package: Dask sends
this module's functions to its workers as they are, so a worker without the
quorlax package still runs them and says what it lacks.
"""
from __future__ import annotations

import importlib.util
import json
import os
import shutil
import socket
import subprocess
import sys
from typing import Any, Dict, List, Sequence

Record = Dict[str, Any]


def _is_program(path: str) -> bool:
    """An executable ELF file: the program itself, not a launcher script that would come back here."""
    try:
        with open(path, "rb") as f:
            return f.read(4) == b"\x7fELF" and os.access(path, os.X_OK)
    except OSError:
        return False


def program() -> str:
    """Path of the quorlax program on this machine: in this machine's quorlax
    package (an installed wheel), in the build tree beside it (build/python/quorlax
    next to build/tools), or on PATH. The package is looked up, not imported: on a
    Dask worker this runs without it."""
    candidates: List[str] = []
    package = importlib.util.find_spec("quorlax")
    if package is not None and package.origin:
        here = os.path.dirname(os.path.abspath(package.origin))
        candidates += [os.path.join(here, "bin", "quorlax"), os.path.join(here, os.pardir, os.pardir, "tools", "quorlax")]
    found = shutil.which("quorlax")
    if found:
        candidates.append(found)
    for path in candidates:
        if _is_program(path):
            return os.path.normpath(path)
    raise FileNotFoundError("the quorlax program is neither in the quorlax package here nor on PATH "
                            "(pip install quorlax installs both)")


def scan_records(args: Sequence[str]) -> List[Record]:
    """The records of `quorlax scan -q ARGS`, run to its end."""
    p = subprocess.run([program(), "scan", "-q", *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if p.returncode not in (0, 1):
        raise RuntimeError(f"quorlax scan failed ({p.returncode}): {p.stderr.decode(errors='replace').strip()}")
    return [json.loads(line) for line in p.stdout.decode("utf-8", "surrogateescape").splitlines() if line]


def scan_task(path: str, options: List[str]) -> List[Record]:
    """One file as a Dask task: its messages, then its own record."""
    try:
        return scan_records(["-j", "1", *options, "--", path])
    except FileNotFoundError as e:
        raise RuntimeError(f"the Dask worker on {socket.gethostname()} ({sys.executable}) cannot decode "
                           f"'{path}': {e}") from None
