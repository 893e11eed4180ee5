#!/usr/bin/env bash
# Kill trials: one long conversion is killed with SIGKILL at random moments.
# After every kill:
#   - kvxinfo lists the whole blocks of the output file (and exits 0, or 4
#     when the kill tore the last block);
#   - those blocks are byte-identical to an undisturbed conversion;
#   - kvxinfo --repair makes the file appendable (a second --repair finds
#     nothing to do);
#   - a second run on a copy completes it, byte-identical to the undisturbed
#     conversion;
# and the long run then goes on from the repaired file until the next kill.
# At the end the long run completes and its file is compared once more.
#
# usage: scripts/kill-trials.sh [BUILD_DIR] [KILLS] [FRAMES]
#   BUILD_DIR  build tree with src/dld2vexa, kvxinfo/kvxinfo, tools/dldgen
#              (default build/release)
#   KILLS      kills to make (default 60)
#   FRAMES     frames of the data set (default 5000)
# Prints one line per kill and a summary; exits 1 at the first failure.
set -euo pipefail

build="$(cd "${1:-build/release}" && pwd)"
kills_wanted="${2:-60}"
frames="${3:-5000}"
convert="$build/src/dld2vexa"
kvxinfo="$build/kvxinfo/kvxinfo"
dldgen="$build/tools/dldgen"

work="$(mktemp -d "${TMPDIR:-/tmp}/kill-trials.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() {
  echo "FAIL (kill $kills): $*" >&2
  exit 1
}

# Converts frames FIRST..FRAMES into OUT as images FIRST..FRAMES.
run_from() {
  "$convert" gasdet001 = "$1" "$frames" 1 "$2" "$1" = </dev/null >/dev/null 2>&1
}

# Frames of 128 x 128 pixels of 4 bytes: a block's binary section takes
# long enough to write that kills land inside it as well as between blocks.
side=128
"$dldgen" --header gasdet001 --hm gasdet001hm --frames "$frames" --columns "$side" --rows "$side" \
  --data-length 4 --seed 7
run_from 1 reference.kvx || { echo "the undisturbed conversion failed" >&2; exit 1; }

# Whole blocks that kvxinfo lists in run.kvx.
whole_blocks() {
  local listing status=0
  listing="$("$kvxinfo" run.kvx 2>/dev/null)" || status=$?
  # 4: a torn last block that no run holds, which --repair cuts off.
  [ "$status" -eq 0 ] || [ "$status" -eq 4 ] || fail "kvxinfo does not list the file ($status)"
  sed -n 's/^total: \([0-9]*\) blocks\{0,1\},.*/\1/p' <<<"$listing"
}

# Sets `written` to the bytes process PID has written so far (its blocks
# and its progress lines); false once it has ended.
read_written() {
  local line state key value
  read -r line <"/proc/$1/stat" 2>/dev/null || return 1
  state=${line##*) }
  [ "${state%% *}" != Z ] || return 1
  while read -r key value; do
    if [ "$key" = wchar: ]; then
      written=$value
      return 0
    fi
  done <"/proc/$1/io" 2>/dev/null
  return 1
}

kills=0 early=0 between=0 torn_header=0 torn_data=0 removed=0 whole=0
header_size=8192
block_size=$((header_size + side * side * 4))
while [ "$kills" -lt "$kills_wanted" ]; do
  whole_before="$whole"
  # The converter itself is the background job, so that the kill hits it.
  "$convert" gasdet001 = $((whole + 1)) "$frames" 1 run.kvx $((whole + 1)) = \
    </dev/null >/dev/null 2>&1 &
  runner=$!
  # Killed once the run has written 1 to 100 blocks' worth of bytes.  A
  # kill after a random time would land ever more often while the run
  # starts, which walks the blocks already there.  Polled with builtins
  # only: a poll that starts a process lets hundreds of blocks go by.
  target=$(((RANDOM % 100 + 1) * block_size))
  written=0
  while [ "$written" -lt "$target" ] && read_written "$runner"; do :; done
  kill -KILL "$runner" 2>/dev/null || true
  status=0
  { wait "$runner"; } 2>/dev/null || status=$?
  if [ "$status" -eq 0 ]; then
    echo "the run ended before $kills_wanted kills; use more frames" >&2
    exit 1
  fi
  [ "$status" -eq 137 ] || fail "the run failed with status $status"
  kills=$((kills + 1))
  if [ ! -e run.kvx ]; then
    # Killed before it made the file (a slow start, a sanitizer build).
    early=$((early + 1))
    echo "kill $kills: before the output file was made"
    continue
  fi

  whole="$(whole_blocks)"
  [ -n "$whole" ] || fail "no total in the listing"
  [ "$whole" -ge "$whole_before" ] || fail "$whole whole blocks, $whole_before before the run"
  report="$("$kvxinfo" --repair run.kvx 2>&1)" || fail "--repair: $report"
  size="$(stat -c %s run.kvx)"
  cmp -s -n "$size" run.kvx reference.kvx || fail "the whole blocks differ from the reference"
  [ "$size" -eq "$((whole * block_size))" ] || fail "$size bytes for $whole blocks"
  case "$report" in
    *"nothing to repair"*) between=$((between + 1)); cut=0 ;;
    *"removed the incomplete last block"*)
      cut="$(sed -n 's/.*(\([0-9]*\) bytes).*/\1/p' <<<"$report")"
      removed=$((removed + cut))
      if [ "$cut" -lt "$header_size" ]; then torn_header=$((torn_header + 1));
      else torn_data=$((torn_data + 1)); fi ;;
    *) fail "unexpected report: $report" ;;
  esac
  again="$("$kvxinfo" --repair run.kvx 2>&1)" || fail "second --repair: $again"
  [[ "$again" == *"nothing to repair"* ]] || fail "second --repair: $again"
  cp run.kvx second.kvx
  run_from $((whole + 1)) second.kvx || fail "the second run does not complete the file"
  cmp -s second.kvx reference.kvx || fail "the completed file differs from the reference"
  echo "kill $kills: $whole whole blocks, removed $cut bytes"
done
run_from $((whole + 1)) run.kvx || fail "the last run does not complete the file"
cmp -s run.kvx reference.kvx || fail "the completed long run differs from the reference"

echo "kill trials: $kills kills over one run of $frames frames;" \
  "$early before the file was made, $between between blocks, $torn_header in a header, $torn_data in a binary section;" \
  "$removed bytes removed by --repair; every file completed byte-identical to the reference"
