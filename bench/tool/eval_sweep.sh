#!/usr/bin/env bash
# Scores tesk-beat on the public evaluation corpus for several settings.
# Usage: bench/tool/eval_sweep.sh TOOL EVAL_DIR < settings
# Each line of the settings: RATE<TAB>LABEL<TAB>OPTIONS (e.g. "16000	default	").
# EVAL_DIR is a rendered copy of the corpus (render.py --rates 16000 44100).
# Prints one table row per setting: rate, label, F, P, CMLt, AMLt, RTF.
set -euo pipefail
tool=$(realpath "$1")
eval_dir=$2
printf '%-6s %-34s %6s %6s %6s %6s %8s\n' rate setting F P CMLt AMLt RTF
while IFS=$'\t' read -r rate label opts; do
  [ -z "$rate" ] && continue
  case "$rate" in \#*) continue ;; esac
  out=$(cd "$eval_dir" && /usr/bin/python3 run_eval.py --name "sweep" --rate "$rate" \
        --json "/tmp/tesk-beat-sweep.json" --cmd "$tool $opts {wav}" 2>&1)
  mean=$(printf '%s\n' "$out" | grep '^MEAN all' || true)
  if [ -z "$mean" ]; then
    printf '%-6s %-34s failed\n' "$rate" "$label"
    continue
  fi
  read -r f p cmlt amlt <<<"$(printf '%s\n' "$mean" | awk '{print $4, $5, $6, $7}')"
  rtf=$(printf '%s\n' "$mean" | sed -n 's/.*RTF(CPU) \([0-9.]*\)x.*/\1/p')
  printf '%-6s %-34s %6s %6s %6s %6s %8s\n' "$rate" "$label" "$f" "$p" "$cmlt" "$amlt" "$rtf"
done
rm -f /tmp/tesk-beat-sweep.json
