#!/usr/bin/python3
"""Draws the studies of scripts/study.sh: share of transmissions heard by the
listener and by the streaming decoder, per condition.

    plot_studies.py studies.csv studies.png
"""
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main(src, dst):
    rows = list(csv.DictReader(open(src)))
    fig, axes = plt.subplots(1, 3, figsize=(15, 4.8))
    # Talker: per study and level, the share over every band and both rates,
    # with the worst single condition marked.
    ax = axes[0]
    labels, heard_l, heard_d, worst_l, worst_d = [], [], [], [], []
    for study in ("talker", "pause"):
        for level in ("-6", "0", "6"):
            pts = [r for r in rows if r["study"] == study and r["level_db"] == level]
            if not pts:
                continue
            trials = sum(int(r["trials"]) for r in pts)
            labels.append("%s\n%+d dB" % ("talks\nthroughout" if study == "talker" else "stops\nbefore", int(level)))
            heard_l.append(100.0 * sum(int(r["listener"]) for r in pts) / trials)
            heard_d.append(100.0 * sum(int(r["decoder"]) for r in pts) / trials)
            worst_l.append(min(100.0 * int(r["listener"]) / int(r["trials"]) for r in pts))
            worst_d.append(min(100.0 * int(r["decoder"]) / int(r["trials"]) for r in pts))
    x = range(len(labels))
    ax.bar([i - 0.2 for i in x], heard_l, 0.4, label="listener")
    ax.bar([i + 0.2 for i in x], heard_d, 0.4, label="streaming decoder")
    ax.scatter([i - 0.2 for i in x], worst_l, marker="_", color="black", s=200, zorder=3,
               label="worst band and rate")
    ax.scatter([i + 0.2 for i in x], worst_d, marker="_", color="black", s=200, zorder=3)
    ax.set_xticks(list(x))
    ax.set_xticklabels(labels, fontsize=7)
    ax.set_ylabel("transmissions heard (%)")
    ax.set_ylim(0, 105)
    ax.axhline(95, color="grey", lw=0.8, ls="--")
    ax.set_title("espeak-ng talker, level relative to the transmission")
    ax.legend(fontsize=8, loc="lower left")
    # Two senders at once.
    ax = axes[1]
    over = [r for r in rows if r["study"] == "overlap"]
    labels = ["%s\n%s" % (r["band"].replace("+", " +\n"), r["rate"]) for r in over]
    x = range(len(over))
    ax.bar([i - 0.2 for i in x], [100.0 * int(r["listener"]) / int(r["trials"]) for r in over], 0.4, label="listener")
    ax.bar([i + 0.2 for i in x], [100.0 * int(r["decoder"]) / int(r["trials"]) for r in over], 0.4,
           label="streaming decoder")
    ax.set_xticks(list(x))
    ax.set_xticklabels(labels, fontsize=6)
    ax.set_ylim(0, 105)
    ax.set_title("two bands overlapping by 0.5 to 2 s")
    ax.legend(fontsize=8, loc="lower left")
    # White noise.
    ax = axes[2]
    for band in ("audible", "nonaudible", "compression"):
        for rate, style in (("44100", "-"), ("48000", ":")):
            pts = [r for r in rows if r["study"] == "noise" and r["band"] == band and r["rate"] == rate]
            if not pts:
                continue
            ax.plot([float(r["level_db"]) for r in pts], [100.0 * int(r["listener"]) / int(r["trials"]) for r in pts],
                    style, marker="o", ms=3, label="%s %s" % (band, rate))
    ax.axhline(90, color="grey", lw=0.8, ls="--")
    ax.set_xlabel("SNR (dB)")
    ax.set_ylabel("heard by the listener (%)")
    ax.set_title("white noise")
    ax.legend(fontsize=7)
    fig.tight_layout()
    fig.savefig(dst, dpi=110)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
