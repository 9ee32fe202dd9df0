#!/usr/bin/env bash
# Decoding where people are: a talker speaking throughout or pausing just
# before a transmission, two senders in different bands at once, and white
# noise, each trial heard by the listener and by the streaming decoder
# (bench/study_listener.cpp). Writes docs/studies.csv and draws
# docs/studies.png. About 15 minutes with the default 40 trials per point.
# Usage: scripts/study.sh [trials] [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
trials=${1:-40}
dir=${2:-build}
if ! command -v espeak-ng >/dev/null; then
  echo "study: espeak-ng is missing (scripts/install-deps.sh installs it as root)" >&2
  exit 2
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 -DQUORLAX_BUILD_BENCH=ON >/dev/null
cmake --build "$dir" -j 2 --target study_listener
"$dir/bench/study_listener" --trials "$trials" | tee docs/studies.csv
/usr/bin/python3 scripts/plot_studies.py docs/studies.csv docs/studies.png
