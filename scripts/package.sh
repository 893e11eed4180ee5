#!/usr/bin/env bash
# Builds the Debian package from a fresh clone: a release build of its own in
# build/package (installing to /usr), then cpack.  Prints the package's path.
# Install it with:  sudo dpkg -i <path>
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/ensure-deps.sh package
jobs="${JOBS:-2}"
dir=build/package

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DDLD2VEXA_TESTS=OFF >/dev/null
cmake --build "$dir" -j"$jobs"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb="$(ls "$PWD/$dir"/*.deb)"
echo "Debian package: $deb"
