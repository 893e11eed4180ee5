#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and builds a program outside
# the project against it, as other projects would: with find_package(dld2vexa)
# (the program and a shared library of it), then with pkg-config; the
# installed headers and libraries only.
# Usage: consumer_test.sh BUILD_DIR CONSUMER_SOURCE_DIR CMAKE CXX_COMPILER PROGRAM...
#   PROGRAM...  the programs that bin/ must hold, and nothing else
set -euo pipefail
build="$1" consumer="$2" cmake="$3" cxx="$4"
shift 4

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

# The programs only; developer tools and fuzz targets stay in the build tree.
installed="$(find "$prefix/bin" -mindepth 1 -printf "%f\n" | sort | xargs)"
expected="$(printf '%s\n' "$@" | sort | xargs)"
if [ "$installed" != "$expected" ]; then
  echo "FAIL: bin/ holds \"$installed\", expected \"$expected\"" >&2
  exit 1
fi

# Every installed header compiles on its own, included by its prefixed
# name: it includes nothing that was left out of the installed tree.
for header in "$prefix"/include/dld2vexa/*.h; do
  if ! echo "#include <dld2vexa/$(basename "$header")>" |
    "$cxx" -std=c++20 -fsyntax-only -I"$prefix/include" -x c++ -; then
    echo "FAIL: installed header $(basename "$header") does not compile on its own" >&2
    exit 1
  fi
done

# Only include/ is exported, so the short header names cannot shadow a
# program's own filename.h or gamma.h.
if grep -rq 'include/dld2vexa' --include='dld2vexaTargets*.cmake' "$prefix"; then
  echo "FAIL: the CMake package puts include/dld2vexa on the include path" >&2
  exit 1
fi

"$cmake" -S "$consumer" -B "$scratch/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
"$cmake" --build "$scratch/build" >/dev/null
"$scratch/build/consumer" "$scratch/image.kvx"

# pkg-config names the include folder and the libraries with what they need
# (zlib, the maths library); the standard is the program's own choice.
pc_file="$(find "$prefix" -name dld2vexa-vexapack.pc)"
[ -n "$pc_file" ] || { echo "FAIL: dld2vexa-vexapack.pc is not installed" >&2; exit 1; }
flags="$(PKG_CONFIG_PATH="$(dirname "$pc_file")" pkg-config --cflags --libs dld2vexa-vexapack)"
read -ra pc_flags <<<"$flags"
"$cxx" -std=c++20 -o "$scratch/consumer_pc" "$consumer/main.cpp" "${pc_flags[@]}"
"$scratch/consumer_pc" "$scratch/image_pc.kvx"
