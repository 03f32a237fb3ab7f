#!/usr/bin/env bash
# Latency and CPU of tesk-beat --jack: a private JACK server (dummy
# backend, 48 kHz, 256-frame periods), a 120-BPM click track played into
# tesk-beat --jack --midi-out --midi-clock by live_probe, which records the
# MIDI coming back with JACK frame times. Prints, over the beats after the
# first LOCK seconds, the delay from each click's onset to its MIDI note
# (median, interquartile range; negative = ahead of the click), the MIDI
# clock's tempo from its tick spacing, and the worker's CPU share.
#
# Usage: bench/live_latency.sh BUILD_DIR [SECONDS] [LOCK]
set -euo pipefail
build=${1:?usage: live_latency.sh BUILD_DIR [SECONDS] [LOCK]}
seconds=${2:-30}
lock=${3:-5}
work=$(mktemp -d)
export JACK_DEFAULT_SERVER="tesk-latency-$$"
jackd_pid= beat_pid=
cleanup() {
  [ -n "$beat_pid" ] && kill "$beat_pid" 2>/dev/null || true
  [ -n "$jackd_pid" ] && kill "$jackd_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
for _ in $(seq 50); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done

"$build/bin/tesk-beat" --jack --midi-out --midi-clock --verbose --format csv \
  >"$work/beats.csv" 2>"$work/beat.log" &
beat_pid=$!
for _ in $(seq 50); do jack_lsp 2>/dev/null | grep -q '^tesk-beat:midi_out$' && break; sleep 0.1; done

"$build/bin/live_probe" --click 120 --seconds "$seconds" --play-to tesk-beat:in_1 \
  --midi-from tesk-beat:midi_out --interrupt "$beat_pid" --tail 5 >"$work/probe.txt"
kill -INT "$beat_pid" 2>/dev/null || true
timeout 10 tail --pid="$beat_pid" -f /dev/null || true
beat_pid=

/usr/bin/python3 - "$work/probe.txt" "$lock" <<'PY'
import sys, statistics
lines = [l.split() for l in open(sys.argv[1])]
lock = float(sys.argv[2])
rate = int(next(l[1] for l in lines if l[0] == "rate"))
start = int(next(l[1] for l in lines if l[0] == "start"))
clicks = [int(l[1]) for l in lines if l[0] == "click"]
midi = [(int(l[1]), [int(b, 16) for b in l[2:]]) for l in lines if l[0] == "midi"]
notes = [f for f, b in midi if len(b) == 3 and b[0] & 0xF0 == 0x90 and b[2] > 0]
ticks = [f for f, b in midi if b == [0xF8]]
after = start + lock * rate
delays = []
for f in notes:
    if f < after: continue
    nearest = min(clicks, key=lambda c: abs(f - c))
    delays.append(f - nearest)
if not delays:
    sys.exit("no MIDI notes after the lock time")
q = statistics.quantiles(delays, n=4)
ms = lambda frames: 1000.0 * frames / rate
print(f"beats (notes) after {lock:g} s: {len(delays)} of {sum(c >= after for c in clicks)} clicks")
print(f"note delay from click onset: median {statistics.median(delays):.0f} frames "
      f"({ms(statistics.median(delays)):.1f} ms), IQR {q[2]-q[0]:.0f} frames ({ms(q[2]-q[0]):.1f} ms), "
      f"quartiles {ms(q[0]):.1f} / {ms(q[2]):.1f} ms")
locked = [t for t in ticks if t >= after]
if len(locked) > 24:
    spacing = (locked[-1] - locked[0]) / (len(locked) - 1)
    per_beat = [(locked[i + 24] - locked[i]) for i in range(0, len(locked) - 24, 24)]
    bpm = [60.0 * rate / p for p in per_beat]
    print(f"MIDI clock: {len(ticks)} ticks; tempo after {lock:g} s {60.0 * rate / (24 * spacing):.2f} BPM "
          f"(per beat {min(bpm):.2f} to {max(bpm):.2f} BPM); tick interval "
          f"{min(b - a for a, b in zip(locked, locked[1:]))} to {max(b - a for a, b in zip(locked, locked[1:]))} frames")
else:
    print("MIDI clock: not locked")
PY
grep -E "worker CPU|dropped" "$work/beat.log" | sed 's/^tesk-beat: //'
