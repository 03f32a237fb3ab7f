#!/usr/bin/python3
"""How well a tracker's confidence separates right from wrong beats.

    confidence_separation.py --cmd 'tesk-beat --format csv {wav}' --audio-dir DIR --gt-dir DIR

Reads csv lines `time,reliable,tempo,confidence`; a beat after 5 s is right
when a true beat lies within 70 ms. Prints the area under the ROC curve of
the confidence (0.5: no separation, 1: perfect) and the share of right beats
among the reliable and among the discarded ones."""
import os, sys
import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from corpus_runs import corpus_runs_from_args  # noqa: E402


def main():
    conf, right, reliable = [], [], []
    for truth, lines in corpus_runs_from_args(__doc__):
        for line in lines:
            f = line.split(',')
            try:
                t, rel, c = float(f[0]), int(f[1]), float(f[3])
            except (ValueError, IndexError):
                continue
            if t < 5.0:
                continue
            conf.append(c)
            reliable.append(rel == 1)
            right.append(np.min(np.abs(truth - t)) <= 0.07)
    conf, right, reliable = np.array(conf), np.array(right), np.array(reliable)
    rank = np.empty(len(conf))
    rank[np.argsort(conf, kind='stable')] = np.arange(1, len(conf) + 1)
    pos, neg = right.sum(), (~right).sum()
    auc = (rank[right].sum() - pos * (pos + 1) / 2) / (pos * neg) if pos and neg else float('nan')
    share = lambda m: right[m].mean() if m.any() else float('nan')
    print('beats %d (%d right): AUC %.3f; right among reliable %.3f (%d), among discarded %.3f (%d)' %
          (len(conf), pos, auc, share(reliable), reliable.sum(), share(~reliable), (~reliable).sum()))


if __name__ == '__main__':
    sys.exit(main())
