#!/usr/bin/python3
"""Scores a beat tracker on a corpus and says which metrical level and phase
each piece was tracked at.

    corpus_score.py --eval-dir EVAL --corpus CORPUS.json --cmd 'TOOL {wav}'
                    [--audio-dir DIR] [--jobs 2] [--save RUN.json] [--by family]
    corpus_score.py --load RUN.json [--by family]      # the table again
    corpus_score.py --load RUN.json --compare BASE.json  # paired against another run

Scores come from the evaluation corpus's own scorer (EVAL/run_eval.py: beats
before 5 s dropped, F-measure at +-70 ms, CMLt and AMLt), so the numbers are
those run_eval.py gives. CORPUS.json is that scorer's format: the public set's
(audio in --audio-dir/<id>.wav) or one the corpus builder wrote (audio at each
piece's "wav").

The level of a piece is the reading of the true beats that the tracked beats
match best (F-measure): the beats themselves, the off-beats, twice, three
times, half or a third of the tempo (either phase); "other" when none of them
reaches F 0.5. Level errors are the ones listeners mind most, and a tracker
can make them in both directions, so the table shows each direction.

A tracker that prints each beat's number in the bar after its time
("12.34<TAB>1") is scored on its downbeats too: column DbF, the F-measure
of the beats it numbers 1 against the true downbeats, as beats are scored.
"""
import argparse
import json
import os
import shlex
import subprocess
import sys
from collections import OrderedDict, defaultdict
from concurrent.futures import ThreadPoolExecutor

import numpy as np

LEVELS = ("right", "off-beat", "double", "half", "triple", "third", "other")


def readings(ref):
    """Each level's beats from the true beats (sorted seconds)."""
    ref = np.asarray(ref, float)
    if len(ref) < 2:
        return {"right": ref}
    mid = (ref[:-1] + ref[1:]) / 2.0
    thirds = np.concatenate([ref[:-1] + (ref[1:] - ref[:-1]) * k / 3.0 for k in (1, 2)])
    return OrderedDict([
        ("right", ref),
        ("off-beat", mid),
        ("double", np.sort(np.concatenate([ref, mid]))),
        ("half", [ref[0::2], ref[1::2]]),
        ("triple", np.sort(np.concatenate([ref, thirds]))),
        ("third", [ref[0::3], ref[1::3], ref[2::3]]),
    ])


def level_of(ref, est, score):
    best, best_f = "other", 0.5
    for name, beats in readings(ref).items():
        for b in beats if isinstance(beats, list) else [beats]:
            f = score(b, est)["F"]
            if f > best_f + 1e-9:
                best, best_f = name, f
    return best


def run_piece(piece, cmd, audio, ev):
    out = subprocess.run(cmd.replace("{wav}", shlex.quote(audio)), shell=True,
                         capture_output=True, text=True, timeout=900)
    if out.returncode != 0:
        raise SystemExit(f"{piece['id']}: the tracker failed ({out.returncode}): {out.stderr[-500:]}")
    beats, _ = ev.parse_output(out.stdout)
    return beats, downbeats_of(out.stdout)


def downbeats_of(text):
    """Times of lines "time<TAB>1"; None when no line numbers its beat."""
    found, numbered = [], False
    for line in text.splitlines():
        f = line.split()
        if len(f) >= 2 and not line.startswith("#"):
            try:
                t, n = float(f[0]), int(f[1])
            except ValueError:
                continue
            numbered = True
            if n == 1:
                found.append(t)
    return found if numbered else None


def true_downbeats(path):
    rows = [l.split() for l in open(path) if l.strip() and not l.startswith("#")]
    return [float(r[0]) for r in rows if len(r) > 1 and r[1] == "1"]


def score_all(args, ev, cl):
    corpus = json.load(open(args.corpus))
    base = os.path.dirname(os.path.abspath(args.corpus))
    pieces = [p for p in corpus["pieces"] if not args.split or p.get("split") == args.split]
    if args.limit:
        pieces = pieces[: args.limit]

    def audio_of(p):
        if args.audio_dir:
            return os.path.join(args.audio_dir, p["id"] + ".wav")
        return os.path.join(base, p["wav"])

    with ThreadPoolExecutor(args.jobs) as pool:
        outs = list(pool.map(lambda p: run_piece(p, args.cmd, audio_of(p), ev), pieces))
    rows = []
    for p, (est, est_down) in zip(pieces, outs):
        ref = cl.read_beats(os.path.join(base, p["gt"]))
        s = ev.score_beats(ref, est)
        trimmed_ref = [t for t in ref if t >= ev.TRIM_S]
        trimmed_est = [t for t in est if t >= ev.TRIM_S]
        level = level_of(trimmed_ref, trimmed_est, lambda r, e: ev.score_beats(r, e, 0.0))
        rows.append({"id": p["id"], "family": p.get("family", p.get("set", "")),
                     "meter": p.get("meter", ""), "soundfont": p.get("soundfont", ""),
                     "bpm": p.get("bpm_ref"), "F": s["F"], "CMLt": s["CMLt"], "AMLt": s["AMLt"],
                     "level": level, "beats": [round(float(t), 4) for t in est]})
        if est_down is not None:
            rows[-1]["DbF"] = ev.score_beats(true_downbeats(os.path.join(base, p["gt"])), est_down)["F"]
    return {"cmd": args.cmd, "corpus": os.path.abspath(args.corpus), "rows": rows}


def table(run, by):
    groups = defaultdict(list)
    for r in run["rows"]:
        groups[r.get(by, "") or "-"].append(r)
    down = all("DbF" in r for r in run["rows"])
    head = (f"{by:14s} {'n':>4s} {'F':>6s} {'CMLt':>6s} {'AMLt':>6s}" + (f" {'DbF':>6s}" if down else "")
            + "  " + " ".join(f"{l:>8s}" for l in LEVELS))
    lines = [head]

    def line(name, rs):
        share = {l: sum(r["level"] == l for r in rs) / len(rs) for l in LEVELS}
        mean = {k: np.mean([r[k] for r in rs]) for k in ("F", "CMLt", "AMLt")}
        db = f" {np.mean([r['DbF'] for r in rs]):6.3f}" if down else ""
        return (f"{name:14s} {len(rs):4d} {mean['F']:6.3f} {mean['CMLt']:6.3f} {mean['AMLt']:6.3f}{db}  "
                + " ".join(f"{100 * share[l]:7.1f}%" for l in LEVELS))

    for name in sorted(groups):
        lines.append(line(name, groups[name]))
    lines.append(line("all", run["rows"]))
    return "\n".join(lines)


def compare(run, base):
    """Paired difference of per-piece scores against a run on the same pieces:
    the mean, twice its standard error, and how many pieces rose and fell. A
    gain within twice the standard error is no gain."""
    before = {r["id"]: r for r in base["rows"]}
    pairs = [(r, before[r["id"]]) for r in run["rows"] if r["id"] in before]
    if not pairs:
        return "no piece in common with the baseline"
    out = []
    keys = ("F", "CMLt", "AMLt") + (("DbF",) if all("DbF" in a and "DbF" in b for a, b in pairs) else ())
    for k in keys:
        d = np.array([a[k] - b[k] for a, b in pairs])
        se = d.std(ddof=1) / np.sqrt(len(d)) if len(d) > 1 else 0.0
        out.append(f"{k} {d.mean():+.3f} +- {2 * se:.3f} ({(d > 0.005).sum()} up, {(d < -0.005).sum()} down)")
    moved = sum(a["level"] != b["level"] for a, b in pairs)
    return f"against the baseline, {len(pairs)} pieces: " + "; ".join(out) + f"; level changed on {moved}"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--eval-dir", help="the evaluation corpus folder (its run_eval.py scores)")
    ap.add_argument("--corpus", help="corpus.json")
    ap.add_argument("--cmd", help="tracker command; {wav} is the audio file")
    ap.add_argument("--audio-dir", help="audio as DIR/<id>.wav instead of each piece's 'wav'")
    ap.add_argument("--split", help="only pieces of this split (validation, training)")
    ap.add_argument("--limit", type=int, default=0, help="only the first N pieces")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--save", help="write the run (scores, levels, beats) to this JSON file")
    ap.add_argument("--load", help="show the table of a saved run instead of running")
    ap.add_argument("--compare", help="also the paired difference against this saved run")
    ap.add_argument("--by", default="family", help="group rows by this field (family, meter, soundfont)")
    args = ap.parse_args()

    if args.load:
        run = json.load(open(args.load))
    else:
        if not (args.eval_dir and args.corpus and args.cmd):
            ap.error("--eval-dir, --corpus and --cmd are needed unless --load is given")
        sys.path.insert(0, os.path.abspath(args.eval_dir))
        import corpus_lib as cl
        import run_eval as ev
        run = score_all(args, ev, cl)
        if args.save:
            with open(args.save, "w") as f:
                json.dump(run, f)
    print(table(run, args.by))
    if args.compare:
        print(compare(run, json.load(open(args.compare))))


if __name__ == "__main__":
    main()
