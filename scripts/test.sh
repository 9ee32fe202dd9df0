#!/usr/bin/env bash
# Builds everything and runs every test (C++, CLI, Python, the browser package, and the
# Java package with the Android module's sources).
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
# The Java package and the Android module (JUnit, Robolectric), with the JNI glue added to this
# build; its tests run under -Xcheck:jni.
if [ "${1:-}" != "--sanitize" ]; then
  mvn -B --no-transfer-progress -f java/pom.xml verify -Dquorlax.cmake.build="$PWD/$dir"
fi
