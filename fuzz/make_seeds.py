#!/usr/bin/python3
"""Writes the seed corpora of audio_file_fuzzer and engine_fuzzer.

Small inputs that reach deep quickly: audio files of the common containers
and sample formats (WAV, AIFF, AU, the head of the bundled FLAC), with a
click every 60 frames, a stream header of unknown length, a cut file and
odd rates and channel counts; engine inputs that track a periodic click,
carry NaN and infinities, write the diagnostic files, use unusable settings
and a spectrum of the wrong length.

Usage: fuzz/make_seeds.py   (rewrites fuzz/corpus/audio_file and fuzz/corpus/engine)
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def clicks(frames, rate, channels=1):
    """Samples in [-1, 1]: a decaying burst every 0.1 s, quiet noise between."""
    period = max(1, rate // 10)
    out = []
    for n in range(frames):
        k = n % period
        value = math.exp(-k / 20.0) * (1 if (n // 3) % 2 else -1) if k < 80 else 0.001 * ((n * 7919) % 13 - 6)
        out.append([value * (1 - 0.3 * c) for c in range(channels)])
    return out


def pcm(samples, bits):
    data = bytearray()
    for frame in samples:
        for v in frame:
            if bits == 8:
                data += struct.pack("<B", int(round(v * 127)) + 128)
            elif bits == 16:
                data += struct.pack("<h", int(round(v * 32767)))
            elif bits == 24:
                data += struct.pack("<i", int(round(v * 8388607)))[:3]
    return bytes(data)


def wav(samples, rate, bits, channels, data_size=None, fmt_tag=1, payload=None):
    body = payload if payload is not None else pcm(samples, bits)
    size = len(body) if data_size is None else data_size
    block = channels * bits // 8
    fmt = struct.pack("<HHIIHH", fmt_tag, channels, rate, rate * block, block, bits)
    riff = 4 + 8 + len(fmt) + 8 + size
    return (b"RIFF" + struct.pack("<I", min(riff, 0xFFFFFFFF)) + b"WAVE" + b"fmt " +
            struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", size) + body)


def extended(value):
    """80-bit IEEE extended, as AIFF stores its sample rate."""
    exponent = int(math.floor(math.log2(value)))
    mantissa = int(value * 2 ** (63 - exponent))
    return struct.pack(">HQ", exponent + 16383, mantissa)


def aiff(samples, rate, channels):
    body = b"".join(struct.pack(">h", int(round(v * 32767))) for f in samples for v in f)
    comm = struct.pack(">hIh", channels, len(samples), 16) + extended(rate)
    ssnd = struct.pack(">II", 0, 0) + body
    chunks = b"COMM" + struct.pack(">I", len(comm)) + comm + b"SSND" + struct.pack(">I", len(ssnd)) + ssnd
    return b"FORM" + struct.pack(">I", 4 + len(chunks)) + b"AIFF" + chunks


def au(samples, rate, channels):
    body = b"".join(struct.pack(">h", int(round(v * 32767))) for f in samples for v in f)
    return struct.pack(">4sIIIII", b".snd", 24, len(body), 3, rate, channels) + body


def float_wav_with(special, rate=16000):
    values = [v[0] for v in clicks(400, rate)]
    values[123] = special
    return wav(None, rate, 32, 1, fmt_tag=3, payload=struct.pack("<%df" % len(values), *values))


def audio_seeds():
    with open(os.path.join(HERE, "..", "examples", "groove.flac"), "rb") as f:
        flac_head = f.read(3000)
    return {
        "wav_s16_mono_16k.wav": wav(clicks(1600, 16000), 16000, 16, 1),
        "wav_u8_mono_8k.wav": wav(clicks(3000, 8000), 8000, 8, 1),
        # 2.5 s: long enough for the node's beat search to run.
        "wav_u8_mono_4k_long.wav": wav(clicks(10000, 4000), 4000, 8, 1),
        "wav_s24_stereo_48k.wav": wav(clicks(500, 48000, 2), 48000, 24, 2),
        "wav_s16_6ch_44k.wav": wav(clicks(250, 44100, 6), 44100, 16, 6),
        "wav_s16_mono_4k.wav": wav(clicks(1800, 4000), 4000, 16, 1),
        "wav_s16_mono_1hz.wav": wav(clicks(64, 1), 1, 16, 1),
        "wav_s16_mono_max_rate.wav": wav(clicks(64, 16000), 2147483647, 16, 1),
        "wav_f32_nan.wav": float_wav_with(float("nan")),
        "wav_f32_huge.wav": float_wav_with(3e38),
        "wav_stream_unknown_length.wav": wav(clicks(800, 44100, 2), 44100, 16, 2,
                                             data_size=0xFFFFFFFF),
        "wav_cut_inside_data.wav": wav(clicks(700, 16000), 16000, 16, 1, data_size=40000),
        "aiff_s16_mono_22k.aiff": aiff(clicks(1500, 22050), 22050, 1),
        "au_s16_stereo_8k.au": au(clicks(900, 8000, 2), 8000, 2),
        "flac_head.flac": flac_head,
    }


def engine_input(flags, settings, frames, period, wrong_frame, wrong_by, values):
    return bytes([flags]) + settings + struct.pack("<HBBB", frames - 1, period - 1, wrong_frame,
                                                  wrong_by + 128) + values


def small_settings(rate_index, window, advance, start, end):
    return struct.pack("<BHHHH", rate_index, window, advance, start, end - start + 8)


def click_pattern(bins, period, loud=200, quiet=1):
    """One spectrum per frame of the period: loud on the first, quiet after."""
    return bytes([loud] * bins + [quiet] * (bins * (period - 1)))


def engine_seeds():
    tracked = small_settings(0, 64, 32, 10, 30)  # 32 bins, intervals 10..29 frames
    raw_settings = (struct.pack("<d", 16000.0) + struct.pack("<HH", 64, 32) +
                    struct.pack("<dd", 10.5, 31.75))
    specials = bytes([200, 255, 1, 254, 1, 253, 252, 251, 250] * 4)
    doubles = struct.pack("<8d", 1.0, float("nan"), float("inf"), -float("inf"), 5e-324,
                          -3.5, 1e308, 0.0) * 4
    return {
        "clicks_every_20_frames": engine_input(0, tracked, 300, 20, 255, 0, click_pattern(32, 20)),
        "clicks_with_diagnostic_files": engine_input(1, tracked, 200, 16, 255, 0,
                                                     click_pattern(32, 16)),
        "clicks_raw_settings": engine_input(2, raw_settings, 300, 20, 255, 0, click_pattern(32, 20)),
        "special_bytes": engine_input(0, tracked, 300, 3, 255, 0, specials),
        "special_doubles": engine_input(4, tracked, 200, 5, 255, 0, doubles),
        "silence": engine_input(0, tracked, 300, 1, 255, 0, b""),
        "wrong_length_frame": engine_input(0, tracked, 100, 20, 40, -5, click_pattern(32, 20)),
        "tool_setting_16k": engine_input(0, small_settings(0, 512, 160, 38, 77), 200, 50, 255, 0,
                                         bytes([120, 3, 3, 3, 3])),
        "no_advance": engine_input(0, small_settings(0, 64, 0, 10, 30), 10, 1, 255, 0, b"\x01"),
        "interval_range_too_long": engine_input(0, small_settings(1, 64, 32, 900, 1000), 10, 1,
                                                255, 0, b"\x01"),
        "nan_rate": engine_input(0, small_settings(6, 64, 32, 10, 30), 100, 20, 255, 0,
                                 click_pattern(32, 20)),
    }


def write(folder, seeds):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for name in os.listdir(path):
        os.remove(os.path.join(path, name))
    for name, data in seeds.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write("audio_file", audio_seeds())
    write("engine", engine_seeds())
