"""python3 -m quorlax: runs the quorlax program that this package carries."""
from __future__ import annotations

import os
import shutil
import sys
from typing import List, Optional, Sequence


def _is_program(path: str) -> bool:
    """An executable ELF file: the program itself, not a launcher script that would come back here."""
    try:
        with open(path, "rb") as f:
            return f.read(4) == b"\x7fELF" and os.access(path, os.X_OK)
    except OSError:
        return False


def program() -> str:
    """Path of the quorlax program: in this package (an installed wheel), in the
    build tree beside it (build/python/quorlax next to build/tools), or on PATH."""
    here = os.path.dirname(os.path.abspath(__file__))
    candidates: List[str] = [os.path.join(here, "bin", "quorlax"),
                             os.path.join(here, os.pardir, os.pardir, "tools", "quorlax")]
    found = shutil.which("quorlax")
    if found:
        candidates.append(found)
    for path in candidates:
        if _is_program(path):
            return os.path.normpath(path)
    raise FileNotFoundError("the quorlax program is neither in this package nor on PATH "
                            "(pip install quorlax installs both)")


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Replaces this process with the quorlax program; returns 2 when there is none."""
    args = list(sys.argv[1:] if argv is None else argv)
    try:
        exe = program()
    except FileNotFoundError as e:
        print(f"quorlax: {e}", file=sys.stderr)
        return 2
    sys.stdout.flush()
    sys.stderr.flush()
    # quorlax inspect draws with this package: the interpreter that has it.
    os.environ["QUORLAX_PYTHON"] = sys.executable
    os.execv(exe, [exe, *args])
    return 2  # not reached


if __name__ == "__main__":
    sys.exit(main())
