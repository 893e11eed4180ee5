#!/usr/bin/env bash
# Builds dld2vexa and the DLD data set writer, writes the bundled sample data
# set (20 frames of 256 x 256 pixels of 4 bytes) into demo/, converts it,
# lists the output with kvxinfo and writes a picture of its first frame to
# docs/first-frame.png, and an overview picture of the whole run to
# docs/demo-overview.png.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/ensure-deps.sh demo
# A build of its own without the tests, so the demo needs no test framework,
# with the DLD writer.
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDLD2VEXA_TOOLS=ON >/dev/null
cmake --build build/demo -j"${JOBS:-2}" --target dld2vexa dldgen kvxinfo >/dev/null
bin=$PWD/build/demo/src/dld2vexa
gen=$PWD/build/demo/tools/dldgen
info=$PWD/build/demo/kvxinfo/kvxinfo
docs=$PWD/docs
python=$PWD/python

rm -rf demo && mkdir demo && cd demo
"$gen" --header gasdet001 --hm gasdet001hm --version 2.2 --channels 1:4 \
  --frame-range 1:20 --frames 20 --columns 256 --rows 256 --data-length 4 --seed 7
echo "Sample data set in demo/: gasdet001 (DLD header file), gasdet001hm (HM file)"
echo
echo "\$ dld2vexa gasdet001 ="
"$bin" gasdet001 =
echo
echo "First lines of the first image's header in demo/gasdet001.kvx:"
head -c 8192 gasdet001.kvx | tr -d '\r' | grep -v '^ *$' | head -24
echo
echo "\$ kvxinfo gasdet001.kvx"
"$info" gasdet001.kvx
echo
echo "\$ kvxinfo --png ../docs/first-frame.png gasdet001.kvx 1"
mkdir -p "$docs"
"$info" --png "$docs/first-frame.png" gasdet001.kvx 1
echo "Picture of image 1: docs/first-frame.png"
echo
echo "\$ python3 -m kvx.overview gasdet001.kvx -o ../docs/demo-overview.png --overwrite"
# Debian's interpreter, which has numpy and matplotlib.
PYTHONPATH="$python" /usr/bin/python3 -m kvx.overview gasdet001.kvx \
  -o "$docs/demo-overview.png" --overwrite
echo "Overview of the run: docs/demo-overview.png"
