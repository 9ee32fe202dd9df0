"""quorlax as a user gets it from pip: run by scripts/test-wheel.sh inside each
environment it installs into (bare venvs of every Python, a Debian venv, a
minimal root without the audio libraries). Nothing here reads the source tree."""
from __future__ import annotations

import importlib.metadata
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import quorlax

BIN = Path(sys.executable).parent  # the environment's scripts folder
PACKAGE = Path(quorlax.__file__).resolve().parent
# auditwheel repair puts the libraries the wheel carries beside the package.
CARRIED = (PACKAGE.parent / "quorlax.libs").resolve()
NUMPY_2 = int(np.__version__.split(".")[0]) >= 2


def run(*args, activated=True, **kw):
    """Runs a command as a shell would, with the environment's bin/ first on PATH
    when `activated`; the caller's own PATH otherwise."""
    env = {k: v for k, v in os.environ.items() if k != "QUORLAX_PYTHON"}
    if activated:
        env["PATH"] = f"{BIN}{os.pathsep}{env.get('PATH', '')}"
    return subprocess.run(list(args), env=env, capture_output=True, text=True, timeout=120, **kw)


def test_installed_into_this_environment():
    assert PACKAGE.is_relative_to(Path(sys.prefix).resolve()), PACKAGE
    assert (PACKAGE / "py.typed").is_file()
    assert importlib.metadata.version("quorlax") == quorlax.__version__  # the library's own version


def test_program_on_path_and_python_m_quorlax():
    assert shutil.which("quorlax", path=str(BIN)) == str(BIN / "quorlax")
    on_path = run("quorlax", "--version")
    as_module = run(sys.executable, "-m", "quorlax", "--version")
    assert on_path.returncode == 0 and on_path.stdout.startswith(f"quorlax {quorlax.__version__}\n"), on_path
    assert (as_module.returncode, as_module.stdout, as_module.stderr) == (0, on_path.stdout, "")
    # The program's errors and exit status come through the launcher unchanged.
    probe = run("quorlax", "encode", "nosuchtxt!")
    assert probe.returncode == 2 and probe.stderr.startswith("quorlax: ") and probe.stderr.count("\n") == 1


@pytest.mark.parametrize("suffix, rate", [(".wav", 48000), (".flac", 44100), (".ogg", 32000)])
def test_program_round_trip_through_files(tmp_path, suffix, rate):
    # FLAC and Ogg through libsndfile's codecs; 32000 Hz through libsoxr.
    path = tmp_path / f"hello{suffix}"
    made = run("quorlax", "encode", "hello1234", "-r", str(rate), "-o", str(path))
    assert made.returncode == 0, made.stderr
    heard = run("quorlax", "decode", "--json", str(path))
    assert heard.returncode == 0, heard.stderr
    assert re.search(r'"text":"hello1234","ok":true', heard.stdout), heard.stdout


def test_python_round_trip(tmp_path):
    audio = quorlax.encode("c0ffee42a", "nonaudible", 48000)
    quorlax.write(tmp_path / "x.flac", audio, 48000)
    assert [(m.text, m.ok) for m in quorlax.decode_file(tmp_path / "x.flac")] == [("c0ffee42a", True)]
    # Another rate goes through libsoxr in the package's binding.
    stream = np.concatenate([np.zeros(4800, np.float32), audio, np.zeros(4800, np.float32)])
    slower = np.interp(np.arange(0, len(stream), 48000 / 96000), np.arange(len(stream)), stream).astype(np.float32)
    assert [m.text for m in quorlax.decode(slower, 96000)] == ["c0ffee42a"]


def test_sound_devices_answer_without_crashing():
    # Where the machine has no sound system at all, an empty list or DeviceError, never a crash.
    try:
        found = quorlax.devices()
    except quorlax.DeviceError as e:
        assert str(e)
    else:
        assert all(d.name for d in found)
    listed = run("quorlax", "devices")
    assert listed.returncode in (0, 2) and "Traceback" not in listed.stderr, listed


def libraries(elf):
    """What the dynamic loader resolves for `elf`: name -> path."""
    out = run("ldd", str(elf)).stdout
    assert "not found" not in out, (elf, out)
    return {name: Path(path).resolve() for name, path in re.findall(r"^\s*(\S+) => (\S+)", out, re.M)}


@pytest.mark.skipif(not CARRIED.is_dir(), reason="not a repaired wheel: the system's libraries are used")
def test_repaired_wheel_uses_the_libraries_it_carries():
    program = libraries(PACKAGE / "bin" / "quorlax")
    # PortAudio is linked in; what it loads (ALSA, JACK) is carried.
    for name in ("libsoxr", "libsndfile", "libjack", "libFLAC", "libasound"):
        found = [path for lib, path in program.items() if lib.startswith(name + "-")]
        assert len(found) == 1 and found[0].parent == CARRIED, (name, program)
    modules = [*PACKAGE.glob("_native*.so"), *PACKAGE.parent.glob("_quorlax_device*.so")]
    assert len(modules) == 2
    for module in modules:
        for lib, path in libraries(module).items():
            if not lib.startswith(("libc.", "libm.", "libstdc++", "libgcc_s", "libpthread", "libdl.", "librt.")):
                assert path.parent == CARRIED, (module.name, lib, path)


def test_inspect_from_this_environment(tmp_path):
    pytest.importorskip("matplotlib", reason="quorlax[inspect] is not installed")
    quorlax.write(tmp_path / "x.wav", quorlax.encode("hello1234", "audible", 44100), 44100)
    # Not activated: whatever python3 PATH names, the program must start this environment's.
    drawn = run(str(BIN / "quorlax"), "inspect", "x.wav", "-o", "x.png", activated=False, cwd=tmp_path)
    assert drawn.returncode == 0, drawn.stderr
    assert (tmp_path / "x.png").read_bytes()[:4] == b"\x89PNG"


def test_specified_module_follows_the_numpy_it_finds():
    probe = ("import numpy as np, _quorlax as q; h = q.QUORLAX_Create(); "
             "print(q.QUORLAX_Configure(q.QUORLAX_MODE_AUDIBLE, 44100.0, 1024, h)); q.QUORLAX_Destroy(h)")
    got = run(sys.executable, "-c", probe)
    if NUMPY_2:
        # Its C API table is NumPy 1.x's: under NumPy 2 the import fails as specified, cleanly.
        assert got.returncode == 1
        assert got.stderr.rstrip().endswith("ImportError: numpy.core.multiarray failed to import"), got.stderr
    else:
        assert (got.returncode, got.stdout) == (0, "0\n"), got.stderr
