"""quorlax play / listen / devices against a real (private) PulseAudio server.

QUORLAX_CLI names the program. Each test that plays starts listening first,
waits until capture runs, then plays into the null sink whose monitor it hears.
"""
from __future__ import annotations

import io
import json
import os
import pty
import re
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path
from typing import List, Optional

import numpy as np
import pytest
import soundfile

sys.path.insert(0, str(Path(__file__).resolve().parent))
from sound_server import SINK, SoundServer  # noqa: E402

QUORLAX = os.environ.get("QUORLAX_CLI", "")
LATENCY_TARGET_S = 0.3
TOKEN_S = 4608 / 44100

pytestmark = pytest.mark.skipif(not QUORLAX, reason="QUORLAX_CLI names the quorlax program to test")


@pytest.fixture(scope="module")
def server():
    with SoundServer() as s:
        s.room_noise(level=0.003, seed=11)
        yield s


class Run:
    """A quorlax process whose output lines are collected as they come."""

    def __init__(self, args: List[str], env: dict, stdin=subprocess.DEVNULL) -> None:
        self.proc = subprocess.Popen([QUORLAX, *args], env=env, stdin=stdin, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        self.out: List[str] = []
        self.err: List[str] = []
        self.out_times: List[float] = []
        self._threads = [threading.Thread(target=self._pump, args=(self.proc.stdout, self.out, self.out_times)),
                         threading.Thread(target=self._pump, args=(self.proc.stderr, self.err, None))]
        for t in self._threads:
            t.daemon = True
            t.start()

    @staticmethod
    def _pump(stream, lines, times) -> None:
        for raw in stream:
            lines.append(raw.decode(errors="replace").rstrip("\n"))
            if times is not None:
                times.append(time.monotonic())

    def wait_for(self, lines: List[str], pattern: str, timeout: float) -> bool:
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(re.search(pattern, line) for line in list(lines)):
                return True
            if self.proc.poll() is not None:
                time.sleep(0.2)  # let the pumps catch up
                return any(re.search(pattern, line) for line in list(lines))
            time.sleep(0.02)
        return False

    def finish(self, sig: Optional[int] = signal.SIGTERM, timeout: float = 20.0) -> int:
        if sig is not None and self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            rc = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError("quorlax did not end within %.0f s after signal %s" % (timeout, sig))
        for t in self._threads:
            t.join(timeout=5)
        return rc

    def detail(self) -> str:
        return "stdout:\n%s\nstderr:\n%s" % ("\n".join(self.out), "\n".join(self.err))


def start_listening(server: SoundServer, *args: str) -> Run:
    run = Run(["listen", "--device", "default", *args], server.env)
    assert run.wait_for(run.err, r"listening on 'default'", 30), "capture never ran\n" + run.detail()
    return run


def play(server: SoundServer, *args: str) -> subprocess.CompletedProcess:
    p = subprocess.run([QUORLAX, "play", *args], env=server.env, capture_output=True, timeout=60)
    assert p.returncode == 0, p.stderr.decode()
    return p


def encoded(message: str, mode: str, rate: int) -> np.ndarray:
    p = subprocess.run([QUORLAX, "encode", message, "-m", mode, "-r", str(rate), "-o", "-"], capture_output=True,
                       timeout=60)
    assert p.returncode == 0, p.stderr.decode()
    return np.frombuffer(p.stdout, dtype="<f4").astype(np.float64)


def transmission_ends(recording: np.ndarray, reference: np.ndarray, count: int = 1) -> list:
    """Samples just past each of `count` copies of the transmission, by cross-correlation."""
    n = 1 << int(np.ceil(np.log2(len(recording) + len(reference))))
    corr = np.fft.irfft(np.fft.rfft(recording, n) * np.conj(np.fft.rfft(reference, n)), n)[:len(recording)]
    ends = []
    for _ in range(count):
        start = int(np.argmax(corr))
        seg = recording[start:start + len(reference)]
        match = float(np.dot(seg, reference[:len(seg)]) /
                      (np.linalg.norm(seg) * np.linalg.norm(reference[:len(seg)]) + 1e-12))
        assert match > 0.5, "the played transmission is not in the recording (match %.2f)" % match
        ends.append(start + len(reference))
        corr[max(0, start - len(reference) // 2):start + len(reference) // 2] = -np.inf
    return sorted(ends)


def transmission_end(recording: np.ndarray, reference: np.ndarray) -> int:
    return transmission_ends(recording, reference)[0]


# ---------------------------------------------------------------------------


def test_devices_lists_the_null_sink_and_its_monitor(server):
    for command in (["devices"], ["--list-devices"]):
        p = subprocess.run([QUORLAX, *command], env=server.env, capture_output=True, timeout=60)
        out = p.stdout.decode()
        assert p.returncode == 0, p.stderr.decode()
        inputs, outputs = out.split("Output devices")
        assert re.search(r"^\s+\d+\s+%s\.monitor\s" % SINK, inputs, re.M), out
        assert re.search(r"^\s+\d+\s+%s\s" % SINK, outputs, re.M), out
        assert re.search(r"^\s+\d+\s+%s\.monitor\s" % SINK, outputs, re.M) is None, out
        # One default each way, marked, with channels and rate.
        assert len(re.findall(r"^\s+\*\s+\d+\s", inputs, re.M)) == 1, out
        assert len(re.findall(r"^\s+\*\s+\d+\s", outputs, re.M)) == 1, out
        assert re.search(r"%s\.monitor\b.*\(PulseAudio, 2 ch, 48000 Hz" % SINK, inputs), out
        assert p.stderr == b"", p.stderr.decode()


def test_play_is_heard_once_within_the_latency_target(server, tmp_path):
    text = "hello1234"
    wav = tmp_path / "heard.wav"
    run = start_listening(server, "--json", "-v", "--save", str(wav))
    began = time.monotonic()
    play(server, text, "-m", "audible")
    played_for = time.monotonic() - began
    assert run.wait_for(run.out, text, 15), run.detail()
    time.sleep(1.5)  # a second report would come within this
    rc = run.finish()
    got = [json.loads(line) for line in run.out]
    assert rc == 0, run.detail()
    assert [(m["text"], m["ok"], m["band"]) for m in got] == [(text, True, "audible")], run.detail()
    # play returns once the sound has been played, not before.
    assert played_for >= 20 * TOKEN_S - 0.05, played_for

    printed = [(float(m.group(1)), float(m.group(2))) for line in run.err
               for m in [re.search(r"printed %s when (\d+) samples had reached the input \(its end: sample (\d+)\)"
                                   % text, line)] if m]
    assert len(printed) == 1, run.detail()
    recording, rate = soundfile.read(str(wav), dtype="float64")
    end = transmission_end(recording, encoded(text, "audible", rate))
    latency = (printed[0][0] - end) / rate
    print("latency: %.3f s of audio after the transmission's last sample reached the input; "
          "reported end %+d samples off" % (latency, printed[0][1] - end))
    assert 0.0 < latency <= LATENCY_TARGET_S, "latency %.3f s (target %.1f s)" % (latency, LATENCY_TARGET_S)
    assert abs(printed[0][1] - end) <= 0.02 * rate, (printed[0][1], end)
    # The reported start agrees with where the transmission really is.
    assert abs(got[0]["time"] - (end - 20 * TOKEN_S * rate) / rate) <= TOKEN_S, (got[0]["time"], end / rate)


def test_two_bands_at_once_are_both_heard(server):
    run = start_listening(server)
    players = [subprocess.Popen([QUORLAX, "play", text, "-m", mode], env=server.env, stderr=subprocess.PIPE)
               for text, mode in (("aaaa11111", "audible"), ("bbbb22222", "nonaudible"))]
    for p in players:
        assert p.wait(timeout=60) == 0, p.stderr.read().decode()
    assert run.wait_for(run.out, "bbbb22222", 15) and run.wait_for(run.out, "aaaa11111", 5), run.detail()
    time.sleep(1.0)
    assert run.finish(signal.SIGINT) == 0, run.detail()
    heard = sorted(line.split("\t")[0] + " " + line.split("\t")[2] for line in run.out)
    assert heard == ["aaaa11111 band=audible", "bbbb22222 band=nonaudible"], run.detail()


def test_repeat_and_a_named_device(server, tmp_path):
    wav = tmp_path / "heard.wav"
    run = start_listening(server, "--json", "-m", "compression", "-r", "48000", "--save", str(wav))
    play(server, "rep3at000", "-m", "compression", "-r", "48000", "--device", SINK, "--repeat", "2", "--gap", "0.5")
    deadline = time.monotonic() + 15
    while len(run.out) < 2 and time.monotonic() < deadline:
        time.sleep(0.05)
    time.sleep(1.0)
    assert run.finish() == 0, run.detail()
    got = [json.loads(line) for line in run.out]
    # Both copies are in what the device heard, a transmission and the gap apart.
    recording, rate = soundfile.read(str(wav), dtype="float64")
    one = encoded("rep3at000", "compression", rate)
    first, second = transmission_ends(recording, one, 2)
    period = 20 * 4608 / 44100 + 0.5
    assert abs((second - first) / rate - period) < 0.01, ((second - first) / rate, period)
    # A copy damaged on a busy machine may go unheard, but what is heard is right.
    assert [m["text"] for m in got] in (["rep3at000"], ["rep3at000"] * 2), run.detail()
    if len(got) == 2:
        assert abs(got[1]["time"] - got[0]["time"] - period) <= TOKEN_S, got


def test_listen_ends_on_signals_with_the_right_status(server):
    for sig in (signal.SIGINT, signal.SIGTERM):
        run = start_listening(server)
        time.sleep(0.3)
        assert run.finish(sig, timeout=10) == 1, run.detail()
        assert run.out == [], run.detail()


def test_a_stopped_and_continued_listen_goes_on_listening(server):
    # Ctrl-Z and fg (or a laptop asleep): the time away is no silence of the device.
    run = start_listening(server, "--json")
    run.proc.send_signal(signal.SIGSTOP)
    time.sleep(6.0)  # longer than the device may stay silent while the process runs
    run.proc.send_signal(signal.SIGCONT)
    time.sleep(1.0)
    assert run.proc.poll() is None, run.detail()
    play(server, "c0nt1nue0", "-m", "audible")
    assert run.wait_for(run.out, "c0nt1nue0", 15), run.detail()
    assert run.finish() == 0, run.detail()
    assert [line for line in run.err if "listening on" not in line and "overflow" not in line] == [], run.detail()


def test_count_ends_listening_once_enough_messages_passed(server):
    run = start_listening(server, "--json", "--count", "1")
    play(server, "c0unt1111", "-m", "audible")
    rc = run.finish(sig=None, timeout=20)  # ends by itself
    assert rc == 0 and [json.loads(line)["text"] for line in run.out] == ["c0unt1111"], run.detail()


def test_devices_json_lists_what_the_table_lists(server):
    table = subprocess.run([QUORLAX, "devices"], env=server.env, capture_output=True, timeout=60)
    p = subprocess.run([QUORLAX, "devices", "--json"], env=server.env, capture_output=True, timeout=60)
    assert p.returncode == 0 and p.stderr == b"", p.stderr.decode()
    devices = [json.loads(line) for line in p.stdout.decode().splitlines()]
    fields = {"index", "name", "description", "host", "input_channels", "output_channels", "default_rate",
              "default_input", "default_output", "server_default"}
    assert devices and all(set(d) == fields for d in devices), devices
    assert [d["index"] for d in devices] == list(range(len(devices)))
    by_name = {d["name"]: d for d in devices}
    monitor = by_name[SINK + ".monitor"]
    assert (monitor["input_channels"], monitor["output_channels"], monitor["default_rate"], monitor["host"]) == \
        (2, 0, 48000, "PulseAudio"), monitor
    assert by_name[SINK]["output_channels"] == 2 and by_name[SINK]["input_channels"] == 0
    assert sum(d["default_input"] for d in devices) == 1 and sum(d["default_output"] for d in devices) == 1
    listed = re.findall(r"^\s+\*?\s+(\d+)\s+(\S+)", table.stdout.decode(), re.M)
    assert {(int(i), name) for i, name in listed} == {(d["index"], d["name"]) for d in devices}


@pytest.mark.parametrize("name, fmt, subtype", [("heard.wav", "WAVEX", "FLOAT"), ("heard.flac", "FLAC", "PCM_16"),
                                                ("heard.ogg", "OGG", "VORBIS"), ("heard.aiff", "AIFF", "FLOAT")])
def test_save_writes_the_format_its_name_says(server, tmp_path, name, fmt, subtype):
    path = tmp_path / name
    p = subprocess.run([QUORLAX, "listen", "--device", "default", "--seconds", "1", "-q", "--save", str(path)],
                       env=server.env, capture_output=True, timeout=60)
    assert p.returncode == 1, p.stderr.decode()
    info = soundfile.info(str(path))
    assert (info.format, info.subtype, info.channels) == (fmt, subtype, 1), info
    assert abs(info.frames / info.samplerate - 1.0) < 0.1, info


def test_save_refuses_a_name_that_says_no_format_before_listening(server, tmp_path):
    p = subprocess.run([QUORLAX, "listen", "--device", "default", "--seconds", "1", "--save",
                        str(tmp_path / "heard.mp9")], env=server.env, capture_output=True, timeout=60)
    assert p.returncode == 2 and p.stderr.decode().splitlines() == [
        "quorlax: cannot tell the audio format of '%s' (use .wav, .flac, .ogg or .aiff)" % (tmp_path / "heard.mp9")]
    assert os.listdir(tmp_path) == []


def test_seconds_limits_listening(server):
    began = time.monotonic()
    p = subprocess.run([QUORLAX, "listen", "--device", "default", "--seconds", "1", "-q"], env=server.env,
                       capture_output=True, timeout=60)
    assert p.returncode == 1 and p.stdout == b"" and p.stderr == b"", p.stderr.decode()
    assert time.monotonic() - began < 20


@pytest.mark.parametrize("command, pattern", [
    (["listen", "--device", "nosuchdevice"], r"no input device is called 'nosuchdevice'"),
    (["play", "hello1234", "--device", "nosuchdevice"], r"no output device is called 'nosuchdevice'"),
    (["listen", "--device", "999"], r"there is no device 999"),
    (["play", "hello1234", "--device", SINK + ".monitor"], r"no output device is called"),
    (["listen", "--device", "default", "-r", "1000000"], r"input device 'default' refuses 1000000 Hz"),
    (["listen", "--device", "default", "--format", "s16"], r"--format describes standard input"),
])
def test_faults_say_what_happened(server, command, pattern):
    p = subprocess.run([QUORLAX, *command], env=server.env, capture_output=True, timeout=60)
    lines = p.stderr.decode().splitlines()
    assert p.returncode == 2 and len(lines) == 1 and re.search(pattern, lines[0]), p.stderr.decode()


def test_no_alsa_configuration_means_one_line_and_exit_2(tmp_path):
    # A container or a minimal root without alsa.conf, where PortAudio alone aborts the process.
    env = dict(os.environ, ALSA_CONFIG_PATH=str(tmp_path / "no-alsa.conf"))
    for command in (["play", "hello1234"], ["listen", "--device", "default"], ["devices"]):
        p = subprocess.run([QUORLAX, *command], env=env, capture_output=True, timeout=60)
        lines = p.stderr.decode().splitlines()
        assert p.returncode == 2 and len(lines) == 1, (command, p.returncode, p.stderr.decode())
        assert lines[0].startswith("quorlax: no sound devices: ALSA's configuration defines none"), lines


def test_no_server_means_one_line_and_exit_2(tmp_path):
    env = dict(os.environ, PULSE_SERVER="unix:" + str(tmp_path / "no-server"), HOME=str(tmp_path),
               XDG_RUNTIME_DIR=str(tmp_path))
    for command in (["play", "hello1234"], ["listen", "--device", "default"], ["devices"]):
        began = time.monotonic()
        p = subprocess.run([QUORLAX, *command], env=env, capture_output=True, timeout=60)
        lines = p.stderr.decode().splitlines()
        assert p.returncode == 2, (command, p.stderr.decode())
        assert len(lines) == 1 and re.match(r"quorlax: no sound (input |output )?device found", lines[0]), lines
        assert time.monotonic() - began < 15, command
    # With a terminal on stdin, plain listen goes to the default input device.
    master, slave = pty.openpty()
    try:
        p = subprocess.run([QUORLAX, "listen"], env=env, stdin=slave, capture_output=True, timeout=60)
    finally:
        os.close(master)
        os.close(slave)
    assert p.returncode == 2 and p.stderr.decode().startswith("quorlax: no sound input device found"), p.stderr


def test_a_vanishing_server_ends_listen_and_play_with_exit_2():
    with SoundServer() as s:
        run = start_listening(s)
        s.kill()
        rc = run.finish(sig=None, timeout=15)
        faults = [line for line in run.err if "listening on" not in line]
        assert rc == 2 and len(faults) == 1 and "stopped" in faults[0], run.detail()
    with SoundServer() as s:
        run = Run(["play", "hello1234", "--repeat", "5"], s.env)
        time.sleep(1.5)
        s.kill()
        rc = run.finish(sig=None, timeout=20)
        assert rc == 2 and len(run.err) == 1 and "stopped playing" in run.err[0], run.detail()


# ---------------------------------------------------------------------------
# Standard input: no sound server needed.


def stdin_listen(data: bytes, *args: str) -> subprocess.CompletedProcess:
    return subprocess.run([QUORLAX, "listen", *args], input=data, capture_output=True, timeout=120)


@pytest.fixture(scope="module")
def clip():
    seed = 5
    rng = np.random.default_rng(seed)
    x = encoded("stdin0123", "audible", 44100)
    pad = np.zeros(22050)
    y = np.concatenate([pad, x, pad]) + rng.normal(0, 0.001, len(x) + 2 * len(pad))
    print("noise seed", seed)
    return y


@pytest.mark.parametrize("kind", ["f32", "s16", "wav16", "wavfloat", "wav48k"])
def test_stdin_formats(clip, kind, tmp_path):
    if kind == "f32":
        p = stdin_listen(clip.astype("<f4").tobytes(), "-r", "44100")
    elif kind == "s16":
        p = stdin_listen(np.round(clip * 32767).astype("<i2").tobytes(), "--format", "s16", "-r", "44100")
    else:
        path = tmp_path / "clip.wav"
        data, rate = clip, 44100
        if kind == "wav48k":
            rate = 48000
            data = np.interp(np.arange(int(len(clip) * 48000 / 44100)) * 44100 / 48000, np.arange(len(clip)), clip)
        soundfile.write(str(path), data, rate, subtype="FLOAT" if kind == "wavfloat" else "PCM_16")
        p = stdin_listen(path.read_bytes())
    assert p.returncode == 0, p.stderr.decode()
    lines = p.stdout.decode().splitlines()
    assert len(lines) == 1 and lines[0].startswith("stdin0123\tok\tband=audible"), lines
    at = float(re.search(r"at=([0-9.]+) s", lines[0]).group(1))
    assert abs(at - 0.5) <= TOKEN_S, lines


def test_a_wav_stream_is_decoded_as_it_arrives_and_ends_on_sigint(clip):
    buf = io.BytesIO()
    soundfile.write(buf, clip, 44100, format="WAV", subtype="PCM_16")
    data = buf.getvalue()
    run = Run(["listen", "--json"], {**os.environ}, stdin=subprocess.PIPE)
    run.proc.stdin.write(data)
    run.proc.stdin.flush()
    # The pipe stays open: the message must come out before the input ends.
    assert run.wait_for(run.out, "stdin0123", 30), run.detail()
    rc = run.finish(signal.SIGINT, timeout=10)
    run.proc.stdin.close()
    assert rc == 0 and len(run.out) == 1, run.detail()


@pytest.mark.parametrize("args, data, pattern", [
    (["--format", "wav"], b"\0" * 4000, r"cannot read the WAV stream"),
    (["--save", "x.wav"], b"\0" * 4000, r"--save records a device"),
    (["--format", "u8"], b"\0" * 4000, r"--format is f32, s16 or wav"),
    ([], b"", r"standard input holds no audio"),
])
def test_stdin_faults(args, data, pattern):
    p = stdin_listen(data, *args)
    assert p.returncode == 2 and re.search(pattern, p.stderr.decode()), p.stderr.decode()


@pytest.mark.parametrize("args, sig, status", [
    ([], signal.SIGINT, 1),                                    # stopped while the stream keeps coming
    (["-m", "custom", "--base", "30000"], None, 2),            # a grid that cannot work: refused at once
    (["-r", "22050"], None, 2),                                # disagrees with the stream's header
])
def test_listen_ends_while_a_wav_stream_fills_its_pipe(args, sig, status):
    # The stream comes faster than it is decoded: the thread that reads it may be waiting on a full pipe.
    header = bytearray(wav_header(44100))
    noise = np.random.default_rng(9).normal(0.0, 0.01, 44100 * 10)
    block = np.round(noise * 32767).astype("<i2").tobytes()
    run = Run(["listen", *args], {**os.environ}, stdin=subprocess.PIPE)

    def feed():
        try:
            run.proc.stdin.write(bytes(header))
            while run.proc.poll() is None:
                run.proc.stdin.write(block)
        except (BrokenPipeError, ValueError, OSError):
            pass

    writer = threading.Thread(target=feed, daemon=True)
    writer.start()
    if sig is not None:
        time.sleep(2.0)
        assert run.proc.poll() is None, run.detail()
    rc = run.finish(sig, timeout=10)
    writer.join(timeout=10)
    assert rc == status, run.detail()


def wav_header(rate):
    """A 16-bit mono WAV header of unknown length, as a recorder writes to a pipe."""
    return (b"RIFF" + (0xFFFFFFFF).to_bytes(4, "little") + b"WAVEfmt " + (16).to_bytes(4, "little")
            + (1).to_bytes(2, "little") + (1).to_bytes(2, "little") + rate.to_bytes(4, "little")
            + (rate * 2).to_bytes(4, "little") + (2).to_bytes(2, "little") + (16).to_bytes(2, "little")
            + b"data" + (0xFFFFFFFF - 36).to_bytes(4, "little"))
