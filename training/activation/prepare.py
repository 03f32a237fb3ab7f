"""Input features and targets of the generated corpus, for training the
activation network: every excerpt as it is, plus augmented copies (gain, EQ,
band limit, reverb, a small tempo change, pink noise, and half of them at
16 kHz), each passed through the library's own feature code.

    /usr/bin/python3 training/activation/prepare.py --corpus DIR --split training \
        --features TOOL --out OUT [--copies 1] [--jobs 2] [--seed 1]

DIR is a corpus that corpus/build.py made; TOOL the activation_features
program (bench, -DTESK_MUSIC_BENCH=ON). OUT receives one <name>.f32 (see
activation_features.cc) and one <name>.beats (beat times after the tempo
change, and their number in the bar) per excerpt and copy, and list.tsv.
"""
import argparse
import json
import os
import random
import subprocess
import sys
import tempfile
from multiprocessing import Pool

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "corpus"))
from corpuslib import write_wav16  # noqa: E402


def pink_noise(n, rng):
    spectrum = rng.standard_normal(n // 2 + 1) + 1j * rng.standard_normal(n // 2 + 1)
    f = np.arange(n // 2 + 1, dtype=np.float64)
    f[0] = 1.0
    x = np.fft.irfft(spectrum / np.sqrt(f), n)
    return x / (np.sqrt(np.mean(x * x)) + 1e-12)


def augmentation(rng):
    """One random copy's sox effects, tempo factor, rate and noise level."""
    effects = []
    rate = 16000 if rng.random() < 0.5 else 44100
    tempo = 1.0
    if rng.random() < 0.7:
        tempo = round(rng.uniform(0.92, 1.08), 3)
        effects += ["tempo", "-m", str(tempo)]
    if rng.random() < 0.6:
        effects += ["bass", f"{rng.uniform(-9, 9):.1f}", "treble", f"{rng.uniform(-9, 9):.1f}"]
    if rng.random() < 0.3:
        effects += ["equalizer", f"{rng.uniform(200, 4000):.0f}", "1.0q", f"{rng.uniform(-12, 9):.1f}"]
    if rng.random() < 0.25:
        effects += ["lowpass", f"{rng.uniform(3000, 7000):.0f}"]
    if rng.random() < 0.25:
        effects += ["highpass", f"{rng.uniform(80, 300):.0f}"]
    if rng.random() < 0.35:
        effects += ["reverb", f"{rng.uniform(20, 80):.0f}"]
    gain_db = rng.uniform(-30.0, -1.0)
    snr_db = rng.uniform(5.0, 35.0) if rng.random() < 0.4 else None
    return effects, tempo, rate, gain_db, snr_db


def make_copy(job):
    wav, beats, out, name, seed, features_tool = job
    rng = random.Random(seed)
    target = os.path.join(out, name)
    labels = np.loadtxt(beats, ndmin=2)
    with tempfile.TemporaryDirectory() as tmp:
        source = wav
        if seed is not None:
            effects, tempo, rate, gain_db, snr_db = augmentation(rng)
            raw = subprocess.run(["sox", "-D", "-V1", wav, "-t", "f32", "-c", "1", "-"] + effects
                                 + ["rate", "-v", str(rate)], check=True, capture_output=True).stdout
            x = np.frombuffer(raw, dtype="<f4").astype(np.float64)
            x = x / (np.max(np.abs(x)) + 1e-12) * 10 ** (gain_db / 20)
            if snr_db is not None:
                nrng = np.random.default_rng(seed)
                level = np.sqrt(np.mean(x * x)) * 10 ** (-snr_db / 20)
                x = x + level * pink_noise(len(x), nrng)
            source = os.path.join(tmp, "copy.wav")
            write_wav16(source, x, rate)
            labels = labels.copy()
            labels[:, 0] /= tempo
            note = f"{' '.join(effects)} rate {rate} gain {gain_db:.1f} dB noise {snr_db}"
        else:
            note = "as built"
        subprocess.run([features_tool, source, target + ".f32"], check=True)
    np.savetxt(target + ".beats", labels, fmt=["%.6f", "%d"], delimiter="\t")
    return name, note


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--corpus", required=True)
    p.add_argument("--split", default="training", choices=["training", "validation"])
    p.add_argument("--features", required=True, help="the activation_features program")
    p.add_argument("--out", required=True)
    p.add_argument("--copies", type=int, default=1, help="augmented copies per excerpt")
    p.add_argument("--jobs", type=int, default=2)
    p.add_argument("--seed", type=int, default=1)
    a = p.parse_args()
    if a.split == "validation" and a.copies:
        print("prepare: validation excerpts are taken as built (--copies ignored)", file=sys.stderr)
        a.copies = 0
    pieces = [q for q in json.load(open(os.path.join(a.corpus, "corpus.json")))["pieces"]
              if q["split"] == a.split]
    os.makedirs(a.out, exist_ok=True)
    jobs = []
    for i, q in enumerate(pieces):
        wav, gt = (os.path.join(a.corpus, q[k]) for k in ("wav", "gt"))
        jobs.append((wav, gt, a.out, q["id"], None, a.features))
        for c in range(a.copies):
            jobs.append((wav, gt, a.out, f"{q['id']}~{c + 1}", a.seed * 1000003 + i * 101 + c, a.features))
    with Pool(a.jobs) as pool:
        done = pool.map(make_copy, jobs, chunksize=4)
    with open(os.path.join(a.out, "list.tsv"), "w") as f:
        for name, note in done:
            f.write(f"{name}\t{note}\n")
    print(f"prepare: {len(done)} feature files in {a.out}")


if __name__ == "__main__":
    main()
