#!/usr/bin/env bash
# Sets up, builds and runs kelvo. Options go to the program: ./run.sh --help
set -euo pipefail
cd "$(dirname "$0")"

scripts/setup.sh
# build/ is shared with ./test.sh: a tree configured there keeps its tests, so
# switching between the two commands neither reconfigures nor rebuilds.
tests=()
[ -f build/CMakeCache.txt ] || tests=(-DKELVO_BUILD_TESTS=OFF)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_SANITIZE=OFF "${tests[@]}" >/dev/null
cmake --build build -j"$(nproc)" --target kelvo
exec build/kelvo/kelvo "$@"
