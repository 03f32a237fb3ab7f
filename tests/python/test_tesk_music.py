"""tesk_music against tesk-beat on the bundled example, streaming in blocks,
threads, and the errors a caller makes."""

import json
import os
import subprocess
import threading

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


def tool_beats(*options):
    out = subprocess.run([TOOL, "--format", "csv", "--no-progress", *options, EXAMPLE],
                         check=True, capture_output=True, text=True).stdout
    rows = [line.split(",") for line in out.splitlines()[1:] if line and line[0] != "#"]
    return np.array([float(r[0]) for r in rows]), np.array([r[1] == "1" for r in rows])


@pytest.fixture(scope="module")
def example():
    return read_example()


@pytest.mark.parametrize("settings,options", [
    ({}, []),
    ({"offline": True}, ["--offline"]),
    ({"tracker": "stpm"}, ["--tracker", "stpm"]),
])
def test_example_scores_as_the_tool(example, settings, options):
    samples, rate = example
    result = tesk_music.track(samples, rate, **settings)
    times, reliable = tool_beats(*options)
    # The tool writes times to a tenth of a millisecond.
    np.testing.assert_allclose(result.times, times, atol=0.51e-4, rtol=0)
    np.testing.assert_array_equal(result.reliable, reliable)
    reference = np.loadtxt(EXAMPLE_BEATS)[:, 0]
    ours = mir_eval.beat.f_measure(reference, result.times[result.reliable])
    assert ours == mir_eval.beat.f_measure(reference, times[reliable])
    assert ours > 0.5  # the beats are the music's, not noise
    assert result.summary["beats"] == len(result.times)
    assert result.summary["reliable"] == int(result.reliable.sum())
    assert result.summary["duration"] == pytest.approx(24.0)


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
    for column in ("times", "reliable", "tempo", "confidence", "frames"):
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
    ({"window": 100000}, ["--window", "100000"]),
    ({"tracker": "stpm", "offline": True}, ["--tracker", "stpm", "--offline"]),
    ({"tracker": "waltz"}, ["--tracker", "waltz"]),
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


def test_engine_follows_clicks_and_checks_its_input():
    # 160 samples at 16 kHz: 100 frames a second; a click every 60 frames is 100 BPM.
    engine = tesk_music.Engine(16000, 512, 160, min_bpm=60, max_bpm=120)
    for frame in range(1000):
        result = engine.analyze(np.full(256, 1.0 if frame % 60 == 0 else 0.01))
    assert result["interval"] == 60
    assert result["tempo"] == pytest.approx(100.0)
    assert 0.0 <= result["reliability"] <= 1.0
    with pytest.raises(ValueError):
        engine.analyze(np.zeros(255))
    with pytest.raises(TypeError):
        engine.analyze(np.zeros(256, dtype=np.int32))
    with pytest.raises(ValueError):
        tesk_music.Engine(16000, 512, 160, min_bpm=120, max_bpm=60)
