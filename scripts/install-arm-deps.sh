#!/usr/bin/env bash
# Installs the Debian packages of the ARM stages (idempotent):
#   aarch64   g++-aarch64-linux-gnu, qemu-user and the arm64 (multiarch)
#             libraries the program and the tests link
#   embedded  gcc-arm-none-eabi, picolibc, qemu-system-arm
# Usage: scripts/install-arm-deps.sh aarch64|embedded...
set -euo pipefail
packages=()
arm64=false
for group in "$@"; do
  case "$group" in
    aarch64)
      arm64=true
      packages+=(g++-aarch64-linux-gnu qemu-user libgtest-dev:arm64 libsndfile1-dev:arm64 libsoxr-dev:arm64
        portaudio19-dev:arm64 libpulse-dev:arm64) ;;
    embedded)
      packages+=(gcc-arm-none-eabi picolibc-arm-none-eabi libstdc++-arm-none-eabi-picolibc qemu-system-arm) ;;
    *) echo "install-arm-deps: unknown group $group (aarch64, embedded)" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "install-arm-deps: missing packages: ${missing[*]} (run as root or install them)" >&2
  exit 1
fi
if $arm64 && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  dpkg --add-architecture arm64
fi
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
