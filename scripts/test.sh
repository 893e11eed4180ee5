#!/usr/bin/env bash
# Builds the project twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer), with warnings as errors, and runs every test
# in both builds, the replays of the committed fuzz inputs included.
# Fuzzing for a set time is a command of its own: scripts/fuzz.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/ensure-deps.sh test
jobs="${JOBS:-2}"

# Each step says how long it took, so that a slower test command shows
# where the time went.
run_config() {
  local dir="$1"; shift
  local start=$SECONDS
  # Ninja builds a fifth faster than make here (it checks what is out of
  # date faster); a folder made by another generator is built anew.
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$dir/CMakeCache.txt"; then
    echo "== $dir was made by another generator: building it anew"
    rm -rf "$dir"
  fi
  cmake -S . -B "$dir" -G Ninja -DDLD2VEXA_TESTS=ON -DDLD2VEXA_TEST_SHARDS=4 -DDLD2VEXA_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== $dir: configured and built in $((SECONDS - start)) s; ctest"
  start=$SECONDS
  (cd "$dir" && ctest --output-on-failure -j"$jobs")
  echo "== $dir: ctest took $((SECONDS - start)) s"
}

# Without full debug information, which slows the build most: the plain
# build is optimised as a release is, the sanitizer build keeps the line
# tables its reports need.
# The plain build installs to /usr, as the Debian packages it makes do, and
# compiles each source file on its own, as a distribution builds it; the
# sanitizer build compiles a few files as one unit (a unity build), in less
# than half the time.
run_config build/release -DCMAKE_BUILD_TYPE=Release '-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG' \
  -DCMAKE_INSTALL_PREFIX=/usr
run_config build/sanitize -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DDLD2VEXA_SANITIZE=ON \
  -DCMAKE_UNITY_BUILD=ON
echo "All tests passed in both configurations."
