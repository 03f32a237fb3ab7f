#!/usr/bin/env bash
# The main job on the bundled example: installs what is needed, builds
# tesk-beat and its plug-in, tracks the beats of examples/groove.flac and
# compares them with the known beats in examples/groove.beats.
# Usage: scripts/example.sh   (BUILD_DIR overrides the build directory)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=${BUILD_DIR:-build/example}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTESK_MUSIC_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target tesk-beat tesk-music
tool="$build/bin/tesk-beat"

echo
echo "== beats of examples/groove.flac (time in s, reliable, tempo in BPM, confidence)"
"$tool" --format csv examples/groove.flac

echo
echo "== against the known beats in examples/groove.beats (+-70 ms, beats after 5 s)"
"$tool" examples/groove.flac | awk -v tol=0.07 -v skip=5 '
  NR == FNR { if ($1 >= skip) ref[nr++] = $1; next }
  /^[0-9]/ { if ($1 >= skip) est[ne++] = $1 }
  END {
    i = 0; j = 0; hits = 0
    while (i < nr && j < ne) {
      d = est[j] - ref[i]
      if (d <= tol && d >= -tol) { hits++; i++; j++ } else if (d < 0) j++; else i++
    }
    p = ne ? hits / ne : 0; r = nr ? hits / nr : 0
    printf "F-measure %.3f: %d of %d known beats found, %d beats reported\n",
           (p + r) ? 2 * p * r / (p + r) : 0, hits, nr, ne
  }' examples/groove.beats -
