#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, 60 by default) with a fixed seed, on a copy of its
# committed seed corpus. Fails on any crash; crash inputs are kept in
# <build>/artifacts (FUZZ_BUILD_DIR, build/fuzz by default).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${FUZZ_BUILD_DIR:-build/fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=(state_file voice_cancel)

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTESK_MUSIC_FUZZ=ON -DTESK_MUSIC_TESTS=OFF -DTESK_MUSIC_TOOLS=OFF
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/%/_fuzzer}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts="$PWD/$build/artifacts"
mkdir -p "$artifacts"

for target in "${targets[@]}"; do
  echo "== fuzzing ${target} for ${seconds} s"
  cp -r "fuzz/corpus/${target}" "$work/${target}"
  # Standard output is closed: the state-file reader reports there.
  "$build/bin/${target}_fuzzer" -seed=1 -max_total_time="$seconds" -timeout=10 \
    -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$artifacts/${target}-" \
    "$work/${target}"
done
