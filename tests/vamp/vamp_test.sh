#!/usr/bin/env bash
# The Vamp plug-in in a real host: vamp-simple-host finds tesk-music.so
# through VAMP_PATH, lists the plug-in with its outputs, and its beats of
# the bundled example (times and reliability, and the tempo of each beat)
# are the ones tesk-beat reports. With --python-path, the Python module's
# beats at default settings join the comparison: the three front ends must
# give one and the same list.
# Usage: vamp_test.sh --vamp-dir DIR --tool TESK_BEAT --example FILE
#                     [--python-path DIR_WITH_tesk_music]
set -euo pipefail

while [ $# -gt 0 ]; do
  case "$1" in
    --vamp-dir) vamp_dir=$2 ;;
    --tool) tool=$2 ;;
    --example) example=$2 ;;
    --python-path) python_path=$2 ;;
    *) echo "vamp_test: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done

fail() {
  echo "vamp_test: $*" >&2
  exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VAMP_PATH="$vamp_dir"

timeout 60 vamp-simple-host -l >"$work/list.out" 2>&1 || fail "vamp-simple-host -l failed"
for output in '"beats"' '"tempo"' '"confidence"'; do
  grep -q "$output" "$work/list.out" || { cat "$work/list.out" >&2; fail "no output $output listed"; }
done

# Host lines: " 2.488798186: 119.9 BPM reliable" (beats), " 2.488798186: 119.94" (tempo).
host() {
  (cd "$work" && timeout 120 vamp-simple-host "tesk-music:beattracker:$1" "$example") 2>/dev/null
}
host beats | awk -F': ' '/^ *[0-9.]+: /{ printf "%.4f,%d\n", $1, ($2 ~ / reliable$/) }' \
  >"$work/vamp.beats"
host tempo | awk -F': ' '/^ *[0-9.]+: /{ printf "%.4f,%s\n", $1, $2 }' >"$work/vamp.tempo"
timeout 120 "$tool" --format csv --no-progress "$example" 2>/dev/null >"$work/tool.csv"
awk -F, 'NR > 1 && !/^#/ { print $1 "," $2 }' "$work/tool.csv" >"$work/tool.beats"
awk -F, 'NR > 1 && !/^#/ { print $1 "," ($3 == "" ? 0 : $3) }' "$work/tool.csv" >"$work/tool.tempo"

front_ends="vamp"
if [ -n "${python_path:-}" ]; then
  # Decoded as libsndfile gives it to the tool and the host: 16-bit samples / 32768.
  PYTHONPATH="$python_path" timeout 120 /usr/bin/python3 - "$example" >"$work/python.beats" <<'PY' ||
import subprocess, sys
import numpy as np
import tesk_music
def soxi(flag):
    return int(subprocess.run(["soxi", flag, sys.argv[1]], check=True, capture_output=True,
                              text=True).stdout)
raw = subprocess.run(["sox", sys.argv[1], "-t", "raw", "-e", "signed", "-b", "16", "-"],
                     check=True, capture_output=True).stdout
samples = np.frombuffer(raw, dtype="<i2").astype(np.float32).reshape(-1, soxi("-c")) / 32768.0
result = tesk_music.track(samples, soxi("-r"))
for time, reliable in zip(result.times, result.reliable):
    print("%.4f,%d" % (time, reliable))
PY
    fail "the Python module failed on the example"
  front_ends="vamp python"
fi

# One list of beats (time to 0.1 ms, reliable) from every front end: each
# must equal the tool's, so all of them are the same.
[ "$(wc -l <"$work/tool.beats")" -gt 10 ] || fail "the tool found too few beats to compare"
for front_end in $front_ends; do
  diff "$work/tool.beats" "$work/$front_end.beats" >&2 ||
    fail "the $front_end front end's beats are not the tool's"
done
# The tool writes tempi to 0.01 BPM, the host all of their digits.
paste -d, "$work/tool.tempo" "$work/vamp.tempo" | awk -F, '
  NF != 4 || $1 != $3 || ($2 - $4 > 0.005001 || $4 - $2 > 0.005001) { bad = 1; print "tempo: " $0 }
  END { exit bad }' >&2 || fail "the plug-in's tempi are not the tool's"
[ "$(wc -l <"$work/tool.tempo")" = "$(wc -l <"$work/vamp.tempo")" ] ||
  fail "the plug-in gives another number of tempi"
# One onset strength per analysis frame (the host pads the last block with
# zeros: a few frames more), the frames' own: at each beat's frame the one
# the tool reports with the beat's vectors.
host onset >"$work/vamp.onset"
timeout 120 "$tool" --format json --vectors --no-progress "$example" 2>/dev/null >"$work/tool.json"
/usr/bin/python3 - "$work/vamp.onset" "$work/tool.json" <<'PY' || fail "the plug-in's onsets are not the frames' onsets"
import json, sys
onsets = [float(line.split(":")[1]) for line in open(sys.argv[1]) if ":" in line]
tool = json.load(open(sys.argv[2]))
frames = tool["summary"]["frames"]
assert frames <= len(onsets) <= frames + 6, (len(onsets), frames)
assert sum(o > 0 for o in onsets) > frames // 4, "too few frames with onsets"
for beat in tool["beats"]:
    want, got = sum(beat["onset"]), onsets[beat["frame"]]
    assert abs(got - want) <= 1e-5 * max(1.0, abs(want)), (beat["frame"], got, want)
PY
echo "vamp_test: $(wc -l <"$work/vamp.beats") beats, the same from tesk-beat and: $front_ends; and the onsets of the plug-in's frames"
