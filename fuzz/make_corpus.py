#!/usr/bin/python3
"""Writes the small seed corpus of each fuzz target (fuzz/corpus/<target>/).

Seeds are tiny byte programs; the targets synthesise real transmissions from
a few bytes, so no audio needs to be stored. Regression inputs found by
fuzzing are kept next to them under names starting with "regress-".
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(bytes(data))


def u16(v):
    return list(struct.pack("<H", v & 0xFFFF))


def f32(v):
    return list(struct.pack("<f", v))


def text(s):
    return [int(c, 32) for c in s]


# decoder_audio: head (mode/rate), then ops: op, u16 size, op bytes.
for mode in range(5):
    for rate_bit in (0, 0x80):
        head = mode | rate_bit
        prog = [head]
        prog += [4] + u16(0) + ([1] if mode == 3 else []) + text("hello1234") + u16(1000)  # whole transmission
        prog += [1] + u16(5000) + [0, 2]                 # NaN, +inf alternating
        prog += [0] + u16(3) + f32(1e-45) + f32(3.4e38) + f32(float("nan"))
        prog += [5] + u16(7)                             # refused pushes
        prog += [3] + u16(4096) + ([2] if mode == 3 else []) + text("0vvvvvvvv") + u16(300) + [64, 4] + u16(10)
        put("decoder_audio", "seed-mode%d-%s" % (mode + 2, "48k" if rate_bit else "44k"), prog)
put("decoder_audio", "seed-fullscale", [0x83, 2] + u16(8192) + [0xFF, 0x7F] * 64 + [6] + u16(8400))

# api_sequence: op, slot, op bytes.
def conf(slot, mode, rate_idx, buf_sel, buf_idx):
    return [2, slot, mode + 1, rate_idx, buf_sel, buf_idx]

enc9 = [4, 0, 0, 1, 1] + sum(([1, i] for i in range(9)), []) + [4, 1, 0]
put("api_sequence", "seed-roundtrip",
    [0, 0] + conf(0, 2, 0, 0, 0) + enc9 + [5, 0] + [8, 0] + u16(1024) + [10, 0, 12, 0])
put("api_sequence", "seed-three-handles",
    [0, 0, 0, 1, 0, 2] + conf(0, 5, 1, 0, 0) + conf(1, 6, 0, 0, 5) + conf(2, 3, 2, 0, 0)
    + enc9 + [17, 0, 17, 0] + [8, 1] + u16(256) + [3, 1, 1, 2] + [8, 1] + u16(100) + [1, 2, 11, 0, 11, 2])
put("api_sequence", "seed-null-handles",
    [2, 0xF0, 3, 0, 0, 0, 4, 0xF0, 0, 1, 1, 5, 0xF0, 6, 0xF0, 7, 0xF0, 9, 0xF0] + [0xFF] * 4
    + [10, 0xF0, 11, 0xF0, 12, 0xF0, 13, 0xF0, 0, 0, 0, 14, 0xF0, 1, 2, 3, 4, 15, 0xF0, 1, 0, 0, 0x80, 0x7F])
put("api_sequence", "seed-unconfigured",
    [0, 1, 4, 1, 0, 1, 1, 5, 1, 6, 1, 7, 1, 9, 1, 0, 0, 0, 0x80, 10, 1, 11, 1, 12, 1, 3, 1, 1, 0])
put("api_sequence", "seed-odd-config",
    [0, 0] + conf(0, 2, 0, 0, 7) + conf(0, 2, 2, 0, 1) + enc9 + [5, 0] + conf(0, 7, 0, 0, 0)
    + conf(0, 2, 9, 0, 0) + conf(0, 6, 1, 0, 11) + [3, 0, 1, 0] + [2, 0, 7, 0, 3, 0x40, 0x00])
put("api_sequence", "seed-custom-rebase",
    [0, 0, 0, 1] + conf(0, 6, 0, 0, 0) + conf(1, 6, 1, 0, 0) + enc9 + [5, 0, 3, 0, 1, 1, 3]
    + [8, 1] + u16(4096) + [3, 1, 1, 4, 5] + [8, 1] + u16(777) + [13, 0] + u16(100) + [0] * 200 + [1])

# reed_solomon: how, then symbols.
put("reed_solomon", "seed-clean", [1] + list(range(12)))
put("reed_solomon", "seed-4-errors", [1 | (4 << 1)] + list(range(12)) + [0, 31, 5, 1, 9, 2, 19, 3])
put("reed_solomon", "seed-5-errors", [1 | (5 << 1)] + [7] * 12 + [0, 1, 2, 3, 4, 5, 6, 7, 8, 9])
put("reed_solomon", "seed-random-word", [0] + [(i * 37 + 11) % 256 for i in range(20)])
# Accepted as correctable by a "correction" into the shortened positions.
put("reed_solomon", "regress-pad-correction", [0, 1, 16, 4, 24, 12] + [0] * 15)
put("reed_solomon", "seed-int-word", [2] + list(struct.pack("<20i", *[(-1) ** i * (1 << (i % 31)) for i in range(20)])))

# encoder_text: head, size selector, type, text, melody selector, melody.
def enc(head, size_sel, type_, txt, mel_sel=2, mel=b""):
    out = [head, size_sel, 1, type_] + list(txt.encode("latin-1"))
    out += [mel_sel]
    if mel_sel % 6 >= 3:
        out += u16(len(mel)) + list(mel)
    return out

put("encoder_text", "seed-valid-decode", enc(0x40 | 0, 4, 0, "hello1234"))
put("encoder_text", "seed-valid-upper-48k", enc(0xC0 | 3, 4, 0, "HELLO1234"))
put("encoder_text", "seed-bad-char", enc(1, 4, 1, "hello123w"))
put("encoder_text", "seed-nul-inside", enc(2, 4, 1, "hel\x00o1234"))
put("encoder_text", "seed-size-8", [4, 0, 8, 1, 0] + list(b"hello123"))
put("encoder_text", "seed-melody", enc(0x40 | 4, 4, 2, "012345678", 3, b"0123456789abcdef"))
put("encoder_text", "seed-melody-too-long", enc(0x80 | 2, 4, 2, "abcdefghi", 3, b"v" * 199))
put("encoder_text", "seed-melody-null", enc(0, 4, 2, "abcdefghi", 0x83, b"123"))
put("encoder_text", "seed-random-melody", enc(0xC0 | 1, 4, 1, "vvvvvvvvv"))
put("encoder_text", "seed-negative", [5, 1, 7, 3, 1, 0, 5])

# listener: head (mode/rate), then ops: op, u16 size, op bytes.
for mode in range(5):
    for rate_bit in (0, 0x80):
        head = mode | rate_bit
        prog = [head]
        prog += [8] + u16(3000)                                                          # silence
        prog += [3] + u16(0) + ([1] if mode == 3 else []) + text("hello1234") + [64] + u16(777) + u16(0)
        prog += [1] + u16(4000) + [0, 1]                                                # NaN, +inf
        prog += [6 | 0x80] + u16(0)                                                     # report failures
        prog += [3] + u16(0) + ([0] if mode == 3 else []) + text("0vvvvvvvv") + [64] + u16(19999) + u16(3000)
        prog += [4] + u16(5)                                                            # refused calls
        prog += [7] + u16(0) + u16(9000) + [2]                                          # another custom grid
        prog += [5] + u16(0)                                                            # flush
        put("listener", "seed-mode%d-%s" % (mode + 2, "48k" if rate_bit else "44k"), prog)
