"""Tests of the pure-Python `quorlax` package built on `_quorlax`.

Run as a script to redraw the README's picture:
    PYTHONPATH=build/python /usr/bin/python3 tests/python/test_package.py docs/heard.png
"""
import importlib.util
import json
import os
import re
import shutil
import subprocess
import sys
import wave
from pathlib import Path

import numpy as np
import pytest

REPO = Path(__file__).resolve().parents[2]
# ctest only puts the extension module on the path; the package lives in the tree.
sys.path.insert(0, str(REPO / "python"))

import _quorlax  # noqa: E402
import quorlax  # noqa: E402
from quorlax import _errors  # noqa: E402
from quorlax.__main__ import main as cli_main  # noqa: E402

RATES = [44100, 48000]
MODES = ["audible", "nonaudible", "compression", "all", "custom"]
HEARD_IN = {"audible": "audible", "nonaudible": "nonaudible", "compression": "compression",
            "all": "nonaudible", "custom": "custom"}
TIME_TOLERANCE = 0.03  # the front door is located to within one 1024-sample push


def silence(seconds, rate):
    return np.zeros(int(round(seconds * rate)), np.float32)


def feed_in_chunks(dec, audio, rng, first=()):
    """Feeds `audio` in chunks of random sizes (log-uniform from 1 to 100000)."""
    out, pos = [], 0
    sizes = list(first)
    while pos < len(audio):
        size = sizes.pop(0) if sizes else int(np.exp(rng.uniform(0.0, np.log(100000.0))))
        out += dec.feed(audio[pos:pos + size])
        pos += size
    return out


def noisy_room(audio, rate, snr_db=0.0, seed=1):
    """A little reverb (150 ms tail 6 dB down) and white noise at `snr_db` below the signal."""
    rng = np.random.default_rng(seed)
    n = int(0.15 * rate)
    taps = np.arange(1, n, 23) + rng.integers(0, 20, len(range(1, n, 23)))
    taps = taps[taps < n]
    ir = np.zeros(n)
    ir[taps] = rng.choice([-1.0, 1.0], len(taps)) * np.exp(-6.9 * taps / n)
    ir *= np.sqrt(0.25 / np.sum(ir ** 2))
    ir[0] = 1.0
    size = 1 << int(np.ceil(np.log2(len(audio) + n)))
    wet = np.fft.irfft(np.fft.rfft(audio, size) * np.fft.rfft(ir, size), size)[:len(audio)]
    power = np.mean(audio[np.abs(audio) > 0].astype(np.float64) ** 2)
    wet += rng.normal(0.0, np.sqrt(power * 10 ** (-snr_db / 10)), len(wet))
    return (wet * (0.9 / np.max(np.abs(wet)))).astype(np.float32)


def two_band_example(rate=44100):
    """'hello1234' audible at 0.4 s, 'c0ffee42a' non-audible at 3.0 s, 0 dB SNR, reverb."""
    a = quorlax.encode("hello1234", "audible", rate)
    b = quorlax.encode("c0ffee42a", "nonaudible", rate)
    gap = 3.0 - 0.4 - len(a) / rate
    dry = np.concatenate([silence(0.4, rate), a, silence(gap, rate), b, silence(0.4, rate)])
    return noisy_room(dry, rate)


# ---------------------------------------------------------------------------
# Round trips


def test_version_is_the_library_version():
    cmake = (REPO / "CMakeLists.txt").read_text()
    assert quorlax.__version__ == re.search(r"project\(Quorlax VERSION ([0-9.]+)", cmake).group(1)
    assert quorlax.__version__ in _quorlax.QUORLAX_GetVersion()


@pytest.mark.parametrize("rate", RATES)
@pytest.mark.parametrize("mode", MODES)
def test_round_trip_in_random_chunks(mode, rate):
    rng = np.random.default_rng(MODES.index(mode) * 100 + rate)
    audio = quorlax.encode("hello1234", mode=mode, rate=rate)
    assert audio.dtype == np.float32 and audio.ndim == 1 and len(audio) == 20 * {44100: 4608, 48000: 5015}[rate]
    start = rng.uniform(0.1, 0.7)
    stream = np.concatenate([silence(start, rate), audio, silence(rng.uniform(0.0, 0.3), rate)])
    with quorlax.Decoder(rate=rate, mode=mode) as dec:
        streamed = feed_in_chunks(dec, stream, rng, first=[1, 1, 7])
    assert dec.closed
    assert [(m.text, m.ok, m.band) for m in dec.messages] == [("hello1234", True, HEARD_IN[mode])]
    assert set(streamed) <= set(dec.messages)
    m = dec.messages[0]
    assert abs(m.time - start) < TIME_TOLERANCE
    assert 0.9 <= m.confidence <= 1.0 and m.confidence_error == 1.0
    assert np.isfinite(m.level_db) and np.isfinite(m.noise_db)
    # How the stream is cut up changes nothing.
    assert quorlax.decode(stream, rate=rate, mode=mode) == dec.messages


def test_one_sample_chunks():
    rate = 22050  # the shortest transmission keeps 1-sample feeding quick
    audio = quorlax.encode("012345678", "audible", rate)
    stream = np.concatenate([silence(0.2, rate), audio])
    dec = quorlax.Decoder(rate, "audible")
    got = []
    for s in stream:
        got += dec.feed([s])
    got += dec.close()
    assert [(m.text, m.ok) for m in got] == [("012345678", True)]
    assert abs(got[0].time - 0.2) < TIME_TOLERANCE
    assert got == quorlax.decode(stream, rate, "audible")


@pytest.mark.parametrize("rate", RATES)
def test_several_messages_in_one_stream_in_100000_sample_chunks(rate):
    sent = [("hello1234", "audible"), ("c0ffee42a", "compression"), ("vvvv00000", "nonaudible"),
            ("abcdefghi", "audible")]
    parts, starts, t = [], [], 0.0
    for text, mode in sent:
        parts += [silence(0.25, rate), quorlax.encode(text, mode, rate)]
        starts.append(t + 0.25)
        t += 0.25 + len(parts[-1]) / rate
    stream = np.concatenate(parts)
    dec = quorlax.Decoder(rate, "all")
    got = []
    for i in range(0, len(stream), 100000):
        got += dec.feed(stream[i:i + 100000])
    got += dec.close()
    assert [(m.text, m.band, m.ok) for m in got] == [(text, mode, True) for text, mode in sent]
    for m, start in zip(got, starts):
        assert abs(m.time - start) < TIME_TOLERANCE


@pytest.mark.parametrize("rate", RATES)
def test_stream_that_starts_exactly_at_a_transmission(rate):
    audio = quorlax.encode("start0000", "compression", rate)
    got = quorlax.decode(np.concatenate([audio, silence(0.5, rate)]), rate, "all")
    assert [(m.text, m.ok) for m in got] == [("start0000", True)]
    assert got[0].time < TIME_TOLERANCE
    # Without the lead-in silence the library never sees the front door.
    h = _quorlax.QUORLAX_Create()
    try:
        assert _quorlax.QUORLAX_Configure(5, float(rate), 1024, h) == 0
        events, padded = [], np.concatenate([audio, np.zeros(8192, np.float32)])
        for i in range(0, len(padded), 1024):
            chunk = padded[i:i + 1024]
            r = _quorlax.DecodeAudioBuffer(chunk, len(chunk), h)
            while r != -1:
                events.append(r)
                r = _quorlax.DecodeAudioBuffer(chunk, 0, h)
        assert -3 not in events
    finally:
        _quorlax.QUORLAX_Destroy(h)


@pytest.mark.parametrize("rate", RATES)
def test_stream_that_ends_exactly_at_a_transmission(rate):
    audio = quorlax.encode("end000000", "nonaudible", rate)
    stream = np.concatenate([silence(1.0, rate), audio])
    dec = quorlax.Decoder(rate, "all")
    assert dec.feed(stream) == []  # only the closing silence completes it
    got = dec.close()
    assert [(m.text, m.ok) for m in got] == [("end000000", True)]
    assert abs(got[0].time - 1.0) < TIME_TOLERANCE
    assert quorlax.decode(stream, rate) == got


def test_transmission_filling_the_whole_stream():
    audio = quorlax.encode("0000vvvv1", "audible", 48000)
    assert [m.text for m in quorlax.decode(audio, 48000, "audible") if m.ok] == ["0000vvvv1"]


def test_22050_hz_audible_and_custom():
    audio = quorlax.encode("hello1234", "audible", 22050)
    assert [(m.text, m.band) for m in quorlax.decode(audio, 22050, "audible")] == [("hello1234", "audible")]
    audio = quorlax.encode("hello1234", "custom", 22050, base_hz=5000.0)
    got = quorlax.decode(audio, 22050, "custom", base_hz=5000.0)
    assert [(m.text, m.band, m.ok) for m in got] == [("hello1234", "custom", True)]
    for mode in ("nonaudible", "compression", "all", "custom"):  # custom's 12 kHz base is too high
        with pytest.raises(quorlax.UnsupportedError):
            quorlax.encode("hello1234", mode, 22050)
        with pytest.raises(quorlax.UnsupportedError):
            quorlax.Decoder(22050, mode)


def test_custom_grid_keywords():
    audio = quorlax.encode("hello1234", "custom", 48000, base_hz=9000.0, separation=2)
    got = quorlax.decode(audio, 48000, "custom", base_hz=9000.0, separation=2)
    assert [(m.text, m.band, m.ok) for m in got] == [("hello1234", "custom", True)]
    assert not any(m.ok for m in quorlax.decode(audio, 48000, "custom", base_hz=13000.0))
    with pytest.raises(quorlax.UnsupportedError):
        quorlax.encode("hello1234", "custom", 44100, base_hz=30000.0)


def test_melody_and_synth():
    plain = quorlax.encode("hello1234", "audible", 44100)
    tuned = quorlax.encode("hello1234", "audible", 44100, melody="0123abc")
    synth = quorlax.encode("hello1234", "nonaudible", 44100, synth=True, volume_db=-6.0)
    assert len(tuned) == len(plain) and not np.array_equal(tuned, plain)
    for audio in (tuned, synth):
        assert [m.text for m in quorlax.decode(audio, 44100) if m.ok] == ["hello1234"]


def test_two_channel_input_uses_the_first_column():
    audio = quorlax.encode("hello1234", "audible", 44100)
    stereo = np.stack([audio, np.zeros_like(audio)], axis=1)
    assert [m.text for m in quorlax.decode(stereo, 44100)] == ["hello1234"]
    assert quorlax.decode(stereo[:, ::-1], 44100) == []
    assert [m.text for m in quorlax.decode(audio.astype(np.float64).tolist(), 44100)] == ["hello1234"]


def test_buffer_full_is_drained_and_retried(monkeypatch):
    stream = np.concatenate([silence(0.3, 44100), quorlax.encode("hello1234", "audible", 44100)])
    expected = quorlax.decode(stream, 44100, "audible")
    real = _quorlax.DecodeAudioBuffer
    pushes = {"n": 0, "refused": 0}

    def sometimes_full(buf, size, h):
        if size > 0:
            pushes["n"] += 1
            if pushes["n"] % 3 == 0:  # refuse without storing, as the library does
                pushes["refused"] += 1
                return -6
        return real(buf, size, h)

    monkeypatch.setattr(quorlax._codec._quorlax, "DecodeAudioBuffer", sometimes_full)
    assert quorlax.decode(stream, 44100, "audible") == expected
    assert pushes["refused"] > 10


def test_buffer_that_stays_full_raises(monkeypatch):
    real = _quorlax.DecodeAudioBuffer
    monkeypatch.setattr(quorlax._codec._quorlax, "DecodeAudioBuffer",
                        lambda buf, size, h: -6 if size > 0 else real(buf, size, h))
    with pytest.raises(quorlax.BufferFullError) as e:
        quorlax.Decoder(44100, "audible")
    assert e.value.code == -6


# ---------------------------------------------------------------------------
# Errors


def test_error_classes_and_codes():
    for code, cls in [(-4, quorlax.InvalidArgumentError), (-5, quorlax.NotConfiguredError),
                      (-6, quorlax.BufferFullError), (-7, quorlax.UnsupportedError)]:
        assert issubclass(cls, quorlax.QuorlaxError) and issubclass(quorlax.QuorlaxError, Exception)
        with pytest.raises(cls) as e:
            _errors.raise_for_code(code, "context")
        assert e.value.code == code
        assert str(e.value) == "context: " + _quorlax.QUORLAX_GetErrorText(code)
    with pytest.raises(quorlax.QuorlaxError) as e:
        _errors.raise_for_code(-9)
    assert type(e.value) is quorlax.QuorlaxError and e.value.code == -9


@pytest.mark.parametrize("rate", [8000, 16000, 32000, 96000, 44099])
def test_unsupported_rates(rate):
    with pytest.raises(quorlax.UnsupportedError) as e:
        quorlax.decode(np.zeros(100, np.float32), rate)
    assert e.value.code == -7 and str(rate) in str(e.value)
    with pytest.raises(quorlax.UnsupportedError):
        quorlax.encode("hello1234", "audible", rate)


@pytest.mark.parametrize("message, pattern", [
    ("hellow234", r"invalid character 'w' at position 5 in message \(allowed: 0-9, a-v\)"),
    ("hel o1234", r"invalid character ' ' at position 3"),
    ("hellé1234", r"invalid character 'é' at position 4"),
    ("hello", r"message 'hello' has 5 characters; it needs exactly 9"),
    ("hello12345", r"has 10 characters"),
    ("", r"has 0 characters"),
])
def test_bad_messages(message, pattern):
    with pytest.raises(ValueError, match=pattern):
        quorlax.encode(message)


def test_bad_arguments():
    assert len(quorlax.encode("HELLO1234")) > 0  # either case
    with pytest.raises(TypeError):
        quorlax.encode(b"hello1234")
    with pytest.raises(ValueError, match="unknown mode 'loud'"):
        quorlax.encode("hello1234", "loud")
    with pytest.raises(ValueError, match="unknown mode"):
        quorlax.Decoder(44100, 7)
    with pytest.raises(ValueError, match="not both"):
        quorlax.encode("hello1234", melody="abc", synth=True)
    with pytest.raises(ValueError, match="synth=True"):
        quorlax.encode("hello1234", volume_db=-3.0)
    with pytest.raises(ValueError, match="invalid character 'z' at position 1 in melody"):
        quorlax.encode("hello1234", melody="az")
    with pytest.raises(ValueError, match="too long"):
        quorlax.encode("hello1234", melody="a" * 500)
    with pytest.raises(ValueError, match="3-D"):
        quorlax.decode(np.zeros((4, 2, 2)), 44100)
    with pytest.raises(TypeError):
        quorlax.decode(np.array(["a", "b"]), 44100)
    dec = quorlax.Decoder(44100)
    dec.close()
    assert dec.close() == []
    with pytest.raises(ValueError, match="closed"):
        dec.feed(np.zeros(10))


# ---------------------------------------------------------------------------
# WAV files


def test_wav_round_trip(tmp_path):
    audio = quorlax.encode("hello1234", "compression", 48000)
    quorlax.write_wav(tmp_path / "a.wav", audio, 48000)
    back, rate = quorlax.read_wav(tmp_path / "a.wav")
    assert rate == 48000 and back.dtype == np.float32 and len(back) == len(audio)
    # Written as x * 32767 and read as n / 32768, as libsndfile (and so the quorlax program) does.
    assert np.max(np.abs(back - audio)) <= 1.5 / 32768
    with wave.open(str(tmp_path / "a.wav")) as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (1, 2, 48000)
    assert [m.text for m in quorlax.decode(back, rate)] == ["hello1234"]

    quorlax.write_wav(str(tmp_path / "f.wav"), audio, 48000, float32=True)
    back, rate = quorlax.read_wav(str(tmp_path / "f.wav"))
    assert rate == 48000 and np.array_equal(back, audio)


@pytest.mark.parametrize("width", [1, 2, 3, 4])
def test_read_pcm_widths_and_channels(tmp_path, width):
    rng = np.random.default_rng(width)
    x = rng.uniform(-0.9, 0.9, (500, 3))
    top = 2 ** (8 * width - 1)
    ints = np.round(x * (top - 1)).astype(np.int64)
    if width == 1:
        raw = (ints + 128).astype(np.uint8).tobytes()
    else:
        raw = b"".join(int(v).to_bytes(width, "little", signed=True) for v in ints.ravel())
    with wave.open(str(tmp_path / "p.wav"), "wb") as w:
        w.setnchannels(3)
        w.setsampwidth(width)
        w.setframerate(22050)
        w.writeframes(raw)
    for channel in range(3):
        back, rate = quorlax.read_wav(tmp_path / "p.wav", channel=channel)
        assert rate == 22050 and len(back) == 500
        assert np.max(np.abs(back - x[:, channel])) <= max(1.5 / (top - 1), 1e-7)  # float32 holds 24 bits
    with pytest.raises(ValueError, match="channel 3"):
        quorlax.read_wav(tmp_path / "p.wav", channel=3)


def test_read_wav_rejects_other_files(tmp_path):
    (tmp_path / "x.wav").write_bytes(b"not a wave file at all")
    with pytest.raises(ValueError, match="not a WAV"):
        quorlax.read_wav(tmp_path / "x.wav")


# ---------------------------------------------------------------------------
# The picture


def test_inspect_draws_the_picture(tmp_path):
    image = pytest.importorskip("matplotlib.image", reason="matplotlib (python3-matplotlib) is not installed")
    rate = 44100
    found = quorlax.inspect(two_band_example(rate), rate, path=tmp_path / "heard.png")
    assert [(m.text, m.band, m.ok) for m in found] == [("hello1234", "audible", True),
                                                        ("c0ffee42a", "nonaudible", True)]
    px = image.imread(str(tmp_path / "heard.png"))
    assert px.shape[:2] == (800, 1400)
    # The plot area (0.06..0.94 wide, 0.08..0.92 high) is busy; the margin is plain.
    plot = px[int(800 * 0.1):int(800 * 0.9), int(1400 * 0.08):int(1400 * 0.92), :3]
    assert plot.std() > 0.05
    assert px[5:30, 5:60, :3].std() < 0.01
    green = (plot[..., 1] > 0.8) & (plot[..., 0] < 0.4) & (plot[..., 2] < 0.5)
    assert green.sum() > 2000  # boxes of two messages that passed


def test_grid_follows_the_bin_rule():
    grids = {g.name: g for g in quorlax.band_grids(44100)}
    bin_hz = 44100 / 2048
    assert grids["audible"].tones[0] == round(3300 / bin_hz) * bin_hz
    assert np.allclose(np.diff(grids["audible"].tones), 35 * bin_hz)
    assert np.allclose(np.diff(grids["nonaudible"].tones), 12 * bin_hz)
    assert np.allclose(np.diff(grids["compression"].tones), 9 * bin_hz)
    assert [g.name for g in quorlax.band_grids(22050)] == ["audible"]
    custom = {g.name: g for g in quorlax.band_grids(48000, base_hz=12000.0)}["custom"]
    assert abs(custom.tones[0] - 12000.0) < 48000 / 2048


# ---------------------------------------------------------------------------
# python3 -m quorlax

LINE = re.compile(r"^[0-9a-v]{9}\t(ok|check-failed)\tband=(audible|nonaudible|compression|custom|unknown)"
                  r"\tconfidence=\d+\.\d\d\tlevel=(-?\d+\.\d|-inf) dB\tat=\d+\.\d\d s$")


def test_cli_encode_decode(tmp_path, capsys):
    wav = tmp_path / "m.wav"
    assert cli_main(["encode", "hello1234", "-m", "compression", "-r", "48000", "-o", str(wav)]) == 0
    assert quorlax.read_wav(wav)[1] == 48000
    capsys.readouterr()
    assert cli_main(["decode", str(wav)]) == 0
    out = capsys.readouterr().out.splitlines()
    assert len(out) == 1 and LINE.match(out[0]) and out[0].startswith("hello1234\tok\tband=compression\t")
    assert cli_main(["decode", str(wav), "--json"]) == 0
    obj = json.loads(capsys.readouterr().out)
    assert obj["text"] == "hello1234" and obj["ok"] is True and obj["band"] == "compression"
    assert set(obj) == {"text", "ok", "band", "confidence", "level_db", "time"}

    quorlax.write_wav(tmp_path / "quiet.wav", np.zeros(44100), 44100)
    assert cli_main(["decode", str(tmp_path / "quiet.wav")]) == 1
    assert capsys.readouterr().out == ""
    assert cli_main(["decode", str(tmp_path / "missing.wav")]) == 2
    assert "cannot read" in capsys.readouterr().err
    assert cli_main(["encode", "hellow234", "-o", str(tmp_path / "x.wav")]) == 2
    assert "invalid character 'w'" in capsys.readouterr().err
    assert cli_main(["encode", "hello1234", "-m", "all", "-r", "22050", "-o", str(tmp_path / "x.wav")]) == 2
    with pytest.raises(SystemExit) as e:
        cli_main(["decode", "-m", "loud", str(wav)])
    assert e.value.code == 2


def test_cli_as_module_and_inspect(tmp_path):
    pytest.importorskip("matplotlib", reason="matplotlib (python3-matplotlib) is not installed")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(Path(_quorlax.__file__).parent), str(REPO / "python")]))
    wav = tmp_path / "two.wav"
    quorlax.write_wav(wav, two_band_example(), 44100)
    run = subprocess.run([sys.executable, "-m", "quorlax", "inspect", str(wav), "-o", str(tmp_path / "h.png")],
                         env=env, capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert [line.split("\t")[0] for line in run.stdout.splitlines()] == ["hello1234", "c0ffee42a"]
    assert (tmp_path / "h.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_lines_match_the_cpp_cli(tmp_path, capsys):
    exe = Path(_quorlax.__file__).resolve().parent.parent / "tools" / "quorlax"
    if not exe.is_file():
        pytest.skip(f"the quorlax program is not built next to _quorlax ({exe})")
    wav = tmp_path / "two.wav"
    quorlax.write_wav(wav, two_band_example(48000), 48000)
    for extra in ([], ["--json"], ["-m", "audible", "--failed"]):
        ref = subprocess.run([str(exe), "decode", "-q", str(wav), *extra], capture_output=True, text=True,
                             timeout=60)
        code = cli_main(["decode", str(wav), *extra])
        assert (code, capsys.readouterr().out) == (ref.returncode, ref.stdout)


# ---------------------------------------------------------------------------
# Installing


def test_pip_install_into_a_venv(tmp_path):
    for needed in ("venv", "ensurepip"):
        if importlib.util.find_spec(needed) is None:
            pytest.skip(f"cannot make a venv with pip here (no {needed} module): install python3-venv")
    if shutil.which("cmake") is None:
        pytest.skip("cmake is not installed")
    env = {k: v for k, v in os.environ.items()
           if k not in ("PYTHONPATH", "LD_PRELOAD", "ASAN_OPTIONS", "PIP_REQUIRE_VIRTUALENV")}
    venv_dir = tmp_path / "venv"
    made = subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", str(venv_dir)],
                          env=env, capture_output=True, text=True, timeout=120)
    python = venv_dir / "bin" / "python"
    if made.returncode != 0 or subprocess.run([str(python), "-m", "pip", "--version"], env=env,
                                              capture_output=True).returncode != 0:
        pytest.skip(f"venv or pip is not available: {made.stderr.strip()[-300:]}")
    install = subprocess.run([str(python), "-m", "pip", "install", "--no-index", "--no-build-isolation",
                              "--no-deps", str(REPO)], env=env, capture_output=True, text=True, timeout=600,
                             cwd=tmp_path)
    assert install.returncode == 0, install.stdout[-3000:] + install.stderr[-3000:]
    probe = ("import quorlax, _quorlax, sys; "
             "a = quorlax.encode('hello1234', 'audible', 44100); "
             "print(quorlax.__version__, quorlax.__file__, _quorlax.__file__, "
             "[m.text for m in quorlax.decode(a, 44100)])")
    run = subprocess.run([str(python), "-c", probe], env=env, capture_output=True, text=True, cwd=tmp_path,
                         timeout=60)
    assert run.returncode == 0, run.stderr
    version, package, module, texts = run.stdout.split(" ", 3)
    assert version == quorlax.__version__ and texts.strip() == "['hello1234']"
    assert package.startswith(str(venv_dir)) and module.startswith(str(venv_dir))
    site = Path(package).parent.parent
    assert (site / "quorlax" / "py.typed").is_file()


if __name__ == "__main__":
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "heard.png")
    for m in quorlax.inspect(two_band_example(), 44100, path=out,
                             title="quorlax.inspect: two transmissions, white noise at 0 dB SNR, 150 ms of reverb"):
        print(m)
