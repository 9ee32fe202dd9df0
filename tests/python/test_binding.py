import contextlib
import gc
import os
import subprocess
import sys
import tracemalloc

import numpy as np
import pytest
from conftest import SPECIFIED_MODULE_USABLE

if not SPECIFIED_MODULE_USABLE:
    pytest.skip(f"_quorlax needs NumPy 1.x (NumPy {np.__version__} is installed)", allow_module_level=True)

import _quorlax as q  # noqa: E402

MESSAGE = "hello1234"
LEAD_IN = {44100: 1792, 48000: 1984}


def encode(h, bufsize):
    assert q.QUORLAX_EncodeDataToAudioBuffer(MESSAGE, 9, 0, b"", 0, h) > 0
    buf = np.zeros(bufsize, np.float32)
    parts = []
    with open(os.devnull, "w") as null, contextlib.redirect_stdout(null):
        while (n := q.GetEncodedAudioBuffer(buf, h)) > 0:
            parts.append(buf[:n].copy())
    assert n == 0
    return np.concatenate(parts)


def decode(h, audio):
    """Feeds audio in 1024-sample chunks; returns every GetDecodedData result."""
    found = []
    for i in range(0, len(audio), 1024):
        chunk = audio[i:i + 1024]
        r = q.DecodeAudioBuffer(chunk, len(chunk), h)
        while r != -1:
            assert r >= -3, r
            if r == -3:
                found.append(q.GetDecodedData(h))
            r = q.DecodeAudioBuffer(chunk, 0, h)
    return found


def round_trip(h, rate):
    signal = encode(h, 1024)
    return decode(h, np.concatenate([np.zeros(LEAD_IN[rate], np.float32), signal,
                                     np.zeros(4096, np.float32)]))


@pytest.mark.parametrize("rate", [44100, 48000])
@pytest.mark.parametrize("mode", [2, 3, 4, 5, 6])
def test_round_trip(handle, mode, rate):
    assert q.QUORLAX_Configure(mode, rate, 1024, handle) == 0
    assert round_trip(handle, rate) == [(9, MESSAGE)]


I32 = 2**31
ARR = np.zeros(16, np.float32)
VALID = {  # arguments that convert, with None handles (C answers -5)
    "QUORLAX_GetVersionInfo": [""],
    "QUORLAX_Configure": [2, 44100.0, 1024, None],
    "QUORLAX_SetAudioSignature": [0, None, None],
    "QUORLAX_EncodeDataToAudioBuffer": [MESSAGE, 9, 0, b"", 0, None],
    "QUORLAX_GetEncodedAudioBuffer": [None, None],
    "QUORLAX_DecodeAudioBuffer": [None, 0, None],
    "QUORLAX_GetDecodedData": ["", None],
    "QUORLAX_SetCustomBaseFreq": [12000.0, 1, None],
    "QUORLAX_SetSynthMode": [0, None],
    "QUORLAX_SetSynthVolume": [0.0, None],
    "QUORLAX_GetSpectrum": [None, None],
    "QUORLAX_GetErrorText": [0],
    "DecodeAudioBuffer": [ARR, 0, None],
    "GetEncodedAudioBuffer": [ARR, None],
}
HANDLE_ONLY = ["QUORLAX_Destroy", "QUORLAX_ResetEncodedAudioBuffer", "QUORLAX_GetConfidence",
               "QUORLAX_GetConfidenceError", "QUORLAX_GetConfidenceNoise",
               "QUORLAX_GetReceivedZunsVolume", "QUORLAX_GetDecodedMode",
               "QUORLAX_GetDecodingBeginFreq", "QUORLAX_GetDecodingEndFreq", "GetDecodedData"]
VALID.update({name: [None] for name in HANDLE_ONLY})
# (function, index of the bad argument, bad value, exception, C type in the message)
CONVERSIONS = [(name, 0, bad, TypeError, "void *") for name in HANDLE_ONLY for bad in (5, 1.0)] + [
    ("QUORLAX_Destroy", 0, "handle", TypeError, "void *"),
    ("QUORLAX_GetVersionInfo", 0, b"", TypeError, "char *"),
    ("QUORLAX_GetVersionInfo", 0, None, TypeError, "char *"),
    ("QUORLAX_Configure", 0, 2.0, TypeError, "int"),
    ("QUORLAX_Configure", 0, "2", TypeError, "int"),
    ("QUORLAX_Configure", 0, I32, OverflowError, "int"),
    ("QUORLAX_Configure", 0, -I32 - 1, OverflowError, "int"),
    ("QUORLAX_Configure", 0, 2**70, OverflowError, "int"),
    ("QUORLAX_Configure", 1, 1e39, OverflowError, "float"),
    ("QUORLAX_Configure", 1, -1e39, OverflowError, "float"),
    ("QUORLAX_Configure", 1, 10**400, TypeError, "float"),
    ("QUORLAX_Configure", 1, "44100", TypeError, "float"),
    ("QUORLAX_Configure", 1, np.float32(1), TypeError, "float"),
    ("QUORLAX_Configure", 2, 1024.0, TypeError, "int32_t"),
    ("QUORLAX_Configure", 2, I32, OverflowError, "int32_t"),
    ("QUORLAX_Configure", 3, 5, TypeError, "void *"),
    ("QUORLAX_SetAudioSignature", 1, ARR, TypeError, "float const *"),
    ("QUORLAX_EncodeDataToAudioBuffer", 0, b"hello1234", TypeError, "char const *"),
    ("QUORLAX_EncodeDataToAudioBuffer", 0, "\ud800", TypeError, "char const *"),
    ("QUORLAX_EncodeDataToAudioBuffer", 1, "9", TypeError, "int32_t"),
    ("QUORLAX_EncodeDataToAudioBuffer", 2, None, TypeError, "int32_t"),
    ("QUORLAX_EncodeDataToAudioBuffer", 4, I32, OverflowError, "int32_t"),
    ("QUORLAX_EncodeDataToAudioBuffer", 5, object(), TypeError, "void *"),
    ("QUORLAX_GetEncodedAudioBuffer", 0, ARR, TypeError, "float *"),
    ("QUORLAX_DecodeAudioBuffer", 0, [0.0], TypeError, "float *"),
    ("QUORLAX_DecodeAudioBuffer", 1, I32, OverflowError, "int"),
    ("QUORLAX_GetDecodedData", 0, bytearray(32), TypeError, "char *"),
    ("QUORLAX_SetCustomBaseFreq", 0, "x", TypeError, "float"),
    ("QUORLAX_SetCustomBaseFreq", 1, 1.0, TypeError, "int"),
    ("QUORLAX_SetSynthMode", 0, None, TypeError, "int"),
    ("QUORLAX_SetSynthVolume", 0, "0", TypeError, "float"),
    ("QUORLAX_SetSynthVolume", 0, 3.5e38, OverflowError, "float"),
    ("QUORLAX_GetSpectrum", 0, ARR, TypeError, "float *"),
    ("QUORLAX_GetErrorText", 0, "0", TypeError, "int"),
    ("DecodeAudioBuffer", 1, 0.0, TypeError, "int"),
    ("DecodeAudioBuffer", 2, 7, TypeError, "void *"),
    ("GetEncodedAudioBuffer", 1, 7, TypeError, "void *"),
]


@pytest.mark.parametrize("name,index,bad,exc,ctype", CONVERSIONS)
def test_conversion_errors(name, index, bad, exc, ctype, capfd):
    fn, args = getattr(q, name), list(VALID[name])
    fn(*args)  # the valid arguments convert
    args[index] = bad
    with pytest.raises(exc) as info:
        fn(*args)
    assert str(info.value) == f"in method '{name}', argument {index + 1} of type '{ctype}'"
    capfd.readouterr()


def test_first_bad_argument_wins():
    with pytest.raises(TypeError, match="argument 1 of type 'int'"):
        q.QUORLAX_Configure(2.0, 1e39, "x", 5)
    with pytest.raises(TypeError, match="argument 1 of type 'char const \\*'"):
        q.QUORLAX_EncodeDataToAudioBuffer(b"x", 9, 0, "not bytes", 0, None)


def test_argument_counts():
    with pytest.raises(TypeError) as info:
        q.QUORLAX_Configure(2, 44100, 1024)
    assert str(info.value) == "QUORLAX_Configure expected 4 arguments, got 3"
    with pytest.raises(TypeError, match="^DecodeAudioBuffer expected 3 arguments, got 4$"):
        q.DecodeAudioBuffer(ARR, 0, None, None)
    with pytest.raises(TypeError):
        q.QUORLAX_Destroy()
    with pytest.raises(TypeError):
        q.QUORLAX_GetVersion(None)
    with pytest.raises(TypeError):
        q.QUORLAX_SetSynthMode(0, zuningObject=None)


def test_accepted_numbers(handle):
    assert q.QUORLAX_Configure(2, 44100, 1024, handle) == 0
    assert q.QUORLAX_Configure(2, np.float64(48000), 1024, handle) == 0
    assert q.QUORLAX_Configure(True, 44100.0, 1024, handle) == -1  # bool is an int; mode 1 unknown
    assert q.QUORLAX_Configure(2, float("inf"), 1024, handle) == -7  # inf passes the conversion
    assert q.QUORLAX_SetSynthVolume(float("nan"), handle) == -4
    assert q.QUORLAX_Configure(-I32, 44100.0, I32 - 1, handle) == -1


def test_melody_string(configured):
    with pytest.raises(TypeError):
        q.QUORLAX_EncodeDataToAudioBuffer(MESSAGE, 9, 0, "", 0, configured)
    assert q.QUORLAX_EncodeDataToAudioBuffer(MESSAGE, 9, 0, b"", 0, configured) > 0


def test_handles_and_constants(handle):
    q.QUORLAX_Destroy(None)
    assert "void *" in repr(handle)
    with pytest.raises(TypeError):
        type(handle)()

    class Wrapper:
        def __init__(self, this):
            self.this = this

    assert q.QUORLAX_Configure(2, 44100.0, 1024, Wrapper(handle)) == 0
    assert q.QUORLAX_GetDecodedMode(Wrapper(handle)) == 0  # audible band
    with pytest.raises(TypeError, match="argument 1 of type 'void \\*'"):
        q.QUORLAX_GetDecodedMode(Wrapper(5))
    assert q.QUORLAX_Configure(2, 44100.0, 1024, None) == -5
    assert (q.QUORLAX_MODE_AUDIBLE, q.QUORLAX_MODE_NONAUDIBLE, q.QUORLAX_MODE_COMPRESSION,
            q.QUORLAX_MODE_ALL, q.QUORLAX_MODE_CUSTOM) == (2, 3, 4, 5, 6)
    assert q.QUORLAX_GetVersion() == "Quorlax version 1.0.0 [QuorlaxSDK]"
    assert q.QUORLAX_GetErrorText(-4) == "invalid argument"
    assert q.QUORLAX_GetErrorText(12345) == "unknown result code"


def test_text_out_buffers(configured):
    for text in ["", "x", "é" * 40]:
        assert q.QUORLAX_GetVersionInfo(text) == 18
        assert q.QUORLAX_GetDecodedData(text, configured) == -1
    assert q.GetDecodedData(configured) == (-1, "")
    assert q.GetDecodedData(None) == (-5, "")


def test_null_sample_buffers(configured):
    assert q.QUORLAX_DecodeAudioBuffer(None, 100, configured) == -4
    assert q.QUORLAX_GetEncodedAudioBuffer(None, configured) == -4
    assert q.QUORLAX_GetSpectrum(None, configured) == -4
    assert q.QUORLAX_SetAudioSignature(10, None, configured) == 0
    assert q.DecodeAudioBuffer(None, 0, configured) == -1  # NumPy makes a 0-d nan array
    with pytest.raises(ValueError, match="size"):
        q.DecodeAudioBuffer(None, 5, configured)


def test_decode_array_likes(configured):
    # Other arrays and sequences are decoded from a float32 copy.
    assert q.DecodeAudioBuffer(np.zeros(1024).tolist(), 1024, configured) == -1
    assert q.DecodeAudioBuffer(np.zeros(1024, np.int16), 1024, configured) == -1
    assert q.DecodeAudioBuffer(np.zeros(1024), 1024, configured) == -1
    assert q.DecodeAudioBuffer([0.0] * 512, 512, configured) == -1
    assert q.DecodeAudioBuffer(np.zeros(2048, ">f4")[::2], 1024, configured) == -1
    with pytest.raises(ValueError):
        q.DecodeAudioBuffer(["x"], 1, configured)


def test_decode_size_checked(configured):
    for size in (1025, -1):
        with pytest.raises(ValueError, match="size"):
            q.DecodeAudioBuffer(np.zeros(1024, np.float32), size, configured)
    assert round_trip(configured, 44100) == [(9, MESSAGE)]


@pytest.mark.parametrize("args,word", [
    ((MESSAGE, 10, 0, b"", 0), "size"),
    ((MESSAGE, -1, 0, b"", 0), "size"),
    ((MESSAGE, 9, 2, b"ab", 3), "melodySize"),
    ((MESSAGE, 9, 2, b"ab", -1), "melodySize"),
])
def test_encode_sizes_checked(configured, args, word):
    with pytest.raises(ValueError, match=word):
        q.QUORLAX_EncodeDataToAudioBuffer(*args, configured)


def test_get_encoded_prints(configured, capfd):
    q.QUORLAX_EncodeDataToAudioBuffer(MESSAGE, 9, 0, b"", 0, configured)
    assert q.GetEncodedAudioBuffer(np.zeros(1024, np.float32), configured) == 1024
    assert capfd.readouterr().out == "QUORLAX_GetEncodedAudioBuffer: result=1024\n"


def test_get_encoded_refusals_keep_position(configured, capfd):
    q.QUORLAX_EncodeDataToAudioBuffer(MESSAGE, 9, 0, b"", 0, configured)
    first = np.zeros(1024, np.float32)
    assert q.GetEncodedAudioBuffer(first, configured) == 1024
    assert np.any(first != 0)
    assert q.QUORLAX_ResetEncodedAudioBuffer(configured) == 0
    misaligned = np.frombuffer(bytearray(4 * 1025 + 1), np.float32, 1024, offset=1)
    read_only = np.zeros(1024, np.float32)
    read_only.flags.writeable = False
    for bad in ([0.0] * 1024, np.zeros(1024), np.zeros(2048, np.float32)[::2], misaligned,
                read_only, np.zeros(1024, ">f4")):
        with pytest.raises(TypeError, match="audio"):
            q.GetEncodedAudioBuffer(bad, configured)
    with pytest.raises(ValueError, match="audio"):
        q.GetEncodedAudioBuffer(np.zeros(1023, np.float32), configured)
    again = np.zeros(1024, np.float32)
    assert q.GetEncodedAudioBuffer(again, configured) == 1024
    assert np.array_equal(first, again)
    capfd.readouterr()


def test_buffer_size_follows_configure(configured, capfd):
    assert q.QUORLAX_Configure(2, 44100.0, 4096, configured) == 0
    with pytest.raises(ValueError):
        q.GetEncodedAudioBuffer(np.zeros(1024, np.float32), configured)
    assert q.QUORLAX_Configure(99, 44100.0, 4096, configured) == -1  # empties the handle
    assert q.GetEncodedAudioBuffer(np.zeros(16, np.float32), configured) == -5
    capfd.readouterr()


def test_import_fails_cleanly_without_numpy(tmp_path):
    (tmp_path / "numpy").mkdir()
    (tmp_path / "numpy" / "__init__.py").write_text("raise ImportError('no numpy here')\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(tmp_path), os.path.dirname(q.__file__)]))
    proc = subprocess.run([sys.executable, "-c", "import _quorlax"], env=env,
                          capture_output=True, text=True, timeout=60)
    assert proc.returncode != 0
    assert "no numpy here" in proc.stderr  # the cause, printed first
    assert "ImportError: numpy.core.multiarray failed to import" in proc.stderr


def test_argument_references_balanced(configured):
    arr, melody, text = np.zeros(1024, np.float32), b"", "hello" + "1234"
    before = [sys.getrefcount(o) for o in (arr, melody, text, configured)]
    with open(os.devnull, "w") as null, contextlib.redirect_stdout(null):
        for _ in range(100):
            q.QUORLAX_EncodeDataToAudioBuffer(text, 9, 0, melody, 0, configured)
            q.GetEncodedAudioBuffer(arr, configured)
            q.DecodeAudioBuffer(arr, 1024, configured)
    assert [sys.getrefcount(o) for o in (arr, melody, text, configured)] == before


def test_no_leak_over_many_calls(configured):
    buf = np.zeros(1024, np.float32)

    def cycle():
        assert q.QUORLAX_EncodeDataToAudioBuffer(MESSAGE, 9, 0, b"", 0, configured) > 0
        assert q.GetEncodedAudioBuffer(buf, configured) == 1024
        assert q.DecodeAudioBuffer(buf, 1024, configured) == -1
        assert q.DecodeAudioBuffer(list(buf[:8]), 8, configured) == -1
        assert q.GetDecodedData(configured)[0] == -1
        q.QUORLAX_GetDecodedData("", configured)
        for bad in (lambda: q.QUORLAX_Configure(2.0, 1.0, 1, None),
                    lambda: q.QUORLAX_EncodeDataToAudioBuffer(MESSAGE, 9, 0, "", 0, None),
                    lambda: q.DecodeAudioBuffer(buf, 2000, configured)):
            with pytest.raises((TypeError, ValueError)):
                bad()

    with open(os.devnull, "w") as null, contextlib.redirect_stdout(null):
        for _ in range(50):
            cycle()
        gc.collect()
        tracemalloc.start()
        try:
            start = tracemalloc.get_traced_memory()[0]
            for _ in range(2000):
                cycle()
            gc.collect()
            growth = tracemalloc.get_traced_memory()[0] - start
        finally:
            tracemalloc.stop()
    assert growth < 100_000, growth


def test_destroyed_handle_answers_like_none():
    h = q.QUORLAX_Create()
    assert q.QUORLAX_Configure(2, 44100, 1024, h) == 0
    q.QUORLAX_Destroy(h)
    q.QUORLAX_Destroy(h)  # a second destroy is harmless
    assert q.QUORLAX_Configure(2, 44100, 1024, h) == -5
    assert q.DecodeAudioBuffer(np.zeros(16, np.float32), 16, h) == -5
