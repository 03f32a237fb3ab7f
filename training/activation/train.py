"""Trains the beat and downbeat activation network on features that
prepare.py made from the generated corpus's training split, selects the
step with the lowest validation loss, and writes the weights for the C++
inference with a reference case for its test.

    /usr/bin/python3 training/activation/train.py --train DIR --validation DIR \
        --out RUNDIR [--export src/activation/model/activation_model.inc \
        --reference tests/activation/data/reference.bin]

Fixed seeds; one thread count (--threads) gives the same weights run to run.
RUNDIR/log.tsv logs the validation loss and peak-picked beat and downbeat F
at every evaluation.
"""
import argparse
import glob
import os
import shlex
import sys
import time

import numpy as np
import torch
import torch.nn.functional as F

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from model import ActivationNet, export_cpp, export_reference  # noqa: E402

TOLERANCE_S = 0.07
SKIP_S = 5.0  # as the scorer: the first seconds are the tracker's to settle


def read_features(path):
    header = np.fromfile(path, dtype="<i4", count=5)
    frames, values, rate, hop, window = (int(v) for v in header)
    x = np.fromfile(path, dtype="<f4", offset=20).reshape(frames, values)
    return x, rate, hop, window


def frame_of(times, rate, hop, window):
    """The frame whose window centre is nearest each time."""
    return np.round((times * rate - window / 2) / hop).astype(np.int64)


def targets(frames, labels, rate, hop, window):
    """Per frame the probabilities of no beat, beat, downbeat: 1 on the
    beat's frame and 0.5 on each neighbour (a label falls between frames)."""
    q = np.zeros((frames, 3), dtype=np.float32)
    if len(labels):
        k = frame_of(labels[:, 0], rate, hop, window)
        cls = np.where(labels[:, 1] == 1, 2, 1)
        for weight, shift in ((0.5, -1), (0.5, 1), (1.0, 0)):
            at = k + shift
            ok = (at >= 0) & (at < frames)
            q[at[ok], cls[ok]] = np.maximum(q[at[ok], cls[ok]], weight)
    q[:, 0] = 1.0 - q[:, 1] - q[:, 2]
    return q


class Corpus:
    def __init__(self, folders):
        self.names, self.x, self.q, self.beats = [], [], [], []
        paths = [p for folder in folders for p in sorted(glob.glob(os.path.join(folder, "*.f32")))]
        for path in paths:
            x, rate, hop, window = read_features(path)
            labels = np.loadtxt(path[:-4] + ".beats", ndmin=2)
            self.names.append(os.path.basename(path)[:-4])
            self.x.append(x.astype(np.float16))
            self.q.append(targets(len(x), labels, rate, hop, window))
            centre = lambda k: (k * hop + window / 2) / rate  # noqa: E731
            self.beats.append((labels, centre))
        self.frames = np.array([len(x) for x in self.x])

    def moments(self):
        total = np.zeros(self.x[0].shape[1])
        square = np.zeros_like(total)
        for x in self.x:
            x = x.astype(np.float64)
            total += x.sum(0)
            square += (x * x).sum(0)
        n = self.frames.sum()
        mean = total / n
        return mean, np.sqrt(np.maximum(square / n - mean * mean, 1e-8))

    def batch(self, rng, size, length):
        xs, qs = [], []
        for _ in range(size):
            i = int(rng.integers(len(self.x)))
            start = int(rng.integers(max(1, self.frames[i] - length + 1)))
            x = self.x[i][start:start + length].astype(np.float32)
            q = self.q[i][start:start + length]
            if len(x) < length:
                pad = length - len(x)
                x = np.pad(x, ((0, pad), (0, 0)))
                q = np.pad(q, ((0, pad), (0, 0)))  # padded frames weigh nothing
            xs.append(x.T)
            qs.append(q.T)
        return torch.from_numpy(np.stack(xs)), torch.from_numpy(np.stack(qs))


def peaks(a, threshold, spacing):
    """Frames where a exceeds threshold and is the highest within spacing."""
    out = []
    for k in np.flatnonzero(a > threshold):
        lo, hi = max(0, k - spacing), min(len(a), k + spacing + 1)
        if a[k] == a[lo:hi].max() and (not out or k - out[-1] > spacing):
            out.append(k)
    return np.array(out, dtype=np.int64)


def f_measure(found, truth):
    found, truth = found[found >= SKIP_S], truth[truth >= SKIP_S]
    if not len(found) and not len(truth):
        return 1.0
    if not len(found) or not len(truth):
        return 0.0
    used = np.zeros(len(truth), bool)
    hits = 0
    for t in found:
        j = np.argmin(np.abs(truth - t))
        if abs(truth[j] - t) <= TOLERANCE_S and not used[j]:
            used[j] = True
            hits += 1
    return 2 * hits / (len(found) + len(truth))


def evaluate(net, corpus):
    """Mean loss per frame, and the mean F of peak-picked beats and downbeats."""
    net.eval()
    loss, n, fb, fd = 0.0, 0, [], []
    with torch.no_grad():
        for x, q, (labels, centre) in zip(corpus.x, corpus.q, corpus.beats):
            logits = net(torch.from_numpy(x.astype(np.float32).T)[None])[0]
            loss += float(-(torch.from_numpy(q.T) * F.log_softmax(logits, 0)).sum())
            n += len(x)
            p = torch.softmax(logits, 0).numpy()
            fb.append(f_measure(centre(peaks(p[1] + p[2], 0.3, 15)), labels[:, 0]))
            fd.append(f_measure(centre(peaks(p[2], 0.3, 40)), labels[labels[:, 1] == 1, 0]))
    net.train()
    return loss / n, float(np.mean(fb)), float(np.mean(fd))


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--train", required=True, nargs="+", help="feature folders")
    p.add_argument("--validation", required=True, nargs="+")
    p.add_argument("--out", required=True)
    p.add_argument("--channels", type=int, default=20)
    p.add_argument("--blocks", type=int, default=8)
    p.add_argument("--kernel", type=int, default=3)
    p.add_argument("--steps", type=int, default=6000)
    p.add_argument("--batch", type=int, default=16)
    p.add_argument("--length", type=int, default=1500, help="frames per training chunk")
    p.add_argument("--lr", type=float, default=2e-3)
    p.add_argument("--eval-every", type=int, default=500)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--threads", type=int, default=2)
    p.add_argument("--export", help="write the C++ weights here")
    p.add_argument("--reference", help="write the C++ test's reference case here")
    p.add_argument("--made-by", help="the command named in the weights file (default: this one)")
    a = p.parse_args()
    command = a.made_by or "/usr/bin/python3 " + " ".join(shlex.quote(v) for v in sys.argv)

    torch.manual_seed(a.seed)
    torch.set_num_threads(a.threads)
    rng = np.random.default_rng(a.seed)
    os.makedirs(a.out, exist_ok=True)
    start = time.time()
    train, val = Corpus(a.train), Corpus(a.validation)
    print(f"train: {len(train.x)} files, {train.frames.sum()} frames; validation: "
          f"{len(val.x)} files ({time.time() - start:.0f} s to load)", flush=True)

    net = ActivationNet(train.x[0].shape[1], a.channels, a.blocks, a.kernel)
    mean, std = train.moments()
    net.mean.copy_(torch.from_numpy(mean).float())
    net.scale.copy_(torch.from_numpy(1.0 / std).float())
    print(f"parameters: {sum(v.numel() for v in net.parameters())}, "
          f"receptive field {net.receptive_field()} frames", flush=True)
    opt = torch.optim.Adam(net.parameters(), lr=a.lr)
    sched = torch.optim.lr_scheduler.OneCycleLR(opt, max_lr=a.lr, total_steps=a.steps, pct_start=0.05)

    best = (float("inf"), -1)
    log = open(os.path.join(a.out, "log.tsv"), "w")
    log.write("step\tseconds\ttrain_loss\tval_loss\tval_beat_f\tval_downbeat_f\n")
    running = 0.0
    for step in range(1, a.steps + 1):
        x, q = train.batch(rng, a.batch, a.length)
        logits = net(x)
        frames = q.sum(1).sum()  # padded frames have no target
        loss = -(q * F.log_softmax(logits, 1)).sum() / frames
        opt.zero_grad()
        loss.backward()
        torch.nn.utils.clip_grad_norm_(net.parameters(), 1.0)
        opt.step()
        sched.step()
        running += float(loss)
        if step % a.eval_every == 0 or step == a.steps:
            vloss, fb, fd = evaluate(net, val)
            line = (f"{step}\t{time.time() - start:.0f}\t{running / a.eval_every:.5f}\t{vloss:.5f}"
                    f"\t{fb:.4f}\t{fd:.4f}")
            print(line, flush=True)
            log.write(line + "\n")
            log.flush()
            running = 0.0
            if vloss < best[0]:
                best = (vloss, step)
                torch.save(net.state_dict(), os.path.join(a.out, "best.pt"))
    net.load_state_dict(torch.load(os.path.join(a.out, "best.pt")))
    print(f"best: step {best[1]}, validation loss {best[0]:.5f}", flush=True)
    notes = (f"Trained on {len(train.x)} feature files ({train.frames.sum()} frames) of the generated\n"
             f"corpus's training split; best validation loss {best[0]:.5f} at step {best[1]}.")
    if a.export:
        export_cpp(net, a.export, command, notes)
    if a.reference:
        x = val.x[0][:600].astype(np.float32)  # past the receptive field
        export_reference(net, x, a.reference)


if __name__ == "__main__":
    main()
