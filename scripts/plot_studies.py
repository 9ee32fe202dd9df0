#!/usr/bin/python3
"""Draws the studies of scripts/study.sh: share of transmissions heard by the
listener (and, where the study has one, by the streaming decoder or by the
listener at the starting point of a change, heard on the same audio), per condition.

    plot_studies.py studies.csv [studies-start.csv] studies.png
"""
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

BANDS = ("audible", "nonaudible", "compression")
RATES = ("44100", "48000")


def share(r, who="listener"):
    return 100.0 * int(r[who]) / int(r["trials"])


def by_level(rows, study):
    """level -> rows of that study, levels in ascending order."""
    out = {}
    for r in rows:
        if r["study"] == study:
            out.setdefault(float(r["level_db"]), []).append(r)
    return dict(sorted(out.items()))


def talker_panel(ax, rows):
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
            worst_l.append(min(share(r) for r in pts))
            worst_d.append(min(share(r, "decoder") for r in pts))
    x = range(len(labels))
    ax.bar([i - 0.2 for i in x], heard_l, 0.4, label="listener")
    ax.bar([i + 0.2 for i in x], heard_d, 0.4, label="streaming decoder")
    ax.scatter([i - 0.2 for i in x], worst_l, marker="_", color="black", s=200, zorder=3, label="worst band and rate")
    ax.scatter([i + 0.2 for i in x], worst_d, marker="_", color="black", s=200, zorder=3)
    ax.set_xticks(list(x))
    ax.set_xticklabels(labels, fontsize=7)
    ax.set_ylabel("transmissions heard (%)")
    ax.set_ylim(0, 105)
    ax.axhline(95, color="grey", lw=0.8, ls="--")
    ax.set_title("espeak-ng talker, level relative to the transmission", fontsize=9)
    ax.legend(fontsize=7, loc="lower left")


def overlap_panel(ax, rows):
    over = [r for r in rows if r["study"] == "overlap"]
    labels = ["%s\n%s" % (r["band"].replace("+", " +\n"), r["rate"]) for r in over]
    x = range(len(over))
    ax.bar([i - 0.2 for i in x], [share(r) for r in over], 0.4, label="listener")
    ax.bar([i + 0.2 for i in x], [share(r, "decoder") for r in over], 0.4, label="streaming decoder")
    ax.set_xticks(list(x))
    ax.set_xticklabels(labels, fontsize=6)
    ax.set_ylim(0, 105)
    ax.set_title("two bands overlapping by 0.5 to 2 s", fontsize=9)
    ax.legend(fontsize=7, loc="lower left")


def curve_panel(ax, rows, start, study, xlabel, title, target):
    """Heard against a level: each band and rate now, and the worst and mean of
    them at the starting point."""
    for band in BANDS:
        for rate, style in zip(RATES, ("-", ":")):
            pts = [r for r in rows if r["study"] == study and r["band"] == band and r["rate"] == rate]
            if pts:
                ax.plot([float(r["level_db"]) for r in pts], [share(r) for r in pts], style, marker="o", ms=2.5,
                        label="%s %s" % (band, rate))
    before = by_level(start, study)
    if before:
        levels = list(before)
        ax.plot(levels, [min(share(r) for r in before[v]) for v in levels], color="grey", lw=1.2, ls="--",
                label="before: worst")
        ax.plot(levels, [sum(share(r) for r in before[v]) / len(before[v]) for v in levels], color="grey", lw=1.2,
                label="before: mean")
    ax.axhline(target, color="black", lw=0.6, ls="--")
    ax.set_xlabel(xlabel, fontsize=8)
    ax.set_ylim(0, 105)
    ax.set_title(title, fontsize=9)


def tilt_panel(ax, rows, start):
    now, before = by_level(rows, "tilt"), by_level(start, "tilt")
    levels = list(now)
    x = range(len(levels))
    ax.bar([i - 0.2 for i in x], [sum(share(r) for r in now[v]) / len(now[v]) for v in levels], 0.4,
           label="listener (mean)")
    ax.scatter([i - 0.2 for i in x], [min(share(r) for r in now[v]) for v in levels], marker="_", color="black", s=200,
               zorder=3, label="worst band and rate")
    if before:
        ax.bar([i + 0.2 for i in x], [sum(share(r) for r in before.get(v, [])) / max(1, len(before.get(v, [])))
                                      for v in levels], 0.4, color="grey", label="before (mean)")
    ax.set_xticks(list(x))
    ax.set_xticklabels(["%+d dB" % v for v in levels], fontsize=7)
    ax.axhline(90, color="black", lw=0.6, ls="--")
    ax.set_ylim(0, 105)
    ax.set_title("response tilted across the band, -10 dB SNR", fontsize=9)
    ax.legend(fontsize=7, loc="lower left")


def main(args):
    rows = list(csv.DictReader(open(args[0])))
    start = list(csv.DictReader(open(args[1]))) if len(args) == 3 else []
    fig, axes = plt.subplots(2, 4, figsize=(20, 9))
    talker_panel(axes[0][0], rows)
    overlap_panel(axes[0][1], rows)
    curve_panel(axes[0][2], rows, start, "noise", "SNR (dB)", "white noise", 90)
    tilt_panel(axes[0][3], rows, start)
    for ax, (study, what) in zip(axes[1], (("speed", "speed (pitch and tempo)"), ("pitch", "pitch alone"),
                                          ("tempo", "tempo alone"))):
        curve_panel(ax, rows, start, study, "offset (%)", "%s, 0 dB SNR" % what, 95)
    axes[1][0].set_ylabel("heard by the listener (%)")
    axes[0][2].legend(fontsize=6, loc="lower right")
    axes[1][3].axis("off")
    handles, labels = axes[0][2].get_legend_handles_labels()
    axes[1][3].legend(handles, labels, loc="center", fontsize=8, title="listener, per band and rate")
    fig.tight_layout()
    fig.savefig(args[-1], dpi=100)


if __name__ == "__main__":
    main(sys.argv[1:])
