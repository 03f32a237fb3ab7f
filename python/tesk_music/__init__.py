"""Beat tracking for numpy arrays, with the pipeline tesk-beat runs.

    result = tesk_music.track(samples, sample_rate, **settings)
    result.times        # beat times in seconds (float64)
    result.reliable     # whether each beat reached the reliability threshold
    result.tempo        # BPM of each reliable beat, 0 for a discarded one
    result.confidence   # the tracker's reliability (0 to 1) when it announced it
    result.summary      # counts, median tempo (BPM) and duration (s)

For streams, ``Tracker(sample_rate, channels, **settings)`` with
``process(block)`` and ``finish()``; for the raw engine, ``Engine``. The same samples and settings give the
beats tesk-beat reports, however the stream is cut into blocks.

Settings are keywords named as tesk-beat's options (``--min-bpm`` is
``min_bpm``); an unset one takes the chosen tracker's default:

    tracker         "bar-pointer" (default) or "stpm"
    offline         False; True decodes the whole stream at its end (bar-pointer)
    min_bpm         slowest tempo, BPM (bar-pointer 55, stpm 79)
    max_bpm         fastest tempo, BPM (bar-pointer 215, stpm 160)
    threshold       reliability a beat needs to count, 0 to 1 (0.5)
    window          analysis window, samples at the analysis rate (46 ms, stpm 32 ms)
    advance         hop between frames, samples at the analysis rate (10 ms)
    announce_ahead  frames a bar-pointer beat is announced ahead (3)
    analysis_rate   Hz; faster inputs are resampled to it, 0 = never (44100, stpm 16000)
    compress        gamma of log(1 + gamma*|X|), 0 = none (10)
    offset          seconds added to every beat time (0)
    silence_gate    dBFS; beats after a second below it are dropped, 0 = keep all (-60)
    vectors         True: each beat carries the node's onset, stpm and chroma vectors
                    (the results' onset, stpm and chroma lists; tesk-beat's --vectors)
    plugin          path of libtesk-music.tlb (default: beside the library)

Bad settings raise ValueError with tesk-beat's message; arrays of the wrong
type or shape raise TypeError or ValueError. Tracking releases the GIL;
trackers share no state, so trackers in separate threads give what each
gives alone.
"""

import numpy as _np

from . import _native

__all__ = ["track", "Tracker", "Beats", "Result", "Engine"]


class Beats:
    """Beats as columns of equal length: ``times`` (s, float64), ``reliable``
    (bool), ``tempo`` (BPM, float32, 0 for a discarded beat), ``confidence``
    (0 to 1, float32) and ``frames`` (the analysis frame that announced each).
    With ``vectors=True``, ``onset``, ``stpm`` and ``chroma`` are lists with
    one float32 array per beat, the node's vectors on that beat's frame;
    otherwise they are None."""

    def __init__(self, times, reliable, tempo, confidence, frames,
                 onset=None, stpm=None, chroma=None):
        self.times = times
        self.reliable = reliable
        self.tempo = tempo
        self.confidence = confidence
        self.frames = frames
        self.onset = onset
        self.stpm = stpm
        self.chroma = chroma

    @classmethod
    def _join(cls, parts):
        """Beats from the native columns of consecutive calls: five arrays,
        and with vectors three lists of arrays."""
        columns = list(zip(*parts)) if parts else [[] for _ in range(5)]
        types = (_np.float64, bool, _np.float32, _np.float32, _np.int64)
        arrays = [_np.concatenate(c) if len(c) else _np.zeros(0, t)
                  for c, t in zip(columns, types)]
        vectors = [[v for part in c for v in part] for c in columns[len(types):]]
        return cls(*arrays, *vectors)

    def __len__(self):
        return len(self.times)

    def __repr__(self):
        return "%s(%d beats, %d reliable)" % (type(self).__name__, len(self),
                                               int(self.reliable.sum()))


class Result(Beats):
    """The beats of a whole input, and ``summary``: a dict with ``beats``,
    ``reliable`` (counts), ``median_tempo`` (BPM of the reliable beats, 0
    without any), ``duration`` (s) and ``frames`` (analysis frames)."""

    def __init__(self, beats, duration, frames):
        super().__init__(beats.times, beats.reliable, beats.tempo, beats.confidence,
                         beats.frames, beats.onset, beats.stpm, beats.chroma)
        tempi = beats.tempo[beats.reliable]
        self.summary = {
            "beats": len(beats),
            "reliable": int(beats.reliable.sum()),
            "median_tempo": float(_np.median(tempi)) if len(tempi) else 0.0,
            "duration": duration,
            "frames": frames,
        }


def _as_frames(samples, channels):
    """``samples`` as a C-contiguous float32 array of frames x channels."""
    if not isinstance(samples, _np.ndarray):
        raise TypeError("samples must be a numpy array, not %s" % type(samples).__name__)
    if not _np.issubdtype(samples.dtype, _np.floating):
        raise TypeError("samples must be floating point (in [-1, 1]), not %s" % samples.dtype)
    if samples.ndim == 1:
        samples = samples[:, None]
    if samples.ndim != 2:
        raise ValueError("samples must be 1-D (mono) or 2-D (frames x channels), not %d-D"
                         % samples.ndim)
    if channels is not None and samples.shape[1] != channels:
        raise ValueError("samples have %d channels; the tracker was made for %d"
                         % (samples.shape[1], channels))
    return _np.ascontiguousarray(samples, dtype=_np.float32)


class Tracker:
    """Tracker(sample_rate, channels=1, **settings): tracks one stream.

    ``sample_rate`` in Hz, ``channels`` of the blocks to come; the settings
    are those of ``tesk_music`` (see ``help(tesk_music)``). ``process(block)``
    takes the next frames (1-D for mono, or frames x channels) and returns
    the Beats announced on them; ``finish()`` ends the stream and returns
    the last ones. ``frames`` counts the analysis frames run so far.
    """

    def __init__(self, sample_rate, channels=1, **settings):
        self._channels = channels
        self._native = _native.Tracker(sample_rate, channels, **settings)
        self._finished = False

    def process(self, block):
        """Tracks the next frames of the stream; returns their Beats."""
        if self._finished:
            raise ValueError("process() after finish()")
        return Beats._join([self._native.process(_as_frames(block, self._channels))])

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


def track(samples, sample_rate, **settings):
    """track(samples, sample_rate, **settings) -> Result

    Beats of a whole input: ``samples`` a floating-point numpy array in
    [-1, 1], 1-D (mono) or 2-D (frames x channels); ``sample_rate`` in Hz.
    Settings as for ``tesk_music`` (see ``help(tesk_music)``). The result
    has ``times`` (s), ``reliable``, ``tempo`` (BPM), ``confidence`` and a
    ``summary``.
    """
    frames = _as_frames(samples, None)
    native = _native.Tracker(sample_rate, frames.shape[1], **settings)
    beats = Beats._join([native.process(frames), native.finish()])
    return Result(beats, frames.shape[0] / float(sample_rate), native.frames)


class Engine:
    """Engine(sample_rate=16000, window=512, advance=160, min_bpm=79, max_bpm=160)

    The stpm tracker's engine on its own, without the pipeline: ``analyze``
    takes one frame's linear magnitude spectrum (``window // 2`` floating-point
    values) and returns that frame's result as a dict: ``interval`` (beat
    interval, frames), ``tempo`` (BPM), ``current_time``, ``beat_time`` and
    ``recent_beat_time`` (frames), ``reliability`` (0 to 1) and the frame's
    ``onset``, ``stpm`` and ``chroma`` vectors (numpy arrays). ``sample_rate``
    in Hz, ``window`` and ``advance`` in samples; the candidate intervals
    follow from the tempo range (BPM) as the stpm node derives them.
    """

    def __init__(self, sample_rate=16000, window=512, advance=160, min_bpm=79, max_bpm=160):
        self._native = _native.Engine(sample_rate, window, advance, min_bpm, max_bpm)

    def analyze(self, magnitudes):
        """The result of the next frame, given its magnitude spectrum."""
        if not isinstance(magnitudes, _np.ndarray):
            raise TypeError("magnitudes must be a numpy array, not %s" % type(magnitudes).__name__)
        if not _np.issubdtype(magnitudes.dtype, _np.floating):
            raise TypeError("magnitudes must be floating point, not %s" % magnitudes.dtype)
        return self._native.analyze(_np.ascontiguousarray(magnitudes, dtype=_np.float64))
