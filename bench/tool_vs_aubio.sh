#!/usr/bin/env bash
# Speed and memory of tesk-beat at its default settings (the bar-pointer
# tracker, analysed at 44.1 kHz) against aubiotrack (aubio-tools, defaults),
# both measured in the same run on the same files. Prints, per input: audio
# length, CPU time (user + system) and real-time factor (audio seconds / CPU
# seconds) of each, the CPU-time ratio aubiotrack / tesk-beat, and the peak
# resident memory of each.
# The inputs are the bundled example made 4 minutes (a song's length) and
# 20 minutes long at 44.1 kHz stereo (decoding is part of the pipeline),
# plus any audio files given on the command line. Each timing is the
# fastest of three runs.
# Usage: [TESK_BEAT_ARGS="--activation learned"] bench/tool_vs_aubio.sh [BUILD_DIR [AUDIO_FILE...]]
# TESK_BEAT_ARGS: options tesk-beat runs with (none: its defaults).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh aubio-tools sox time

build=${1:-build/bench-tool}
[ $# -gt 0 ] && shift
tool="$build/bin/tesk-beat"
if [ ! -x "$tool" ] || [ ! -f "$build/lib/libtesk-music.tlb" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTESK_MUSIC_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 --target tesk-beat tesk-music
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tool-vs-aubio.XXXXXX")
trap 'rm -rf "$work"' EXIT
sox examples/groove.flac -r 44100 -c 2 "$work/four_minutes.wav" repeat 10 trim 0 240
sox examples/groove.flac -r 44100 -c 2 "$work/twenty_minutes.wav" repeat 50 trim 0 1200
inputs=("$work/four_minutes.wav" "$work/twenty_minutes.wav" "$@")

# Fastest of three runs: "cpu_seconds peak_kb".
measure() {
  local best="" line
  for _ in 1 2 3; do
    /usr/bin/time -f '%U %S %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
      echo "failed: $* ($(tail -1 "$work/err"))" >&2
      return 1
    }
    line=$(awk '{printf "%.3f %d\n", $1 + $2, $3}' "$work/time")
    if [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN{exit !(a < b)}'; then
      best=$line
    fi
  done
  echo "$best"
}

printf '%-20s %8s | %9s %9s %9s | %9s %9s %9s | %10s\n' input audio_s \
  tool_cpu tool_RTF tool_MB aubio_cpu aubio_RTF aubio_MB aubio/tool
total_audio=0; total_tool=0; total_aubio=0
for f in "${inputs[@]}"; do
  seconds=$(soxi -D "$f")
  # shellcheck disable=SC2086  # the options are split as a shell would
  read -r tool_cpu tool_kb <<<"$(measure "$tool" ${TESK_BEAT_ARGS:-} "$f")"
  read -r aubio_cpu aubio_kb <<<"$(measure aubiotrack -i "$f")"
  awk -v n="$(basename "$f")" -v s="$seconds" -v tc="$tool_cpu" -v tk="$tool_kb" \
      -v ac="$aubio_cpu" -v ak="$aubio_kb" 'BEGIN {
    tc = tc > 0 ? tc : 0.001; ac = ac > 0 ? ac : 0.001
    printf "%-20s %8.1f | %9.3f %8.0fx %9.1f | %9.3f %8.0fx %9.1f | %9.1fx\n",
           substr(n, 1, 20), s, tc, s / tc, tk / 1024, ac, s / ac, ak / 1024, ac / tc }'
  total_audio=$(awk -v a="$total_audio" -v b="$seconds" 'BEGIN{print a + b}')
  total_tool=$(awk -v a="$total_tool" -v b="$tool_cpu" 'BEGIN{print a + b}')
  total_aubio=$(awk -v a="$total_aubio" -v b="$aubio_cpu" 'BEGIN{print a + b}')
done
awk -v s="$total_audio" -v t="$total_tool" -v a="$total_aubio" 'BEGIN {
  printf "all: tesk-beat %.0fx real time, aubiotrack %.0fx real time, CPU-time ratio aubiotrack/tesk-beat %.2f\n",
         s / t, s / a, a / t }'
