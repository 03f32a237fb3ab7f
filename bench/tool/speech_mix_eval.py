#!/usr/bin/env python3
"""What --reference buys against loud speech: every corpus piece is mixed at 0 dB with speech
(espeak-ng, a fixed voice, rate and text) as a microphone would hear it from a loudspeaker (a
3 ms delay, a 2nd-order Butterworth low-pass at 5 kHz, a gain), and tesk-beat tracks the clean
piece, the mix, and the mix with the speech as played given as --reference. Prints the mean
F-measure and AMLt of the corpus scorer per condition and rate. The mixes go to a temporary
directory, removed at the end.

usage: speech_mix_eval.py TOOL EVAL_DIR [--rates 16000 44100] [--options '--tracker stpm']
EVAL_DIR is a rendered copy of the corpus (render.py --rates 16000 44100)."""
import argparse, json, os, shutil, subprocess, sys, tempfile, zlib
import numpy as np
import scipy.io.wavfile as wavfile
from scipy.signal import butter, lfilter, resample_poly

TEXT = ("The quick brown fox jumps over the lazy dog, and then it runs back into the forest. "
        "Please remember to turn off the lights before you leave the office this evening. "
        "Our next train to the city centre departs from platform four in about ten minutes. "
        "She sells sea shells by the sea shore, while the children play in the warm sand. "
        "Weather tomorrow will be cloudy in the morning, with some sunshine in the afternoon. ")
VOICE, WORDS_PER_MINUTE = "en-us", 165
DELAY_S, LOWPASS_HZ = 0.003, 5000.0


def speech(tmp, seconds):
    """espeak-ng's rendering of the text, repeated until it lasts `seconds`: (rate, float mono)."""
    path = os.path.join(tmp, "speech.wav")
    subprocess.run(["espeak-ng", "-v", VOICE, "-s", str(WORDS_PER_MINUTE), "-w", path, TEXT * 3],
                   check=True)
    rate, s = wavfile.read(path)
    s = s.astype(np.float64) / 32768.0
    return rate, np.tile(s, int(np.ceil(seconds * rate / len(s))) + 1)


def mix_corpus(eval_dir, out_dir, rate, voice_rate, voice):
    """<id>.wav (music + speech through the path, 0 dB) and <id>.wav.ref.wav (the speech)."""
    os.makedirs(out_dir, exist_ok=True)
    voice = resample_poly(voice, rate, voice_rate)
    b, a = butter(2, LOWPASS_HZ / (rate / 2))
    delay = int(round(DELAY_S * rate))
    src = os.path.join(eval_dir, "cache", f"wav{rate}")
    for name in sorted(os.listdir(src)):
        if not name.endswith(".wav"):
            continue
        sr, y = wavfile.read(os.path.join(src, name))
        y = y.astype(np.float64) / 32768.0
        if y.ndim > 1:
            y = y.mean(axis=1)
        start = zlib.crc32(name.encode()) % (len(voice) - len(y))  # each piece its own words
        played = 0.5 * voice[start:start + len(y)] / np.max(np.abs(voice))
        heard = np.concatenate([np.zeros(delay), lfilter(b, a, played)])[:len(y)]
        heard *= np.sqrt(np.mean(y ** 2) / np.mean(heard ** 2))  # 0 dB at the microphone
        z = y + heard
        z *= min(1.0, 0.999 / np.max(np.abs(z)))
        wavfile.write(os.path.join(out_dir, name), sr, np.round(z * 32767).astype(np.int16))
        wavfile.write(os.path.join(out_dir, name + ".ref.wav"), sr,
                      np.round(played * 32767).astype(np.int16))


def score(eval_dir, rate, audio_dir, cmd, tmp):
    out = os.path.join(tmp, "scores.json")
    subprocess.run([sys.executable, "run_eval.py", "--name", "speech", "--rate", str(rate),
                    "--audio-dir", audio_dir, "--json", out, "--cmd", cmd],
                   cwd=eval_dir, check=True, stdout=subprocess.DEVNULL)
    with open(out) as f:
        s = json.load(f)["summary"]
    return s["F"], s["AMLt"]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("tool")
    ap.add_argument("eval_dir")
    ap.add_argument("--rates", type=int, nargs="+", default=[16000, 44100])
    ap.add_argument("--options", default="", help="tesk-beat options for every condition")
    a = ap.parse_args()
    tool, eval_dir = os.path.realpath(a.tool), os.path.realpath(a.eval_dir)
    tmp = tempfile.mkdtemp(prefix="speech-mix-")
    try:
        voice_rate, voice = speech(tmp, 120.0)
        print(f"tesk-beat {a.options or '(defaults)'}; speech at 0 dB through {DELAY_S * 1000:g} ms, "
              f"low-pass {LOWPASS_HZ:g} Hz")
        print(f"{'condition':28s} {'rate':>6s} {'F':>6s} {'AMLt':>6s}")
        for rate in a.rates:
            mixed = os.path.join(tmp, f"mixed{rate}")
            mix_corpus(eval_dir, mixed, rate, voice_rate, voice)
            base = f"{tool} {a.options}".strip()
            for label, audio_dir, cmd in (
                    ("clean", os.path.join(eval_dir, "cache", f"wav{rate}"), base + " {wav}"),
                    ("speech 0 dB", mixed, base + " {wav}"),
                    ("speech 0 dB, --reference", mixed, base + " --reference {wav}.ref.wav {wav}")):
                f, amlt = score(eval_dir, rate, audio_dir, cmd, tmp)
                print(f"{label:28s} {rate:6d} {f:6.3f} {amlt:6.3f}", flush=True)
    finally:
        shutil.rmtree(tmp)


if __name__ == "__main__":
    main()
