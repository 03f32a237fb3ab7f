"""The corpus labels against the audio they describe, and its split rule.

Each chart plays a wood block on every beat, louder on the downbeat, and is
built exactly as a corpus excerpt; the clicks found in the WAV must sit on
the labelled beats, and the loud ones on the labelled downbeats.
"""

import collections
import os
import shutil
import sys

import pytest

np = pytest.importorskip('numpy')
pytest.importorskip('mido')
pytest.importorskip('scipy')

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'corpus')
sys.path.insert(0, CORPUS)
import build  # noqa: E402
import corpuslib as cl  # noqa: E402

needs_tools = pytest.mark.skipif(bool(cl.tools_missing()) or
                                 not os.path.exists(cl.SOUNDFONTS['timgm6mb'][0]),
                                 reason='mma, fluidsynth, sox or TimGM6mb missing')


def click_chart(time, timesig, hits, tempo_lines):
    """A groove of wood-block hits (offset, velocity) and a song of bars."""
    seq = '; '.join('%g 0 %d' % h for h in hits)
    lines = ['RndSeed 1', 'SeqClear', 'Time %d' % time, 'Timesig %s' % timesig,
             'Begin Drum-Click', '  Tone %d' % cl.CLICK_NOTE, '  Sequence {%s}' % seq,
             '  Volume ff', 'End', 'DefGroove Click', 'Groove Click']
    bar = 1
    for tempo, nbars in tempo_lines:
        lines.append('Tempo %s' % tempo)
        for _ in range(nbars):
            lines.append('%d z' % bar)
            bar += 1
    return '\n'.join(lines) + '\n'


CASES = [
    # 4/4 at 100, then a ramp to 150 over 8 beats; the cut starts mid-beat.
    ('ramp 4/4', click_chart(4, '4 4', [(1, 127), (2, 70), (3, 70), (4, 70)],
                             [('100', 3), ('150 8', 6)]), 1, 4, 0.73, 9.0),
    # 6/8 written in eighths: mma's Tempo 210 is 70 dotted quarters a minute,
    # and the labelled beat is the dotted quarter, two to the bar.
    ('6/8 dotted quarter', click_chart(6, '6 8', [(1, 127), (4, 70)],
                                       [('210', 3), ('260', 4)]), 3, 2, 0.0, 10.0),
]


@needs_tools
@pytest.mark.parametrize('name,chart,unit,bpb,offset,length', CASES, ids=[c[0] for c in CASES])
def test_labels_match_rendered_clicks(tmp_path, name, chart, unit, bpb, offset, length):
    row = {'id': 'click', 'chart': chart, 'arrangement': '', 'beat_unit': unit,
           'beats_per_bar': bpb, 'soundfont': 'timgm6mb', 'fx': 'none', 'noise': 'none',
           'peak_db': -1.0, 'offset_s': offset, 'length_s': length, 'seed': 1}
    for d in ('wav', 'gt'):
        (tmp_path / d).mkdir()
    build.build_excerpt(row, str(tmp_path), False)
    labels = np.loadtxt(tmp_path / 'gt' / 'click.beats', ndmin=2)
    times, pos = labels[:, 0], labels[:, 1].astype(int)

    # The wood block's own attack, from one hit at time 0.
    lone = str(tmp_path / 'lone.mid')
    cl.click_midi(build.prepare(row, str(tmp_path))[0], [0], lone)
    cl.fluidsynth(lone, 'timgm6mb', str(tmp_path / 'lone.wav'))
    attack = cl.detect_clicks(cl.read_wav(str(tmp_path / 'lone.wav')))[0]

    x = cl.read_wav(str(tmp_path / 'wav' / 'click.wav'))
    onsets = cl.detect_clicks(x, min_gap_s=0.2) - attack
    err, stray = cl.match_errors(times, onsets, length)
    assert stray == 0
    assert len(err) >= len(times) - 2 > 10  # all but the edge beats
    assert np.max(np.abs(err)) < 0.004, name

    # Loud clicks are the downbeats, and only they.
    peaks = np.array([np.max(np.abs(x[int(t * cl.SR):int((t + 0.03) * cl.SR)]))
                      for t in times[times < length - 0.05]])
    loud = peaks > 0.6 * peaks.max()
    assert np.array_equal(loud, pos[:len(peaks)] == 1), name


def test_manifest_splits_by_style_file():
    rows = build.read_manifest()
    splits = collections.defaultdict(set)
    for r in rows:
        splits[r['style']].add(r['split'])
    assert [s for s, v in splits.items() if len(v) > 1] == []
    families = collections.defaultdict(set)
    for r in rows:
        families[r['family']].add(r['split'])
    assert [f for f, v in families.items() if 'validation' not in v] == []
