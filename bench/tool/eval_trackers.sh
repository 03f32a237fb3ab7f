#!/usr/bin/env bash
# The accuracy table of the README: tesk-beat's trackers, online and offline,
# on the public evaluation corpus at both renderings, clean and with pink
# noise at 20 dB SNR; then the beat timing error and how well the confidence
# separates right from wrong beats.
# Usage: bench/tool/eval_trackers.sh TOOL EVAL_DIR
# EVAL_DIR is a writable, rendered copy of the corpus (render.py --rates 16000 44100).
set -euo pipefail
tool=$(realpath "$1")
eval_dir=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
for rate in 16000 44100; do
  [ -d "$eval_dir/cache/noisy20_$rate" ] ||
    (cd "$eval_dir" && /usr/bin/python3 make_noisy.py --snr 20 --rate "$rate" >/dev/null)
done
sweep() {  # LABEL OPTIONS [AUDIO_SUFFIX]
  for rate in 16000 44100; do
    dir=$eval_dir/cache/wav$rate
    [ -n "${3:-}" ] && dir=$eval_dir/cache/$3_$rate
    mean=$(cd "$eval_dir" && /usr/bin/python3 run_eval.py --name eval --rate "$rate" \
             --audio-dir "$dir" --json /tmp/tesk-beat-eval.json --cmd "$tool $2 {wav}" 2>&1 |
           grep '^MEAN all')
    printf '%-44s %6s  F %s  CMLt %s  AMLt %s\n' "$1" "$rate" \
      $(printf '%s\n' "$mean" | awk '{print $4, $6, $7}')
  done
}
sweep "bar-pointer, online" ""
sweep "bar-pointer, offline" "--offline"
sweep "stpm (specified node)" "--tracker stpm"
sweep "bar-pointer, online, pink noise 20 dB" "" noisy20
sweep "bar-pointer, offline, pink noise 20 dB" "--offline" noisy20
sweep "stpm, pink noise 20 dB" "--tracker stpm" noisy20
for rate in 16000 44100; do
  for mode in "" "--offline"; do
    printf 'timing %-6s %-10s ' "$rate" "${mode:-online}"
    /usr/bin/python3 "$here/timing_error.py" --cmd "$tool $mode {wav}" \
      --audio-dir "$eval_dir/cache/wav$rate" --gt-dir "$eval_dir/gt"
    printf 'confidence %-6s %-10s ' "$rate" "${mode:-online}"
    /usr/bin/python3 "$here/confidence_separation.py" --cmd "$tool --format csv $mode {wav}" \
      --audio-dir "$eval_dir/cache/wav$rate" --gt-dir "$eval_dir/gt"
  done
done
rm -f /tmp/tesk-beat-eval.json
