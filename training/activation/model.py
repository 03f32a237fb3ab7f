"""The beat and downbeat activation network, and its export for the C++ inference.

A causal temporal convolutional network over the activation input feature
(log filterbank bands and their rise, 100 frames/s):

    z = (x - mean) * scale                       per input value
    h = elu(W_in z + b_in)                       channels
    for block b = 0 .. blocks - 1, dilation d = 2^b:
        h = h + elu(sum_k W_b[k] h(t - (K - 1 - k) d) + b_b)    (h = 0 before the start)
    p = softmax(W_out h + b_out)                 (no beat, beat, downbeat)

It sees (K - 1)(2^blocks - 1) frames back and none ahead, so it runs frame
by frame on a live stream.
"""
import hashlib
import struct

import numpy as np
import torch
import torch.nn.functional as F
from torch import nn

CLASSES = ("none", "beat", "downbeat")


class ActivationNet(nn.Module):
    def __init__(self, inputs, channels=20, blocks=8, kernel=3):
        super().__init__()
        self.inputs, self.channels, self.blocks, self.kernel = inputs, channels, blocks, kernel
        self.register_buffer("mean", torch.zeros(inputs))
        self.register_buffer("scale", torch.ones(inputs))
        self.input = nn.Conv1d(inputs, channels, 1)
        self.convs = nn.ModuleList(
            nn.Conv1d(channels, channels, kernel, dilation=2 ** b) for b in range(blocks))
        self.output = nn.Conv1d(channels, len(CLASSES), 1)

    def receptive_field(self):
        return (self.kernel - 1) * (2 ** self.blocks - 1) + 1

    def forward(self, x):
        """x: (batch, inputs, frames) -> logits (batch, 3, frames)."""
        z = (x - self.mean[None, :, None]) * self.scale[None, :, None]
        h = F.elu(self.input(z))
        for b, conv in enumerate(self.convs):
            pad = (self.kernel - 1) * 2 ** b
            h = h + F.elu(conv(F.pad(h, (pad, 0))))
        return self.output(h)


def _floats(name, values, per_line=8):
    flat = np.asarray(values, dtype=np.float32).ravel()
    rows = []
    for i in range(0, len(flat), per_line):
        rows.append("  " + " ".join(f"{float(v):.9g}f," for v in flat[i:i + per_line]))
    return f"inline constexpr float {name}[{len(flat)}] = {{\n" + "\n".join(rows) + "\n};\n"


def weight_arrays(net):
    """The network's numbers in the C++ layout (float32, row-major):
    mean, scale [inputs]; input weight [channels][inputs], bias [channels];
    block weight [blocks][channels out][kernel tap, oldest first][channels in],
    block bias [blocks][channels]; output weight [3][channels], bias [3]."""
    g = lambda t: t.detach().cpu().numpy().astype(np.float32)
    blocks_w = np.stack([g(c.weight).transpose(0, 2, 1) for c in net.convs])  # out, tap, in
    blocks_b = np.stack([g(c.bias) for c in net.convs])
    return [
        ("kInputMean", g(net.mean)), ("kInputScale", g(net.scale)),
        ("kInputWeight", g(net.input.weight)[:, :, 0]), ("kInputBias", g(net.input.bias)),
        ("kBlockWeight", blocks_w), ("kBlockBias", blocks_b),
        ("kOutputWeight", g(net.output.weight)[:, :, 0]), ("kOutputBias", g(net.output.bias)),
    ]


def checksum(net):
    """sha256 of every weight array's float32 little-endian bytes, in export order."""
    h = hashlib.sha256()
    for _, a in weight_arrays(net):
        h.update(np.ascontiguousarray(a, dtype="<f4").tobytes())
    return h.hexdigest()


def export_cpp(net, path, command, notes=""):
    """Writes the weights as a C++ include file for the activation library."""
    lines = [
        "// Generated file: the weights of the beat and downbeat activation network.",
        f"// Made by: {command}",
        f"// sha256 of the weights (float32 little-endian, in the order below): {checksum(net)}",
    ]
    lines += [f"// {n}" for n in notes.splitlines() if n]
    lines += [
        "#pragma once", "",
        "namespace activation::model {", "",
        f"inline constexpr int kInputs = {net.inputs};",
        f"inline constexpr int kChannels = {net.channels};",
        f"inline constexpr int kBlocks = {net.blocks};",
        f"inline constexpr int kKernel = {net.kernel};",
        f"inline constexpr int kOutputs = {len(CLASSES)};", "",
    ]
    body = "\n".join(lines) + "\n" + "\n".join(_floats(n, a) for n, a in weight_arrays(net))
    body += "\n}  // namespace activation::model\n"
    with open(path, "w") as f:
        f.write(body)


def export_reference(net, features, path):
    """A reference case for the C++ inference: frames, inputs (int32), the
    input features [frames][inputs] and the softmax outputs [frames][3], float32."""
    with torch.no_grad():
        x = torch.from_numpy(np.ascontiguousarray(features.T, dtype=np.float32))[None]
        p = torch.softmax(net(x), dim=1)[0].numpy().T
    with open(path, "wb") as f:
        f.write(struct.pack("<ii", features.shape[0], features.shape[1]))
        f.write(np.ascontiguousarray(features, dtype="<f4").tobytes())
        f.write(np.ascontiguousarray(p, dtype="<f4").tobytes())
