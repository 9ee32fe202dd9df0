"""Scanning archives: every sound file under some folders, decoded by the
`quorlax` program, on this machine or as tasks on a Dask cluster.

Every file is decoded by ``quorlax scan``, so the records are the program's
own lines whichever way they were computed.
"""
from __future__ import annotations

import json
import os
import subprocess
from typing import Any, Dict, Iterable, Iterator, List, Optional, Union

from . import _program
from ._modes import MODE_NAMES, ModeLike, mode_value
from ._program import program

__all__ = ["scan"]

PathLike = Union[str, "os.PathLike[str]"]
Record = Dict[str, Any]


def _paths(paths: Union[PathLike, Iterable[PathLike]]) -> List[str]:
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    out = [os.fsdecode(p) for p in paths]
    if not out:
        raise ValueError("paths: name at least one file or folder")
    return out


def _mode_args(mode: ModeLike, failed: bool, base_hz: Optional[float], separation: Optional[int]) -> List[str]:
    value = mode_value(mode)
    args = ["-m", MODE_NAMES[value]]
    if base_hz is not None or separation is not None:
        if MODE_NAMES[value] != "custom":
            raise ValueError("base_hz and separation apply to mode='custom' only")
        if base_hz is not None:
            args += ["--base", repr(float(base_hz))]
        if separation is not None:
            args += ["--separation", str(int(separation))]
    if failed:
        args.append("--failed")
    return args


def scan(paths: Union[PathLike, Iterable[PathLike]], mode: ModeLike = "all", client: Any = None, *,
         jobs: Optional[int] = None, failed: bool = False, base_hz: Optional[float] = None,
         separation: Optional[int] = None) -> Iterator[Record]:
    """Decode every sound file under `paths` and yield one record per message
    and one per finished file, as ``quorlax scan`` writes them.

    Parameters
    ----------
    paths : path or iterable of paths
        Files, and folders walked recursively (files whose extension names a
        format libsndfile reads).
    mode : str or int
        ``"all"`` (default), ``"audible"``, ``"nonaudible"``, ``"compression"``
        or ``"custom"`` (with `base_hz` and `separation`).
    client : dask.distributed.Client, optional
        Run each file as a task on this cluster. Paths must name the same files
        on the workers (a shared file system; relative paths are made absolute
        here first), and each worker needs the quorlax package (its program):
        the files of a worker without it get an ``error`` record saying so.
        Dask schedules the tasks and re-runs those of a worker that died.
        Without a client, the program's own worker processes run on this
        machine (`jobs` of them, default one per core).
    failed : bool
        Also report messages that failed their check.

    Yields
    ------
    dict
        A message: ``file, channel, start, end, text, ok, band, level_db,
        confidence``; a finished file: ``file, duration, rate, channels,
        messages``, or ``file, error``. Records come as files finish, in no
        fixed order across files; a file's messages come before its own record.
    """
    files = _paths(paths)
    args = _mode_args(mode, failed, base_hz, separation)
    if jobs is not None and int(jobs) < 1:
        raise ValueError(f"jobs: at least 1, not {jobs}")
    if client is None:
        return _scan_here(files, args, jobs)
    return _scan_on(client, files, args)


def _scan_here(files: List[str], args: List[str], jobs: Optional[int]) -> Iterator[Record]:
    cmd = [program(), "scan", "-q", *args]
    if jobs is not None:
        cmd += ["-j", str(int(jobs))]
    proc = subprocess.Popen([*cmd, "--", *files], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        assert proc.stdout is not None
        for line in proc.stdout:
            yield json.loads(line.decode("utf-8", "surrogateescape"))
        err = proc.stderr.read() if proc.stderr is not None else b""
        if proc.wait() not in (0, 1):
            raise RuntimeError(f"quorlax scan failed ({proc.returncode}): {err.decode(errors='replace').strip()}")
    finally:
        if proc.poll() is None:  # the caller stopped early
            proc.kill()
            proc.wait()
        for stream in (proc.stdout, proc.stderr):
            if stream is not None:
                stream.close()


def _list(files: List[str]) -> List[str]:
    return [r["file"] for r in _program.scan_records(["--list", "--", *files])]


def _scan_on(client: Any, files: List[str], args: List[str]) -> Iterator[Record]:
    import cloudpickle
    from distributed import as_completed

    # The task goes to the workers as code, not as a name of this package, so
    # a worker without the package fails its files with a reason instead of
    # failing to read the task (which leaves the caller waiting for ever).
    cloudpickle.register_pickle_by_value(_program)
    # Workers know nothing of this process's current folder.
    paths = _list([os.path.abspath(f) for f in files])
    futures = client.map(_program.scan_task, paths, options=args, pure=False)
    pending = {f.key: (f, path) for f, path in zip(futures, paths)}
    try:
        for future in as_completed(futures):
            _, path = pending.pop(future.key)
            try:
                records = future.result()
            except Exception as e:  # the task's own error, or its worker died too often
                records = [{"file": path, "error": f"{type(e).__name__}: {e}"}]
            future.release()
            yield from records
    finally:
        # Only what the caller left unread: cancelling finished keys makes the
        # scheduler look for them again for a second.
        if pending:
            client.cancel([f for f, _ in pending.values()])
