#!/usr/bin/env bash
# Builds, links and runs programs against an installed Quorlax as its users
# do, and checks what the installed files and the .deb hold.
#   check.sh install BUILD_DIR PREFIX   cmake --install into a fresh PREFIX
#   check.sh CHECK PREFIX WORKDIR       one check against the files under PREFIX
#   check.sh deb BUILD_DIR WORKDIR      cpack's .deb (BUILD_DIR configured for /usr):
#                                       fields, file list, quorlax.pc, and the
#                                       consumer checks against its unpacked /usr
# CHECK: cmake-c-shared cmake-c-static cmake-c-use-static cmake-cxx pkg-config
#        pkg-config-static exports program
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

fail() { echo "FAIL: $*" >&2; exit 1; }
under() { # under DIR PATH: PATH lies under DIR (both resolved)
  case "$(realpath "$2")/" in "$(realpath "$1")"/*) return 0 ;; *) return 1 ;; esac
}
find_lib() { # the installed file NAME under PREFIX's lib directories
  local found
  found=$(find "$1"/lib* -maxdepth 3 -name "$2" 2>/dev/null | sort | head -n 1)
  [ -n "$found" ] || fail "no $2 under $1/lib*"
  echo "$found"
}
needs_shared() { # needs_shared EXE yes|no: whether EXE loads libquorlax.so.1
  if readelf -d "$1" 2>/dev/null | grep 'NEEDED.*\[libquorlax\.so\.1\]' >/dev/null; then
    [ "$2" = yes ] || fail "$1 loads libquorlax.so.1, yet it should hold the static library"
  else
    [ "$2" = no ] || fail "$1 does not load libquorlax.so.1"
  fi
}
loads_from() { # loads_from EXE PREFIX: the dynamic loader finds libquorlax.so.1 under PREFIX
  local path
  path=$(ldd "$1" | awk '$1 == "libquorlax.so.1" { print $3 }')
  [ -n "$path" ] && [ "$path" != "not" ] || fail "$1: libquorlax.so.1 not found by the loader"
  under "$2" "$path" || fail "$1 loads $path, not the one under $2"
  echo "loads $path"
}

cmake_consumer() { # cmake_consumer PREFIX WORK PROJECT_DIR CMAKE_ARGS...
  local prefix=$1 work=$2 project=$3
  shift 3
  cmake -S "$project" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF "$@" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; fail "configuring $project against $prefix"; }
  grep -- "-- Quorlax" "$work/configure.log" || true
  local dir
  dir=$(sed -n 's/^Quorlax_DIR:PATH=//p' "$work/build/CMakeCache.txt")
  under "$prefix" "$dir" || fail "find_package(Quorlax) took $dir, not the package under $prefix"
  cmake --build "$work/build" -- VERBOSE=1 >"$work/build.log" 2>&1 ||
    { cat "$work/build.log"; fail "building $project against $prefix"; }
  grep -E -- "-o roundtrip " "$work/build.log" || true
}

pkg_config() { # pkg_config PREFIX ARGS...: pkg-config with the .pc under PREFIX first
  local prefix=$1
  shift
  PKG_CONFIG_PATH="$(dirname "$(find_lib "$prefix" quorlax.pc)")" pkg-config "$@"
}

check() {
  local name=$1 prefix=$2 work=$3
  rm -rf "$work" && mkdir -p "$work"
  echo "--- $name against $prefix"
  case $name in
    cmake-c-shared)
      cmake_consumer "$prefix" "$work" "$here/c"
      needs_shared "$work/build/roundtrip" yes
      loads_from "$work/build/roundtrip" "$prefix"
      "$work/build/roundtrip" ;;
    cmake-c-static)
      cmake_consumer "$prefix" "$work" "$here/c" -DQUORLAX_TARGET=Quorlax::quorlax_static
      needs_shared "$work/build/roundtrip" no
      "$work/build/roundtrip" ;;
    cmake-c-use-static)
      cmake_consumer "$prefix" "$work" "$here/c" -DQuorlax_USE_STATIC_LIBS=ON
      needs_shared "$work/build/roundtrip" no
      "$work/build/roundtrip" ;;
    cmake-cxx)
      cmake_consumer "$prefix" "$work" "$here/cxx"
      needs_shared "$work/build/roundtrip" yes
      loads_from "$work/build/roundtrip" "$prefix"
      "$work/build/roundtrip" ;;
    pkg-config|pkg-config-static)
      local at version libdir static=() flags
      at=$(pkg_config "$prefix" --variable=prefix quorlax)
      under "$prefix" "$at" && under "$at" "$prefix" || fail "quorlax.pc says prefix=$at, it lies under $prefix"
      version=$(pkg_config "$prefix" --modversion quorlax)
      libdir=$(pkg_config "$prefix" --variable=libdir quorlax)
      [ "$name" = pkg-config-static ] && static=(-static)
      flags=$(pkg_config "$prefix" --cflags --libs ${static[@]:+--static} quorlax)
      echo "pkg-config ${static[*]:+--static }--cflags --libs quorlax: $flags"
      # shellcheck disable=SC2086  # the flags are words
      gcc "${static[@]}" -std=c99 -Wall -Wextra -pedantic -Werror -DEXPECTED_VERSION="\"$version\"" \
        "$here/roundtrip.c" $flags -o "$work/roundtrip" || fail "gcc with pkg-config's flags"
      if [ "$name" = pkg-config ]; then
        needs_shared "$work/roundtrip" yes
        LD_LIBRARY_PATH=$libdir loads_from "$work/roundtrip" "$prefix"
      else
        if readelf -d "$work/roundtrip" | grep NEEDED >/dev/null; then fail "gcc -static made a dynamic program"; fi
      fi
      LD_LIBRARY_PATH=$libdir "$work/roundtrip" ;;
    program)
      # The installed program runs where it was installed, with the library beside it.
      local exe=$prefix/bin/quorlax
      [ -x "$exe" ] || fail "no program $exe"
      loads_from "$exe" "$prefix"
      "$exe" encode hello1234 -o "$work/hello.wav"
      [ "$("$exe" decode "$work/hello.wav" | cut -f1,2)" = "$(printf 'hello1234\tok')" ] ||
        fail "$exe does not decode what it encoded"
      zcat "$(find "$prefix"/share/man -name quorlax.1.gz)" | grep -q '^\.SH COMMANDS' || fail "no man page"
      for f in share/bash-completion/completions/quorlax share/zsh/vendor-completions/_quorlax; do
        [ -f "$prefix/$f" ] || fail "no $f"
      done ;;
    exports)
      local so header exported declared
      so=$(find_lib "$prefix" libquorlax.so.1)
      readelf -d "$so" | grep 'SONAME.*\[libquorlax\.so\.1\]' >/dev/null || fail "$so: soname is not libquorlax.so.1"
      [ "$(realpath "$(dirname "$so")/libquorlax.so")" = "$(realpath "$so")" ] ||
        fail "libquorlax.so does not lead to libquorlax.so.1"
      nm "$(find_lib "$prefix" libquorlax.a)" 2>/dev/null | grep ' T QUORLAX_Create$' >/dev/null ||
        fail "libquorlax.a does not define QUORLAX_Create"
      nm -D --defined-only "$so" | awk '{ sub(/@.*/, "", $3); print $3 }' | sort >"$work/exported"
      exported=$(wc -l <"$work/exported")
      [ "$exported" -gt 0 ] || fail "$so exports nothing"
      if grep -v '^QUORLAX_' "$work/exported" >"$work/stray"; then
        head -n 20 "$work/stray"
        fail "$so exports $(wc -l <"$work/stray") symbols besides the QUORLAX_ functions"
      fi
      # Every function the installed header declares is exported, and only those.
      header=$(find "$prefix"/include -maxdepth 2 -name ZunCoreLib_api.h | head -n 1)
      [ -n "$header" ] || fail "no ZunCoreLib_api.h under $prefix/include"
      gcc -E -P -x c "$header" | grep -oE '\bQUORLAX_[A-Za-z0-9_]+[[:space:]]*\(' | tr -d '( \t' |
        sort -u >"$work/declared"
      declared=$(wc -l <"$work/declared")
      diff "$work/declared" "$work/exported" ||
        fail "declared in the header (<) and exported by $so (>) differ"
      echo "$exported QUORLAX_ functions exported, as the header declares: $(tr '\n' ' ' <"$work/exported")" ;;
    *) fail "unknown check $name" ;;
  esac
  echo "ok: $name"
}

case ${1:-} in
  install)
    rm -rf "$3"
    cmake --install "$2" --prefix "$3" ;;
  deb)
    build=$2 work=$3
    rm -rf "$work" && mkdir -p "$work"
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
      { cat "$work/cpack.log"; fail "cpack"; }
    debs=("$work"/quorlax_*.deb)
    [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single quorlax_*.deb: $(ls "$work")"
    deb=${debs[0]}
    echo "--- $(basename "$deb"), $(stat -c %s "$deb") bytes"
    dpkg-deb -f "$deb" Package Version Architecture Depends
    [ "$(dpkg-deb -f "$deb" Package)" = quorlax ] || fail "the package is not named quorlax"
    for dep in libc6 libstdc++6; do
      dpkg-deb -f "$deb" Depends | grep "\b$dep\b" >/dev/null || fail "Depends lacks $dep"
    done
    dpkg-deb -c "$deb" | awk '{ print $6 }' >"$work/files"
    # Libraries in the multiarch folder, as Debian's own are.
    lib=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
    for want in '/usr/include/ZunCoreLib_api\.h' "$lib/libquorlax\.so\.1\.[0-9.]+" \
        "$lib/libquorlax\.so\.1" "$lib/libquorlax\.so" "$lib/libquorlax\.a" \
        "$lib/cmake/Quorlax/QuorlaxConfig\.cmake" "$lib/cmake/Quorlax/QuorlaxConfigVersion\.cmake" \
        "$lib/cmake/Quorlax/QuorlaxTargets\.cmake" "$lib/pkgconfig/quorlax\.pc" '/usr/bin/quorlax' \
        '/usr/share/man/man1/quorlax\.1\.gz' '/usr/share/bash-completion/completions/quorlax' \
        '/usr/share/zsh/vendor-completions/_quorlax'; do
      grep -qE "^\./?$want\$" "$work/files" || { cat "$work/files"; fail "the .deb holds no $want"; }
    done
    dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./shlibs | grep '^libquorlax 1 quorlax' >/dev/null ||
      fail "the .deb has no shlibs line for libquorlax 1"
    dpkg-deb -x "$deb" "$work/root"
    # quorlax.pc names /usr, as the system's own do, so pkg-config leaves /usr/include out.
    [ "$(pkg_config "$work/root/usr" --variable=prefix quorlax)" = /usr ] || fail "quorlax.pc does not name /usr"
    [ "$(pkg_config "$work/root/usr" --modversion quorlax)" = "$(dpkg-deb -f "$deb" Version)" ] ||
      fail "quorlax.pc and the package disagree on the version"
    flags=$(pkg_config "$work/root/usr" --cflags quorlax)
    [ -z "${flags// /}" ] || fail "pkg-config --cflags quorlax prints '$flags' for the system's own folder"
    # Unpacked anywhere, the CMake package still finds its files.
    for c in exports cmake-c-shared cmake-c-static; do
      check "$c" "$work/root/usr" "$work/$c"
    done
    echo "ok: deb" ;;
  cmake-*|pkg-config*|exports|program)
    [ $# -eq 3 ] || fail "usage: $0 $1 PREFIX WORKDIR"
    check "$1" "$2" "$3" ;;
  *)
    sed -n '2,12p' "$0" >&2
    exit 2 ;;
esac
