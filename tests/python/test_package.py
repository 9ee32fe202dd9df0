"""Tests of the `quorlax` package: the build puts it, with its binding, in
build/python; scripts/test-wheel.sh runs them again on installed wheels.

Run as a script to redraw the README's picture:
    PYTHONPATH=build/python /usr/bin/python3 tests/python/test_package.py docs/heard.png
"""
import importlib
import json
import os
import re
import shutil
import subprocess
import sys
import threading
import tracemalloc
from pathlib import Path

import numpy as np
import pytest
import soundfile
from conftest import SPECIFIED_MODULE_USABLE, needs_specified_module

import quorlax
from quorlax import _errors
from quorlax.__main__ import program

_quorlax = importlib.import_module("_quorlax") if SPECIFIED_MODULE_USABLE else None

REPO = Path(__file__).resolve().parents[2]
# Where the package was imported from: build/python, or an environment's site-packages.
PACKAGE_ROOT = Path(quorlax.__file__).resolve().parents[1]

RATES = [44100, 48000]
MODES = ["audible", "nonaudible", "compression", "all", "custom"]
HEARD_IN = {"audible": "audible", "nonaudible": "nonaudible", "compression": "compression",
            "all": "nonaudible", "custom": "custom"}
TIME_TOLERANCE = 0.03  # the front door is located to within one 1024-sample push


@pytest.fixture
def quorlax_program():
    """The program the package runs (a build configured without it skips)."""
    try:
        return Path(program())
    except FileNotFoundError as e:
        pytest.skip(str(e))


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
    if _quorlax is not None:
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
    assert 0.9 <= m.confidence <= 1.0 and np.isfinite(m.level_db)
    assert abs(m.end - m.time - 20 * {44100: 4608, 48000: 5015}[rate] / rate) < 0.01
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


@needs_specified_module
@pytest.mark.parametrize("rate", RATES)
def test_streaming_decoder_alone_misses_a_transmission_at_the_start(rate):
    # Without the lead-in silence that the package adds, the library never sees the front door.
    audio = quorlax.encode("start0000", "compression", rate)
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
    got = dec.feed(stream) + dec.close()  # the closing silence completes it, if the stream did not
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
        assert quorlax.Decoder(22050, mode)._rate == 48000  # heard through the converter


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


def test_arrays_that_are_not_mono_and_file_names_are_refused(tmp_path):
    audio = quorlax.encode("hello1234", "audible", 44100)
    assert [m.text for m in quorlax.decode(audio[:, None], 44100)] == ["hello1234"]  # (frames, 1) is mono
    assert [m.text for m in quorlax.decode(audio.astype(np.float64).tolist(), 44100)] == ["hello1234"]
    stereo = np.stack([audio, np.zeros_like(audio)], axis=1)
    with pytest.raises(ValueError, match=r"must be mono.*2 channels.*\(92160, 2\).*audio\[:, 0\]"):
        quorlax.decode(stereo, 44100)
    with pytest.raises(ValueError, match=r"channels-first.*audio\[0\]"):
        quorlax.decode(stereo.T, 44100)
    with pytest.raises(ValueError, match="channels-first"):
        quorlax.Decoder(44100).feed(stereo.T[:, :1000])
    quorlax.write(tmp_path / "m.wav", audio, 44100)
    for path in (str(tmp_path / "m.wav"), tmp_path / "m.wav"):
        with pytest.raises(TypeError, match=r"not the file name.*decode_file"):
            quorlax.decode(path, 44100)
    with pytest.raises(TypeError, match=r"not 5 bytes: a file name is read with quorlax.read\(\) or decode_file"):
        quorlax.decode(b"m.wav", 44100)
    with pytest.raises(TypeError, match="not the file name"):
        quorlax.inspect(str(tmp_path / "m.wav"), 44100, tmp_path / "x.png")
    with pytest.raises(ValueError, match="channels-first"):
        quorlax.write(tmp_path / "c.wav", stereo.T, 44100)


# ---------------------------------------------------------------------------
# Errors


def test_error_classes_and_codes():
    for code, cls in [(-4, quorlax.InvalidArgumentError), (-5, quorlax.NotConfiguredError),
                      (-6, quorlax.BufferFullError), (-7, quorlax.UnsupportedError)]:
        assert issubclass(cls, quorlax.QuorlaxError) and issubclass(quorlax.QuorlaxError, Exception)
        with pytest.raises(cls) as e:
            _errors.raise_for_code(code, "context")
        assert e.value.code == code
        if _quorlax is not None:
            assert str(e.value) == "context: " + _quorlax.QUORLAX_GetErrorText(code)
    with pytest.raises(quorlax.QuorlaxError) as e:
        _errors.raise_for_code(-9)
    assert type(e.value) is quorlax.QuorlaxError and e.value.code == -9


@pytest.mark.parametrize("rate", [8000, 16000, 32000, 96000, 44099])
def test_encode_refuses_rates_it_cannot_send_at(rate):
    with pytest.raises(quorlax.UnsupportedError) as e:
        quorlax.encode("hello1234", "audible", rate)
    assert e.value.code == -7 and str(rate) in str(e.value)


@pytest.mark.parametrize("rate", [0, -44100, 44100.5, float("nan")])
def test_rates_that_are_no_rates(rate):
    with pytest.raises(ValueError, match="rate"):
        quorlax.decode(np.zeros(100, np.float32), rate)


@pytest.mark.parametrize("message, pattern", [
    # Positions count from 1, as the quorlax program counts them.
    ("hellow234", r"invalid character 'w' at position 6 in message \(allowed: 0-9, a-v\)"),
    ("hel o1234", r"invalid character ' ' at position 4"),
    ("hellé1234", r"invalid character 'é' at position 5"),
    ("w23456789", r"invalid character 'w' at position 1 in message"),
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
    with pytest.raises(ValueError, match="invalid character 'z' at position 2 in melody"):
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


@pytest.mark.parametrize("volume, accepted", [(-60, True), (0, True), (-12.5, True), (-60.5, False), (0.5, False),
                                               (1e9, False), (float("nan"), False), ("-6", False), (True, False)])
def test_synth_volume_has_a_range(volume, accepted):
    if accepted:
        audio = quorlax.encode("hello1234", synth=True, volume_db=volume)
        assert np.isfinite(audio).all() and np.max(np.abs(audio)) < 2.0
        assert "hello1234" in [m.text for m in quorlax.decode(audio, 44100) if m.ok]
    else:
        with pytest.raises(ValueError, match=r"^volume_db must be a gain from -60 to 0 dB, not "):
            quorlax.encode("hello1234", synth=True, volume_db=volume)


HUGE = "4" * 1_000_000


@pytest.mark.parametrize("call, error", [
    (lambda: quorlax.decode(np.zeros(300_000, np.float32).tobytes(), 44100), TypeError),
    (lambda: quorlax.Decoder(44100).feed(bytearray(1_000_000)), TypeError),
    (lambda: quorlax.decode(HUGE, 44100), TypeError),
    (lambda: quorlax.encode(HUGE), ValueError),
    (lambda: quorlax.encode("hello1234", HUGE), ValueError),
    (lambda: quorlax.decode(np.zeros(10), 44100, mode=HUGE), ValueError),
    (lambda: quorlax.decode(np.zeros(10), float(HUGE)), ValueError),
    (lambda: quorlax.encode("hello1234", synth=True, volume_db=float(HUGE)), ValueError),
    (lambda: quorlax.decode_file("x.wav", blocksize=int(HUGE)), ValueError),
    (lambda: quorlax.read("x.wav", channel=int(HUGE)), (ValueError, RuntimeError)),
])
def test_hostile_values_give_short_messages(call, error):
    tracemalloc.start()
    try:
        with pytest.raises(error) as e:
            call()
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert len(str(e.value)) < 300, str(e.value)[:300]
    assert peak < 20e6  # refused before anything is allocated for them


def test_one_convention_for_positions_with_the_program(quorlax_program):
    for message in ("hewlo1234", "w23456789", "hellé1234", "hel o1234", "hello", "hello12345"):
        with pytest.raises(ValueError) as e:
            quorlax.encode(message)
        said = subprocess.run([str(quorlax_program), "encode", message, "-o", "-"], capture_output=True, text=True)
        assert said.stderr == f"quorlax: {e.value}\n", (message, said.stderr, str(e.value))


# ---------------------------------------------------------------------------
# Sound files (python-soundfile)


@pytest.mark.parametrize("ext, subtype, tolerance", [
    ("wav", "PCM_16", 1.5 / 32768), ("wav", "PCM_24", 1e-6), ("wav", "FLOAT", 0.0), ("flac", "PCM_16", 1.5 / 32768),
    ("flac", "PCM_24", 1e-6), ("aiff", "PCM_16", 1.5 / 32768), ("ogg", "VORBIS", None), ("au", "PCM_16", 1.5 / 32768),
    ("caf", "FLOAT", 0.0), ("w64", "DOUBLE", 0.0),
])
def test_formats_round_trip(tmp_path, ext, subtype, tolerance):
    rate = 48000
    audio = quorlax.encode("hello1234", "audible", rate) * np.float32(0.9)
    path = tmp_path / f"a.{ext}"
    quorlax.write(path, audio, rate, subtype=subtype)
    info = soundfile.info(str(path))
    assert (info.samplerate, info.channels, info.subtype) == (rate, 1, subtype)
    assert info.format == {"wav": "WAVEX" if subtype == "FLOAT" else "WAV"}.get(ext, ext.upper())
    back, r = quorlax.read(path)
    assert r == rate and back.dtype == np.float32 and back.ndim == 1
    if tolerance is not None:
        assert len(back) == len(audio) and np.max(np.abs(back - audio)) <= tolerance
    assert [m.text for m in quorlax.decode(back, rate) if m.ok] == ["hello1234"]


def test_default_subtypes_and_float_wav_header(tmp_path):
    audio = quorlax.encode("hello1234", "compression", 44100)
    quorlax.write(tmp_path / "d.wav", audio, 44100)
    quorlax.write(tmp_path / "d.flac", audio, 44100)
    assert soundfile.info(str(tmp_path / "d.wav")).subtype == "PCM_16"
    assert soundfile.info(str(tmp_path / "d.flac")).format == "FLAC"
    assert (tmp_path / "d.flac").read_bytes()[:4] == b"fLaC"  # not RIFF data under a .flac name
    quorlax.write(tmp_path / "f.wav", audio, 44100, subtype="FLOAT")
    blob = (tmp_path / "f.wav").read_bytes()
    size = int.from_bytes(blob[16:20], "little")
    assert blob[12:16] == b"fmt " and size >= 18 and int.from_bytes(blob[36:38], "little") == size - 18


@pytest.mark.parametrize("dtype, scale", [("float32", 1.0), ("float64", 1.0), ("int16", 32767), ("int32", 2 ** 31 - 1)])
def test_dtypes_are_scaled_as_their_kind_says(tmp_path, dtype, scale):
    square = np.where(np.arange(4410) % 100 < 50, 0.5, -0.5)
    data = (square * scale).astype(dtype)
    quorlax.write(tmp_path / "s.wav", data, 44100, subtype="PCM_24")
    back, _ = quorlax.read(tmp_path / "s.wav")
    assert np.max(np.abs(back - square)) < 1e-4  # int16 input is not written unscaled
    ints, _ = quorlax.read(tmp_path / "s.wav", dtype="int16")
    assert ints.dtype == np.int16 and abs(int(ints.max()) - 16384) <= 1


def test_channels(tmp_path):
    rng = np.random.default_rng(7)
    print("seed 7")
    x = rng.uniform(-0.9, 0.9, (500, 3)).astype(np.float32)
    quorlax.write(tmp_path / "c.wav", x, 22050)
    info = soundfile.info(str(tmp_path / "c.wav"))
    assert info.channels == 3  # no channel dropped
    both, rate = quorlax.read(tmp_path / "c.wav")
    assert rate == 22050 and both.shape == (500, 3)
    for channel in (1, 2, 3):
        one, _ = quorlax.read(tmp_path / "c.wav", channel=channel)
        assert one.shape == (500,) and np.max(np.abs(one - x[:, channel - 1])) <= 1.5 / 32768
    with pytest.raises(ValueError, match=r"channel 4 does not exist: the file has 3"):
        quorlax.read(tmp_path / "c.wav", channel=4)
    quorlax.write(tmp_path / "m.wav", x[:, 0], 22050)
    assert quorlax.read(tmp_path / "m.wav")[0].ndim == 1
    assert quorlax.read(tmp_path / "m.wav", always_2d=True)[0].shape == (500, 1)
    # The earlier names still work, channels counted from 0 as they were.
    assert np.array_equal(quorlax.read_wav(tmp_path / "c.wav", channel=1)[0], quorlax.read(tmp_path / "c.wav",
                                                                                           channel=2)[0])


def test_write_refuses_what_it_would_spoil(tmp_path, capsys):
    loud = np.array([0.0, 1.7, -0.2], np.float32)
    with pytest.raises(ValueError, match=r"samples reach 1\.7.*PCM_16.*subtype='FLOAT'"):
        quorlax.write(tmp_path / "loud.wav", loud, 44100)
    assert not (tmp_path / "loud.wav").exists()
    quorlax.write(tmp_path / "loud.wav", loud, 44100, subtype="FLOAT")
    assert np.array_equal(quorlax.read(tmp_path / "loud.wav")[0], loud)
    with pytest.raises(FileNotFoundError, match=r"there is no folder '.*no-such-folder'"):
        quorlax.write(tmp_path / "no-such-folder" / "x.wav", loud / 2, 44100)
    with pytest.raises(ValueError, match="cannot tell the audio format"):
        quorlax.write(tmp_path / "x.mp9", loud / 2, 44100)
    with pytest.raises(ValueError, match="rate"):
        quorlax.write(tmp_path / "x.wav", loud / 2, 0)
    (tmp_path / "not.wav").write_bytes(b"not a sound file at all")
    with pytest.raises(RuntimeError):  # soundfile's LibsndfileError
        quorlax.read(tmp_path / "not.wav")
    assert capsys.readouterr() == ("", "")


WRITE_PROBE = """
import resource, sys
import numpy as np
import quorlax
limit = int(sys.argv[2])
resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
try:
    quorlax.write(sys.argv[1], np.random.default_rng(3).uniform(-0.5, 0.5, 441000), 44100)
except OSError as e:
    print(type(e).__name__, e.errno, e)
"""


@pytest.mark.parametrize("ext", ["wav", "flac", "ogg", "aiff"])
def test_a_failed_write_leaves_nothing_and_names_the_cause(tmp_path, ext):
    # Past a file size limit: EFBIG.
    name = str(tmp_path / f"big.{ext}")
    run = run_python("-c", WRITE_PROBE, name, "16384")
    assert run.stdout.strip() == f"OSError 27 [Errno 27] File too large: '{name}'" and run.stderr == "", run
    assert os.listdir(tmp_path) == []
    # Over an old file: it stays as it was.
    old = tmp_path / f"old.{ext}"
    quorlax.write(old, quorlax.encode("keep12345", "audible", 44100), 44100)
    before = old.read_bytes()
    run = run_python("-c", WRITE_PROBE, str(old), "16384")
    assert "File too large" in run.stdout and old.read_bytes() == before and os.listdir(tmp_path) == [old.name]


def test_a_full_disk_leaves_nothing_and_names_the_cause(tmp_path):
    small = tmp_path / "small"
    small.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(small)],
                      capture_output=True).returncode != 0:
        pytest.skip("cannot mount a tmpfs here (the file size limit test covers the same path)")
    try:
        audio = np.random.default_rng(3).uniform(-0.5, 0.5, 441000)  # too much for 64 KB in any format
        for ext in ("wav", "flac", "ogg", "aiff"):
            with pytest.raises(OSError) as e:
                quorlax.write(small / f"full.{ext}", audio, 44100)
            assert e.value.errno == 28 and str(e.value) == f"[Errno 28] No space left on device: '{small}/full.{ext}'"
            assert os.listdir(small) == []
        quorlax.write(small / "fits.wav", audio[:4410], 44100)  # what fits is written, with the usual mode
        mask = os.umask(0)
        os.umask(mask)
        assert os.listdir(small) == ["fits.wav"] and os.stat(small / "fits.wav").st_mode & 0o777 == 0o666 & ~mask
    finally:
        subprocess.run(["umount", str(small)])


def test_writing_through_a_link_and_to_a_device(tmp_path):
    audio = quorlax.encode("link12345", "audible", 44100)
    quorlax.write(tmp_path / "real.wav", audio, 44100)
    os.symlink("real.wav", tmp_path / "link.wav")
    quorlax.write(tmp_path / "link.wav", quorlax.encode("l1nked000", "audible", 44100), 44100)
    assert (tmp_path / "link.wav").is_symlink()
    assert [m.text for m in quorlax.decode_file(tmp_path / "real.wav")] == ["l1nked000"]
    quorlax.write("/dev/null", audio, 44100, format="WAV")  # written in place, not replaced
    assert not os.path.isfile("/dev/null")


def cut_flac(tmp_path):
    rate = 48000
    tail = np.random.default_rng(5).normal(0.0, 0.01, 4 * rate).astype(np.float32)
    audio = np.concatenate([silence(0.5, rate), 0.5 * quorlax.encode("cutfl4c00", "audible", rate), tail])
    quorlax.write(tmp_path / "whole.flac", audio, rate)
    data = (tmp_path / "whole.flac").read_bytes()
    (tmp_path / "cut.flac").write_bytes(data[:len(data) * 2 // 3])
    return tmp_path / "cut.flac"


def test_a_damaged_file_says_how_far_it_got(tmp_path):
    cut = cut_flac(tmp_path)
    for call in (lambda: quorlax.read(cut), lambda: quorlax.decode_file(cut)):
        with pytest.raises(soundfile.LibsndfileError) as e:
            call()
        assert re.match(r"cannot read '.*cut\.flac' past \d\.\d\d s of the 6\.59 s its header announces \(cut off "
                        r"or damaged\): ", str(e.value)), str(e.value)


@pytest.mark.parametrize("blocksize", [0, -1, 2 ** 22 + 1, 1.5, True, "4096", None])
def test_decode_file_refuses_blocksizes_it_cannot_use(tmp_path, blocksize):
    quorlax.write(tmp_path / "b.wav", quorlax.encode("blocks123", "audible", 44100), 44100)
    with pytest.raises(ValueError, match=r"blocksize must be a whole number of frames from 1 to 4194304"):
        quorlax.decode_file(tmp_path / "b.wav", blocksize=blocksize)


def test_decode_file_in_small_blocks(tmp_path):
    quorlax.write(tmp_path / "b.wav", quorlax.encode("blocks123", "audible", 44100), 44100)
    assert [m.text for m in quorlax.decode_file(tmp_path / "b.wav", blocksize=333)] == ["blocks123"]


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


@pytest.mark.parametrize("rate, mode, before, after", [
    (44100, "audible", 12.0, 0.05),      # a verdict that would run off the right edge
    (48000, "nonaudible", 2.0, 0.01),    # the top band, ending at the last sample
    (22050, "audible", 0.3, 0.02),       # a low Nyquist
])
def test_picture_labels_stay_inside(rate, mode, before, after):
    pytest.importorskip("matplotlib", reason="matplotlib (python3-matplotlib) is not installed")
    from matplotlib.transforms import Bbox

    audio = np.concatenate([silence(before, rate), quorlax.encode("edge12345", mode, rate), silence(after, rate)])
    fig, found = quorlax._inspect._figure(audio, rate, title="a title " * 3)
    assert [m.text for m in found] == ["edge12345"]
    renderer = fig.canvas.get_renderer()
    ax = fig.axes[0]
    texts = list(ax.texts) + [ax.title, ax.xaxis.label, ax.yaxis.label]
    for axis in (ax.xaxis, ax.yaxis):  # tick labels that are drawn: those in view
        low, high = sorted(axis.get_view_interval())
        texts += [t.label1 for t in axis.get_major_ticks() if low <= t.get_loc() <= high]
    texts = [t for t in texts if t.get_visible() and t.get_text()]
    assert len(texts) > 20
    for t in texts:
        box = t.get_window_extent(renderer)
        if t.get_clip_on() and t.get_clip_box() is not None:
            box = Bbox.intersection(box, t.get_clip_box())
            if box is None:
                continue
        assert fig.bbox.x0 - 0.5 <= box.x0 and box.x1 <= fig.bbox.x1 + 0.5, (t.get_text(), box, fig.bbox)
        assert fig.bbox.y0 - 0.5 <= box.y0 and box.y1 <= fig.bbox.y1 + 0.5, (t.get_text(), box, fig.bbox)


def test_grids_come_from_the_library():
    grids = {g.name: g for g in quorlax.band_grids(44100)}
    assert list(grids) == ["audible", "nonaudible", "compression"]
    for name, g in grids.items():
        info = quorlax._native.band_info(quorlax.MODES[name], 44100.0)
        assert g.tones == tuple(info["tones"]) and g.shift == info["shift_hz"]
        assert len(g.tones) == 9 and np.allclose(np.diff(g.tones), g.tones[1] - g.tones[0])
        assert g.low < g.tones[0] and g.high > g.tones[-1] + 2 * g.shift
    assert grids["audible"].high < grids["compression"].low < grids["compression"].high < grids["nonaudible"].low
    assert [g.name for g in quorlax.band_grids(22050)] == ["audible"]
    custom = {g.name: g for g in quorlax.band_grids(48000, base_hz=12000.0)}["custom"]
    assert abs(custom.tones[0] - 12000.0) < 48000 / 2048
    assert "custom" not in {g.name for g in quorlax.band_grids(22050, base_hz=12000.0)}  # does not fit


# ---------------------------------------------------------------------------
# Decoding at any rate, files in blocks


def soxr_like(x, src, dst):
    r = quorlax._native.Resampler(src, dst)
    return np.concatenate([r.process(x), r.flush()])


@pytest.mark.parametrize("rate", [22050, 32000, 88200, 96000, 44099])
def test_decode_converts_other_rates(rate):
    audio = quorlax.encode("ratelike1", "audible", 48000)
    stream = soxr_like(np.concatenate([silence(0.7, 48000), audio, silence(0.3, 48000)]), 48000, rate)
    assert abs(len(stream) - round((len(audio) + 0.7 * 48000 + 0.3 * 48000) * rate / 48000)) <= 1
    got = quorlax.decode(stream, rate)  # mode all: 22050 Hz is converted too
    assert [(m.text, m.ok, m.band) for m in got] == [("ratelike1", True, "audible")]
    assert abs(got[0].time - 0.7) < TIME_TOLERANCE
    rng = np.random.default_rng(rate)
    with quorlax.Decoder(rate) as dec:
        feed_in_chunks(dec, stream, rng, first=[1, 3])
    assert dec.messages == got  # chunking changes nothing


@pytest.mark.parametrize("speed", [0.98, 1.0, 1.015])
def test_messages_say_how_fast_the_sender_played(speed):
    # Declared at speed times its rate, the transmission is converted as a
    # sender playing that much fast (or slow) would have sent it.
    audio = np.concatenate([silence(0.3, 44100), quorlax.encode("offset123", "compression", 44100), silence(0.3, 44100)])
    got = quorlax.decode(audio, round(44100 * speed), "compression")
    assert [(m.text, m.ok) for m in got] == [("offset123", True)]
    actual = round(44100 * speed) / 44100
    assert got[0].pitch_offset == pytest.approx(actual - 1, abs=3e-4)
    assert got[0].tempo_offset == pytest.approx(actual - 1, abs=5e-4)


def test_22050_hz_audible_stays_at_its_rate():
    audio = quorlax.encode("native222", "audible", 22050)
    dec = quorlax.Decoder(22050, "audible")
    assert dec._resampler is None
    dec.feed(audio)
    assert [m.text for m in dec.close()] == ["native222"]


def test_decode_hears_what_the_program_hears(tmp_path, quorlax_program):
    x = two_band_example(48000)
    for rate in (32000, 96000):
        y = soxr_like(x, 48000, rate)
        quorlax.write(tmp_path / "two.wav", y, rate, subtype="FLOAT")
        ref = subprocess.run([str(quorlax_program), "decode", "-q", "--json", "--failed", str(tmp_path / "two.wav")],
                             capture_output=True, text=True, timeout=60)
        theirs = [json.loads(line) for line in ref.stdout.splitlines()]
        ours = quorlax.decode(quorlax.read(tmp_path / "two.wav")[0], rate)
        assert [(m["text"], m["ok"], m["band"], m["time"]) for m in theirs] == \
            [(m.text, m.ok, m.band, round(m.time, 2)) for m in ours]
        assert len(ours) == (1 if rate < 40000 else 2)  # no non-audible band below 40 kHz


def write_long_file(path, minutes, rate, at, text):
    """A long 16-bit WAV written a block at a time, `text` sent at `at` seconds."""
    x = quorlax.encode(text, "compression", rate)
    rng = np.random.default_rng(3)
    start = int(at * rate)
    with soundfile.SoundFile(str(path), "w", rate, 1, "PCM_16") as f:
        for first in range(0, int(minutes * 60 * rate), 10 * rate):
            block = rng.normal(0.0, 0.01, 10 * rate)
            if first <= start < first + 10 * rate:
                block[start - first:start - first + len(x)] += 0.5 * x[:10 * rate - (start - first)]
            f.write(block)


def test_decode_file_streams_in_blocks(tmp_path):
    rate, minutes = 44100, 10
    path = tmp_path / "long.wav"
    write_long_file(path, minutes, rate, 577.5, "longfile1")
    tracemalloc.start()
    try:
        got = quorlax.decode_file(path)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    whole = minutes * 60 * rate * 4
    print(f"decode_file: {minutes} minutes, peak {peak / 1e6:.1f} MB of Python allocations ({whole / 1e6:.0f} MB whole)")
    assert [(m.text, m.ok) for m in got] == [("longfile1", True)] and abs(got[0].time - 577.5) < TIME_TOLERANCE
    assert peak < 10e6


def test_decode_file_channels_rates_and_formats(tmp_path):
    audio = quorlax.encode("filechan2", "nonaudible", 48000)
    stereo = np.stack([np.zeros_like(audio), audio], axis=1)
    quorlax.write(tmp_path / "s.flac", soxr_like(stereo[:, 1], 48000, 96000)[:, None].repeat(2, 1)
                  * np.array([0.0, 1.0], np.float32), 96000)
    assert [m.text for m in quorlax.decode_file(tmp_path / "s.flac", channel=2)] == ["filechan2"]
    assert quorlax.decode_file(tmp_path / "s.flac") == []
    with pytest.raises(ValueError, match="channel 3 does not exist"):
        quorlax.decode_file(tmp_path / "s.flac", channel=3)
    with open(tmp_path / "s.flac", "rb") as f:
        assert [m.text for m in quorlax.decode_file(f, channel=2)] == ["filechan2"]


# ---------------------------------------------------------------------------
# Nothing printed, nothing swapped


def test_encode_prints_nothing_and_leaves_stdout_alone(capfd):
    lines, seen = 43, set()
    start = threading.Barrier(2)

    def chatter():
        start.wait()
        for i in range(lines):
            seen.add(id(sys.stdout))
            print(f"line {i}", flush=True)

    t = threading.Thread(target=chatter)
    t.start()
    start.wait()
    for rate in (44100, 48000) * 10:
        quorlax.encode("hello1234", "audible", rate)
        seen.add(id(sys.stdout))
    t.join()
    out, err = capfd.readouterr()
    assert out.splitlines() == [f"line {i}" for i in range(lines)] and err == ""
    assert seen == {id(sys.stdout)}


def test_the_package_reaches_the_library_through_its_own_binding():
    src = (REPO / "python" / "quorlax").glob("*.py")
    users = [p.name for p in src if re.search(r"^\s*(import|from)\s+_quorlax\b", p.read_text(), re.M)]
    assert users == []


# ---------------------------------------------------------------------------
# One program


def run_python(*args, **kw):
    env = dict(os.environ, PYTHONPATH=str(PACKAGE_ROOT))
    return subprocess.run([sys.executable, *args], env=env, capture_output=True, text=True, timeout=120, **kw)


def test_python_m_quorlax_runs_the_program(tmp_path, quorlax_program):
    def direct(*args):
        return subprocess.run([str(quorlax_program), *args], capture_output=True, text=True)

    mine = run_python("-m", "quorlax", "-V")
    assert mine.returncode == 0 and mine.stdout == direct("-V").stdout
    wav = tmp_path / "bad.wav"
    for args in (["encode", "hellow234", "-o", str(wav)], ["encode", "h\u00e9llo1234"], ["decode", "-h"]):
        ours, theirs = run_python("-m", "quorlax", *args), direct(*args)
        assert (ours.returncode, ours.stdout, ours.stderr) == (theirs.returncode, theirs.stdout, theirs.stderr)


def test_inspect_through_the_program(tmp_path, quorlax_program):
    pytest.importorskip("matplotlib", reason="matplotlib (python3-matplotlib) is not installed")
    wav = tmp_path / "two.wav"
    quorlax.write(wav, soxr_like(two_band_example(), 44100, 32000), 32000)
    env = dict(os.environ, PYTHONPATH=str(PACKAGE_ROOT), QUORLAX_PYTHON=sys.executable)
    run = subprocess.run([str(quorlax_program), "inspect", str(wav), "-o", str(tmp_path / "h.png"), "--title", "two"],
                         env=env, capture_output=True, text=True, timeout=120)
    assert run.returncode == 0 and run.stdout == "", run.stderr
    assert (tmp_path / "h.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    run = subprocess.run([str(quorlax_program), "inspect", str(tmp_path / "missing.wav")], env=env, capture_output=True,
                         text=True, timeout=120)
    assert run.returncode == 2 and run.stderr.startswith("quorlax: cannot read") and run.stderr.count("\n") == 1
    # Without the package the program says what is missing.
    bare = {k: v for k, v in os.environ.items() if k != "QUORLAX_PYTHON"}
    run = subprocess.run([str(quorlax_program), "inspect", str(wav)], env=dict(bare, PYTHONPATH="/nonexistent",
                         PYTHONNOUSERSITE="1"), capture_output=True, text=True, timeout=120, cwd=tmp_path)
    if run.returncode == 2 and "cannot import" in run.stderr:
        assert "pip install" in run.stderr and run.stderr.count("\n") == 1
    else:  # a quorlax package installed on this machine answered
        assert run.returncode in (0, 1), run.stderr


def test_inspect_from_a_venv_that_is_not_activated(tmp_path, quorlax_program):
    """The program beside a venv's Python, and `.venv/bin/python -m quorlax inspect`, with PATH as it was
    before the venv: the picture is drawn by the venv's Python, which alone has the package."""
    pytest.importorskip("matplotlib", reason="matplotlib (python3-matplotlib) is not installed")
    if PACKAGE_ROOT in quorlax_program.resolve().parents:
        pytest.skip("an installed package runs its program through its launcher (tests/wheel)")
    # The build's modules are used as they are (sanitizer runtimes preloaded, if any).
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env["PATH"] = "/usr/bin:/bin"
    venv = tmp_path / ".venv"
    made = subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", "--without-pip", str(venv)],
                          env=env, capture_output=True, text=True, timeout=120)
    if made.returncode != 0:
        pytest.skip(f"cannot make a venv here: {made.stderr.strip()[-300:]}")
    # The package in the venv's site-packages only, the program beside the venv's Python.
    site = subprocess.run([str(venv / "bin" / "python"), "-c", "import sysconfig; print(sysconfig.get_path('purelib'))"],
                          env=env, capture_output=True, text=True, timeout=60).stdout.strip()
    Path(site, "quorlax-build.pth").write_text(str(PACKAGE_ROOT) + "\n")
    shutil.copy2(quorlax_program, venv / "bin" / "quorlax")
    quorlax.write(tmp_path / "hello.wav", quorlax.encode("hello1234", "audible", 44100), 44100)
    for command in ([".venv/bin/quorlax", "inspect", "hello.wav", "-o", "a.png"],
                    [".venv/bin/python", "-m", "quorlax", "inspect", "hello.wav", "-o", "b.png"]):
        drawn = subprocess.run(command, env=env, capture_output=True, text=True, cwd=tmp_path, timeout=120)
        assert drawn.returncode == 0 and drawn.stderr == "", (command, drawn.stderr)
        assert (tmp_path / command[-1]).read_bytes()[:4] == b"\x89PNG"


if __name__ == "__main__":
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "heard.png")
    for m in quorlax.inspect(two_band_example(), 44100, path=out,
                             title="quorlax.inspect: two transmissions, white noise at 0 dB SNR, 150 ms of reverb"):
        print(m)


@pytest.mark.parametrize("doc, pattern", [
    ("README.md", r"^\| (\w+) \| \d \| (\d+\.\d) to (\d+\.\d) kHz"),
    ("web/README.md", r"`(\w+)`\s+\((?:about )?(\d+\.\d) to (\d+\.\d) kHz\)"),
])
def test_band_ranges_in_the_docs_are_the_librarys(doc, pattern):
    """Every range a reader meets is what the library puts on air at 44100 Hz."""
    text = (REPO / doc).read_text(encoding="utf-8")
    found = re.findall(pattern, text, flags=re.MULTILINE)
    assert sorted(name for name, _, _ in found) == ["audible", "compression", "nonaudible"], found
    for name, low, high in found:
        info = quorlax.mode_info(name, 44100)
        assert (f"{info['low_hz'] / 1000:.1f}", f"{info['high_hz'] / 1000:.1f}") == (low, high), name


def test_modes_and_facts_come_from_the_library():
    from quorlax import _native
    assert quorlax.MODES == {name: value for value, name in _native.modes()}
    assert quorlax.RATES == tuple(_native.sample_rates())
    info = quorlax.mode_info("all", 48000)
    assert info["hears"] == [quorlax.MODES[b] for b in ("audible", "nonaudible", "compression")]
    assert info["transmission_samples"] == 20 * info["token_samples"] == 100300
    with pytest.raises(quorlax.UnsupportedError):
        quorlax.mode_info("nonaudible", 22050)
    with pytest.raises(ValueError, match="audible, nonaudible, compression, all or custom"):
        quorlax.mode_info("loud", 44100)
