"""tesk_music against tesk-beat on the bundled example, streaming in blocks,
threads, and the errors a caller makes."""

import json
import os
import subprocess
import sys
import threading
import wave

import mir_eval
import numpy as np
import pytest

import tesk_music

TOOL = os.environ["TESK_BEAT"]
EXAMPLE = os.environ["TESK_MUSIC_EXAMPLE"]
EXAMPLE_BEATS = os.environ["TESK_MUSIC_EXAMPLE_BEATS"]


def read_example():
    """The example as libsndfile gives it to the tool: 16-bit samples / 32768."""
    raw = subprocess.run(["sox", EXAMPLE, "-t", "raw", "-e", "signed", "-b", "16", "-"],
                         check=True, capture_output=True).stdout
    rate = int(subprocess.run(["soxi", "-r", EXAMPLE], check=True, capture_output=True,
                              text=True).stdout)
    return np.frombuffer(raw, dtype="<i2").astype(np.float32) / 32768.0, rate


def tool_json(*options, path=EXAMPLE):
    return json.loads(subprocess.run([TOOL, "--format", "json", "--no-progress", *options,
                                      path], check=True, capture_output=True, text=True).stdout)


@pytest.fixture(scope="module")
def example():
    return read_example()


@pytest.mark.parametrize("settings,options", [
    ({}, []),
    ({"offline": True, "activation": "flux"}, ["--offline", "--activation", "flux"]),
    ({"activation": "learned"}, ["--activation", "learned"]),
    ({"tracker": "stpm"}, ["--tracker", "stpm"]),
    ({"reliable_only": True, "min_bpm": None}, ["--reliable-only"]),
])
def test_example_scores_as_the_tool(example, settings, options):
    samples, rate = example
    result = tesk_music.track(samples, rate, **settings)
    tool = tool_json(*options)
    times = np.array([b["time"] for b in tool["beats"]])
    reliable = np.array([b["reliable"] for b in tool["beats"]])
    # The tool writes times to a tenth of a millisecond, tempi to 0.01 BPM
    # (null for none), and its summary as the module's.
    np.testing.assert_allclose(result.times, times, atol=0.51e-4, rtol=0)
    np.testing.assert_array_equal(result.reliable, reliable)
    tempo = np.array([np.nan if b["tempo"] is None else b["tempo"] for b in tool["beats"]])
    np.testing.assert_allclose(result.tempo, tempo, atol=0.0051, rtol=0, equal_nan=True)
    # The place in the bar: 0 in the module where the tool writes null.
    in_bar = np.array([b["beat_in_bar"] or 0 for b in tool["beats"]], dtype=np.int32)
    np.testing.assert_array_equal(result.beat_in_bar, in_bar)
    if settings.get("activation") == "learned":
        assert set(in_bar) <= {1, 2, 3, 4} and (in_bar == 1).any()
    assert result.summary == tool["summary"]
    # A discarded beat has the tracker's tempo too; only the first may lack one.
    assert np.isfinite(result.tempo[1:]).all()
    reference = np.loadtxt(EXAMPLE_BEATS)[:, 0]
    ours = mir_eval.beat.f_measure(reference, result.times[result.reliable])
    assert ours == mir_eval.beat.f_measure(reference, times[reliable])
    assert ours > 0.5  # the beats are the music's, not noise
    # Read by libsndfile as the tool reads it: the same samples, the same result.
    from_file = tesk_music.track_file(EXAMPLE, **settings)
    for column in ("times", "reliable", "tempo", "confidence", "frames", "beat_in_bar"):
        np.testing.assert_array_equal(getattr(from_file, column), getattr(result, column))
    assert from_file.summary == result.summary


@pytest.mark.parametrize("tracker", ["bar-pointer", "stpm"])
def test_vectors_are_the_tools(example, tracker):
    samples, rate = example
    result = tesk_music.track(samples, rate, tracker=tracker, vectors=True)
    out = subprocess.run([TOOL, "--format", "json", "--vectors", "--no-progress",
                          "--tracker", tracker, EXAMPLE],
                         check=True, capture_output=True, text=True).stdout
    beats = json.loads(out)["beats"]
    assert len(beats) == len(result) > 10
    np.testing.assert_allclose(result.times, [b["time"] for b in beats], atol=0.51e-4, rtol=0)
    for name in ("onset", "stpm", "chroma"):
        ours = getattr(result, name)
        assert len(ours) == len(beats)
        for mine, theirs in zip(ours, beats):
            # The tool writes six significant digits and null for what is not finite.
            np.testing.assert_allclose(mine, np.array(theirs[name], dtype=float),
                                       rtol=1e-5, atol=1e-37, equal_nan=True)
    assert all(len(v) > 0 for v in result.onset)
    assert tesk_music.track(samples[:rate], rate).onset is None


def clicks(rate=44100, seconds=8.0, bpm=120.0, channels=2):
    t = np.arange(int(rate * seconds)) / rate
    since = np.mod(t, 60.0 / bpm)
    mono = np.where(since < 0.01, 0.8 * np.sin(2 * np.pi * 1000 * since), 0.0)
    return np.repeat(mono[:, None], channels, axis=1).astype(np.float32), rate


@pytest.mark.parametrize("block", [1, 7, 4096])
def test_streaming_in_blocks_equals_one_call(block):
    samples, rate = clicks(rate=48000, seconds=6.0)
    whole = tesk_music.track(samples, rate)
    tracker = tesk_music.Tracker(rate, 2)
    parts = [tracker.process(samples[at:at + block]) for at in range(0, len(samples), block)]
    parts.append(tracker.finish())
    assert len(whole) > 5
    for column in ("times", "reliable", "tempo", "confidence", "frames", "beat_in_bar"):
        np.testing.assert_array_equal(np.concatenate([getattr(p, column) for p in parts]),
                                      getattr(whole, column))


def test_two_threads_give_what_each_gives_alone():
    a, rate = clicks(bpm=120.0)
    b, _ = clicks(bpm=97.0)
    alone = [tesk_music.track(a, rate, tracker="stpm"), tesk_music.track(b, rate)]
    together = [None, None]

    def run(i, samples, settings):
        together[i] = tesk_music.track(samples, rate, **settings)

    threads = [threading.Thread(target=run, args=(0, a, {"tracker": "stpm"})),
               threading.Thread(target=run, args=(1, b, {}))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    for mine, theirs in zip(alone, together):
        np.testing.assert_array_equal(mine.times, theirs.times)
        np.testing.assert_array_equal(mine.tempo, theirs.tempo)


def tool_message(*options):
    run = subprocess.run([TOOL, *options, EXAMPLE], capture_output=True, text=True)
    assert run.returncode == 2
    return run.stderr.strip().removeprefix("tesk-beat: ")


@pytest.mark.parametrize("settings,options", [
    ({"min_bpm": 150, "max_bpm": 120}, ["--min-bpm", "150", "--max-bpm", "120"]),
    ({"min_bpm": 0}, ["--min-bpm", "0"]),
    ({"max_bpm": 0}, ["--max-bpm", "0"]),
    ({"window": 0}, ["--window", "0"]),
    ({"advance": 0}, ["--advance", "0"]),
    ({"window": 100000}, ["--window", "100000"]),
    ({"tracker": "stpm", "offline": True}, ["--tracker", "stpm", "--offline"]),
    ({"tracker": "waltz"}, ["--tracker", "waltz"]),
    ({"activation": "bogus"}, ["--activation", "bogus"]),
    ({"tracker": "stpm", "activation": "flux"}, ["--tracker", "stpm", "--activation", "flux"]),
])
def test_bad_settings_raise_the_tools_message(settings, options):
    samples, rate = clicks(seconds=1.0)
    with pytest.raises(ValueError) as caught:
        tesk_music.track(samples, rate, **settings)
    assert str(caught.value) == tool_message(*options)


def test_wrong_arguments():
    samples, rate = clicks(seconds=1.0)
    with pytest.raises(TypeError):
        tesk_music.track(samples, rate, min_bmp=60)  # misspelt
    with pytest.raises(TypeError):
        tesk_music.track(samples, rate, min_bpm="60")
    with pytest.raises(TypeError):
        tesk_music.track((samples * 32767).astype(np.int16), rate)
    with pytest.raises(TypeError):
        tesk_music.track(samples.tolist(), rate)
    with pytest.raises(ValueError):
        tesk_music.track(samples[None], rate)  # 3-D
    with pytest.raises(ValueError):
        tesk_music.Tracker(rate, 1).process(samples)  # two channels into one
    with pytest.raises(ValueError):
        tesk_music.track(samples, 3000)  # too low a rate for tracking
    for rate_given in (44100.5, float("nan")):
        with pytest.raises(ValueError, match="^sample_rate must be a whole number of Hz$"):
            tesk_music.Tracker(rate_given, 2)
    with pytest.raises(OSError, match="^/nonexistent.wav: No such file or directory$"):
        tesk_music.track_file("/nonexistent.wav")
    with pytest.raises(OSError, match=r"test_tesk_music.py: not a readable audio file \("):
        tesk_music.track_file(__file__)


def test_whole_float_rates_and_the_version():
    samples, rate = clicks(rate=44100, seconds=4.0)
    whole = tesk_music.track(samples, rate)
    for given in (44100.0, np.float64(44100), np.int32(44100)):
        np.testing.assert_array_equal(tesk_music.track(samples, given).times, whole.times)
    assert len(whole) > 3
    version = subprocess.run([TOOL, "--version"], check=True, capture_output=True,
                             text=True).stdout.splitlines()[0]
    assert version == "tesk-beat " + tesk_music.__version__


@pytest.mark.parametrize("value,name", [(np.nan, "NaN"), (-np.inf, "infinity")])
def test_non_finite_samples_are_refused_and_leave_the_tracker_as_it_was(value, name):
    samples, rate = clicks(seconds=6.0, channels=1)
    bad = samples[:100].copy()
    bad[12] = value
    tracker = tesk_music.Tracker(rate, 1)
    with pytest.raises(ValueError, match="^block holds %s at sample 12$" % name):
        tracker.process(bad)
    streamed = [tracker.process(samples), tracker.finish()]
    whole = tesk_music.track(samples, rate)
    assert len(whole) > 5
    np.testing.assert_array_equal(np.concatenate([p.times for p in streamed]), whole.times)
    stereo = np.repeat(bad, 2, axis=1)
    stereo[12, 0] = 0.0
    with pytest.raises(ValueError, match="^samples hold %s at sample 12, channel 2$" % name):
        tesk_music.track(stereo, rate)


def run_python(script):
    """``script`` in a fresh interpreter: the canceller draws from the
    process's rand(), which only a fresh process starts alike."""
    return subprocess.run([sys.executable, "-c", script], check=True, capture_output=True,
                          text=True, env=dict(os.environ))


def test_stpm_console_lines_only_on_request():
    # Bursts every half second at 16 kHz: beats, each with its console lines.
    script = ("import numpy as np, tesk_music\n"
              "n = np.arange(160000)\n"
              "x = (np.sin(n / 5.0) * (n %% 8000 < 400)).astype('f4')\n"
              "tesk_music.track(x, 16000, tracker='stpm', verbose=%s)\n"
              "tesk_music.Engine().analyze(np.ones(256))\n")
    quiet, verbose = run_python(script % False), run_python(script % True)
    assert quiet.stdout == "" and quiet.stderr == ""
    assert verbose.stdout == "" and "beat_tracking initialize ended" in verbose.stderr


def write_wav(path, mono, rate):
    """16-bit mono WAV of ``mono`` in [-1, 1]; returns the samples as read back."""
    pcm = np.round(np.clip(mono, -1, 1) * 32767).astype("<i2")
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1), w.setsampwidth(2), w.setframerate(rate)
        w.writeframes(pcm.tobytes())
    return pcm.astype(np.float32) / 32768


def test_reference_is_cancelled_as_the_tool_cancels_it(example, tmp_path):
    # A click track at another tempo over the example, cancelled: given as
    # a path, as an array at the input's rate, and to the tool.
    samples, rate = example
    clicked = clicks(rate=rate, seconds=20.0, bpm=97.0, channels=1)[0][:, 0]
    np.save(tmp_path / "clicks.npy", write_wav(tmp_path / "clicks.wav", clicked, rate))
    np.save(tmp_path / "mix.npy", write_wav(tmp_path / "mix.wav", samples + np.resize(
        clicked, len(samples)), rate))
    mix, reference = str(tmp_path / "mix.wav"), str(tmp_path / "clicks.wav")
    def beats(*options):
        return [[b["time"], b["confidence"]] for b in tool_json(*options, path=mix)["beats"]]
    tool = beats("--reference", reference)
    assert len(tool) > 10 and tool != beats()
    run = ("import json, numpy as np, tesk_music\n"
           "r = tesk_music.%s\n"
           "print(json.dumps(np.stack([r.times, r.confidence], axis=1).tolist()))")
    for call in ("track_file(%r, reference=%r)" % (mix, reference),
                 "track(np.load(%r), %d, reference=np.load(%r))"
                 % (str(tmp_path / "mix.npy"), rate, str(tmp_path / "clicks.npy"))):
        np.testing.assert_allclose(json.loads(run_python(run % call).stdout), tool,
                                   atol=0.51e-4, rtol=0)
