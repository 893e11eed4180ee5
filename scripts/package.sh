#!/usr/bin/env bash
# Builds the Debian packages from a fresh clone: a release build of its own
# in build/package (installing to /usr) with the distribution's hardening
# flags, then cpack, then lintian.  Prints the packages' paths.
#   dld2vexa          the programs and their manual pages
#   libdld2vexa-dev   libraries, headers, CMake and pkg-config files
# Install them with:  sudo dpkg -i <path>...
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/ensure-deps.sh package
jobs="${JOBS:-2}"
dir=build/package

# The flags Debian builds its packages with, all hardening features on
# (bindnow included).  CMake does not read CPPFLAGS; they go with the
# compiler's flags.  The optimisation level is dpkg-buildflags' one.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$dir" -j"$jobs"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
debs=("$PWD/$dir"/*.deb)
# Errors and warnings fail; the informational tags are printed.
lintian --info --fail-on error,warning "${debs[@]}"
printf 'Debian package: %s\n' "${debs[@]}"
