"""A private PulseAudio server with a null sink, for tests that play and listen.

The sink's monitor is the default source, so what is played into the default
output comes back on the default input. Clients reach the server through
`SoundServer.env` (PULSE_SERVER and a private HOME); PortAudio reaches it
through ALSA's pulse plugin (Debian libasound2-plugins).
"""
from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
import threading
import time
from typing import Dict, List, Optional

import numpy as np

SINK = "quorlax_test"
SINK_RATE = 48000


def _end(proc: "subprocess.Popen[bytes]") -> None:
    """Terminate, then kill what does not end within ten seconds; always reaped."""
    if proc.poll() is None:
        proc.terminate()
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=10)


class SoundServer:
    def __init__(self, workdir: Optional[str] = None, description: Optional[str] = None) -> None:
        """`description`: what the server calls its sink (its monitor is "Monitor of ..."),
        for tests that pick a device by a part of it."""
        self.description = description
        self.dir = tempfile.mkdtemp(prefix="quorlax-pulse-", dir=workdir)
        self.socket = os.path.join(self.dir, "native")
        self.proc: Optional[subprocess.Popen] = None
        self._noise: List["_Feeder"] = []
        self.env: Dict[str, str] = dict(os.environ)
        self.env.update({
            "PULSE_SERVER": "unix:" + self.socket,
            "HOME": self.dir,
            "XDG_RUNTIME_DIR": self.dir,
            "PULSE_RUNTIME_PATH": self.dir,
            "PULSE_STATE_PATH": os.path.join(self.dir, "state"),
        })
        self.env.pop("PULSE_SINK", None)
        self.env.pop("PULSE_SOURCE", None)
        # The server and pacat are not ours to sanitise.
        self.server_env = {k: v for k, v in self.env.items() if k != "LD_PRELOAD"}

    def start(self, timeout: float = 15.0) -> "SoundServer":
        if shutil.which("pulseaudio") is None:
            raise RuntimeError("pulseaudio is not installed (apt-get install pulseaudio pulseaudio-utils "
                               "libasound2-plugins, or run scripts/install-deps.sh)")
        sink = f"module-null-sink sink_name={SINK} rate={SINK_RATE} channels=2"
        if self.description:
            sink += f" sink_properties='device.description=\"{self.description}\"'"
        log = open(os.path.join(self.dir, "server.log"), "wb")
        # -n: no default modules; our own in the foreground, so the test owns the process.
        self.proc = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--disable-shm=yes", "-F", "/dev/null", "--log-target=stderr",
             f"--load={sink}",
             f"--load=module-native-protocol-unix socket={self.socket} auth-anonymous=1"],
            env=self.server_env, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        log.close()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("pulseaudio exited at start:\n" + self.log())
            if os.path.exists(self.socket):
                probe = subprocess.run(["pactl", "info"], env=self.server_env, capture_output=True, timeout=10)
                if probe.returncode == 0:
                    return self
            time.sleep(0.1)
        self.stop()
        raise RuntimeError("pulseaudio did not come up within %.0f s:\n%s" % (timeout, self.log()))

    def log(self) -> str:
        try:
            with open(os.path.join(self.dir, "server.log"), "rb") as f:
                return f.read().decode(errors="replace")[-4000:]
        except OSError:
            return ""

    def room_noise(self, level: float = 0.003, seed: int = 1) -> None:
        """Plays white noise into the sink until stop(), like the hiss of a real room."""
        self._noise.append(_Feeder(self.server_env, level, seed))

    def kill(self) -> None:
        """Ends the server at once, as a crash or an unplugged device would."""
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=10)

    def stop(self) -> None:
        for n in self._noise:
            n.stop()
        self._noise = []
        if self.proc is not None:
            _end(self.proc)
        self.proc = None
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self) -> "SoundServer":
        return self.start()

    def __exit__(self, *exc: object) -> None:
        self.stop()


class _Feeder:
    """pacat fed with seeded noise from a thread."""

    def __init__(self, env: Dict[str, str], level: float, seed: int) -> None:
        self.proc = subprocess.Popen(
            ["pacat", "--playback", "-d", SINK, f"--rate={SINK_RATE}", "--channels=1", "--format=float32le",
             "--latency-msec=50"],
            env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._stop = threading.Event()
        rng = np.random.default_rng(seed)
        self._blocks = [rng.normal(0.0, level, SINK_RATE // 10).astype("<f4").tobytes() for _ in range(10)]
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self) -> None:
        i = 0
        try:
            while not self._stop.is_set():
                self.proc.stdin.write(self._blocks[i % len(self._blocks)])  # pacat paces the writes
                self.proc.stdin.flush()
                i += 1
        except (BrokenPipeError, ValueError, OSError):
            pass

    def stop(self) -> None:
        self._stop.set()
        _end(self.proc)
        self._thread.join(timeout=10)
