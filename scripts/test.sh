#!/usr/bin/env bash
# Builds the project twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds, then runs
# every fuzz target for a bounded time (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/ensure-deps.sh
jobs="${JOBS:-2}"

run_config() {
  local dir="$1"; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== ctest in $dir"
  (cd "$dir" && ctest --output-on-failure -j"$jobs")
}

run_config build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_config build/sanitize -DCMAKE_BUILD_TYPE=Debug -DDLD2VEXA_SANITIZE=ON
echo "== fuzzing (FUZZ_SECONDS=${FUZZ_SECONDS:-60} per target)"
bash scripts/fuzz.sh
echo "All tests passed in both configurations; every fuzz target ran clean."
