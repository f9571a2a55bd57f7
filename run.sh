#!/usr/bin/env bash
# Sets up and builds kelvo. The program itself does not exist yet: for now this
# builds the libraries only and says so.
set -euo pipefail
cd "$(dirname "$0")"

scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
echo "kelvo: the libraries are built; the program and its window come in a later step."
