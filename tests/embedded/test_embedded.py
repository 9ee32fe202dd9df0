#!/usr/bin/python3
"""The example firmware under QEMU against the desktop library.

    test_embedded.py --root SRC --desktop BUILD --workdir DIR [--group NAME]...

Groups:
  study    scenes of the study (a talker throughout, two bands overlapping,
           white noise near the 90 % point, digital silence) heard by
           scripts/embedded.sh on both boards: exactly the desktop listener's
           messages (texts, checks, bands, start samples, levels and
           confidences to the bit), within the RAM, flash and instruction
           budgets of docs/EMBEDDED.md, with no double-precision arithmetic
           while pushing
  sender   the sender firmware's samples against the desktop encoder, in
           every mode at 22050, 44100 and 48000 Hz
  hostile  truncated, malformed and wrong-rate files: one error line and exit
           status 2, never a hang
  freestanding  the library refers to no heap, exceptions, threads or files

The desktop side is the Python package of a desktop build (BUILD/python).
Prints 'N passed, N failed' last; exit 1 on any failure.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import wave

import numpy as np

ROOT = DESKTOP = WORK = None
RESULTS = {"passed": 0, "failed": 0}
BUDGETS = {  # (mode, rate): (RAM bytes, instructions per second of audio); flash for every firmware
    ("audible", 22050): (48 * 1024, 12_000_000),
    ("audible", 44100): (64 * 1024, 25_000_000),
    ("nonaudible", 44100): (64 * 1024, 25_000_000),
    ("compression", 44100): (64 * 1024, 25_000_000),
    ("all", 44100): (160 * 1024, 60_000_000),
}
FLASH_BUDGET = 96 * 1024
SPEECH = ("The morning train was late again, so the station filled with people holding coffee and checking "
          "their phones. A voice on the speaker apologised twice and promised an update in ten minutes.")


def check(cond, what, detail=""):
    RESULTS["passed" if cond else "failed"] += 1
    print(("ok   " if cond else "FAIL ") + what + ("" if cond or not detail else "\n     " + detail.replace("\n", "\n     ")))
    return cond


def quorlax():
    sys.path.insert(0, os.path.join(DESKTOP, "python"))
    import quorlax as q  # noqa: E402 (the desktop build's package)
    return q


def write_wav(path, x, rate, pcm16=False):
    x = np.asarray(x, dtype=np.float32)
    with open(path, "wb") as f:
        if pcm16:
            data = np.clip(np.round(x.astype(np.float64) * 32767.0), -32768, 32767).astype("<i2").tobytes()
            fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
        else:
            data = x.astype("<f4").tobytes()
            fmt = struct.pack("<HHIIHH", 3, 1, rate, rate * 4, 4, 32)
        f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data)


def read_wav_samples(path):
    """The samples a WAV reader hands out (float32 as is, 16-bit over 32768)."""
    with open(path, "rb") as f:
        raw = f.read()
    fmt_at, data_at = raw.index(b"fmt "), raw.index(b"data")
    tag, _, rate, _, _, bits = struct.unpack("<HHIIHH", raw[fmt_at + 8:fmt_at + 24])
    size = struct.unpack("<I", raw[data_at + 4:data_at + 8])[0]
    data = raw[data_at + 8:data_at + 8 + size]
    x = np.frombuffer(data, "<f4") if tag == 3 else np.frombuffer(data, "<i2").astype(np.float32) / np.float32(32768)
    return x.astype(np.float32), rate


def speech(rate, seconds, rms, seed):
    wav_path = os.path.join(WORK, "speech.wav")
    if not os.path.exists(wav_path):
        subprocess.run(["espeak-ng", "-s", "165", "-v", "en", "-w", wav_path, SPEECH], check=True)
    with wave.open(wav_path, "rb") as w:
        src_rate = w.getframerate()
        x = np.frombuffer(w.readframes(w.getnframes()), "<i2").astype(np.float64) / 32768.0
    n = int(len(x) * rate / src_rate)
    x = np.interp(np.arange(n) * (src_rate / rate), np.arange(len(x)), x)
    rng = np.random.default_rng(seed)
    start = int(rng.integers(0, max(1, len(x) - 1)))
    x = np.roll(x, -start)
    x = np.tile(x, int(np.ceil(seconds * rate / len(x))))[: int(seconds * rate)]
    return x * rms / max(np.sqrt(np.mean(x * x)), 1e-9)


def scenes(q):
    """(name, rate, mode, samples, pcm16)"""
    out = []
    rng = np.random.default_rng(26)

    def tx(text, mode, rate):
        return q.encode(text, mode, rate).astype(np.float64)

    def rms(x):
        return float(np.sqrt(np.mean(x * x)))

    # A talker at the transmission's level, speaking throughout.
    for rate, mode, band in ((22050, "audible", "audible"), (44100, "audible", "audible"), (44100, "all", "compression")):
        t = tx("talk3r0k" + str(rate % 7), band, rate)
        audio = speech(rate, 6.0, rms(t), rate)
        at = int(1.3 * rate)
        audio[at:at + len(t)] += t
        out.append((f"talker-{mode}-{rate}", rate, mode, audio, False))
    # Two senders in different bands, overlapping by a second, in some noise.
    rate = 44100
    a, b = tx("0verlap01", "audible", rate), tx("0verlap02", "nonaudible", rate)
    at_b = int(0.5 * rate) + len(a) - rate
    audio = np.zeros(at_b + len(b) + int(0.5 * rate))
    audio[int(0.5 * rate):int(0.5 * rate) + len(a)] += 0.5 * a
    audio[at_b:at_b + len(b)] += 0.5 * b
    audio += rng.normal(0.0, 0.25 * rms(a) * 10 ** (-10 / 20), len(audio))
    out.append(("overlap-all-44100", rate, "all", audio, False))
    # White noise near where nine transmissions in ten are heard.
    for rate, band, snr in ((44100, "audible", -19.0), (48000, "nonaudible", -19.0)):
        t = tx("n0ise" + band[:4], band, rate)
        audio = np.concatenate([np.zeros(int(0.4 * rate)), t, np.zeros(int(0.3 * rate))])
        audio += rng.normal(0.0, rms(t) * 10 ** (-snr / 20), len(audio))
        out.append((f"noise-{band}-{rate}", rate, band, audio, False))
    # Digital silence around a transmission, as a 16-bit file carries it.
    rate = 48000
    t = tx("si1ence00", "compression", rate)
    audio = np.concatenate([np.zeros(int(0.7 * rate)), t, np.zeros(int(0.8 * rate))])
    out.append(("silence-all-48000", rate, "all", audio, True))
    return out


def firmware(board, target):
    """Builds `target` of the firmware for `board` (as scripts/embedded.sh does); its build directory."""
    build = os.path.join(ROOT, "build-embedded-" + board)
    cpu = {"an386": "cortex-m4", "an500": "cortex-m7"}[board]
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "--toolchain", os.path.join(ROOT, "cmake", "arm-none-eabi.cmake"),
                    "-DQUORLAX_CPU=" + cpu, "-DCMAKE_BUILD_TYPE=Release"], check=True, capture_output=True)
    subprocess.run(["cmake", "--build", build, "-j", "2", "--target", target], check=True, capture_output=True)
    return build


def run_embedded(path, board, mode):
    cmd = ["bash", os.path.join(ROOT, "scripts", "embedded.sh"), path, "--board", board, "--mode", mode, "--failed",
           "--exact"]
    return subprocess.run(cmd, capture_output=True, text=True, timeout=900)


def group_study():
    q = quorlax()
    for name, rate, mode, audio, pcm16 in scenes(q):
        path = os.path.join(WORK, name + ".wav")
        write_wav(path, audio, rate, pcm16)
        samples, _ = read_wav_samples(path)
        want = [(m.text, bool(m.ok), m.band, int(round(m.time * rate)), float(np.float32(m.level_db)),
                 float(np.float32(m.confidence))) for m in q.decode(samples, rate, mode)]
        check(any(w[1] for w in want), f"{name}: the desktop listener hears it")
        boards = ("an386", "an500") if name in ("talker-audible-22050", "overlap-all-44100") else ("an386",)
        for board in boards:
            p = run_embedded(path, board, mode)
            lines = p.stdout.splitlines()
            got = []
            for line in lines[:-1]:
                f = line.split("\t")
                extra = dict(kv.split("=", 1) for kv in f[6:])
                got.append((f[0], f[1] == "ok", f[2].split("=", 1)[1], int(extra["start"]),
                            float.fromhex(extra["level"]), float.fromhex(extra["confidence"])))
            check(p.returncode == (0 if any(w[1] for w in want) else 1),
                  f"{name} on {board}: exit status {p.returncode}", p.stderr)
            check(got == want, f"{name} on {board}: the desktop listener's messages",
                  f"firmware: {got}\ndesktop:  {want}\n{p.stderr}")
            last = dict(kv.split("=") for kv in lines[-1].split()) if lines else {}
            ram, flash, ips = (int(last.get(k, 0)) for k in ("ram", "flash", "instructions_per_audio_second"))
            print(f"     {name} on {board}: ram={ram} flash={flash} instructions_per_audio_second={ips}")
            check(0 < flash <= FLASH_BUDGET, f"{name} on {board}: flash {flash} <= {FLASH_BUDGET}")
            check(last.get("double_calls") == "0", f"{name} on {board}: no double-precision arithmetic while pushing",
                  lines[-1] if lines else "")
            budget = BUDGETS.get((mode, rate))
            if budget is not None:
                check(0 < ram <= budget[0], f"{name} on {board}: RAM {ram} <= {budget[0]}")
                check(0 < ips <= budget[1], f"{name} on {board}: {ips} instructions per second <= {budget[1]}")


def group_sender():
    q = quorlax()
    elf = os.path.join(firmware("an386", "sender"), "embedded", "sender.elf")
    for mode in ("audible", "nonaudible", "compression", "all", "custom"):
        for rate in (22050, 44100, 48000):
            try:
                want = q.encode("s3nder0ok", mode, rate).astype(np.float32)
            except Exception:  # a mode that cannot send at this rate
                continue
            out = os.path.join(WORK, f"sender-{mode}-{rate}.raw")
            p = subprocess.run(["qemu-system-arm", "-M", "mps2-an386", "-nographic", "-monitor", "none", "-serial",
                                "none", "-chardev", "stdio,id=console", "-semihosting-config",
                                f"enable=on,target=native,chardev=console,arg=s3nder0ok,arg={out},arg=--mode,"
                                f"arg={mode},arg=--rate,arg={rate}", "-icount", "shift=0", "-kernel", elf],
                               capture_output=True, text=True, timeout=600)
            got = np.fromfile(out, "<f4") if os.path.exists(out) else np.zeros(0, np.float32)
            same_length = len(got) == len(want)
            worst = float(np.max(np.abs(got - want))) if same_length and len(got) else float("inf")
            check(p.returncode == 0 and same_length and worst <= 1e-6,
                  f"sender {mode} {rate}: {len(got)} samples within {worst:.2g} of the encoder's",
                  p.stdout + p.stderr)
            print("     " + (p.stdout.strip().splitlines() or [""])[-1])


def group_hostile():
    q = quorlax()
    good = os.path.join(WORK, "good.wav")
    write_wav(good, q.encode("h0stile00", "audible", 44100), 44100, pcm16=True)
    raw = open(good, "rb").read()
    cases = {
        "truncated": raw[: len(raw) // 2],
        "header only": raw[:30],
        "not a wav": b"MThd" + os.urandom(400),
        "zero channels": raw[:22] + b"\x00\x00" + raw[24:],
        "8-bit": raw[:34] + b"\x08\x00" + raw[36:],
    }
    wrong_rate = os.path.join(WORK, "rate16000.wav")
    write_wav(wrong_rate, np.zeros(16000, np.float32), 16000)
    paths = {"16000 Hz": wrong_rate}
    for what, data in cases.items():
        path = os.path.join(WORK, "hostile-" + what.replace(" ", "-") + ".wav")
        with open(path, "wb") as f:
            f.write(data)
        paths[what] = path
    env = dict(os.environ, QUORLAX_EMBEDDED_TIMEOUT="120")
    for what, path in paths.items():
        p = subprocess.run(["bash", os.path.join(ROOT, "scripts", "embedded.sh"), path], capture_output=True,
                           text=True, timeout=300, env=env)
        errors = [line for line in p.stderr.splitlines() if line.startswith("embedded: ")]
        check(p.returncode == 2 and len(errors) == 1 and path in errors[0],
              f"{what}: one error line naming the file, status 2 ({errors[0] if errors else p.returncode})",
              p.stdout + p.stderr)


def group_freestanding():
    """The freestanding library asks nothing of an operating system."""
    for board in ("an386", "an500"):
        build = firmware(board, "quorlax")
        nm = subprocess.run(["arm-none-eabi-nm", "-u", os.path.join(build, "libquorlax.a")], capture_output=True,
                            text=True, check=True).stdout
        wanted = sorted({line.split()[-1] for line in nm.splitlines() if line.strip().startswith("U ")})
        exact = {"malloc", "calloc", "realloc", "free", "abort", "exit", "fopen", "fclose", "fread", "fwrite",
                 "fprintf", "printf", "puts", "fputs", "fputc", "putchar", "stdin", "stdout", "stderr"}
        forbidden = [s for s in wanted
                     if s in exact or s.startswith(("_Znw", "_Zna", "_Zdl", "_Zda", "__cxa_", "__gxx_", "pthread_"))]
        check(wanted and not forbidden, f"{board}: the library needs no heap, exceptions, threads or files",
              "it refers to " + ", ".join(forbidden))


GROUPS = {"study": group_study, "sender": group_sender, "hostile": group_hostile, "freestanding": group_freestanding}


def main():
    global ROOT, DESKTOP, WORK
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--desktop", required=True)
    ap.add_argument("--workdir", required=True)
    ap.add_argument("--group", choices=sorted(GROUPS), action="append")
    a = ap.parse_args()
    ROOT, DESKTOP, WORK = (os.path.abspath(p) for p in (a.root, a.desktop, a.workdir))
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    for g in a.group or sorted(GROUPS):
        print(f"--- {g}")
        GROUPS[g]()
    print(f"{RESULTS['passed']} passed, {RESULTS['failed']} failed")
    return 1 if RESULTS["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
