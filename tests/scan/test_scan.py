"""quorlax scan: what it finds, what it reports, and that a scan killed at any
moment and resumed ends with the lines of one that never stopped."""
from __future__ import annotations

import json
import os
import random
import re
import signal
import subprocess
import sys
import time
from collections import Counter
from pathlib import Path

import numpy as np
import pytest

sys.path.insert(0, os.path.dirname(__file__))
import corpus  # noqa: E402
from corpus import canon, parse, run_scan  # noqa: E402

# The front door is found to within a few samples; allow a few milliseconds.
START_TOLERANCE_S = 0.005


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    root = tmp_path_factory.mktemp("archive")
    files, recordings = corpus.make(root)
    return root, files, recordings


@pytest.fixture(scope="module")
def full(folder):
    """An uninterrupted scan of the folder: its lines."""
    root, _, _ = folder
    p = run_scan(root, "-j", "2")
    assert p.returncode == 0, p.stderr.decode()
    return p.stdout.decode()


def children(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(c) for c in f.read().split()]
    except FileNotFoundError:
        return []


def test_lists_the_sound_files_and_nothing_else(folder):
    root, files, _ = folder
    p = run_scan("--list", root)
    assert p.returncode == 0, p.stderr.decode()
    assert [r["file"] for r in parse(p.stdout.decode())] == files
    # Named on the command line, any file is a target; a file named twice is scanned once.
    named = str(root / "notes.txt")
    p = run_scan("--list", named, root / "a_44k.wav", root, named)
    listed = [r["file"] for r in parse(p.stdout.decode())]
    assert listed[:2] == [named, str(root / "a_44k.wav")] and len(listed) == len(files) + 1


def test_every_transmission_found_once_at_its_time(folder, full):
    root, files, recordings = folder
    records = parse(full)
    messages = [r for r in records if "text" in r]
    want = {(str(p), s.channel, s.text, s.band): s.at for p, rec in recordings.items() for s in rec.sent}
    got = Counter((m["file"], m["channel"], m["text"], m["band"]) for m in messages)
    assert dict(got) == {k: 1 for k in want}, full
    for m in messages:
        at = want[(m["file"], m["channel"], m["text"], m["band"])]
        assert m["ok"] is True
        assert abs(m["start"] - at) <= START_TOLERANCE_S, m
        # A transmission lasts 20 tokens of 4608 samples at 44100 Hz.
        assert abs((m["end"] - m["start"]) - 20 * 4608 / 44100) <= 0.03, m
        assert -60 < m["level_db"] < 0 and 0 < m["confidence"] <= 1, m


def test_every_file_has_one_line_of_its_own(folder, full):
    root, files, recordings = folder
    own = [r for r in parse(full) if "text" not in r]
    assert sorted(r["file"] for r in own) == sorted(files)
    by_file = {r["file"]: r for r in own}
    for path, rec in recordings.items():
        r = by_file[path]
        assert "error" not in r, r
        assert (r["rate"], r["channels"], r["messages"]) == (rec.rate, rec.channels, len(rec.sent)), r
        assert abs(r["duration"] - sf_seconds(path)) < 1e-5, r
    for name, why in [(corpus.CORRUPT, "malformed"), (corpus.EMPTY, "is empty"),
                      (corpus.NO_FRAMES, "holds no audio")]:
        r = by_file[str(root / name)]
        assert set(r) == {"file", "error"} and why in r["error"].lower(), r


# (extension, libsndfile format, subtype): every kind of file decode reads, under the names it goes by.
FORMATS = [("wav", "WAV", "PCM_16"), ("wave", "WAV", "PCM_16"), ("flac", "FLAC", "PCM_16"), ("ogg", "OGG", "VORBIS"),
           ("oga", "OGG", "VORBIS"), ("aiff", "AIFF", "PCM_16"), ("aif", "AIFF", "FLOAT"), ("au", "AU", "PCM_16"),
           ("snd", "AU", "PCM_16"), ("caf", "CAF", "PCM_16"), ("w64", "W64", "PCM_16"), ("rf64", "RF64", "PCM_16"),
           ("mp3", "MP3", "MPEG_LAYER_III")]


def test_every_format_the_decoder_reads_is_scanned(tmp_path):
    import soundfile as sf
    rate = 48000
    clip = corpus.encode("f0rmat123", "audible", rate)
    audio = np.concatenate([np.zeros(rate // 2), 0.5 * clip, np.zeros(rate // 2)])
    names = []
    for ext, fmt, subtype in FORMATS:
        name = str(tmp_path / f"x.{ext}")
        sf.write(name, audio, rate, format=fmt, subtype=subtype)
        decoded = subprocess.run([corpus.program(), "decode", name], capture_output=True, timeout=60)
        assert decoded.returncode == 0 and decoded.stdout.startswith(b"f0rmat123\tok"), (ext, decoded.stderr)
        names.append(name)
    p = run_scan(tmp_path)
    own = {r["file"]: r for r in parse(p.stdout.decode()) if "text" not in r}
    assert p.returncode == 0 and sorted(own) == sorted(names), p.stderr.decode()
    assert all(r.get("messages") == 1 for r in own.values()), own


def test_a_damaged_file_is_an_error_record_after_what_was_heard(tmp_path):
    import soundfile as sf
    rate = 48000
    clip = corpus.encode("be4ored4m", "audible", rate)
    # Noise after it, so that FLAC spreads its bytes over the whole file.
    tail = np.random.default_rng(corpus.SEED).normal(0.0, 0.01, 4 * rate)
    audio = np.concatenate([np.zeros(rate // 2), 0.5 * clip, tail])
    for ext in ("flac", "wav"):
        whole = tmp_path / f"whole.{ext}"
        sf.write(str(whole), audio, rate, subtype="PCM_16")
        data = whole.read_bytes()
        cut = tmp_path / f"cut.{ext}"
        cut.write_bytes(data[:len(data) * 2 // 3])
        p = run_scan(cut)
        lines = parse(p.stdout.decode())
        assert p.returncode == 0 and [r.get("text") for r in lines] == ["be4ored4m", None], p.stdout.decode()
        assert set(lines[1]) == {"file", "error"}, lines[1]
        assert re.fullmatch(r"'%s' ends after \d\.\d\d s, short of the 6\.\d\d s its header announces: it was "
                            r"cut off.*" % re.escape(str(cut)), lines[1]["error"]), lines[1]
        assert b"1 of 1 files could not be read" in p.stderr


def sf_seconds(path):
    import soundfile as sf
    info = sf.info(path)
    return info.frames / info.samplerate


def test_each_files_lines_are_together_its_own_line_last(full):
    lines = parse(full)
    i = 0
    while i < len(lines):
        f = lines[i]["file"]
        while "text" in lines[i]:
            assert lines[i]["file"] == f
            i += 1
        assert lines[i]["file"] == f and "text" not in lines[i]
        i += 1


@pytest.mark.parametrize("jobs", ["1", "3"])
def test_worker_count_changes_nothing(folder, full, jobs):
    root, _, _ = folder
    p = run_scan(root, "-j", jobs)
    assert p.returncode == 0 and canon(parse(p.stdout.decode())) == canon(parse(full))


def test_exit_status_and_output_rules(folder, tmp_path):
    root, _, _ = folder
    # Nothing passed its check: 1; nothing on stderr but the unreadable count.
    p = run_scan(root / "g_noise_4ch.w64")
    assert p.returncode == 1 and p.stderr == b"", p.stderr
    p = run_scan(root / corpus.CORRUPT, root / "a_44k.wav")
    assert p.returncode == 0 and b"1 of 2 files could not be read" in p.stderr
    # A results file is never overwritten, nor written by two scans at once.
    out = tmp_path / "r.jsonl"
    out.write_text("x\n")
    p = run_scan(root / "a_44k.wav", "--out", out)
    assert p.returncode == 2 and b"--resume" in p.stderr and out.read_text() == "x\n"
    p = run_scan(root / "a_44k.wav", "--out", out, "--resume")
    assert p.returncode == 2 and b"not a scan result" in p.stderr and out.read_text() == "x\n"
    out.unlink()
    import fcntl
    with open(out, "w") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        p = run_scan(root / "a_44k.wav", "--out", out)
    assert p.returncode == 2 and b"another scan" in p.stderr
    for bad in (["-j", "0"], ["-m", "loud"], ["--resume"], ["--base", "9000"], ["--frobnicate"], []):
        p = run_scan(*bad, *([root] if bad else []))
        assert p.returncode == 2 and p.stderr.startswith(b"quorlax: "), (bad, p.stderr)


def test_resumed_from_any_cut_gives_the_same_lines(folder, full, tmp_path):
    """A killed scan leaves a prefix of some complete output; resume from cuts at
    line boundaries, either side of them, and at random bytes."""
    root, _, _ = folder
    data = full.encode()
    seed = random.randrange(1 << 30)
    print(f"seed {seed}")
    rng = random.Random(seed)
    ends = [i + 1 for i, b in enumerate(data) if b == ord("\n")]
    near_ends = sorted({c for e in ends for c in (e - 1, e, e + 1) if 0 < c < len(data)})
    cuts = {0, len(data)} | set(rng.sample(near_ends, 12)) | {rng.randrange(len(data)) for _ in range(6)}
    want = canon(parse(full))
    out = tmp_path / "r.jsonl"
    for cut in sorted(cuts):
        out.write_bytes(data[:cut])
        p = run_scan(root, "--out", out, "--resume", "-j", "2")
        assert p.returncode == 0, (cut, p.stderr)
        assert canon(parse(out.read_text())) == want, f"cut at byte {cut} (seed {seed})"


def start_scan(args):
    return subprocess.Popen([corpus.program(), "scan", *map(str, args)], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)


@pytest.fixture(scope="module")
def big_folder(folder, tmp_path_factory):
    """The archive with a dozen two-minute recordings beside it, so that a
    scan runs long enough to be killed at many moments."""
    root, _, _ = folder
    big = tmp_path_factory.mktemp("big")
    import numpy as np
    import soundfile as sf
    rate = 44100
    rng = np.random.default_rng(corpus.SEED)
    audio = rng.normal(0.0, 0.01, 120 * rate)
    clip = corpus.encode("l0ng0ne00", "audible", rate)
    audio[60 * rate:60 * rate + len(clip)] += 0.3 * clip
    sf.write(str(big / "long.wav"), audio, rate, subtype="PCM_16")
    for i in range(12):
        os.link(big / "long.wav", big / f"long{i:02d}.wav")  # a symbolic link would be scanned once
    t0 = time.monotonic()
    p = run_scan(big, root, "-j", "2")
    assert p.returncode == 0
    return [big, root], canon(parse(p.stdout.decode())), time.monotonic() - t0


# The scan installs no handlers: SIGINT and SIGHUP end it as SIGTERM does.
@pytest.mark.parametrize("sig,kills", [(signal.SIGKILL, 3), (signal.SIGTERM, 2)])
def test_killed_scans_resume_to_the_same_lines(big_folder, tmp_path, sig, kills):
    paths, want, seconds = big_folder
    seed = random.randrange(1 << 30)
    print(f"seed {seed}")
    rng = random.Random(seed)
    out = tmp_path / "r.jsonl"
    interrupted = 0
    for attempt in range(kills):
        proc = start_scan([*paths, "--out", out, "-j", "2"] + (["--resume"] if attempt else []))
        time.sleep(rng.uniform(0.0, 0.7) * seconds)
        workers = children(proc.pid)
        if proc.poll() is None:
            proc.send_signal(sig)
            interrupted += 1
        proc.wait(timeout=60)
        proc.stderr.close()
        # Workers never outlive their scan.
        deadline = time.monotonic() + 5
        while any(alive(w) for w in workers) and time.monotonic() < deadline:
            time.sleep(0.01)
        assert not any(alive(w) for w in workers), f"seed {seed}"
    assert interrupted >= 1, f"the scan ended before every kill (seed {seed})"
    p = run_scan(*paths, "--out", out, "--resume", "-j", "2")
    assert p.returncode == 0, p.stderr
    assert canon(parse(out.read_text())) == want, f"seed {seed}"


def alive(pid):
    return os.path.exists(f"/proc/{pid}") and not zombie(pid)


def zombie(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


def test_a_worker_that_dies_costs_its_file_only(big_folder, tmp_path):
    paths, want, _ = big_folder
    out = tmp_path / "r.jsonl"
    proc = start_scan([*paths, "--out", out, "-j", "2"])
    victim = None
    deadline = time.monotonic() + 30
    while victim is None and time.monotonic() < deadline and proc.poll() is None:
        kids = [k for k in children(proc.pid) if alive(k)]
        victim = kids[0] if kids else None
        time.sleep(0.002)
    assert victim is not None
    os.kill(victim, signal.SIGKILL)
    assert proc.wait(timeout=60) in (0, 1)
    proc.stderr.close()
    lines = parse(out.read_text())
    dead = [r for r in lines if "killed by signal 9" in r.get("error", "")]
    assert len(dead) == 1, lines
    # Every other file is there exactly as in a scan without the kill.
    others = [r for r in lines if r["file"] != dead[0]["file"]]
    assert canon(others) == [r for r in want if json.loads(r)["file"] != dead[0]["file"]]
