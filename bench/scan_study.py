#!/usr/bin/python3
"""How `quorlax scan` scales: worker processes, Dask workers, file length.

    QUORLAX_PROGRAM=build/tools/quorlax PYTHONPATH=build/python \\
        /usr/bin/python3 bench/scan_study.py [--files 8] [--minutes 10] [--hours 3] [--reps 5]

Prints the figures docs/PERFORMANCE.md quotes:
- rate of `-j 1` and `-j 2` on 10-minute files, in hours of audio per wall
  second, runs interleaved so load swings hit both;
- rate of quorlax.scan on a LocalCluster of one worker and of two;
- peak memory of a scan's processes for a 3-minute and a 3-hour file;
- what one file costs beyond its decoding (1-second files, and empty ones).
Not a test: nothing is asserted.
"""
from __future__ import annotations

import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np
import soundfile as sf

PROGRAM = os.environ.get("QUORLAX_PROGRAM", "build/tools/quorlax")
RATE = 44100


def write_noise(path: Path, seconds: float, seed: int, message: str | None = None) -> None:
    """Noise at -40 dBFS written in blocks (a 3-hour file never sits in memory)."""
    rng = np.random.default_rng(seed)
    total = int(seconds * RATE)
    clip = None
    if message:
        p = subprocess.run([PROGRAM, "encode", message, "-r", str(RATE), "-o", "-"], capture_output=True, check=True)
        clip = np.frombuffer(p.stdout, dtype="<f4")
    with sf.SoundFile(str(path), "w", RATE, 1, subtype="PCM_16") as f:
        done = 0
        while done < total:
            n = min(RATE * 60, total - done)
            block = rng.normal(0.0, 0.01, n)
            if clip is not None and done == 0:
                block[RATE:RATE + len(clip)] += 0.3 * clip
            f.write(block)
            done += n


def busy_seconds() -> float:
    """CPU seconds every process on the machine has used since boot."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    idle = fields[3] + fields[4]
    return (sum(fields[:8]) - idle) / os.sysconf("SC_CLK_TCK")


OTHERS: dict[str, list[float]] = {}


def note_others(name: str, busy: float, ours: float, wall: float) -> None:
    """Cores other processes kept busy meanwhile: the contention behind a figure."""
    OTHERS.setdefault(name, []).append(max(0.0, busy - ours) / wall)


def timed(cmd, name: str = "") -> tuple[float, float]:
    """Wall and CPU seconds (this run's children) of a command."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    b0 = busy_seconds()
    t0 = time.monotonic()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, check=False)
    wall = time.monotonic() - t0
    busy = busy_seconds() - b0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    if name:
        note_others(name, busy, cpu, wall)
    return wall, cpu


def peak_rss_kib(cmd) -> int:
    """Peak resident set of the largest process the command ran (its worker)."""
    script = ("import resource, subprocess, sys\n"
              "subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL)\n"
              "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")
    out = subprocess.run([sys.executable, "-c", script, *cmd], capture_output=True, text=True, check=True)
    return int(out.stdout.strip())


def loadavg() -> str:
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def summary(name: str, hours: float, walls: list[float], cpus: list[float]) -> float:
    rates = [hours / w for w in walls]
    others = OTHERS.get(name.strip(), [0.0])
    print(f"  {name}: median {statistics.median(rates):.3f} h/s, best {max(rates):.3f} h/s "
          f"(wall {statistics.median(walls):.2f} s, cpu {statistics.median(cpus):.2f} s; other processes kept "
          f"{statistics.median(others):.2f} cores busy, at most {max(others):.2f})")
    return statistics.median(rates)


def study_jobs(folder: Path, hours: float, reps: int) -> None:
    print(f"CLI scan, {hours:.2f} h of audio, load {loadavg()}")
    walls = {1: [], 2: []}
    cpus = {1: [], 2: []}
    for _ in range(reps):
        for j in (1, 2):
            w, c = timed([PROGRAM, "scan", "-q", "-j", str(j), str(folder)], f"-j {j}")
            walls[j].append(w)
            cpus[j].append(c)
    r1 = summary("-j 1", hours, walls[1], cpus[1])
    r2 = summary("-j 2", hours, walls[2], cpus[2])
    pairs = [a / b for a, b in zip(walls[1], walls[2])]
    print(f"  speed-up -j 2 / -j 1: {r2 / r1:.2f} (medians), per interleaved pair "
          f"{' '.join(f'{p:.2f}' for p in pairs)}; load {loadavg()}")


def study_dask(folder: Path, hours: float, reps: int) -> None:
    import quorlax
    from distributed import Client, LocalCluster
    print(f"quorlax.scan on a LocalCluster, {hours:.2f} h of audio, load {loadavg()}")
    walls = {1: [], 2: []}
    cpus = {1: [], 2: []}
    clusters = {n: LocalCluster(n_workers=n, threads_per_worker=1, processes=True, dashboard_address=":0")
                for n in (1, 2)}
    clients = {n: Client(c) for n, c in clusters.items()}
    try:
        for n in (1, 2):  # workers import the package once, before the clock starts
            clients[n].run(lambda: __import__("quorlax"))
        for _ in range(reps):
            for n in (1, 2):
                before = clients[n].run(lambda: resource.getrusage(resource.RUSAGE_CHILDREN))
                b0 = busy_seconds()
                t0 = time.monotonic()
                count = sum(1 for _ in quorlax.scan(folder, client=clients[n]))
                walls[n].append(time.monotonic() - t0)
                busy = busy_seconds() - b0
                after = clients[n].run(lambda: resource.getrusage(resource.RUSAGE_CHILDREN))
                cpus[n].append(sum(after[k].ru_utime + after[k].ru_stime - before[k].ru_utime - before[k].ru_stime
                                   for k in after if k in before))
                # Counts the cluster's own processes (scheduler, workers, client) as others.
                note_others(f"{n} worker{'s' if n > 1 else ''}", busy, cpus[n][-1], walls[n][-1])
                assert count > 0
        r1 = summary("1 worker ", hours, walls[1], cpus[1])
        r2 = summary("2 workers", hours, walls[2], cpus[2])
        pairs = [a / b for a, b in zip(walls[1], walls[2])]
        print(f"  speed-up 2 workers / 1: {r2 / r1:.2f} (medians), per interleaved pair "
              f"{' '.join(f'{p:.2f}' for p in pairs)}; load {loadavg()}")
    finally:
        for n in (1, 2):
            clients[n].close()
            clusters[n].close()


def study_memory(tmp: Path, hours: float) -> None:
    print("Peak memory of `quorlax scan -j 1 FILE` (the largest of its processes)")
    for label, seconds in (("3 minutes", 180.0), (f"{hours:g} hours", hours * 3600.0)):
        path = tmp / f"mem-{int(seconds)}.wav"
        write_noise(path, seconds, seed=7, message="mem0r1123")
        t0 = time.monotonic()
        kib = peak_rss_kib([PROGRAM, "scan", "-q", "-j", "1", str(path)])
        print(f"  {label}: {kib / 1024:.1f} MiB ({time.monotonic() - t0:.1f} s)")
        path.unlink()


def study_per_file(tmp: Path, reps: int) -> None:
    folder = tmp / "short"
    folder.mkdir()
    write_noise(folder / "one.wav", 1.0, seed=3)
    for i in range(400):
        os.link(folder / "one.wav", folder / f"s{i:03d}.wav")
    long_file = tmp / "ten.wav"
    write_noise(long_file, 600.0, seed=4)
    empty = tmp / "empty"
    empty.mkdir()
    for i in range(401):
        (empty / f"e{i:03d}.wav").write_bytes(b"")
    walls, decode, machinery = [], [], []
    for _ in range(reps):
        walls.append(timed([PROGRAM, "scan", "-q", "-j", "1", str(folder)])[0])
        decode.append(timed([PROGRAM, "scan", "-q", "-j", "1", str(long_file)])[0])
        machinery.append(timed([PROGRAM, "scan", "-q", "-j", "1", str(empty)])[0])
    per_second = statistics.median(decode) / 600.0  # one second of audio inside a long file
    per_file = statistics.median(walls) / 401
    print(f"One-second files: {per_file * 1e3:.2f} ms each, against {per_second * 1e3:.2f} ms for a second of "
          f"audio inside a 10-minute file; each file costs {(per_file - per_second) * 1e3:.2f} ms more (worker "
          f"process, pipe, opening the file, the listener's set-up and closing silence, the append), "
          f"{100 * (per_file - per_second) / statistics.median(decode):.2f}% of a 10-minute file's "
          f"{statistics.median(decode):.2f} s")
    print(f"Empty files (a worker that only fails to open its file): {statistics.median(machinery) / 401 * 1e3:.2f} "
          f"ms each")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--files", type=int, default=8)
    ap.add_argument("--minutes", type=float, default=10.0)
    ap.add_argument("--hours", type=float, default=3.0)
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--only", choices=["jobs", "dask", "memory", "files"], action="append")
    a = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix="quorlax-scan-study-") as d:
        tmp = Path(d)
        folder = tmp / "archive"
        folder.mkdir()
        # Distinct files of the same length, so the two workers share the work evenly.
        for i in range(a.files):
            write_noise(folder / f"f{i:02d}.wav", a.minutes * 60.0, seed=100 + i, message="st0d10000")
        hours = a.files * a.minutes / 60.0
        only = a.only or ["jobs", "dask", "memory", "files"]
        if "jobs" in only:
            study_jobs(folder, hours, a.reps)
        if "dask" in only:
            study_dask(folder, hours, a.reps)
        if "files" in only:
            study_per_file(tmp, a.reps)
        if "memory" in only:
            study_memory(tmp, a.hours)


if __name__ == "__main__":
    main()
