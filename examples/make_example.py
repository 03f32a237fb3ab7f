#!/usr/bin/python3
"""Generates the bundled example: a short groove with exactly known beats.

    examples/make_example.py [--out-dir examples]

Writes groove.flac (24 s, 22050 Hz, mono, 16-bit) and groove.beats (one
"time<TAB>beat_in_bar" line per beat). 120 BPM in 4/4: kick on every beat, snare on
2 and 4, hi-hat, a bass line on the chord roots, and sustained chords
(C - Am - F - G), with a little velocity and timbre variation so it is not
a bare metronome. Deterministic: the same files on every run.
Needs python3-numpy and the flac encoder.
"""
import argparse
import os
import subprocess
import tempfile
import wave

import numpy as np

RATE = 22050
BPM = 120.0
LEAD_IN = 0.5  # seconds of silence before the first beat
DURATION = 24.0


def envelope(n, attack, decay):
    t = np.arange(n) / RATE
    return np.minimum(1.0, t / max(attack, 1e-6)) * np.exp(-t / decay)


def kick(n):
    t = np.arange(n) / RATE
    freq = 48.0 + 95.0 * np.exp(-t / 0.035)
    phase = 2 * np.pi * np.cumsum(freq) / RATE
    return np.sin(phase) * envelope(n, 0.001, 0.13)


def snare(n, rng):
    t = np.arange(n) / RATE
    noise = rng.uniform(-1, 1, n)
    body = 0.5 * np.sin(2 * np.pi * 185.0 * t) * np.exp(-t / 0.05)
    return (noise * np.exp(-t / 0.07) + body)


def hat(n, rng):
    noise = rng.uniform(-1, 1, n)
    return np.diff(noise, prepend=0.0) * envelope(n, 0.0005, 0.015)


def tone(n, freq, harmonics, decay):
    t = np.arange(n) / RATE
    wave_ = sum(np.sin(2 * np.pi * freq * h * t) / h for h in range(1, harmonics + 1))
    return wave_ * envelope(n, 0.008, decay)


def hz(note):
    return 440.0 * 2 ** ((note - 69) / 12)


def add(out, start_s, sig, gain):
    i = int(round(start_s * RATE))
    if i >= len(out):
        return
    j = min(len(out), i + len(sig))
    out[i:j] += gain * sig[: j - i]


def main():
    global RATE
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--out-dir", default=os.path.dirname(os.path.abspath(__file__)))
    ap.add_argument("--bpm", type=float, default=BPM)
    ap.add_argument("--lead-in", type=float, default=LEAD_IN)
    ap.add_argument("--rate", type=int, default=RATE)
    args = ap.parse_args()
    RATE = args.rate

    rng = np.random.default_rng(20240601)
    out = np.zeros(int(DURATION * RATE))
    beat = 60.0 / args.bpm
    chords = [(48, [0, 4, 7]), (45, [0, 3, 7]), (41, [0, 4, 7]), (43, [0, 4, 7])]
    beats = []
    for b in range(int(DURATION / beat) + 1):
        t = args.lead_in + b * beat
        if t >= DURATION - 0.5:
            break
        in_bar = b % 4
        root, chord = chords[(b // 4) % 4]
        beats.append((t, in_bar + 1))
        accent = 1.0 + 0.1 * rng.standard_normal()
        add(out, t, kick(int(0.3 * RATE)), (0.9 if in_bar in (0, 2) else 0.6) * accent)
        if in_bar in (1, 3):
            add(out, t, snare(int(0.25 * RATE), rng), 0.45 * accent)
        add(out, t, hat(int(0.06 * RATE), rng), 0.22)
        add(out, t + 0.5 * beat, hat(int(0.06 * RATE), rng), 0.08)
        # Bass: root on the beat, fifth on the off-beat of beat 4.
        add(out, t, tone(int(0.85 * beat * RATE), hz(root - 12), 5, 0.35), 0.32)
        if in_bar == 3:
            add(out, t + 0.5 * beat, tone(int(0.45 * beat * RATE), hz(root - 5), 5, 0.2), 0.22)
        if in_bar == 0:
            for interval in chord:
                add(out, t, tone(int(4 * beat * RATE), hz(root + 12 + interval), 3, 1.6), 0.07)
    out *= 0.89 / np.max(np.abs(out))
    pcm = np.round(out * 32767).astype("<i2")

    os.makedirs(args.out_dir, exist_ok=True)
    flac_path = os.path.join(args.out_dir, "groove.flac")
    with tempfile.TemporaryDirectory() as tmp:
        wav_path = os.path.join(tmp, "groove.wav")
        with wave.open(wav_path, "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(RATE)
            w.writeframes(pcm.tobytes())
        subprocess.run(["flac", "--silent", "--best", "--force", "--no-padding", "-o", flac_path, wav_path],
                       check=True)
    with open(os.path.join(args.out_dir, "groove.beats"), "w") as f:
        for t, n in beats:
            f.write(f"{t:.6f}\t{n}\n")
    print(f"wrote {flac_path} ({os.path.getsize(flac_path)} bytes) and groove.beats ({len(beats)} beats)")


if __name__ == "__main__":
    main()
