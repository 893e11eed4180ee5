#!/usr/bin/env bash
# Configures the project as the README's install commands do, with no
# options, and checks that the build holds the libraries and programs but
# none of the tests, fuzz targets or developer tools, and that it does not
# look for GoogleTest.
# Usage: plain_build_test.sh SOURCE_DIR CMAKE
set -euo pipefail
source_dir="$1" cmake="$2"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

"$cmake" -S "$source_dir" -B "$scratch" >"$scratch/configure.log"
grep -qi gtest "$scratch/CMakeCache.txt" && fail "a plain build looks for GoogleTest"
# Make lists "... name", Ninja "name: phony".
targets="$("$cmake" --build "$scratch" --target help |
  sed -n 's/^\.\.\. \([^ ]*\).*/\1/p; s/^\([^ /:]*\): phony$/\1/p')"
for wanted in vexabase kvxpack vexapack dld2vexa kvxinfo; do
  grep -qx "$wanted" <<<"$targets" || fail "a plain build lacks $wanted"
done
unwanted="$(grep -E '^(dldgen|dldwriter|.*_tests|.*_fuzz|fuzz_support|kvx_samples)$' <<<"$targets" || true)"
[ -z "$unwanted" ] || fail "a plain build has" $unwanted
