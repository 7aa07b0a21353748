#!/usr/bin/env bash
# Builds every fuzz target with clang and libFuzzer (AddressSanitizer and
# UndefinedBehaviorSanitizer included).
# Usage: scripts/fuzz-build.sh [BUILD_DIR] [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build-fuzz}"
jobs="${2:-2}"
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMIDRA_FUZZ=ON -DLUMIDRA_TESTS=ON \
  -DCMAKE_CXX_FLAGS="-O1 -g1" -DCMAKE_C_FLAGS="-O1 -g1" >/dev/null
targets=()
for src in tests/fuzz/fuzz_*.cpp; do
  targets+=("$(basename "$src" .cpp)")
done
cmake --build "$dir" -j"$jobs" --target "${targets[@]}"
