#!/usr/bin/env bash
# Hears FILE.wav on a microcontroller: builds the example receiver firmware
# (embedded/, with gcc-arm-none-eabi and picolibc) for an MPS2 board and runs
# it in qemu-system-arm, which feeds it the file through semihosting, 128
# samples at a time, and counts its instructions (-icount shift=0). Prints
# the messages as `quorlax decode` does, then one line
#   ram=BYTES flash=BYTES instructions_per_audio_second=N
# (RAM: static data + stack high-water mark + the listener's block; flash:
# text + data of the firmware, from arm-none-eabi-size). Files at 22050,
# 44100 and 48000 Hz are taken as they are. Exit status: 0 when a message
# passed its check, 1 when none did, 2 on errors.
#
# Usage: scripts/embedded.sh FILE.wav [--mode MODE] [--board an386|an500] [--failed] [--readings N] [--exact]
#   --board an386: Cortex-M4F (the default); an500: Cortex-M7.
#   --mode: default all where the file's rate allows it, else audible.
#   --failed: also messages that failed their check; --readings: readings in
#   flight at once; --exact: each line also gives its start sample, level and
#   confidence to the bit (hexadecimal floats).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
die() { echo "embedded: $*" >&2; exit 2; }

file="" board=an386 firmware_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --board) [ $# -ge 2 ] || die "--board needs an386 or an500"; board=$2; shift 2 ;;
    --mode|--readings) [ $# -ge 2 ] || die "$1 needs a value"; firmware_args+=("$1" "$2"); shift 2 ;;
    --failed|--exact) firmware_args+=("$1"); shift ;;
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) die "unknown option $1" ;;
    *) [ -z "$file" ] || die "one FILE.wav only"; file=$1; shift ;;
  esac
done
[ -n "$file" ] || die "usage: scripts/embedded.sh FILE.wav [--mode MODE] [--board an386|an500] [--failed] [--readings N] [--exact]"
case "$board" in
  an386) cpu=cortex-m4 ;;
  an500) cpu=cortex-m7 ;;
  *) die "unknown board $board (an386: Cortex-M4F, an500: Cortex-M7)" ;;
esac
[ -f "$file" ] && [ -r "$file" ] || die "cannot read '$file'"
for a in "${firmware_args[@]}"; do
  case "$a" in *[[:space:],]*) die "option values cannot hold spaces or commas: '$a'" ;; esac
done

bash "$root/scripts/install-arm-deps.sh" embedded >&2 || exit 2
build="$root/build-embedded-$board"
mkdir -p "$build"
if ! { cmake -S "$root" -B "$build" --toolchain "$root/cmake/arm-none-eabi.cmake" -DQUORLAX_CPU=$cpu \
         -DCMAKE_BUILD_TYPE=Release >/dev/null && cmake --build "$build" -j 2 --target receiver >/dev/null; } 2>"$build/build.log"; then
  cat "$build/build.log" >&2
  die "building the firmware failed"
fi
elf="$build/embedded/receiver.elf"

# The firmware opens its input by a plain name in a directory of its own:
# semihosting splits its command line at spaces.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$(cd "$(dirname "$file")" && pwd)/$(basename "$file")" "$work/input.wav"
semihost="enable=on,target=native,chardev=console,arg=input.wav"
for a in "${firmware_args[@]}"; do semihost+=",arg=$a"; done
(cd "$work" && timeout "${QUORLAX_EMBEDDED_TIMEOUT:-600}" qemu-system-arm -M "mps2-$board" -nographic \
   -monitor none -serial none -chardev stdio,id=console -semihosting-config "$semihost" -icount shift=0 \
   -kernel "$elf") >"$work/out" 2>"$work/err"
status=$?
[ $status -eq 124 ] && die "the firmware did not finish within ${QUORLAX_EMBEDDED_TIMEOUT:-600} s"
measure=""
while IFS= read -r line; do
  case "$line" in
    "quorlax-firmware: error: "*) echo "embedded: ${line#quorlax-firmware: error: }" | sed "s|input\.wav|$file|" >&2 ;;
    ram=*) measure=$line ;;
    *) printf '%s\n' "$line" ;;
  esac
done <"$work/out"
if [ $status -gt 2 ]; then
  cat "$work/err" >&2
  die "qemu-system-arm failed (status $status)"
fi
if [ -n "$measure" ]; then
  flash=$(arm-none-eabi-size "$elf" | awk 'NR == 2 { print $1 + $2 }')
  ram=${measure%% *}
  echo "$ram flash=$flash ${measure#* }"
fi
exit $status
