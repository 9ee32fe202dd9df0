#!/usr/bin/env bash
# False-alarm study: 30 minutes each of white noise, pink noise, espeak-ng
# speech (two voices) and random notes and chords, heard by the listener in
# mode all at 48000 and 44100 Hz (tests/test_false_alarms.cpp). Prints one
# FALSE_ALARMS line per kind and rate: readings that failed their check (front
# doors that led nowhere) per hour, and messages that passed it.
# Usage: scripts/false-alarms.sh [build-dir] [seconds per kind]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
if ! command -v espeak-ng >/dev/null; then
  echo "false-alarms: espeak-ng is missing (scripts/install-deps.sh installs it as root)" >&2
  exit 2
fi
if [ ! -x "$dir/tests/test_false_alarms" ]; then
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
  cmake --build "$dir" -j 2 --target test_false_alarms
fi
start=$(date +%s)
QUORLAX_FA_SECONDS=${2:-1800} "$dir/tests/test_false_alarms" --gtest_brief=1
echo "false-alarms: $(( $(date +%s) - start )) s wall"
