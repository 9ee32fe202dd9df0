#!/usr/bin/python3
"""End-to-end checks of the quorlax program, run by ctest one group at a time.

    test_cli.py --quorlax PATH --group NAME --workdir DIR

Audio is made with the program itself (encode -o - gives raw float32), numpy
and the stdlib wave module; nothing else is needed.
"""
import argparse
import json
import os
import select
import shutil
import subprocess
import sys
import time
import wave

try:
    import numpy as np
except ImportError:
    print("test_cli.py needs numpy for this python (Debian: apt-get install python3-numpy)")
    sys.exit(1)

QUORLAX = None
TOKEN_S = 4608 / 44100  # one token, the tolerance for reported times
RESULTS = {"passed": 0, "failed": 0}


def check(cond, what, detail=""):
    if cond:
        RESULTS["passed"] += 1
        print("ok   " + what)
    else:
        RESULTS["failed"] += 1
        print("FAIL " + what + (("\n     " + detail.replace("\n", "\n     ")) if detail else ""))


def run(*args, stdin=None, input_bytes=None):
    return subprocess.run([QUORLAX, *map(str, args)], input=input_bytes, stdin=stdin,
                          capture_output=True, timeout=240)


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
        check(p.returncode == 0 and b"quorlax encode MESSAGE" in p.stdout and not p.stderr,
              flag + " prints usage to stdout")
    p = run("decode", "--help")
    check(p.returncode == 0 and b"Usage" in p.stdout, "decode --help exits 0")
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
    p = subprocess.run([QUORLAX, "decode", "--raw", "-r", "44100", "-"], stdin=enc.stdout,
                       capture_output=True, timeout=60)
    enc.wait()
    expect_one(p, "pipe12345", "encode -o - | decode --raw -r 44100 -", at=0.0)
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
    check(p.returncode == 2 and b"at 22050 Hz: this mode cannot be used" in p.stderr, "nonaudible at 22050 Hz refused",
          p.stderr.decode())


def read_wav_int16(path):
    with wave.open(path, "rb") as w:
        return np.frombuffer(w.readframes(w.getnframes()), dtype="<i2"), w.getframerate()


def group_silence():
    # 16-bit files padded with exact zeros, as editors and `sox pad` leave them:
    # every transmission heard, nothing else reported (--all shows failures too).
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
                    p = run("decode", "padded.wav", "-m", m, "--all")
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
    err(["encode", "hello1234", "-m", "nonaudible", "-r", "22050"], 2, "at 22050 Hz: this mode cannot be used",
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
    p = run()
    check(p.returncode == 2 and b"Usage" in p.stderr, "no arguments: usage on stderr, exit 2")

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


GROUPS = {
    "basics": group_basics, "roundtrip": group_roundtrip, "rates": group_rates, "stereo": group_stereo,
    "long": group_long, "errors": group_errors, "demo": group_demo, "listen": group_listen,
    "silence": group_silence,
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
