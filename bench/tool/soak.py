#!/usr/bin/python3
"""Endurance of tesk-beat on a long stream.

Streams HOURS of a click track (raw 16-bit PCM, default 10 hours) through
standard input as fast as tesk-beat takes it, samples its resident memory
while it runs, and checks at the end that memory stayed flat and that the
beats of the last minutes are still on the clicks (nothing drifted). The
tempo is chosen so that the beat period is not a whole number of samples or
frames: a clock that rounds would drift.

Usage: bench/tool/soak.py TOOL [--hours H] [--rate HZ] [--bpm BPM] [-- TOOL OPTIONS]
Prints one line per sample of memory, then a summary; exits 1 if a check fails.
"""
import argparse
import bisect
import math
import os
import subprocess
import sys
import threading
import time

import numpy as np


def writer(proc, rate, bpm, seconds, done):
    period = 60.0 * rate / bpm
    click_len = int(0.01 * rate)
    n = np.arange(click_len)
    click = (0.6 * np.sin(2 * np.pi * 1500.0 * n / rate) * np.exp(-n / (0.002 * rate)))
    rng = np.random.default_rng(7)
    block = int(rate * 10)  # 10 s per write
    total = int(seconds * rate)
    at = 0
    try:
        while at < total:
            length = min(block, total - at)
            x = rng.normal(0.0, 0.001, length)  # a faint noise floor
            first = math.ceil((at - click_len) / period)
            k = max(first, 0)
            while True:
                start = round(k * period)
                if start >= at + length:
                    break
                lo, hi = max(start, at), min(start + click_len, at + length)
                if lo < hi:
                    x[lo - at:hi - at] += click[lo - start:hi - start]
                k += 1
            proc.stdin.write((np.clip(x, -1, 1) * 32767).astype('<i2').tobytes())
            at += length
        proc.stdin.close()
    except BrokenPipeError:
        pass
    done.set()


def rss_kib(pid):
    """Resident memory of `pid` and its descendants (tesk-beat tracks in a
    worker process it forks)."""
    total, found = 0, False
    try:
        with open(f'/proc/{pid}/status') as f:
            for line in f:
                if line.startswith('VmRSS:'):
                    total, found = int(line.split()[1]), True
        with open(f'/proc/{pid}/task/{pid}/children') as f:
            for child in f.read().split():
                total += rss_kib(int(child)) or 0
    except OSError:
        pass
    return total if found else None


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[1])
    ap.add_argument('tool')
    ap.add_argument('--hours', type=float, default=10.0)
    ap.add_argument('--rate', type=int, default=16000)
    ap.add_argument('--bpm', type=float, default=123.0)
    ap.add_argument('--every', type=float, default=5.0, help='seconds between memory samples')
    ap.add_argument('extra', nargs='*', help='more tesk-beat options (after --)')
    a = ap.parse_args()
    seconds = a.hours * 3600.0
    cmd = [a.tool, '--raw', f'{a.rate}:1:s16', '--no-progress', *a.extra, '-']
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=1 << 20)
    done = threading.Event()
    threading.Thread(target=writer, args=(proc, a.rate, a.bpm, seconds, done), daemon=True).start()

    beats = []
    reader = threading.Thread(target=lambda: beats.extend(float(l) for l in proc.stdout), daemon=True)
    reader.start()
    samples = []  # (wall seconds, RSS KiB, beats so far)
    start = time.monotonic()
    while proc.poll() is None:
        r = rss_kib(proc.pid)
        if r is not None:
            samples.append((time.monotonic() - start, r, len(beats)))
            print(f'{samples[-1][0]:8.0f} s  RSS {r / 1024:7.1f} MiB  beats {len(beats)}', flush=True)
        time.sleep(a.every)
    reader.join(timeout=60)
    wall = time.monotonic() - start
    status = proc.returncode

    period = 60.0 / a.bpm

    def errors_ms(lo, hi):  # of the beats in [lo, hi) s to the nearest click
        return np.array([(b - round(b / period) * period) * 1000.0 for b in beats if lo <= b < hi])

    first = errors_ms(60.0, 360.0)
    last = errors_ms(seconds - 300.0, seconds)
    ok = status == 0
    print(f'input {seconds / 3600:.2f} h at {a.rate} Hz, {a.bpm} BPM; tesk-beat exit {status}, '
          f'{wall:.0f} s wall ({seconds / max(wall, 1e-9):.0f}x real time); {len(beats)} beats '
          f'(expected about {int(seconds / period)})')
    if len([t for (t, _, _) in samples[1:] if t >= 0.1 * wall]) >= 3:
        # After start-up: from the second sample and the first tenth of the run on.
        settled = [r for (t, r, _) in samples[1:] if t >= 0.1 * wall]
        growth = (max(settled) - min(settled)) / 1024
        print(f'RSS after start-up: {min(settled) / 1024:.1f} to {max(settled) / 1024:.1f} MiB '
              f'(growth {growth:.1f} MiB)')
        ok = ok and growth < 2.0
    else:
        print('RSS: run too short to sample (use a smaller --every)')
    for name, e in (('minutes 1 to 6', first), ('last 5 minutes', last)):
        if len(e):
            print(f'{name}: {len(e)} beats, error to the nearest click {e.mean():+.1f} ms mean, '
                  f'{np.abs(e).max():.1f} ms worst')
    expected = 300.0 / period
    ok = ok and len(first) > 0.9 * expected and len(last) > 0.9 * expected
    if ok:
        drift = last.mean() - first.mean()
        print(f'drift from the start to the end: {drift:+.2f} ms')
        ok = abs(drift) < 2.0
    print('PASS' if ok else 'FAIL')
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
