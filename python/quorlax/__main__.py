"""python3 -m quorlax: runs the quorlax program that this package carries."""
from __future__ import annotations

import os
import sys
from typing import Optional, Sequence

from ._program import program


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
