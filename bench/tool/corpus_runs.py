"""Runs a beat tracker over the evaluation corpus: one piece at a time, its
true beat times and the lines the tracker printed."""
import argparse, glob, os, shlex, subprocess
import numpy as np


def runs(cmd, audio_dir, gt_dir):
    """Yields (true beat times, output lines) per piece; `cmd` names {wav}."""
    for wav in sorted(glob.glob(os.path.join(audio_dir, '*.wav'))):
        piece = os.path.splitext(os.path.basename(wav))[0]
        truth = np.loadtxt(os.path.join(gt_dir, piece + '.beats'), ndmin=2)[:, 0]
        out = subprocess.run(cmd.replace('{wav}', shlex.quote(wav)), shell=True,
                             capture_output=True, text=True, timeout=600).stdout
        yield truth, out.splitlines()


def corpus_runs_from_args(doc):
    """The runs named by --cmd, --audio-dir and --gt-dir on the command line;
    `doc` is the script's --help text."""
    ap = argparse.ArgumentParser(description=doc, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--cmd', required=True)
    ap.add_argument('--audio-dir', required=True)
    ap.add_argument('--gt-dir', required=True)
    args = ap.parse_args()
    return runs(args.cmd, args.audio_dir, args.gt_dir)
