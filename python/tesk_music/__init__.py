"""Beat tracking for numpy arrays and audio files, with the pipeline tesk-beat runs.

    result = tesk_music.track(samples, sample_rate, **settings)
    result = tesk_music.track_file("song.flac", **settings)
    result.times        # beat times in seconds (float64)
    result.reliable     # whether each beat reached the reliability threshold
    result.tempo        # BPM: the tracker's tempo estimate at each beat, discarded
                        # ones too; NaN before it has one
    result.confidence   # the tracker's reliability (0 to 1) when it announced it
    result.beat_in_bar  # where each beat falls in its bar, 1 = the downbeat; 0 where
                        # no bar is known
    result.summary      # tesk-beat's JSON summary: counts, median tempo, duration

For streams, ``Tracker(sample_rate, channels, **settings)`` with
``process(block)`` and ``finish()``; for the raw engine, ``Engine``. The same samples and settings give the
beats tesk-beat reports, however the stream is cut into blocks.

Settings are keywords named as tesk-beat's options (``--min-bpm`` is
``min_bpm``); an unset one (or None) takes the chosen tracker's default:

    tracker         "bar-pointer" (default) or "stpm"
    offline         False; True decodes the whole stream at its end (bar-pointer)
    min_bpm         slowest tempo, BPM, 1 to 999 (bar-pointer 55, stpm 79)
    max_bpm         fastest tempo, BPM, 2 to 1000 (bar-pointer 215, stpm 160)
    threshold       reliability a beat needs to count, 0 to 1 (0.5)
    window          analysis window, samples at the analysis rate (46 ms, stpm 32 ms)
    advance         hop between frames, samples at the analysis rate (10 ms)
    announce_ahead  frames a bar-pointer beat is announced ahead (3)
    activation      what the bar-pointer tracker observes: "flux" (the default), the
                    spectral flux, or "learned", a network's beat and downbeat activations
    analysis_rate   Hz; faster inputs are resampled to it, 0 = never (44100, stpm 16000)
    compress        gamma of log(1 + gamma*|X|), 0 = none (10)
    offset          seconds added to every beat time (0)
    silence_gate    dBFS; beats after a second below it are dropped, 0 = keep all (-60)
    vectors         True: each beat carries the node's onset, stpm and chroma vectors
                    (the results' onset, stpm and chroma lists; tesk-beat's --vectors)
    reliable_only   True: discarded beats are left out (tesk-beat's --reliable-only)
    reference       a known signal to cancel from the input (tesk-beat's --reference):
                    an array at the input's rate (1-D, or frames x channels, mixed
                    down), or for track_file also a path
    verbose         True: the stpm tracker's console lines on standard error
                    (otherwise none)
    plugin          path of libtesk-music.tlb (default: beside the library)

Bad settings raise ValueError with tesk-beat's message; arrays of the wrong
type or shape raise TypeError or ValueError, and so do NaN or infinite
samples (the tracker is left as it was). Files are read through libsndfile
as tesk-beat reads them: one that cannot be read raises OSError with its
message. Tracking releases the GIL; trackers share no state, so trackers in
separate threads give what each gives alone.
"""

import json as _json
import operator as _operator
import os as _os

import numpy as _np

from . import _native

__all__ = ["track", "track_file", "Tracker", "Beats", "Result", "Engine", "__version__"]

__version__ = _native.__version__


class Beats:
    """Beats as columns of equal length: ``times`` (s, float64), ``reliable``
    (bool), ``tempo`` (BPM, float32: the tracker's estimate at the beat,
    also at a discarded one; NaN before it has any), ``confidence``
    (0 to 1, float32), ``frames`` (the analysis frame that announced each)
    and ``beat_in_bar`` (int32: where each falls in its bar, 1 = the
    downbeat, 2... the beats after it; 0 where the tracker knows no bar, as
    the stpm tracker never does). With ``vectors=True``, ``onset``, ``stpm``
    and ``chroma`` are lists with one float32 array per beat, the node's
    vectors on that beat's frame; otherwise they are None."""

    def __init__(self, times, reliable, tempo, confidence, frames,
                 onset=None, stpm=None, chroma=None, beat_in_bar=None):
        self.times = times
        self.reliable = reliable
        self.tempo = tempo
        self.confidence = confidence
        self.frames = frames
        self.onset = onset
        self.stpm = stpm
        self.chroma = chroma
        self.beat_in_bar = (_np.zeros(len(times), _np.int32) if beat_in_bar is None
                            else beat_in_bar)

    @classmethod
    def _join(cls, parts):
        """Beats from the native columns of consecutive calls: six arrays,
        and with vectors three lists of arrays."""
        types = (_np.float64, bool, _np.float32, _np.float32, _np.int64, _np.int32)
        columns = list(zip(*parts)) if parts else [[] for _ in types]
        arrays = [_np.concatenate(c) if len(c) else _np.zeros(0, t)
                  for c, t in zip(columns, types)]
        vectors = [[v for part in c for v in part] for c in columns[len(types):]]
        *beats, beat_in_bar = arrays
        return cls(*beats, *vectors, beat_in_bar=beat_in_bar)

    def __len__(self):
        return len(self.times)

    def __repr__(self):
        return "%s(%d beats, %d reliable)" % (type(self).__name__, len(self),
                                               int(self.reliable.sum()))


class Result(Beats):
    """The beats of a whole input, and ``summary``: tesk-beat's JSON summary
    as a dict, ``reported`` (beats in the result), ``announced``,
    ``reliable``, ``discarded`` (counts), ``median_tempo`` (BPM of the
    reliable beats to 0.01, None without any), ``duration`` (s, to 1 ms),
    ``frames`` (analysis frames) and ``truncated`` (a file that ended before
    its header said)."""

    def __init__(self, beats, summary_json):
        super().__init__(beats.times, beats.reliable, beats.tempo, beats.confidence,
                         beats.frames, beats.onset, beats.stpm, beats.chroma,
                         beats.beat_in_bar)
        self.summary = _json.loads(summary_json)["summary"]


def _whole_hz(sample_rate):
    """``sample_rate`` as an int: ints, and floats that are whole numbers."""
    if isinstance(sample_rate, (bool, _np.bool_)):
        raise TypeError("sample_rate must be a number of Hz, not bool")
    try:
        return _operator.index(sample_rate)
    except TypeError:
        pass
    if isinstance(sample_rate, (float, _np.floating)):
        if _np.isfinite(sample_rate) and float(sample_rate).is_integer():
            return int(sample_rate)
        raise ValueError("sample_rate must be a whole number of Hz")
    raise TypeError("sample_rate must be a number of Hz, not %s" % type(sample_rate).__name__)


def _check_finite(frames, what):
    """ValueError naming the first frame (and channel) of ``frames`` that is
    NaN or infinite: the tracker is never given one."""
    bad = ~_np.isfinite(frames)
    if not bad.any():
        return
    frame = int(_np.flatnonzero(bad.any(axis=1))[0])
    channel = int(_np.flatnonzero(bad[frame])[0])
    where = "sample %d" % frame
    if frames.shape[1] > 1:
        where += ", channel %d" % (channel + 1)
    raise ValueError("%s %s at %s" % (what, "NaN" if _np.isnan(frames[frame, channel])
                                      else "infinity", where))


def _as_frames(samples, channels, what="samples", verb="hold"):
    """``samples`` as a C-contiguous float32 array of frames x channels,
    every sample finite."""
    if not isinstance(samples, _np.ndarray):
        raise TypeError("%s must be a numpy array, not %s" % (what, type(samples).__name__))
    if not _np.issubdtype(samples.dtype, _np.floating):
        raise TypeError("%s must be floating point (in [-1, 1]), not %s" % (what, samples.dtype))
    if samples.ndim == 1:
        samples = samples[:, None]
    if samples.ndim != 2:
        raise ValueError("%s must be 1-D (mono) or 2-D (frames x channels), not %d-D"
                         % (what, samples.ndim))
    if channels is not None and samples.shape[1] != channels:
        raise ValueError("%s have %d channels; the tracker was made for %d"
                         % (what, samples.shape[1], channels))
    frames = _np.ascontiguousarray(samples, dtype=_np.float32)
    _check_finite(frames, "%s %s" % (what, verb))
    return frames


def _mono_reference(reference):
    """A reference array as mono float32: the mean of its channels."""
    return _as_frames(reference, None, "reference", "holds").mean(axis=1, dtype=_np.float32)


def _as_reference(reference, frames):
    """A reference array as mono float32 of ``frames`` samples, cut or padded
    with silence to the input's length as tesk-beat pads it."""
    mono = _mono_reference(reference)
    out = _np.zeros(frames, _np.float32)
    out[:min(frames, len(mono))] = mono[:frames]
    return out


class Tracker:
    """Tracker(sample_rate, channels=1, reference=False, **settings): tracks one stream.

    ``sample_rate`` in Hz (a whole number), ``channels`` of the blocks to
    come; the settings are those of ``tesk_music`` (see ``help(tesk_music)``).
    ``process(block)`` takes the next frames (1-D for mono, or frames x
    channels) and returns the Beats announced on them; ``finish()`` ends the
    stream and returns the last ones. ``frames`` counts the analysis frames
    run so far. With ``reference=True``, ``process(block, reference)`` also
    takes the known signal to cancel, aligned with the block (None: silence).
    """

    def __init__(self, sample_rate, channels=1, reference=False, **settings):
        self._channels = channels
        self._cancels = bool(reference)
        self._native = _native.Tracker(_whole_hz(sample_rate), channels, self._cancels,
                                       **settings)
        self._finished = False

    def process(self, block, reference=None):
        """Tracks the next frames of the stream; returns their Beats."""
        if self._finished:
            raise ValueError("process() after finish()")
        frames = _as_frames(block, self._channels, "block", "holds")
        if reference is not None:
            if not self._cancels:
                raise ValueError("a reference needs Tracker(..., reference=True)")
            reference = _as_reference(reference, len(frames))
        return Beats._join([self._native.process(frames, reference)])

    def finish(self):
        """Ends the stream: the last frames are analysed (offline: the whole
        stream decoded); returns the Beats they give."""
        self._finished = True
        return Beats._join([self._native.finish()])

    @property
    def frames(self):
        return self._native.frames

    @property
    def analysis_rate(self):
        """Hz: the rate the stream is analysed at."""
        return self._native.analysis_rate


def track(samples, sample_rate, reference=None, **settings):
    """track(samples, sample_rate, reference=None, **settings) -> Result

    Beats of a whole input: ``samples`` a floating-point numpy array in
    [-1, 1], 1-D (mono) or 2-D (frames x channels); ``sample_rate`` in Hz.
    ``reference``: a known signal at the same rate to cancel. Settings as
    for ``tesk_music`` (see ``help(tesk_music)``). The result has ``times``
    (s), ``reliable``, ``tempo`` (BPM), ``confidence``, ``frames``,
    ``beat_in_bar`` and a ``summary``.
    """
    rate = _whole_hz(sample_rate)
    frames = _as_frames(samples, None)
    cancel = None if reference is None else _as_reference(reference, len(frames))
    native = _native.Tracker(rate, frames.shape[1], cancel is not None, **settings)
    beats = Beats._join([native.process(frames, cancel), native.finish()])
    return Result(beats, native.summary(frames.shape[0] / float(rate), False))


def track_file(path, reference=None, **settings):
    """track_file(path, reference=None, **settings) -> Result

    Beats of an audio file of any format libsndfile reads, read as
    tesk-beat reads it (``"-"`` is standard input). ``reference``: a known
    signal to cancel, a path (read as ``tesk-beat --reference`` reads it)
    or an array at the file's rate. Settings as for ``track``. A file that
    cannot be read raises OSError, one with NaN or infinite samples
    ValueError, both with tesk-beat's message.
    """
    if reference is not None and not isinstance(reference, _np.ndarray):
        reference = _os.fspath(reference)
    elif reference is not None:
        # Mixed down here; the file's length is only known once it is read.
        reference = _mono_reference(reference)
    columns, summary, _, _ = _native.track_file(_os.fspath(path), reference, **settings)
    return Result(Beats._join([columns]), summary)


class Engine:
    """Engine(sample_rate=16000, window=512, advance=160, min_bpm=79, max_bpm=160, verbose=False)

    The stpm tracker's engine on its own, without the pipeline: ``analyze``
    takes one frame's linear magnitude spectrum (``window // 2`` floating-point
    values) and returns that frame's result as a dict: ``interval`` (beat
    interval, frames), ``tempo`` (BPM), ``current_time``, ``beat_time`` and
    ``recent_beat_time`` (frames), ``reliability`` (0 to 1) and the frame's
    ``onset``, ``stpm`` and ``chroma`` vectors (numpy arrays). ``sample_rate``
    in Hz, ``window`` and ``advance`` in samples; the candidate intervals
    follow from the tempo range (BPM) as the stpm node derives them. The
    engine's console lines go to standard error with ``verbose=True``, else
    nowhere.
    """

    def __init__(self, sample_rate=16000, window=512, advance=160, min_bpm=79, max_bpm=160,
                 verbose=False):
        self._native = _native.Engine(sample_rate, window, advance, min_bpm, max_bpm,
                                      bool(verbose))

    def analyze(self, magnitudes):
        """The result of the next frame, given its magnitude spectrum."""
        if not isinstance(magnitudes, _np.ndarray):
            raise TypeError("magnitudes must be a numpy array, not %s" % type(magnitudes).__name__)
        if not _np.issubdtype(magnitudes.dtype, _np.floating):
            raise TypeError("magnitudes must be floating point, not %s" % magnitudes.dtype)
        return self._native.analyze(_np.ascontiguousarray(magnitudes, dtype=_np.float64))
