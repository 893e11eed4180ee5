#!/usr/bin/env bash
# Contributors' check: formatting and clang-tidy over the project's sources.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure-deps.sh lint
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDLD2VEXA_TOOLS=ON >/dev/null
mapfile -t files < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${files[@]}"
mapfile -t sources < <(git ls-files 'src/*.cpp' 'vexapack/*.cpp' 'kvxpack/*.cpp' 'tools/*.cpp' 'kvxinfo/*.cpp')
clang-tidy -p build/release --quiet "${sources[@]}"
