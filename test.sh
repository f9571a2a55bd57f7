#!/usr/bin/env bash
# Sets up, builds and runs kelvo's whole test suite.
#   ./test.sh              optimised build in build/
#   ./test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
cd "$(dirname "$0")"

dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_BUILD_TESTS=ON -DKELVO_SANITIZE=OFF)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_BUILD_TESTS=ON -DKELVO_SANITIZE=ON)
  shift
fi

scripts/setup.sh --test
cmake -S . -B "$dir" "${flags[@]}"
cmake --build "$dir" -j"$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" "$@"
