#!/usr/bin/env bash
# The browser package (web/): builds both WebAssembly modules (with and
# without SIMD) with emscripten and runs its Node tests and its suites in
# Chromium, Firefox ESR and WebKitGTK. scripts/test.sh runs it after the native
# suite, whose build/tools/quorlax the tests compare samples with.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
if [ -x build/tools/quorlax ]; then export QUORLAX_CLI="$PWD/build/tools/quorlax"; fi
npm --prefix web ci --no-audit --no-fund
npm --prefix web run build
npm --prefix web test
