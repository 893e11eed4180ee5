#!/usr/bin/env bash
# Builds the Debian packages from a finished build tree, checks them with
# lintian when it is installed (an error or a warning fails), unpacks them
# into a scratch root as dpkg would install them, and runs the programs from
# there.
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
programs="$(echo "$scratch"/out/dld2vexa_*.deb)" dev="$(echo "$scratch"/out/libdld2vexa-dev_*.deb)"
[ -f "$programs" ] && [ -f "$dev" ] || fail "expected dld2vexa and libdld2vexa-dev, got: $(ls "$scratch/out")"

if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$programs" "$dev" || fail "lintian: errors or warnings above"
else
  echo "lintian is not installed: the packages are not checked with it"
fi

depends="$(dpkg-deb -f "$programs" Depends)" dev_depends="$(dpkg-deb -f "$dev" Depends)"
[[ "$depends" == *zlib1g* ]] || fail "Depends lacks zlib: $depends"
# What the CMake package and the pkg-config files look for.
[[ "$dev_depends" == *zlib1g-dev* ]] || fail "libdld2vexa-dev's Depends lacks zlib1g-dev: $dev_depends"

root="$scratch/root"
dpkg -x "$programs" "$root"
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
[ -z "$(find "$root/usr/lib" -name '*.a' -o -name '*.cmake' 2>/dev/null)" ] ||
  fail "the programs' package holds development files"

dev_root="$scratch/dev"
dpkg -x "$dev" "$dev_root"
[ -n "$(find "$dev_root/usr/lib" -name dld2vexaConfig.cmake)" ] || fail "CMake package is missing"
[ -n "$(find "$dev_root/usr/lib" -name dld2vexa-kvxpack.pc)" ] || fail "pkg-config file is missing"
[ -f "$dev_root/usr/include/dld2vexa/kvxio.h" ] || fail "headers are missing"

for doc in "$root/usr/share/doc/dld2vexa" "$dev_root/usr/share/doc/libdld2vexa-dev"; do
  grep -q "^License: Expat" "$doc/copyright" || fail "$doc/copyright: no licence paragraph"
  grep -q "^ THE SOFTWARE IS PROVIDED" "$doc/copyright" || fail "$doc/copyright: licence text"
  zgrep -q "^dld2vexa (" "$doc/changelog.gz" || fail "$doc/changelog.gz is missing"
done
echo "packages $(basename "$programs") $(basename "$dev") hold working programs; Depends: $depends"
