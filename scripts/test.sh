#!/usr/bin/env bash
# Installs what is needed, then builds and runs every test: a release build,
# a build with AddressSanitizer and UndefinedBehaviorSanitizer, and the
# bounded fuzzing runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)

echo "== release build and tests"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DTESK_MUSIC_TESTS=ON
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs"

echo "== sanitizer build and tests"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESK_MUSIC_TESTS=ON -DTESK_MUSIC_SANITIZE=ON
cmake --build build/sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j"$jobs"

if [ -f scripts/fuzz.sh ]; then
  echo "== fuzzing"
  bash scripts/fuzz.sh
fi
