#!/usr/bin/env bash
# Builds the Java package's JNI glue with the project's CMake and lays it out
# as the jar carries it: OUT/org/quorlax/native/<platform>/libquorlax_jni.so,
# with OUT/org/quorlax/native/platforms naming each platform. Maven runs it
# (java/core/pom.xml); JAVA_HOME names the JDK whose JNI headers are used.
#
# Usage: java/build-native.sh OUT BUILD_DIR
#   BUILD_DIR is the CMake build the glue is added to: an existing one keeps
#   its settings (scripts/test.sh passes build/), a new one builds the library
#   and the glue alone. On x86-64, linux-aarch64 is cross-built in
#   build-java-aarch64/ with Debian's aarch64-linux-gnu compilers, and skipped
#   with a message where they are not installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$1/org/quorlax/native
build=$2
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2
java_home=${JAVA_HOME:-$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")}
library_only=(-DCMAKE_BUILD_TYPE=Release -DQUORLAX_BUILD_TESTS=OFF -DQUORLAX_BUILD_PYTHON=OFF
  -DQUORLAX_BUILD_CLI=OFF -DQUORLAX_BUILD_DEVICE=OFF)

configure() {  # DIR FLAGS...: a new directory gets the library alone
  local dir=$1
  shift
  local flags=(-DQUORLAX_BUILD_JAVA=ON -DJAVA_HOME="$java_home" "$@")
  [ -f "$dir/CMakeCache.txt" ] || flags+=("${library_only[@]}")
  cmake -S "$root" -B "$dir" "${flags[@]}" >/dev/null
}

# Each library carries the C++ runtime and exports JNI_OnLoad alone.
check() {  # FILE TOOL-PREFIX [MACHINE]
  local machine needed
  machine=$("${2}readelf" -h "$1" | sed -n 's/^ *Machine: *//p')
  [ -z "${3:-}" ] || [ "$machine" = "$3" ] || { echo "build-native: $1 is for '$machine', not $3" >&2; exit 1; }
  "${2}nm" -D --defined-only "$1" | grep -q ' T JNI_OnLoad$' || { echo "build-native: $1 exports no JNI_OnLoad" >&2; exit 1; }
  needed=$("${2}readelf" -d "$1" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | grep -v -E '^(libc|libm|ld-linux.*)\.so' || true)
  [ -z "$needed" ] || { echo "build-native: $1 needs $needed" >&2; exit 1; }
}

rm -rf "$out"
host=linux-$(uname -m)
configure "$build"
cmake --build "$build" -j "$jobs" --target quorlax_jni encoder_samples
mkdir -p "$out/$host"
cp "$build/java/native/libquorlax_jni.so" "$out/$host/"
check "$out/$host/libquorlax_jni.so" ""
echo "$host" >"$out/platforms"

if [ "$host" = linux-x86_64 ]; then
  if command -v aarch64-linux-gnu-gcc >/dev/null && command -v aarch64-linux-gnu-g++ >/dev/null; then
    cross=$root/build-java-aarch64
    configure "$cross" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
      -DCMAKE_C_COMPILER=aarch64-linux-gnu-gcc -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++ -DQUORLAX_SHARED=OFF
    cmake --build "$cross" -j "$jobs" --target quorlax_jni
    mkdir -p "$out/linux-aarch64"
    cp "$cross/java/native/libquorlax_jni.so" "$out/linux-aarch64/"
    check "$out/linux-aarch64/libquorlax_jni.so" aarch64-linux-gnu- AArch64
    echo linux-aarch64 >>"$out/platforms"
  else
    echo "build-native: no aarch64-linux-gnu-gcc/g++ (Debian's g++-aarch64-linux-gnu): the jar carries no linux-aarch64 library" >&2
  fi
fi
echo "build-native: the jar carries $(tr '\n' ' ' <"$out/platforms")"
