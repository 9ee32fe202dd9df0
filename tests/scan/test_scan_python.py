"""quorlax.scan from Python: the local pool gives the program's own lines, a
Dask cluster gives the local pool's records, and a worker killed in the middle
of a file costs nothing."""
from __future__ import annotations

import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import corpus  # noqa: E402
import quorlax  # noqa: E402
from corpus import canon, parse, run_scan  # noqa: E402

distributed = pytest.importorskip("distributed")


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    root = tmp_path_factory.mktemp("archive")
    corpus.make(root)
    return root


def cluster(n_workers):
    return distributed.LocalCluster(n_workers=n_workers, threads_per_worker=1, processes=True,
                                    dashboard_address=":0")


def test_local_pool_yields_the_programs_lines(folder):
    p = run_scan(folder, "-j", "2")
    assert p.returncode == 0, p.stderr
    want = canon(parse(p.stdout.decode()))
    assert canon(quorlax.scan(folder)) == want
    assert canon(quorlax.scan([str(folder)], mode="all", jobs=1)) == want
    # Another mode reaches the program: only audible messages remain.
    audible = list(quorlax.scan(folder, mode="audible"))
    assert {r["band"] for r in audible if "text" in r} == {"audible"}


def test_local_pool_stops_with_its_caller(folder):
    records = quorlax.scan(folder, jobs=1)
    next(records)
    records.close()  # kills the program; nothing is left running
    assert not [c for c in children(os.getpid()) if alive(c)]


@pytest.mark.parametrize("kwargs", [{"mode": "loud"}, {"base_hz": 9000.0}, {"jobs": 0}, {"paths": []}])
def test_bad_arguments_raise_at_the_call(folder, kwargs):
    kwargs = {"paths": folder, **kwargs}
    with pytest.raises(ValueError):
        quorlax.scan(**kwargs)


def test_cluster_gives_the_local_pools_records(folder):
    local = canon(quorlax.scan(folder))
    with cluster(2) as c, distributed.Client(c) as client:
        got = list(quorlax.scan(folder, client=client))
        assert canon(got) == local
        # A file's messages come before its own record.
        seen_own = set()
        for r in got:
            if "text" in r:
                assert r["file"] not in seen_own
            else:
                seen_own.add(r["file"])
        # A caller that stops early leaves no tasks behind.
        records = quorlax.scan(folder, client=client)
        next(records)
        records.close()
        deadline = time.monotonic() + 30
        while client.run_on_scheduler(_task_count) and time.monotonic() < deadline:
            time.sleep(0.05)
        assert client.run_on_scheduler(_task_count) == 0


def test_cluster_resolves_relative_paths_here(folder, monkeypatch):
    local = canon(quorlax.scan(folder))
    monkeypatch.chdir(folder.parent)
    with cluster(1) as c, distributed.Client(c) as client:
        got = list(quorlax.scan(folder.name, client=client))
    assert canon(got) == local  # the records name the files as absolute paths


def test_a_worker_without_the_package_fails_its_files_at_once(folder):
    """Its files get error records that say why, in bounded time, instead of a client left waiting."""
    bare_path = "/usr/bin:/bin"
    if shutil.which("quorlax", path=bare_path):
        pytest.skip("a quorlax program is installed for every Python here")
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_PRELOAD")}
    env["PATH"] = bare_path
    if subprocess.run([sys.executable, "-c", "import importlib.util, sys; "
                       "sys.exit(importlib.util.find_spec('quorlax') is not None)"], env=env).returncode:
        pytest.skip("the package is installed for this Python itself (the build tree's run has a worker without it)")
    with distributed.LocalCluster(n_workers=0, dashboard_address=":0") as c, distributed.Client(c) as client:
        worker = subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", c.scheduler_address,
                                   "--nthreads", "1", "--no-nanny", "--no-dashboard"], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            client.wait_for_workers(1, timeout=60)
            began = time.monotonic()
            got = list(quorlax.scan(folder, client=client))
            took = time.monotonic() - began
        finally:
            worker.terminate()
            worker.wait(timeout=30)
    files = sorted(r["file"] for r in quorlax.scan(folder) if "text" not in r)
    assert sorted(r["file"] for r in got) == files and all(set(r) == {"file", "error"} for r in got), got
    assert all("cannot decode" in r["error"] and "the quorlax program is neither" in r["error"] for r in got)
    assert took < 60, took


def _task_count(dask_scheduler=None):
    return len(dask_scheduler.tasks)


def children(pid):
    out = []
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/children") as f:
                out += [int(c) for c in f.read().split()]
        except FileNotFoundError:
            pass
    return out


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def decoding(pid):
    """True for a quorlax program (a worker's other children do not count)."""
    try:
        with open(f"/proc/{pid}/comm") as f:
            return f.read().strip() == "quorlax"
    except FileNotFoundError:
        return False


def test_worker_killed_during_a_task_is_retried(tmp_path):
    import numpy as np
    import soundfile as sf
    rate = 44100
    rng = np.random.default_rng(corpus.SEED)
    audio = rng.normal(0.0, 0.01, 600 * rate)  # long enough to catch a worker in the middle of it
    clip = corpus.encode("k1lled0k9", "audible", rate)
    audio[300 * rate:300 * rate + len(clip)] += 0.3 * clip
    sf.write(str(tmp_path / "ten.wav"), audio, rate, subtype="PCM_16")
    for i in range(5):
        os.link(tmp_path / "ten.wav", tmp_path / f"ten{i}.wav")
    want = canon(quorlax.scan(tmp_path))
    assert len(want) == 12

    with cluster(2) as c, distributed.Client(c) as client:
        before = client.run(os.getpid)
        records = quorlax.scan(tmp_path, client=client)
        got = [next(records)]  # tasks are running
        victim = None
        deadline = time.monotonic() + 60
        while victim is None and time.monotonic() < deadline:
            busy = [pid for pid in before.values() if any(alive(k) and decoding(k) for k in children(pid))]
            victim = busy[0] if busy else None
            time.sleep(0.005)
        assert victim is not None, "no worker was seen decoding"
        os.kill(victim, signal.SIGKILL)
        got += list(records)
        assert canon(got) == want
        # The nanny brought a new worker up in its place.
        client.wait_for_workers(2, timeout=60)
        after = client.run(os.getpid)
        assert victim not in after.values() and len(after) == 2
        # The scheduler saw a task lost with the worker and ran it again.
        log = client.run_on_scheduler(_lost_task_stories)
        assert log, "no task was retried"


def _lost_task_stories(dask_scheduler=None):
    """Keys of tasks that went back from processing to waiting or released."""
    lost = set()
    for entry in dask_scheduler.transition_log:
        key, start, finish = entry[0], entry[1], entry[2]
        if start == "processing" and finish in ("waiting", "released"):
            lost.add(str(key))
    return sorted(lost)
