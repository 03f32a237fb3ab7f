"""A random-weight activation network, exported as the trained one is.

    /usr/bin/python3 training/activation/export_random.py

The C++ inference's test fixture: a small network of odd sizes (so that no
size is a multiple of a vector width) with random weights, normalisation and
input, written to tests/activation/data/random_model.inc and
random_reference.bin. Fixed seeds: the same files on every run (of the same
PyTorch).
"""
import os
import sys

import numpy as np
import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from model import ActivationNet, export_cpp, export_reference  # noqa: E402

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
SCRIPT = "training/activation/export_random.py"


def random_net(inputs, channels, blocks, kernel, seed):
    torch.manual_seed(seed)
    net = ActivationNet(inputs, channels, blocks, kernel)
    with torch.no_grad():
        net.mean.uniform_(0.0, 2.0)
        net.scale.uniform_(0.5, 2.0)
        # Larger output weights than the default initialisation: probabilities
        # far from a third each, so that a wrong sum shows in all three.
        net.output.weight.mul_(4.0)
    return net.eval()


def random_features(inputs, frames, seed):
    """Non-negative values of about the feature's range, with runs of
    zeros (silence) so that the ring buffers see steps."""
    rng = np.random.default_rng(seed)
    x = rng.gamma(1.5, 1.0, size=(frames, inputs)).astype(np.float32)
    x[frames // 3:frames // 3 + 12] = 0.0
    return x


def write(net, frames, seed, inc, ref, command, notes):
    export_cpp(net, os.path.join(ROOT, inc), command, notes)
    export_reference(net, random_features(net.inputs, frames, seed), os.path.join(ROOT, ref))


def main():
    # Receptive field 3 * 15 + 1 = 46 frames; 160 frames wrap every history.
    write(random_net(13, 11, 4, 4, seed=13), 160, 14,
          "tests/activation/data/random_model.inc", "tests/activation/data/random_reference.bin",
          f"/usr/bin/python3 {SCRIPT}",
          "Test fixture: random weights of a small network, not a trained one.")


if __name__ == "__main__":
    main()
