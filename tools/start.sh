#!/usr/bin/env bash
# Builds Quillcast (release build in ./build) and starts the program on the
# default data folder ($QUILLCAST_HOME, else $XDG_DATA_HOME/quillcast/).
set -euo pipefail
cd "$(dirname "$0")/.."
GEN=()
command -v ninja >/dev/null && GEN=(-G Ninja)
cmake -S . -B build "${GEN[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQC_BUILD_TESTS=OFF -DQC_BUILD_BENCH=OFF
cmake --build build -j "$(nproc)" --target quillcast
exec ./build/app/quillcast "$@"
