#!/usr/bin/env bash
# Installs the Debian packages that building and testing need (idempotent).
set -euo pipefail
packages=(cmake g++ clang libgtest-dev libgmock-dev libbenchmark-dev
  python3-dev python3-numpy python3-pytest python3-venv python3-pip
  python3-setuptools python3-matplotlib python3-soundfile pybind11-dev python3-distributed
  libsndfile1-dev libsoxr-dev pkg-config valgrind libfftw3-dev libclang-rt-14-dev espeak-ng sox
  emscripten node-acorn chromium
  firefox-esr webkit2gtk-driver xvfb
  dpkg-dev file
  portaudio19-dev libpulse-dev pybind11-dev python3-soundfile
  pulseaudio pulseaudio-utils libasound2-plugins
  debootstrap
  openjdk-17-jdk-headless maven g++-aarch64-linux-gnu
  # the README's shell lines (arecord, aplay, sox reading MP3, jq), shell completion and the man page
  alsa-utils libsox-fmt-mp3 jq zsh man-db)
# Installed for this machine's architecture (the ARM stages add arm64 copies of
# some, which `dpkg -s NAME` then calls ambiguous).
native=$(dpkg --print-architecture)
installed() {
  dpkg-query -W -f='${db:Status-Abbrev}${Architecture}\n' "$1" 2>/dev/null | grep -Eq "^ii +($native|all)\$"
}
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
# Node and npm from Debian unless some other package already brought them.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]} (run as root or install them)" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
