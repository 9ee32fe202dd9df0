#!/usr/bin/env bash
# Builds the library and the quorlax program, then runs the main job:
# encode a message, add noise and reverb, decode both recordings.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3
cmake --build build -j "$(nproc)" --target quorlax-cli
./build/tools/quorlax demo
