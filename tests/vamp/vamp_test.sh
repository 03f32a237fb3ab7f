#!/usr/bin/env bash
# The Vamp plug-in in a real host: vamp-simple-host finds tesk-music.so
# through VAMP_PATH, lists the plug-in with its outputs (each, and each
# parameter, described in tesk-music.ttl, which declares the doap prefix
# Sonic Visualiser needs), and its beats of the bundled example (times and
# reliability, and the tempo of each beat) are the ones tesk-beat reports.
# With --python-path, the Python module's beats at default settings join the
# comparison: the three front ends must give one and the same list. The test
# host vamp_run gives the same beats with another block and step size, and
# offline decoding's beats; a NaN sample is said on standard error and the
# beats go on.
# Usage: vamp_test.sh --vamp-dir DIR --tool TESK_BEAT --host VAMP_RUN --example FILE
#                     [--python-path DIR_WITH_tesk_music]
set -euo pipefail

while [ $# -gt 0 ]; do
  case "$1" in
    --vamp-dir) vamp_dir=$2 ;;
    --tool) tool=$2 ;;
    --host) vamp_run=$2 ;;
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
for output in '"beats"' '"tempo"' '"confidence"' '"downbeats"'; do
  grep -q "$output" "$work/list.out" || { cat "$work/list.out" >&2; fail "no output $output listed"; }
done
timeout 60 vamp-simple-host --list-full 2>&1 | awk '/Identifier:/ && !/:.*:/ { print $3 }' >"$work/ids"
[ "$(wc -l <"$work/ids")" -gt 8 ] || fail "too few parameters and outputs listed"
while read -r id; do
  grep -q "vamp:identifier *\"$id\"" "$vamp_dir/tesk-music.ttl" || fail "tesk-music.ttl lacks $id"
done <"$work/ids"
# Sonic Visualiser expands doap:download-page for every plug-in it has RDF
# for, with only the prefixes the documents on its path declare: without
# doap, it makes no layers from the plug-in.
grep -q '^@prefix doap: *<http://usefulinc.com/ns/doap#> *\.' "$vamp_dir/tesk-music.ttl" ||
  fail "tesk-music.ttl does not declare the doap prefix Sonic Visualiser needs"

# Host lines: " 2.488798186: 119.9 BPM reliable" (beats), " 2.488798186: 119.94" (tempo).
host() {
  (cd "$work" && timeout 120 vamp-simple-host "tesk-music:beattracker:$1" "$example") 2>/dev/null
}
host beats | awk -F': ' '/^ *[0-9.]+: /{ printf "%.4f,%d\n", $1, ($2 ~ / reliable$/) }' \
  >"$work/vamp.beats"
host tempo | awk -F': ' '/^ *[0-9.]+: /{ printf "%.4f,%s\n", $1, $2 }' >"$work/vamp.tempo"
timeout 120 "$tool" --format csv --no-progress "$example" 2>/dev/null >"$work/tool.csv"
awk -F, 'NR > 1 && !/^#/ { print $1 "," $2 }' "$work/tool.csv" >"$work/tool.beats"
# Every beat has the tracker's tempo, a discarded one too; none before it has one.
awk -F, 'NR > 1 && !/^#/ && $3 != "" { print $1 "," $3 }' "$work/tool.csv" >"$work/tool.tempo"
grep -q ',0,[0-9]' "$work/tool.csv" || fail "no discarded beat with a tempo to compare"

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
# The downbeats are the tool's beats that are first in their bar (none
# while the tracker knows no bar).
host downbeats | awk -F': ' '/^ *[0-9.]+: ?/{ printf "%.4f\n", $1 }' >"$work/vamp.downbeats"
awk -F, 'NR > 1 && !/^#/ && $5 == "1" { print $1 }' "$work/tool.csv" >"$work/tool.downbeats"
diff "$work/tool.downbeats" "$work/vamp.downbeats" >&2 || fail "the plug-in's downbeats are not the tool's"
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

# Another host's block and step: the same beats. Offline: the tool's
# --offline beats, and one more at most in the last, zero-padded block.
run() {
  (cd "$work" && timeout 120 "$vamp_run" "$@") | awk -F': ' '/^ *[0-9.]+: /{ printf "%.4f,%d\n", $1, ($2 ~ / reliable$/) }'
}
run -b 4096 -s 441 tesk-music:beattracker:beats "$example" >"$work/blocks.beats"
diff "$work/vamp.beats" "$work/blocks.beats" >&2 || fail "a block of 4096 and step of 441 give other beats"
run -p offline=1 tesk-music:beattracker:beats "$example" >"$work/offline.beats"
timeout 120 "$tool" --offline --format csv --no-progress "$example" 2>/dev/null |
  awk -F, 'NR > 1 && !/^#/ { print $1 "," $2 }' >"$work/tool.offline"
[ "$(wc -l <"$work/tool.offline")" -gt 10 ] || fail "the tool found too few offline beats"
diff "$work/tool.offline" <(head -n "$(wc -l <"$work/tool.offline")" "$work/offline.beats") >&2 &&
  [ "$(($(wc -l <"$work/offline.beats") - $(wc -l <"$work/tool.offline")))" -le 1 ] ||
  fail "offline=1 does not give the tool's --offline beats"

# One NaN sample (float WAV) at 5 s: taken as 0 and said once, beats before and after it.
/usr/bin/python3 - "$example" "$work/nan.wav" <<'PY'
import struct, subprocess, sys
import numpy as np
raw = subprocess.run(["sox", sys.argv[1], "-t", "f32", "-c", "1", "-"], check=True,
                     capture_output=True).stdout
rate = int(subprocess.run(["soxi", "-r", sys.argv[1]], check=True, capture_output=True,
                          text=True).stdout)
x = np.frombuffer(raw, "<f4").copy()
x[5 * rate] = np.nan
fmt = struct.pack("<HHIIHH", 3, 1, rate, 4 * rate, 4, 32)
with open(sys.argv[2], "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + 4 * len(x)) + b"WAVEfmt " + struct.pack("<I", 16) +
            fmt + b"data" + struct.pack("<I", 4 * len(x)) + x.tobytes())
PY
status=0
(cd "$work" && timeout 120 vamp-simple-host tesk-music:beattracker:beats nan.wav >nan.out 2>nan.err) ||
  status=$?
[ "$status" = 0 ] || { cat "$work/nan.err" >&2; fail "a NaN sample ended the host with status $status"; }
grep -q "NaN or infinite sample at 5.000 s" "$work/nan.err" || fail "the NaN sample was not said"
grep -q "^beattracker: 1 NaN or infinite sample taken as 0" "$work/nan.err" ||
  fail "the count of NaN samples was not said at the end"
awk -F': ' '/^ *[0-9.]+: / && $1 > 10 && / reliable$/ { n++ } END { exit n < 10 }' "$work/nan.out" ||
  fail "too few reliable beats after the NaN sample"
echo "vamp_test: $(wc -l <"$work/vamp.beats") beats, the same from tesk-beat and: $front_ends; the onsets of the plug-in's frames; blocks of 4096 by 441, offline=1 and a NaN sample"
