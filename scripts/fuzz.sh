#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, 30 by default) with a fixed seed, on a copy of its
# committed seed corpus, in a scratch working directory (the node and the
# engine write their files there). Fails on any crash, sanitizer report,
# uncaught exception or hang; crash inputs are kept in <build>/artifacts
# (FUZZ_BUILD_DIR, build/fuzz by default).
# Targets: audio_file (bytes as an audio file through the tool's input,
# framing, spectrum and the BeatTracker node), engine (settings and spectra
# into the engine), state_file (the canceller's state-file reader) and
# voice_cancel (VoiceCancel).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${FUZZ_BUILD_DIR:-build/fuzz}
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac  # the targets run elsewhere
seconds=${FUZZ_SECONDS:-30}
targets=(audio_file engine state_file voice_cancel)

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTESK_MUSIC_FUZZ=ON -DTESK_MUSIC_TESTS=OFF -DTESK_MUSIC_TOOLS=ON
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/%/_fuzzer}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts="$build/artifacts"
fuzzers="$build/bin"
mkdir -p "$artifacts"

for target in "${targets[@]}"; do
  echo "== fuzzing ${target} for ${seconds} s"
  cp -r "fuzz/corpus/${target}" "$work/${target}"
  mkdir "$work/${target}.cwd"
  # Standard output is closed: the engine, the node and the state-file
  # reader report there.
  (cd "$work/${target}.cwd" &&
    "$fuzzers/${target}_fuzzer" -seed=1 -max_total_time="$seconds" -timeout=10 \
      -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$artifacts/${target}-" \
      "$work/${target}")
done
