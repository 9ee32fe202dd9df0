#!/usr/bin/env bash
# Full soak: 300 transmissions in random bands under 0 dB white noise, the
# stream padded with noise to 30 minutes, pushed into one mode-5 decoder
# (tests/test_soak.cpp). Prints the SOAK line that docs/HARDENING.md quotes.
# Usage: scripts/soak.sh [build-dir] [transmissions] [minimum seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
if [ ! -x "$dir/tests/test_soak" ]; then
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
  cmake --build "$dir" -j 2 --target test_soak
fi
QUORLAX_SOAK_TRANSMISSIONS=${2:-300} QUORLAX_SOAK_MIN_SECONDS=${3:-1800} QUORLAX_SOAK_SEED=${QUORLAX_SOAK_SEED:-424242} \
  "$dir/tests/test_soak" --gtest_brief=1
