#!/usr/bin/env bash
# Builds the Debian package from a finished build tree, unpacks it into a
# scratch root as dpkg would install it, and runs the programs from there.
# Usage: package_test.sh BUILD_DIR CPACK PROGRAM:HELP_STATUS...
#   PROGRAM:HELP_STATUS  a program the package must hold, with the exit
#                        status of its "-h"
set -euo pipefail
build="$1" cpack="$2"
shift 2

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

"$cpack" --config "$build/CPackConfig.cmake" -B "$scratch/out" >/dev/null
debs=("$scratch"/out/*.deb)
if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "expected one .deb, got: ${debs[*]}"
fi
deb="${debs[0]}"

depends="$(dpkg-deb -f "$deb" Depends)"
[[ "$depends" == *zlib1g* ]] || fail "Depends lacks zlib: $depends"

root="$scratch/root"
dpkg -x "$deb" "$root"
for entry in "$@"; do
  program="${entry%%:*}" expected="${entry##*:}"
  binary="$root/usr/bin/$program"
  [ -x "$binary" ] || fail "$program is not in the package"
  status=0
  output="$("$binary" -h 2>&1)" || status=$?
  [ "$status" -eq "$expected" ] || fail "$program -h: exit status $status, expected $expected"
  grep -qi usage <<<"$output" || fail "$program -h printed no usage: $output"
  page="$root/usr/share/man/man1/$program.1.gz"
  [ -f "$page" ] || fail "manual page of $program is not in the package"
  [ -n "$(MANWIDTH=80 man -l "$page" 2>/dev/null)" ] || fail "manual page of $program is empty"
done
if [ -e "$root/usr/bin/kvxinfo" ]; then
  [[ "$depends" == *libpng* ]] || fail "Depends lacks libpng: $depends"
fi
[ -n "$(find "$root/usr/lib" -name dld2vexaConfig.cmake)" ] || fail "CMake package is missing"
grep -q "MIT License" "$root/usr/share/doc/dld2vexa/copyright" || fail "licence is missing"
zgrep -q "^dld2vexa (" "$root/usr/share/doc/dld2vexa/changelog.gz" || fail "changelog is missing"
echo "package $(basename "$deb") holds working programs; Depends: $depends"
