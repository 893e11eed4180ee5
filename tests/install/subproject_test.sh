#!/usr/bin/env bash
# Builds the project inside another one, as add_subdirectory and
# FetchContent users do, with shared libraries: the consumer program links
# the dld2vexa:: names, and, installed, runs from the install tree with the
# installed shared libraries.  The libraries only: building the programs
# once more would double what this test costs, and they link the same
# libraries in the same way.  As a unity build, as many projects build
# what they take in, which is also the quickest.
# Usage: subproject_test.sh SOURCE_DIR CONSUMER_SOURCE_DIR CMAKE CXX_COMPILER [LAUNCHER]
set -euo pipefail
source_dir="$1" consumer="$2" cmake="$3" cxx="$4" launcher="${5:-}"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix" build="$scratch/build"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

configure() {
  "$cmake" -S "$consumer" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DDLD2VEXA_SOURCE_DIR="$source_dir" -DBUILD_SHARED_LIBS=ON \
    -DDLD2VEXA_PROGRAMS=OFF -DDLD2VEXA_INSTALL=ON -DCMAKE_UNITY_BUILD=ON "$@" >/dev/null
}

configure -DDLD2VEXA_FROM=subdirectory
"$cmake" --build "$build" -j2 >/dev/null
"$build/consumer" "$scratch/image.kvx"
"$cmake" --install "$build" >/dev/null

# FetchContent: the same names; it reuses the libraries built above.
configure -DDLD2VEXA_FROM=fetchcontent
"$cmake" --build "$build" -j2 >/dev/null
"$build/consumer" "$scratch/image2.kvx"

# Each library installed as lib<name>.so -> lib<name>.so.<major> ->
# lib<name>.so.<version>, the middle one its SONAME.
libdir="$(dirname "$(find "$prefix" -name libkvxpack.so)")"
for library in vexabase kvxpack vexapack; do
  soname="$(readelf -d "$libdir/lib$library.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')"
  [[ "$soname" =~ ^lib$library\.so\.[0-9]+$ ]] || fail "lib$library.so has SONAME '$soname'"
  [ -f "$libdir/$soname" ] || fail "$soname is not installed"
done

# The installed program finds the installed libraries, not the build tree's.
rm -rf "$build"
"$prefix/bin/consumer" "$scratch/image3.kvx" || fail "the installed consumer does not run"
