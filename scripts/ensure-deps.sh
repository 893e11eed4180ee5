#!/usr/bin/env bash
# Makes sure the build tools and libraries are present.  Installs what is
# missing with apt-get when it can (as root, or with sudo), otherwise stops
# with the exact line to run.
set -euo pipefail

# Build and unit tests.
packages=(cmake g++ make libgtest-dev zlib1g-dev)
# kvxinfo writes pictures with libpng.
packages+=(libpng-dev)
# Fuzz targets: clang with libFuzzer and the sanitizer runtimes.
packages+=(clang libclang-rt-14-dev)
# Memory check of a whole conversion.
packages+=(valgrind)
# Debian package (dpkg-shlibdeps finds the run-time dependencies) and the
# manual page check.
packages+=(dpkg-dev man-db groff-base)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then exit 0; fi

if [ "$(id -u)" -eq 0 ]; then
  apt-get update -q && apt-get install -y -q "${missing[@]}"
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
  sudo apt-get update -q && sudo apt-get install -y -q "${missing[@]}"
else
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run: sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
