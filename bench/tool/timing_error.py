#!/usr/bin/python3
"""Timing error of a beat tracker against the evaluation corpus's beats.

    timing_error.py --cmd 'tesk-beat {wav}' --audio-dir DIR --gt-dir DIR

For every reported beat after 5 s that lies within 70 ms of a true beat, the
signed error (reported minus true, ms). Prints the mean, the standard
deviation, the median and the 5th and 95th percentiles."""
import os, sys
import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from corpus_runs import corpus_runs_from_args  # noqa: E402


def main():
    errors = []
    for truth, lines in corpus_runs_from_args(__doc__):
        for line in lines:
            try:
                t = float(line.split()[0])
            except (ValueError, IndexError):
                continue
            if t < 5.0:
                continue
            d = t - truth[np.argmin(np.abs(truth - t))]
            if abs(d) <= 0.07:
                errors.append(1000.0 * d)
    e = np.array(errors)
    print('beats %d: mean %+.1f ms, sd %.1f ms, median %+.1f ms, 5-95 %% %+.1f .. %+.1f ms' %
          (len(e), e.mean(), e.std(), np.median(e), np.percentile(e, 5), np.percentile(e, 95)))


if __name__ == '__main__':
    sys.exit(main())
