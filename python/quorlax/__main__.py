"""python3 -m quorlax: runs the quorlax program (pip installs it beside this Python)."""
from __future__ import annotations

import os
import shutil
import sys
from typing import List, Optional, Sequence


def program() -> str:
    """Path of the quorlax program: beside this Python (a venv's bin/), in a build
    tree beside this package, or on PATH."""
    here = os.path.dirname(os.path.abspath(__file__))
    candidates: List[str] = [os.path.join(os.path.dirname(sys.executable), "quorlax"),
                             os.path.join(here, os.pardir, os.pardir, "tools", "quorlax")]
    found = shutil.which("quorlax")
    if found:
        candidates.append(found)
    for path in candidates:
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return os.path.normpath(path)
    raise FileNotFoundError("the quorlax program is not installed beside this Python nor on PATH "
                            "(pip install . from the source tree installs both)")


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
    os.execv(exe, [exe, *args])
    return 2  # not reached


if __name__ == "__main__":
    sys.exit(main())
