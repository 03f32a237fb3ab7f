#!/usr/bin/python3
"""Scores variants of a tracker on the generated validation corpus and on the
public set at both renderings, and sets each against the first variant.

    validation_sweep.py --tool TOOL --eval-dir EVAL --corpus-dir CORPUS \\
                        --out RUNS_DIR [--jobs 2] < variants.tsv

Each line of variants.tsv: LABEL<TAB>OPTIONS, the options put before {wav}
in "TOOL OPTIONS {wav}" (e.g. "offline=1 transition_lambda=300" for
bar_pointer_track, "--offline" for tesk-beat). Runs already saved in
RUNS_DIR are reused, so a sweep can be stopped and taken up again.
Per variant one row: on the validation corpus F, CMLt, AMLt and the share of
pieces at each wrong level (see corpus_score.py); for a variant whose label
starts with "+", the paired change in F against the last variant above it
whose label does not (+- twice its standard error); on the public set F,
CMLt and AMLt at 16 and 44.1 kHz.
"""
import argparse
import hashlib
import json
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import corpus_score as cs  # noqa: E402

import numpy as np  # noqa: E402


def run_name(label, opts):
    """A file name for a run: readable, and distinct for distinct options."""
    digest = hashlib.sha1(opts.strip().encode()).hexdigest()[:6]
    return re.sub(r"[^A-Za-z0-9]+", "_", label).strip("_") + "_" + digest


def run_once(args, label, opts, name, corpus, extra):
    path = os.path.join(args.out, f"{run_name(label, opts)}_{name}.json")
    if not os.path.exists(path):
        cmd = [sys.executable, os.path.join(HERE, "corpus_score.py"), "--eval-dir", args.eval_dir,
               "--corpus", corpus, "--cmd", f"{args.tool} {opts} {{wav}}", "--jobs", str(args.jobs),
               "--save", path] + extra
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return json.load(open(path))


def mean(run, key):
    return float(np.mean([r[key] for r in run["rows"]]))


def share(run, level):
    return 100.0 * sum(r["level"] == level for r in run["rows"]) / len(run["rows"])


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tool", required=True)
    ap.add_argument("--eval-dir", required=True)
    ap.add_argument("--corpus-dir", required=True, help="the generated corpus (its corpus.json)")
    ap.add_argument("--out", required=True, help="folder for the saved runs")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--no-public", action="store_true", help="the validation corpus only")
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    public = os.path.join(args.eval_dir, "corpus.json")

    print(f"{'variant':44s} {'F':>6s} {'CMLt':>6s} {'AMLt':>6s} {'x2':>5s} {'x1/2':>5s} {'x3':>5s} "
          f"{'x1/3':>5s} {'off':>5s} {'oth':>5s}  {'paired dF':>15s}  {'pub16 F/CMLt/AMLt':>18s}  {'pub44 F/CMLt/AMLt':>18s}")
    base = None
    for line in sys.stdin:
        if not line.strip() or line.startswith("#"):
            continue
        label, _, opts = line.rstrip("\n").partition("\t")
        val = run_once(args, label, opts, "validation", os.path.join(args.corpus_dir, "corpus.json"),
                       ["--split", "validation"])
        pub = []
        if not args.no_public:
            for rate in (16000, 44100):
                pub.append(run_once(args, label, opts, f"public{rate}", public,
                                    ["--audio-dir", os.path.join(args.eval_dir, "cache", f"wav{rate}")]))
        if base is None or not label.startswith("+"):
            base = val
            paired = "baseline"
        else:
            before = {r["id"]: r["F"] for r in base["rows"]}
            d = np.array([r["F"] - before[r["id"]] for r in val["rows"] if r["id"] in before])
            paired = f"{d.mean():+.3f}+-{2 * d.std(ddof=1) / np.sqrt(len(d)):.3f}"
        levels = " ".join(f"{share(val, l):5.1f}" for l in ("double", "half", "triple", "third", "off-beat", "other"))
        pubs = "  ".join(f"{mean(p, 'F'):.3f}/{mean(p, 'CMLt'):.3f}/{mean(p, 'AMLt'):.3f}" for p in pub)
        print(f"{label:44s} {mean(val, 'F'):6.3f} {mean(val, 'CMLt'):6.3f} {mean(val, 'AMLt'):6.3f} "
              f"{levels}  {paired:>15s}  {pubs}", flush=True)


if __name__ == "__main__":
    main()
