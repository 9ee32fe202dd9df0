#!/usr/bin/env bash
# ARM stages of CI (called by scripts/ci-extra.sh); each can run alone.
#   aarch64   the library, the program and the C++ tests cross-built with
#             g++-aarch64-linux-gnu (cmake/aarch64-linux-gnu.cmake) into
#             build-aarch64/, run under qemu-user: through ctest the C++
#             groups of the core, the listener and the sender (the whole
#             suite takes over half an hour emulated), and a few groups of
#             the program's own tests through a wrapper that runs it in
#             qemu-aarch64. The Python module is not cross-built.
#   embedded  the freestanding library (no heap in it) and the example
#             firmware for Cortex-M4F and M7 under qemu-system-arm
#             (tests/embedded/test_embedded.py): the study's scenes heard as
#             the desktop listener hears them, within the budgets of
#             docs/EMBEDDED.md; the sender against the encoder; hostile files.
#             The desktop side is build/ (scripts/test.sh's build).
# Usage: scripts/test-arm.sh [aarch64|embedded]...   (default: every stage)
set -euo pipefail
cd "$(dirname "$0")/.."
stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(aarch64 embedded)
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2
stage() { echo; echo "=== test-arm: $* ($(date +%T))"; }

# The C++ groups that cover the core (transform, band grids, detectors,
# Reed-Solomon, sums, encoder), the listener and the sender.
core_tests='^(Fft|PowersOfTwo/Fft|Sizes/|Spectral|ReedSolomon|ThreeAndFour/|OrderedSum|Inputs/OrderedSum|Alphabet|BandInfo|Constants|Init|MultiTone|Rates/MultiToneDoor|SingleToneMaps|Statistics|Encoder|Listener|Modes/ListenerRoundTrip|Queries|CallerMemory|Sender|Confidence|c_api_roundtrip|fuzz_replay_listener)'

aarch64() {
  stage "aarch64: cross build (build-aarch64/)"
  bash scripts/install-arm-deps.sh aarch64
  cmake -S . -B build-aarch64 --toolchain cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
    -DQUORLAX_BUILD_PYTHON=OFF -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
  cmake --build build-aarch64 -j "$jobs"
  file build-aarch64/tools/quorlax | grep -q 'ARM aarch64'
  stage "aarch64: C++ tests under qemu-aarch64"
  ctest --test-dir build-aarch64 -R "$core_tests" --output-on-failure -j "$jobs" --timeout 600
  stage "aarch64: the program under qemu-aarch64"
  ctest --test-dir build-aarch64 -R '^cli_(basics|roundtrip|rates|errors)$' --output-on-failure -j "$jobs"
}

embedded() {
  stage "embedded: Cortex-M4F and M7 firmware under qemu-system-arm"
  bash scripts/install-arm-deps.sh embedded
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 -DQUORLAX_BUILD_BENCH=ON >/dev/null
  cmake --build build -j "$jobs" --target _native quorlax_package
  /usr/bin/python3 tests/embedded/test_embedded.py --root . --desktop build --workdir build-embedded-test
}

for s in "${stages[@]}"; do
  case "$s" in
    aarch64) aarch64 ;;
    embedded) embedded ;;
    *) echo "test-arm: unknown stage $s (aarch64, embedded)" >&2; exit 2 ;;
  esac
done
