"""Click tracks with accented downbeats, for training the activation network
beside the generated music: a metronome's accent (a higher or louder
click) is all a listener has to find its bar, and the music corpus has no
such sparse, pitched clicks.

    /usr/bin/python3 training/activation/metronome.py --out DIR [--count 300] [--seed 7]

Writes DIR/wav/<id>.wav (mono, 16-bit, 44.1 kHz), DIR/gt/<id>.beats
(time<TAB>beat in bar) and DIR/corpus.json (every piece in the training
split), as corpus/build.py does, so that prepare.py reads it alike.
"""
import argparse
import json
import os
import random
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "corpus"))
from corpuslib import write_wav16  # noqa: E402

RATE = 44100


def click(kind, pitch, length, rng):
    n = int(length * RATE)
    t = np.arange(n) / RATE
    decay = np.exp(-t / rng.uniform(0.004, 0.03))
    if kind == "sine":
        wave = np.sin(2 * np.pi * pitch * t)
    elif kind == "square":
        wave = np.sign(np.sin(2 * np.pi * pitch * t)) * 0.5
    else:  # a noise burst, coloured by a one-pole low-pass around the pitch
        noise = np.random.default_rng(int(pitch)).standard_normal(n)
        a = np.exp(-2 * np.pi * pitch / RATE)
        wave = np.zeros(n)
        for i in range(1, n):
            wave[i] = (1 - a) * noise[i] + a * wave[i - 1]
        wave /= np.max(np.abs(wave)) + 1e-12
    return wave * decay


def track(rng):
    bpm = rng.uniform(50, 210)
    compound = rng.random() < 0.15
    beats_per_bar = rng.choice([2, 4]) if compound else rng.choice([2, 3, 3, 4, 4, 4, 5])
    sub = 3 if compound else (rng.choice([2, 3, 4]) if rng.random() < 0.4 else 1)
    kind = rng.choice(["sine", "sine", "square", "noise"])
    pitch = rng.uniform(300, 2500)
    up = rng.uniform(1.25, 2.0) if rng.random() < 0.75 else 1.0
    louder = rng.uniform(1.5, 3.0) if up == 1.0 or rng.random() < 0.5 else 1.0
    length = rng.uniform(0.03, 0.08)
    beat, down, subclick = click(kind, pitch, length, rng), click(kind, pitch * up, length, rng), None
    if sub > 1:
        subclick = click(kind, pitch * rng.uniform(0.8, 1.2), length, rng) * rng.uniform(0.15, 0.45)
    seconds = 30.0
    audio = np.zeros(int(seconds * RATE) + RATE)
    period = 60.0 / bpm
    start = rng.uniform(0.0, 1.0)
    labels = []
    k = 0
    while start + k * period < seconds:
        t = start + k * period
        in_bar = k % beats_per_bar + 1
        labels.append((t, in_bar))
        at = int(round(t * RATE))
        sound = down * louder if in_bar == 1 else beat
        audio[at:at + len(sound)] += sound
        for j in range(1, sub):
            at = int(round((t + j * period / sub) * RATE))
            audio[at:at + len(subclick)] += subclick
        k += 1
    audio = audio[: int(seconds * RATE)]
    audio *= rng.uniform(0.2, 0.9) / (np.max(np.abs(audio)) + 1e-12)
    meter = f"{beats_per_bar * 3}/8" if compound else f"{beats_per_bar}/4"
    return audio, labels, bpm, meter


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--out", required=True)
    p.add_argument("--count", type=int, default=300)
    p.add_argument("--seed", type=int, default=7)
    a = p.parse_args()
    rng = random.Random(a.seed)
    for d in ("wav", "gt"):
        os.makedirs(os.path.join(a.out, d), exist_ok=True)
    pieces = []
    for i in range(a.count):
        audio, labels, bpm, meter = track(rng)
        name = f"m{i:04d}"
        write_wav16(os.path.join(a.out, "wav", name + ".wav"), audio, RATE)
        with open(os.path.join(a.out, "gt", name + ".beats"), "w") as f:
            for t, n in labels:
                f.write(f"{t:.6f}\t{n}\n")
        pieces.append({"id": name, "split": "training", "wav": f"wav/{name}.wav", "gt": f"gt/{name}.beats",
                       "meter": meter, "bpm_ref": round(bpm, 2), "family": "metronome"})
    with open(os.path.join(a.out, "corpus.json"), "w") as f:
        json.dump({"trim_s": 5.0, "pieces": pieces}, f, indent=1)
    print(f"metronome: {len(pieces)} click tracks in {a.out}")


if __name__ == "__main__":
    main()
