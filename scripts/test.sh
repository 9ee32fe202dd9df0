#!/usr/bin/env bash
# Builds everything and runs every test (C++, CLI, Python and the browser package).
# Usage: scripts/test.sh [--sanitize]   (ASan + UBSan build in build-sanitize/)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
dir=build
# The benchmarks are built (never run as tests), so they cannot rot.
flags=(-DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 -DQUORLAX_BUILD_BENCH=ON)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-sanitize
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORLAX_SANITIZE=ON -DPython3_EXECUTABLE=/usr/bin/python3)
fi
cmake -S . -B "$dir" "${flags[@]}"
cmake --build "$dir" -j "$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
# The browser package (WebAssembly build, Node and chromium tests).
if [ "${1:-}" != "--sanitize" ]; then bash scripts/test-web.sh; fi
