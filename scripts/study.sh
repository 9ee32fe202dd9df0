#!/usr/bin/env bash
# Decoding where people are: a talker speaking throughout or pausing just
# before a transmission, two senders in different bands at once, white noise,
# a response tilted across the band, and a sender off in speed, pitch or tempo
# (sox), each trial heard by the listener and by the streaming decoder
# (bench/study_listener.cpp). Writes docs/studies.csv and draws
# docs/studies.png, beside docs/studies-start.csv (the same studies heard by
# the listener at the starting point of a change; docs/STUDIES.md says how to
# make it again). About 40 minutes with the default 40 trials per point.
# Usage: scripts/study.sh [trials] [build-dir] [study...]
set -euo pipefail
cd "$(dirname "$0")/.."
trials=${1:-40}
dir=${2:-build}
for tool in espeak-ng sox; do
  if ! command -v "$tool" >/dev/null; then
    echo "study: $tool is missing (scripts/install-deps.sh installs it as root)" >&2
    exit 2
  fi
done
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 -DQUORLAX_BUILD_BENCH=ON >/dev/null
cmake --build "$dir" -j 2 --target study_listener
"$dir/bench/study_listener" --trials "$trials" "${@:3}" | tee docs/studies.csv
start=()
if [ -f docs/studies-start.csv ]; then start=(docs/studies-start.csv); fi
/usr/bin/python3 scripts/plot_studies.py docs/studies.csv "${start[@]}" docs/studies.png
