#!/usr/bin/env bash
# Sets up, builds and runs kelvo. Options go to the program: ./run.sh --help
set -euo pipefail
cd "$(dirname "$0")"

scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_BUILD_TESTS=OFF -DKELVO_SANITIZE=OFF >/dev/null
cmake --build build -j"$(nproc)" --target kelvo
exec build/kelvo/kelvo "$@"
