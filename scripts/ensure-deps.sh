#!/usr/bin/env bash
# Makes sure the tools and libraries one project command needs are present:
#
#   bash scripts/ensure-deps.sh demo|test|fuzz|bench|package|lint
#
# Each need is checked by what it provides (a program on the PATH, a header
# the compiler finds, a Python module), not by asking a package manager, so a
# machine that has everything does nothing here, with or without apt and
# dpkg.  What is missing is installed with apt-get when it can be (as root,
# or with password-less sudo); otherwise the script stops with the exact line
# to run.  DLD2VEXA_SKIP_DEPS=1 skips every check.
set -euo pipefail

if [ "${DLD2VEXA_SKIP_DEPS:-0}" = 1 ]; then exit 0; fi
command_name="${1:-}"

# Each check: "<kind>:<what> <Debian package>".
build=("program:cmake cmake" "program:g++ g++" "program:make make"
       "header:zlib.h zlib1g-dev" "header:png.h libpng-dev")
case "$command_name" in
  demo | package)
    needs=("${build[@]}")
    [ "$command_name" = package ] && needs+=("program:dpkg-shlibdeps dpkg-dev" "program:lintian lintian")
    # The demo draws its overview picture with the Python package.
    [ "$command_name" = demo ] && needs+=("python:numpy python3-numpy" "python:matplotlib python3-matplotlib")
    ;;
  test)
    needs=("${build[@]}" "program:ninja ninja-build" "header:gtest/gtest.h libgtest-dev"
           "program:valgrind valgrind"
           "program:dpkg-shlibdeps dpkg-dev" "program:man man-db" "program:groff groff-base"
           "program:pkg-config pkgconf"
           "python:numpy python3-numpy" "python:pytest python3-pytest"
           "python:h5py python3-h5py" "program:h5ls hdf5-tools" "program:nxdir nexus-tools"
           "python:matplotlib python3-matplotlib")
    ;;
  fuzz)
    needs=("${build[@]}" "program:clang++ clang" "fuzzer:libFuzzer libclang-rt-dev")
    ;;
  bench)
    needs=("${build[@]}" "header:benchmark/benchmark.h libbenchmark-dev"
           "python:numpy python3-numpy" "python:h5py python3-h5py")
    ;;
  lint)
    needs=("${build[@]}" "program:clang-format clang-format" "program:clang-tidy clang-tidy")
    ;;
  *)
    echo "usage: $0 demo|test|fuzz|bench|package|lint" >&2
    exit 2
    ;;
esac

present() {
  local kind="${1%%:*}" what="${1#*:}"
  case "$kind" in
    program) command -v "$what" >/dev/null ;;
    header) command -v g++ >/dev/null &&
              printf '#include <%s>\n' "$what" | g++ -E -x c++ - -o /dev/null 2>/dev/null ;;
    python) /usr/bin/python3 -c "import $what" 2>/dev/null ;;
    # clang names the runtime's full path when it has it, its bare name when not.
    fuzzer) command -v clang++ >/dev/null &&
              [[ "$(clang++ -print-file-name=libclang_rt.fuzzer-$(uname -m).a)" == /* ]] ;;
  esac
}

missing=()
for need in "${needs[@]}"; do
  present "${need% *}" || missing+=("${need##* }")
done
if [ "${#missing[@]}" -eq 0 ]; then exit 0; fi

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  apt-get update -q && apt-get install -y -q "${missing[@]}"
elif command -v apt-get >/dev/null && command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
  sudo apt-get update -q && sudo apt-get install -y -q "${missing[@]}"
else
  echo "Missing for '$command_name': ${missing[*]}" >&2
  echo "Run: sudo apt-get install -y ${missing[*]}" >&2
  echo "(or set DLD2VEXA_SKIP_DEPS=1 if they are installed where this check does not look)" >&2
  exit 1
fi
