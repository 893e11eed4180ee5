#!/usr/bin/env bash
# Whole-process benchmarks of dld2vexa plus the in-process micro-benchmarks.
# Writes its data sets with the project's DLD writer into bench/out/ (about
# 2.5 GiB of disk, removed at the end, also when a step fails) and prints a
# table with the ratios against the targets.
#
# Every time is the best of REPEAT runs (default 3; twice as many for the
# short copy and large conversion): on a shared machine the fastest run is
# the least disturbed one.  Peak memory is the largest of the runs.  JOBS
# sets the build parallelism (default 2).
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
root=$PWD
repeat=${REPEAT:-3}
if ! [[ $repeat =~ ^[1-9][0-9]*$ ]]; then
  echo "REPEAT must be a positive number, not \"$repeat\"" >&2
  exit 2
fi

bash scripts/ensure-deps.sh
if ! dpkg-query -W -f='${Status}' libbenchmark-dev 2>/dev/null | grep -q "install ok installed"; then
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -q && apt-get install -y -q libbenchmark-dev
  elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    sudo apt-get update -q && sudo apt-get install -y -q libbenchmark-dev
  else
    echo "Run: sudo apt-get install -y libbenchmark-dev" >&2
    exit 1
  fi
fi

echo "Building (build/bench) ..."
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDLD2VEXA_BENCH=ON \
  -DDLD2VEXA_TESTS=OFF >/dev/null
cmake --build build/bench -j"${JOBS:-2}" --target dld2vexa dldgen expression_bench measure >/dev/null
bin=$root/build/bench/src/dld2vexa
gen=$root/build/bench/tools/dldgen
measure=$root/build/bench/bench/measure

out=$root/bench/out
rm -rf "$out"
mkdir -p "$out"
trap 'rm -rf "$out"' EXIT
cd "$out"

# Large HM file, two small ones and their outputs, with room to spare.
needed_kib=$((2600 * 1024))
free_kib=$(df -Pk . | awk 'NR == 2 { print $4 }')
if [ "$free_kib" -lt "$needed_kib" ]; then
  echo "bench/out needs about 2.6 GiB of free disk, $((free_kib / 1024)) MiB are free" >&2
  exit 1
fi

# The smaller of two times; the second may be empty.
min_of() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

# measure_into NAME OUTPUT BYTES COMMAND...: runs COMMAND under measure and
# keeps the shortest time in NAME_s and the largest peak memory in NAME_kib.
# OUTPUT must then hold at least BYTES bytes: a conversion that did not
# write every frame must not be timed as one.
measure_into() {
  local name=$1 output=$2 bytes=$3 result s kib size
  shift 3
  sync
  result=$("$measure" "$@")
  read -r s kib <<<"$result"
  local time_var=${name}_s memory_var=${name}_kib
  printf -v "$time_var" '%s' "$(min_of "$s" "${!time_var:-}")"
  if [ "$kib" -gt "${!memory_var:-0}" ]; then printf -v "$memory_var" '%s' "$kib"; fi
  size=$(stat -c %s "$output")
  if [ "$size" -lt "$bytes" ]; then
    echo "$output holds $size bytes, expected at least $bytes: the run is incomplete" >&2
    exit 1
  fi
}

echo "Writing the data sets ..."
"$gen" --header large --hm largehm --version 2.2 --columns 1024 --rows 1024 --data-length 4 \
  --frames 256 --frame-range 1:256 >/dev/null
"$gen" --header many20k --hm many20khm --version 2.2 --columns 64 --rows 64 --data-length 2 \
  --frames 20000 --frame-range 1:20000 --channels 1:32 >/dev/null
"$gen" --header many10k --hm many10khm --version 2.2 --columns 64 --rows 64 --data-length 2 \
  --frames 10000 --frame-range 1:10000 --channels 1:32 >/dev/null
large_frame=$((1024 * 1024 * 4))
small_frame=$((64 * 64 * 2))
sync

# Measurements that are compared with each other take turns, so that a
# disturbed stretch of time on a shared machine does not fall on one of
# them alone.
echo "Measuring (best of $repeat runs) ..."
# A plain copy of the bytes, never a shared-extent clone; the file cache
# holds the HM file for the copy and the conversion alike.  Both are short:
# twice as many rounds.
cat largehm >/dev/null
for ((round = 0; round < 2 * repeat; round++)); do
  rm -f copy.bin large.kvx
  measure_into copy copy.bin $((256 * large_frame)) cp --reflink=never largehm copy.bin
  rm -f copy.bin
  measure_into large large.kvx $((256 * large_frame)) "$bin" large 0 1 256 1 large.kvx
done
rm -f large.kvx

for ((round = 0; round < repeat; round++)); do
  rm -f many10k.kvx many20k.kvx
  measure_into m10 many10k.kvx $((10000 * small_frame)) "$bin" many10k 0 1 10000 1 many10k.kvx
  measure_into m20 many20k.kvx $((20000 * small_frame)) "$bin" many20k 0 1 20000 1 many20k.kvx
done
rm -f many20k.kvx
mv many10k.kvx many10k.orig

# Appending one image to the 10,000-block file: the open walks every block.
appended=$(($(stat -c %s many10k.orig) + small_frame))
for ((round = 0; round < repeat; round++)); do
  cp many10k.orig append.kvx
  measure_into append append.kvx "$appended" "$bin" many10k 0 1 1 1 append.kvx 10001
done
r=$("$measure" true)
read -r _ floor_kib <<<"$r"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
limit_large=$((large_frame / 1024 + 32768))
limit_small=$((small_frame / 1024 + 32768))

echo
printf '%-42s %12s %7s  %s\n' "measurement" "value" "ratio" "target"
printf '%-42s %11ss\n' "copy of the 1 GiB HM file (cp)" "$copy_s"
printf '%-42s %11ss %7s  %s\n' "convert 256 x 1024x1024x4" "$large_s" "$(ratio "$large_s" "$copy_s")" \
  "<= 1.5 x copy"
printf '%-42s %11ss\n' "convert 10,000 x 64x64x2, 32 channels" "$m10_s"
printf '%-42s %11ss %7s  %s\n' "convert 20,000 x 64x64x2, 32 channels" "$m20_s" \
  "$(ratio "$m20_s" "$m10_s")" "<= 2.2 x the 10,000 run"
printf '%-42s %9sKiB %7s  %s\n' "peak memory, large frames" "$large_kib" "" \
  "<= $limit_large KiB (frame + 32 MiB)"
printf '%-42s %9sKiB %7s  %s\n' "peak memory, 10,000 small frames" "$m10_kib" "" \
  "<= $limit_small KiB (frame + 32 MiB)"
printf '%-42s %9sKiB %7s  %s\n' "peak memory, 20,000 small frames" "$m20_kib" "" \
  "<= $limit_small KiB (frame + 32 MiB)"
printf '%-42s %11ss %7s  %s\n' "append 1 image to a 10,000-block file" "$append_s" "" "well under 1 s"
echo "(peak memory includes about $floor_kib KiB that any command shows here)"
echo

echo "Micro-benchmarks of the expression readers:"
"$root/build/bench/bench/expression_bench" --benchmark_min_time=0.2

# Listing the 10,000-block file with the Python package (Debian's python3,
# which has numpy): kvx.open reads only the leading keys of each header.
echo
PYTHONPATH=$root/python /usr/bin/python3 - many10k.orig "$repeat" <<'PY'
import sys
import time

import kvx

path, repeat = sys.argv[1], int(sys.argv[2])
best = float("inf")
for _ in range(repeat):
    start = time.perf_counter()
    count = len(kvx.open(path))
    best = min(best, time.perf_counter() - start)
assert count == 10000, f"{path} lists {count} blocks"
print(f"{'Python kvx.open, list 10,000 blocks':<42} {best:11.3f}s {'':>7}  <= 1 s")
PY

# kvxinfo --keys over the 10,000-image file: one row per image, each header
# read from the file (target: within 1 s).
cmake --build "$root/build/bench" -j"${JOBS:-2}" --target kvxinfo >/dev/null
kvxinfo=$root/build/bench/kvxinfo/kvxinfo
rows=$("$kvxinfo" --keys HS32C01,Title many10k.orig | wc -l)
if [ "$rows" -ne 10001 ]; then
  echo "kvxinfo --keys printed $rows lines, expected 10001" >&2
  exit 1
fi
for ((round = 0; round < repeat; round++)); do
  measure_into keys many10k.orig 0 "$kvxinfo" --keys HS32C01,Title many10k.orig
done
echo
printf '%-42s %11ss %7s  %s\n' "kvxinfo --keys over 10,000 images" "$keys_s" "" "<= 1 s"
