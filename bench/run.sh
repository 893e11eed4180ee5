#!/usr/bin/env bash
# Whole-process benchmarks of dld2vexa plus the in-process micro-benchmarks.
# Writes its data sets with the project's DLD writer into bench/out/ (about
# 2.5 GiB of disk) and prints a table with the ratios against the targets.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/ensure-deps.sh
if ! dpkg-query -W -f='${Status}' libbenchmark-dev 2>/dev/null | grep -q "install ok installed"; then
  if [ "$(id -u)" -eq 0 ]; then apt-get install -y -q libbenchmark-dev; else
    echo "Run: sudo apt-get install -y libbenchmark-dev" >&2; exit 1; fi
fi
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DDLD2VEXA_BENCH=ON -DDLD2VEXA_TESTS=OFF >/dev/null
cmake --build build/bench -j"${JOBS:-2}" >/dev/null
bin=$root/build/bench/src/dld2vexa
gen=$root/build/bench/tools/dldgen
measure="python3 $root/bench/measure.py"

out=$root/bench/out
rm -rf "$out" && mkdir -p "$out" && cd "$out"

# Converts every frame of header $1 ($3 frames) into $2; prints "<s> <KiB>".
convert() { $measure "$bin" "$1" 0 1 "$3" 1 "$2"; }

echo "Writing the data sets ..."
"$gen" --header large --hm largehm --version 2.2 --columns 1024 --rows 1024 --data-length 4 \
  --frames 256 --frame-range 1:256 >/dev/null
"$gen" --header many20k --hm many20khm --version 2.2 --columns 64 --rows 64 --data-length 2 \
  --frames 20000 --frame-range 1:20000 --channels 1:32 >/dev/null
"$gen" --header many10k --hm many10khm --version 2.2 --columns 64 --rows 64 --data-length 2 \
  --frames 10000 --frame-range 1:10000 --channels 1:32 >/dev/null

# Warm the file cache, then time a plain copy and the conversion.
cat largehm >/dev/null
read -r copy_s _ < <($measure cp largehm copy.bin)
rm -f copy.bin
read -r large_s large_kib < <(convert large large.kvx 256)
rm -f large.kvx

read -r m10_s _ < <(convert many10k many10k.kvx 10000)
read -r m20_s m20_kib < <(convert many20k many20k.kvx 20000)

# Appending one image to the 10,000-block file: the open walks every block.
read -r app_s _ < <($measure "$bin" many10k 0 1 1 1 many10k.kvx 10001)

frame_large_kib=$((1024 * 1024 * 4 / 1024))
frame_small_kib=$((64 * 64 * 2 / 1024))
ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }

echo
printf '%-42s %12s %7s  %s\n' "measurement" "value" "ratio" "target"
printf '%-42s %11ss\n' "copy of the 1 GiB HM file (cp)" "$copy_s"
printf '%-42s %11ss %7s  %s\n' "convert 256 x 1024x1024x4" "$large_s" "$(ratio "$large_s" "$copy_s")" "<= 1.5 x copy"
printf '%-42s %11ss\n' "convert 10,000 x 64x64x2, 32 channels" "$m10_s"
printf '%-42s %11ss %7s  %s\n' "convert 20,000 x 64x64x2, 32 channels" "$m20_s" "$(ratio "$m20_s" "$m10_s")" "<= 2.2 x the 10,000 run"
printf '%-42s %9sKiB %7s  %s\n' "peak memory, large frames" "$large_kib" "" "<= $((frame_large_kib + 32768)) KiB (frame + 32 MiB)"
printf '%-42s %9sKiB %7s  %s\n' "peak memory, 20,000 small frames" "$m20_kib" "" "<= $((frame_small_kib + 32768)) KiB (frame + 32 MiB)"
printf '%-42s %11ss %7s  %s\n' "append 1 image to a 10,000-block file" "$app_s" "" "well under 1 s"
echo

echo "Micro-benchmarks of the expression readers:"
"$root/build/bench/bench/expression_bench" --benchmark_min_time=0.2
cd "$root" && rm -rf "$out"
