#!/usr/bin/env bash
# Whole-process benchmarks of dld2vexa and kvxinfo plus the in-process
# micro-benchmarks.  Writes its data sets with the project's DLD writer into
# a directory /tmp/dld2vexa-bench.* (about 5 GiB of disk at the most,
# removed at the end, also when a step fails) and prints a table of every
# target with its figure and its bound; the exit status is 1 when one is not
# met.
#
# The data sets are generated deterministically, so every output file must
# have the SHA-256 recorded in bench/outputs.sha256 (with the name of the
# data set directory replaced, see below): a faster converter that
# writes other bytes is no faster converter.  RECORD_SHA256=1 writes that
# list afresh instead of checking it (only for a changed data set).
#
# Times: CPU time (user + system) where a figure or ratio of the converter
# alone is wanted, as it is the steadier measure on a shared machine; wall
# time where the converter is compared with a plain copy.  Every time is the
# best of REPEAT runs (default 3; twice as many for the short copy and large
# conversion): the fastest run is the least disturbed one.  Peak memory is
# the largest of the runs.  JOBS sets the build parallelism (default 2).
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
root=$PWD
repeat=${REPEAT:-3}
if ! [[ $repeat =~ ^[1-9][0-9]*$ ]]; then
  echo "REPEAT must be a positive number, not \"$repeat\"" >&2
  exit 2
fi

bash scripts/ensure-deps.sh bench

echo "Building (build/bench) ..."
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDLD2VEXA_BENCH=ON \
  -DDLD2VEXA_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build build/bench -j"${JOBS:-2}" --target dld2vexa kvxinfo dldgen expression_bench \
  measure >/dev/null
bin=$root/build/bench/src/dld2vexa
info=$root/build/bench/kvxinfo/kvxinfo
gen=$root/build/bench/tools/dldgen
measure=$root/build/bench/bench/measure
sums=$root/bench/outputs.sha256
record=${RECORD_SHA256:-0}

# The converter records the absolute name of the header file in every
# image, so the data sets live in a directory whose name has the same
# length wherever the repository is, and that name is replaced by its
# template before an output is hashed.
canonical=/tmp/dld2vexa-bench.XXXXXX
out=$(mktemp -d "$canonical")
trap 'rm -rf "$out"' EXIT
cd "$out"

# At the most: the 200,000-frame HM file (1.6 GiB) and its output (3.2 GiB).
needed_kib=$((5200 * 1024))
free_kib=$(df -Pk . | awk 'NR == 2 { print $4 }')
if [ "$free_kib" -lt "$needed_kib" ]; then
  echo "$out needs about 5.1 GiB of free disk, $((free_kib / 1024)) MiB are free" >&2
  exit 1
fi

# The smaller of two times; the second may be empty.
min_of() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

# measure_into NAME OUTPUT BYTES COMMAND...: runs COMMAND under measure and
# keeps the shortest wall time in NAME_s, the shortest CPU time in NAME_cpu
# and the largest peak memory in NAME_kib.  OUTPUT must then hold at least
# BYTES bytes: a conversion that did not write every frame must not be
# timed as one.
measure_into() {
  local name=$1 output=$2 bytes=$3 result s kib cpu size
  shift 3
  sync
  result=$("$measure" "$@")
  read -r s kib cpu <<<"$result"
  local time_var=${name}_s cpu_var=${name}_cpu memory_var=${name}_kib
  printf -v "$time_var" '%s' "$(min_of "$s" "${!time_var:-}")"
  printf -v "$cpu_var" '%s' "$(min_of "$cpu" "${!cpu_var:-}")"
  if [ "$kib" -gt "${!memory_var:-0}" ]; then printf -v "$memory_var" '%s' "$kib"; fi
  size=$(stat -c %s "$output")
  if [ "$size" -lt "$bytes" ]; then
    echo "$output holds $size bytes, expected at least $bytes: the run is incomplete" >&2
    exit 1
  fi
}

# check_output FILE LABEL: FILE must have the SHA-256 recorded under LABEL.
new_sums=()
check_output() {
  local file=$1 label=$2 actual expected
  actual=$(LC_ALL=C sed "s|$out/|$canonical/|g" "$file" | sha256sum | cut -d' ' -f1)
  if [ "$record" = 1 ]; then
    new_sums+=("$actual  $label")
    return
  fi
  expected=$(awk -v l="$label" '$2 == l { print $1 }' "$sums")
  if [ -z "$expected" ]; then
    echo "$sums has no SHA-256 of $label" >&2
    exit 1
  fi
  if [ "$actual" != "$expected" ]; then
    echo "$label: SHA-256 $actual, recorded $expected: the output bytes changed" >&2
    exit 1
  fi
}

large_frame=$((1024 * 1024 * 4))
small_frame=$((64 * 64 * 2))
# The NeXus/HDF5 export of the Python package.
nexus=(env PYTHONPATH="$root/python" /usr/bin/python3 -m kvx.nexus)

echo "Measuring (best of $repeat runs) ..."
# Large frames against dd bs=4M of the same HM file.  Measurements that are
# compared with each other take turns, so that a disturbed stretch of time
# on a shared machine does not fall on one of them alone; both are short:
# twice as many rounds.  The file cache holds the HM file for both.
"$gen" --header large --hm largehm --version 2.2 --columns 1024 --rows 1024 --data-length 4 \
  --frames 256 --frame-range 1:256 >/dev/null
sync
cat largehm >/dev/null
for ((round = 0; round < 2 * repeat; round++)); do
  rm -f copy.bin large.kvx
  measure_into copy copy.bin $((256 * large_frame)) dd bs=4M if=largehm of=copy.bin status=none
  rm -f copy.bin
  measure_into large large.kvx $((256 * large_frame)) "$bin" large 0 1 256 1 large.kvx
done
check_output large.kvx large.kvx
# Exporting it to NeXus/HDF5 against h5py writing the same frames from
# memory and syncing them to disk, as the export syncs its file before it
# gets its name (timed inside that process, without reading them).
for ((round = 0; round < repeat; round++)); do
  rm -f large.nxs h5write.h5
  measure_into nexlarge large.nxs $((256 * large_frame)) "${nexus[@]}" large.kvx -o large.nxs
  rm -f large.nxs
  h5write_s=$(min_of "$(PYTHONPATH="$root/python" /usr/bin/python3 "$root/bench/h5write.py" \
    large.kvx h5write.h5)" "${h5write_s:-}")
  rm -f h5write.h5
done
rm -f large.kvx largehm large

"$gen" --header many20k --hm many20khm --version 2.2 --columns 64 --rows 64 --data-length 2 \
  --frames 20000 --frame-range 1:20000 --channels 1:32 >/dev/null
"$gen" --header many10k --hm many10khm --version 2.2 --columns 64 --rows 64 --data-length 2 \
  --frames 10000 --frame-range 1:10000 --channels 1:32 >/dev/null
for ((round = 0; round < repeat; round++)); do
  rm -f many10k.kvx many20k.kvx back10k.kvx
  measure_into m10 many10k.kvx $((10000 * small_frame)) "$bin" many10k 0 1 10000 1 many10k.kvx
  measure_into m20 many20k.kvx $((20000 * small_frame)) "$bin" many20k 0 1 20000 1 many20k.kvx
  # Backwards: last frame first, so the file holds its images in
  # descending order.
  measure_into back back10k.kvx $((10000 * small_frame)) \
    "$bin" many10k 0 10000 1 -1 back10k.kvx 10000
done
check_output many10k.kvx many10k.kvx
check_output many20k.kvx many20k.kvx
check_output back10k.kvx back10k.kvx
rm -f many20k.kvx many20khm many20k

# Listing every block of the ascending and of the descending file.
for ((round = 0; round < repeat; round++)); do
  measure_into list many10k.kvx 0 "$info" many10k.kvx
  measure_into listback back10k.kvx 0 "$info" back10k.kvx
done

# Tabulating one scaler and the title of every image; listing the file, and
# tabulating 33 keys as numbers, with the Python package (Debian's python3,
# which has numpy; the time includes starting the interpreter and importing
# numpy).
rows=$("$info" --keys HS32C01,Title many10k.kvx | wc -l)
if [ "$rows" -ne 10001 ]; then
  echo "kvxinfo --keys printed $rows lines, expected 10001" >&2
  exit 1
fi
for ((round = 0; round < repeat; round++)); do
  measure_into keys many10k.kvx 0 "$info" --keys HS32C01,Title many10k.kvx
  measure_into pylist many10k.kvx 0 env PYTHONPATH="$root/python" /usr/bin/python3 -c \
    'import sys, kvx; n = len(kvx.open(sys.argv[1])); sys.exit(n != 10000)' many10k.kvx
  # The 32 scaler counts and the frame time of every image as numbers.
  measure_into pytable many10k.kvx 0 env PYTHONPATH="$root/python" /usr/bin/python3 -c \
    'import sys, kvx
keys = ["HS32C%02d" % n for n in range(1, 33)] + ["HMDeltaTime"]
sys.exit(len(kvx.table(sys.argv[1], keys)["HMDeltaTime"]) != 10000)' many10k.kvx
done

# Exporting the 10,000 images to NeXus/HDF5 (uncompressed) against reading
# all their pixels with the Python package.
for ((round = 0; round < repeat; round++)); do
  measure_into pyread many10k.kvx 0 env PYTHONPATH="$root/python" /usr/bin/python3 -c \
    'import sys, kvx; sys.exit(sum(1 for b in kvx.open(sys.argv[1]) if b.data.size) != 10000)' \
    many10k.kvx
  rm -f many10k.nxs
  measure_into nexus10k many10k.nxs $((10000 * small_frame)) "${nexus[@]}" many10k.kvx \
    -o many10k.nxs
done
rm -f many10k.nxs

# Appending one image to a 10,000-block file: the open finds every block.
# Into the descending file the new image is the lowest number.
appended=$(($(stat -c %s many10k.kvx) + small_frame))
for ((round = 0; round < repeat; round++)); do
  cp many10k.kvx append.kvx
  measure_into append append.kvx "$appended" "$bin" many10k 0 1 1 1 append.kvx 10001
  cp back10k.kvx appendback.kvx
  measure_into appendback appendback.kvx "$appended" "$bin" many10k 0 1 1 1 appendback.kvx 0
done
check_output append.kvx append.kvx
check_output appendback.kvx appendback.kvx
rm -f append.kvx appendback.kvx many10k.kvx back10k.kvx

# Peak memory of a long run against a short one of the same frames.
"$gen" --header many200k --hm many200khm --version 2.2 --columns 64 --rows 64 --data-length 2 \
  --frames 200000 --frame-range 1:200000 --channels 1:32 >/dev/null
for ((round = 0; round < repeat; round++)); do
  rm -f many1k.kvx
  measure_into m1k many1k.kvx $((1000 * small_frame)) "$bin" many10k 0 1 1000 1 many1k.kvx
done
check_output many1k.kvx many1k.kvx
# The NeXus export of 1,000 and (below) of 100,000 of these frames.
for ((round = 0; round < repeat; round++)); do
  rm -f many1k.nxs
  measure_into nexus1k many1k.nxs $((1000 * small_frame)) "${nexus[@]}" many1k.kvx -o many1k.nxs
done
rm -f many1k.kvx many1k.nxs many10khm many10k
measure_into m200k many200k.kvx $((200000 * small_frame)) \
  "$bin" many200k 0 1 200000 1 many200k.kvx
check_output many200k.kvx many200k.kvx
rm -f many200k.kvx
"$bin" many200k 0 1 100000 1 many100k.kvx >/dev/null
measure_into nexus100k many100k.nxs $((100000 * small_frame)) "${nexus[@]}" many100k.kvx \
  -o many100k.nxs
rm -f many100k.kvx many100k.nxs many200khm many200k

r=$("$measure" true)
read -r _ floor_kib _ <<<"$r"

if [ "$record" = 1 ]; then
  printf '%s\n' "${new_sums[@]}" >"$sums"
  echo "Recorded the SHA-256 of ${#new_sums[@]} outputs in $sums"
fi

unmet=0
# row LABEL FIGURE BOUND TEXT: one target; FIGURE at most BOUND is met.
row() {
  local verdict=met
  if awk -v a="$2" -v b="$3" 'BEGIN { exit !(a > b) }'; then
    verdict="NOT MET"
    unmet=1
  fi
  printf '%-46s %12s  %-34s %s\n' "$1" "$2" "$4" "$verdict"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
per_frame_us() { awk -v s="$1" -v n="$2" 'BEGIN { printf "%.1f", s * 1e6 / n }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

echo
echo "Figures (s: best of the runs; MiB: largest peak resident memory):"
printf '  %-44s %9ss wall %9ss CPU\n' "dd bs=4M of the 1 GiB HM file" "$copy_s" "$copy_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "convert 256 x 1024x1024x4" "$large_s" "$large_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "convert 10,000 x 64x64x2, 32 channels" "$m10_s" "$m10_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "convert 20,000 x 64x64x2, 32 channels" "$m20_s" "$m20_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "convert the 10,000 backwards" "$back_s" "$back_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "kvxinfo list, ascending 10,000 blocks" "$list_s" "$list_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "kvxinfo list, descending 10,000 blocks" "$listback_s" \
  "$listback_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "kvxinfo --keys, 10,000 images" "$keys_s" "$keys_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "Python kvx.open, list 10,000 blocks" "$pylist_s" \
  "$pylist_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "Python kvx.table, 33 keys of 10,000 images" "$pytable_s" \
  "$pytable_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "append 1 image, ascending 10,000 blocks" "$append_s" \
  "$append_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "append 1 image, descending 10,000 blocks" "$appendback_s" \
  "$appendback_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "Python kvx, read all pixels of 10,000" "$pyread_s" \
  "$pyread_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "NeXus export, 10,000 x 64x64x2" "$nexus10k_s" \
  "$nexus10k_cpu"
printf '  %-44s %9ss wall %9ss CPU\n' "NeXus export, 256 x 1024x1024x4" "$nexlarge_s" \
  "$nexlarge_cpu"
printf '  %-44s %9ss wall\n' "h5py writes those 1 GiB from memory, synced" "$h5write_s"
printf '  %-44s %9s MiB (1,000 frames: %s MiB)\n' "peak memory, NeXus export of 100,000" \
  "$(mib "$nexus100k_kib")" "$(mib "$nexus1k_kib")"
printf '  %-44s %9s MiB (1,000 frames: %s MiB; large frames: %s MiB)\n' \
  "peak memory, 200,000 x 64x64x2" "$(mib "$m200k_kib")" "$(mib "$m1k_kib")" \
  "$(mib "$large_kib")"
echo "  (peak memory includes about $floor_kib KiB that any command shows here)"

echo
printf '%-46s %12s  %-34s %s\n' "target" "figure" "bound" ""
row "CPU per frame, 10,000 small frames (us)" "$(per_frame_us "$m10_cpu" 10000)" 30 "<= 30 us"
row "CPU of 20,000 / 10,000 small frames" "$(ratio "$m20_cpu" "$m10_cpu")" 2.1 "<= 2.1"
row "CPU of backward / forward 10,000 frames" "$(ratio "$back_cpu" "$m10_cpu")" 1.2 "<= 1.2"
row "CPU of append, descending / ascending" "$(ratio "$appendback_cpu" "$append_cpu")" 1.2 \
  "<= 1.2"
row "CPU of kvxinfo list, descending / ascending" "$(ratio "$listback_cpu" "$list_cpu")" 1.2 \
  "<= 1.2"
row "append 1 image to 10,000 blocks (s CPU)" "$append_cpu" 0.1 "<= 0.1 s"
row "append 1 image to 10,000 blocks (s wall)" "$append_s" 0.1 "<= 0.1 s"
row "wall of large frames / dd bs=4M" "$(ratio "$large_s" "$copy_s")" 1.1 "<= 1.1"
row "peak memory, large frames (MiB)" "$(mib "$large_kib")" \
  "$(mib $((large_frame / 1024 + 16384)))" "<= one frame + 16 MiB"
row "peak memory, 200,000 - 1,000 frames (MiB)" "$(mib $((m200k_kib - m1k_kib)))" 16 \
  "<= 16 MiB"
row "kvxinfo --keys over 10,000 images (s wall)" "$keys_s" 1 "<= 1 s"
row "Python kvx.open, 10,000 blocks (s wall)" "$pylist_s" 1 "<= 1 s"
row "CPU of kvx.table (33 keys) / kvx.open" "$(ratio "$pytable_cpu" "$pylist_cpu")" 2 "<= 2"
row "wall of NeXus export / kvx read, 10,000" "$(ratio "$nexus10k_s" "$pyread_s")" 2 "<= 2"
row "wall of NeXus export, large / h5py + sync" "$(ratio "$nexlarge_s" "$h5write_s")" 1.5 \
  "<= 1.5"
row "peak memory, NeXus 100,000 - 1,000 (MiB)" "$(mib $((nexus100k_kib - nexus1k_kib)))" 32 \
  "<= 32 MiB"
echo "SHA-256 of every output: as recorded in bench/outputs.sha256"
echo

echo "Micro-benchmarks of the expression readers:"
"$root/build/bench/bench/expression_bench" --benchmark_min_time=0.2
exit "$unmet"
