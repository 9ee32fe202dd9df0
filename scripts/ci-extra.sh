#!/usr/bin/env bash
# Extra CI stages after scripts/test.sh: valgrind memcheck over the C API
# tests, ThreadSanitizer over tests/test_threads.cpp, the ARM stages
# (scripts/test-arm.sh), a minute of each libFuzzer target (clang), and the
# .deb (built for /usr) installed with apt, used and built against, then
# removed. Meant for a fresh Debian 12 machine as root.
# QUORLAX_FUZZ_SECONDS changes the minute.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2
fuzz_seconds=${QUORLAX_FUZZ_SECONDS:-60}
stage() { echo; echo "=== ci-extra: $* ($(date +%T))"; }

stage "valgrind memcheck (build/, Release)"
# Same configuration as scripts/test.sh, so an existing build/ is reused as is.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 -DQUORLAX_BUILD_BENCH=ON >/dev/null
cmake --build build -j "$jobs" --target test_api c_api_roundtrip test_decoder test_threads test_listener test_fft
vg=(valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect --quiet)
"${vg[@]}" build/tests/c_api_roundtrip
"${vg[@]}" build/tests/test_api --gtest_brief=1
"${vg[@]}" build/tests/test_decoder --gtest_brief=1 \
  --gtest_filter='DecoderBase.*:DecoderClock.*:DecoderMessages.*:DecoderInput.SizesAndHandles:DecoderCorrection.WrongTokensAreCorrected:DecoderSpectrum.*:DecoderKernels.*'
"${vg[@]}" build/tests/test_fft --gtest_brief=1 --gtest_filter='FftKernels.*:FftBins.*'
"${vg[@]}" build/tests/test_threads --gtest_brief=1
"${vg[@]}" build/tests/test_listener --gtest_brief=1 \
  --gtest_filter='Listener.HostileCallsAnswerWithCodes:Listener.FlushStartsANewStream:Listener.CustomGridOfItsOwn:Modes/ListenerRoundTrip.*/mode5_44100'

stage "the .deb: built for /usr as the README says (build-deb/), apt install, used, apt purge"
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: installing a package needs root"
else
  cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DQUORLAX_BUILD_TESTS=OFF \
    -DQUORLAX_BUILD_PYTHON=OFF -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
  cmake --build build-deb -j "$jobs"
  # Fields, file list (multiarch folder, program, man page, completion), quorlax.pc, unpacked consumers.
  bash tests/package/check.sh deb "$PWD/build-deb" "$PWD/build-deb/check"
  debs=(build-deb/check/quorlax_*.deb)
  trap 'apt-get purge -y -qq quorlax >/dev/null' EXIT
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o Dpkg::Use-Pty=0 "./${debs[0]}"
  ldconfig -p | grep "libquorlax\.so\.1 .*/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/"
  pkg-config --modversion quorlax  # found with no PKG_CONFIG_PATH
  [ -z "$(pkg-config --cflags quorlax | tr -d ' ')" ] || { echo "pkg-config --cflags: $(pkg-config --cflags quorlax)"; exit 1; }
  for c in exports cmake-c-shared cmake-c-static cmake-c-use-static cmake-cxx pkg-config pkg-config-static program; do
    bash tests/package/check.sh "$c" /usr "$PWD/build-deb/check/$c"
  done
  # What a user of the package types: the program on PATH, its man page, its completion.
  (cd build-deb && quorlax encode hello1234 -o installed.wav && quorlax decode installed.wav)
  MANWIDTH=80 man quorlax | grep -q "quorlax listen" || { echo "man quorlax shows no listen"; exit 1; }
  [ "$(bash -c 'source /usr/share/bash-completion/completions/quorlax; COMP_WORDS=(quorlax enc); COMP_CWORD=1
               _quorlax quorlax enc quorlax; echo "${COMPREPLY[*]}"')" = encode ] || { echo "bash completion"; exit 1; }
  [ "$(zsh -fc 'autoload -Uz compinit; compinit -u; print $_comps[quorlax]')" = _quorlax ] ||
    { echo "zsh does not find _quorlax"; exit 1; }
  apt-get purge -y -qq quorlax >/dev/null
  trap - EXIT
fi

stage "ThreadSanitizer (build-tsan/: library and test_threads only)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORLAX_TSAN=ON \
  -DQUORLAX_BUILD_PYTHON=OFF -DQUORLAX_BUILD_CLI=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target test_threads
# TSan maps fixed shadow ranges; without ASLR it also runs on kernels with high mmap entropy.
tsan_run=()
if setarch "$(uname -m)" -R true 2>/dev/null; then tsan_run=(setarch "$(uname -m)" -R); fi
TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1" "${tsan_run[@]}" build-tsan/tests/test_threads

stage "ARM: aarch64 Linux under qemu-user, Cortex-M under qemu-system-arm (scripts/test-arm.sh)"
bash scripts/test-arm.sh

stage "libFuzzer targets, ${fuzz_seconds} s each (build-fuzz/, clang)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Release -DQUORLAX_FUZZ=ON \
  -DQUORLAX_BUILD_TESTS=OFF -DQUORLAX_BUILD_PYTHON=OFF -DQUORLAX_BUILD_CLI=OFF >/dev/null
targets=(decoder_audio api_sequence reed_solomon encoder_text listener)
cmake --build build-fuzz -j "$jobs" --target "${targets[@]/#/fuzz_}"
status=0
for t in "${targets[@]}"; do
  work=build-fuzz/run/$t
  rm -rf "$work" && mkdir -p "$work/corpus" "$work/artifacts"
  cp fuzz/corpus/"$t"/* "$work/corpus/"
  echo "--- fuzz_$t"
  if ! build-fuzz/fuzz/fuzz_"$t" -max_total_time="$fuzz_seconds" -max_len=8192 -timeout=30 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log.txt" 2>&1; then
    status=1
    tail -n 60 "$work/log.txt"
    echo "fuzz_$t found a failure: $(ls "$work/artifacts")" >&2
  else
    grep -E "stat::number_of_executed_units|stat::new_units_added" "$work/log.txt" | sed "s/^/  /"
  fi
done
exit $status
