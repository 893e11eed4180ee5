#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in build/fuzz and runs each for FUZZ_SECONDS
# (default 60), two at a time.  Every target starts from a fresh copy of its
# committed seed corpus (the committed files are never written).  Crash,
# hang, leak and out-of-memory inputs are kept in build/fuzz/artifacts/<target>;
# the script fails if any target found one.  The mutations start from a
# fixed seed (FUZZ_SEED, default 1); FUZZ_SEED=0 lets every run pick its own
# for longer explorations.  Runs still differ, as each stops after as many
# inputs as the machine manages in the time given, so a failing run prints
# its crash inputs for replay.
#
#   FUZZ_SECONDS=10 bash scripts/fuzz.sh              # all targets, 10 s each
#   bash scripts/fuzz.sh num_str2long filename         # some targets only
#
# The two writers of header entries (from the symbol list and from the
# remembered order) are compared on random headers by a unit test, which
# the test command runs with a fixed seed for 60 headers.  CODEC_ROUNDS runs
# it longer here, before the fuzz targets, in the plain build build/dev
# (configured if need be); CODEC_SEED picks the seed (default 0: a new one
# each run, printed with any mismatch):
#
#   CODEC_ROUNDS=20000 bash scripts/fuzz.sh
#
# "differential" instead runs the differential check of the C++ and Python
# readers (tests/python/kvx_differential.py) over DIFF_COUNT mutated files
# (default 100000), split over JOBS processes with the seeds FUZZ_SEED,
# FUZZ_SEED + 1, ...; files on which the readers disagree are kept in
# build/differential/failures.
#
#   DIFF_COUNT=20000 bash scripts/fuzz.sh differential
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = differential ]; then
  bash scripts/ensure-deps.sh test
  build=build/differential
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release '-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG' \
    -DDLD2VEXA_TESTS=ON >/dev/null
  cmake --build "$build" -j"${JOBS:-2}" --target kvx_dump kvx_samples dld2vexa dldgen >/dev/null
  count="${DIFF_COUNT:-100000}" jobs="${JOBS:-2}" seed="${FUZZ_SEED:-1}"
  pids=()
  for ((i = 0; i < jobs; i++)); do
    /usr/bin/python3 tests/python/kvx_differential.py \
      --dump "$build/tests/python/kvx_dump" --samples "$build/tests/python/kvx_samples" \
      --converter "$build/src/dld2vexa" --dldgen "$build/tools/dldgen" \
      --count $(((count + i) / jobs)) --seed $((seed + i)) --keep "$build/failures" &
    pids+=($!)
  done
  status=0
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  exit "$status"
fi

if [ -n "${CODEC_ROUNDS:-}" ]; then
  [ -f build/dev/CMakeCache.txt ] || cmake -S . -B build/dev -DCMAKE_BUILD_TYPE=Release -DDLD2VEXA_TESTS=ON >/dev/null
  cmake --build build/dev -j"${JOBS:-2}" --target kvxpack_tests
  KVX_CODEC_ROUNDS="$CODEC_ROUNDS" KVX_CODEC_SEED="${CODEC_SEED:-0}" \
    build/dev/tests/kvxpack_tests --gtest_filter='KvxDraft.RandomHeadersGiveTheSameBytesBothWays'
fi

seconds="${FUZZ_SECONDS:-60}"
seed="${FUZZ_SEED:-1}"
jobs="${JOBS:-2}"
build=build/fuzz
root="$PWD"

bash scripts/ensure-deps.sh fuzz
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDLD2VEXA_FUZZ=ON -DDLD2VEXA_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target fuzz_targets

if [ "$#" -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for source in fuzz/*_fuzz.cpp; do
    name="$(basename "$source" _fuzz.cpp)"
    targets+=("$name")
  done
fi

# One run: fresh working corpus, fixed limits, the log kept for the summary.
run_target() {
  local name="$1"
  local work="$root/$build/corpus/$name" artifacts="$root/$build/artifacts/$name"
  local scratch="$root/$build/tmp/$name"
  # The status of an earlier run must not stand in for a run that fails to start.
  rm -f "$root/$build/$name.rc" "$root/$build/$name.log"
  rm -rf "$work" "$artifacts" "$scratch"
  mkdir -p "$work" "$artifacts" "$scratch"
  cp -R "$root/fuzz/corpus/$name/." "$work/"
  local rc=0 dict=()
  [ -f "$root/fuzz/dict/$name.dict" ] && dict=(-dict="$root/fuzz/dict/$name.dict")
  # A target that crashes cannot remove its scratch files: keep them in the build tree.
  TMPDIR="$scratch" "$root/$build/fuzz/${name}_fuzz" "$work" "${dict[@]}" \
    -max_total_time="$seconds" -seed="$seed" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" >"$root/$build/$name.log" 2>&1 || rc=$?
  echo "$rc" >"$root/$build/$name.rc"
}

status=0
running=0
for name in "${targets[@]}"; do
  if [ ! -d "fuzz/corpus/$name" ]; then
    echo "fuzz: no seed corpus for $name" >&2
    exit 2
  fi
  echo "== fuzzing $name for ${seconds}s"
  run_target "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait || true

printf '%-16s %12s  %s\n' target executions result
for name in "${targets[@]}"; do
  log="$build/$name.log"
  rc="$(cat "$build/$name.rc" 2>/dev/null || echo 1)"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  if [ "$rc" = 0 ] && [ -z "$(ls -A "$build/artifacts/$name")" ]; then
    result=clean
  else
    result="FAILED (exit $rc, see $log and $build/artifacts/$name)"
    status=1
  fi
  printf '%-16s %12s  %s\n' "$name" "${runs:-?}" "$result"
done
if [ "$status" -ne 0 ]; then
  echo "fuzz: at least one target found a fault" >&2
  # The logs hold the fuzzed bytes; -a keeps grep from calling them binary.
  # Small artifacts are printed in base64, so that a CI log alone is enough
  # to replay the fault.
  for name in "${targets[@]}"; do
    grep -a -h -m1 -E '^==[0-9]+== ?ERROR|broken promise|runtime error' "$build/$name.log" >&2 || true
    for artifact in "$build/artifacts/$name"/*; do
      [ -f "$artifact" ] || continue
      echo "$artifact ($(stat -c %s "$artifact") bytes):" >&2
      head -c 4096 "$artifact" | base64 >&2
    done
  done
fi
exit "$status"
