#!/usr/bin/env bash
# Configures and builds into ./build (the program lands in ./build/bin).
# Uses ccache when the machine has it, so rebuilds of unchanged files are quick.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build build -j"$(nproc)"
