#!/usr/bin/env bash
# Runs the converter under valgrind on a small generated data set: a
# conversion into a new file, an append to it, and a run that fails because
# the images exist already must all be free of invalid reads and writes and
# of definite or indirect leaks.
# usage: valgrind-check.sh VALGRIND DLD2VEXA DLDGEN
set -euo pipefail
valgrind="$1" converter="$2" dldgen="$3"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

leakcheck=("$valgrind" --error-exitcode=1 --quiet --leak-check=full
           --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect)

"$dldgen" --header gasdet001 --hm gasdet001hm --columns 32 --rows 16 --frames 3

echo "== new file: frames 1 to 3 into images 1 to 3"
"${leakcheck[@]}" "$converter" gasdet001 = >new.out
echo "== append: frames 1 to 3 into images 4 to 6"
"${leakcheck[@]}" "$converter" gasdet001 0 1 3 1 = 4 >append.out
blocks="$(grep -ac '^KVX_DataBlockID = ' gasdet001.kvx)"
if [[ "$blocks" != 6 ]]; then
  echo "expected 6 images in the output file, found $blocks" >&2
  exit 1
fi

echo "== failing run: image 1 exists already"
status=0
"${leakcheck[@]}" "$converter" gasdet001 = >fail.out 2>fail.err || status=$?
# 255 is the converter's own failure; valgrind's error exit is 1.
if [[ "$status" != 255 ]]; then
  cat fail.err >&2
  echo "expected the converter's failure status 255, got $status" >&2
  exit 1
fi
echo "valgrind: no errors"
