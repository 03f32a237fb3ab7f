#!/usr/bin/python3
"""Writes corpus/manifest.tsv: what every generated excerpt will be.

Usage: /usr/bin/python3 corpus/plan.py [--seed 20240611] [--out corpus/manifest.tsv]

Excerpts are split by mma style file, never by excerpt, so that a tuned
setting is scored on grooves it never saw; every family has validation
styles. Rerunning with the same seed and the same mma library gives the
same manifest.
"""

import argparse
import concurrent.futures
import csv
import os
import re
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corpuslib as cl  # noqa: E402

# metre name, labelled beat in mma beats (quarter-note ticks), beats per
# bar, mma's Time. mma writes several 2/4 styles in 4 at double tempo
# (each mma beat an eighth) and its 6/8 styles in 6 (eighths), 2 (march) or
# 3 (afro-cuban); its 12/8 styles are written in 4 with triplets.
M44 = ('4/4', 1, 4, 4)
M34 = ('3/4', 1, 3, 3)
M24D = ('2/4', 2, 2, 4)
M24 = ('2/4', 1, 2, 2)
M54 = ('5/4', 1, 5, 5)
M68E = ('6/8', 3, 2, 6)
M68M = ('6/8', 1, 2, 2)
M68A = ('6/8', 1.5, 2, 3)
M128 = ('12/8', 1, 4, 4)

FAMILY_BPM = {
    'rock/pop': (80, 170), 'funk/soul': (80, 125), 'dance/disco': (110, 135),
    'swing/jazz': (90, 215), 'blues/shuffle': (70, 150), 'latin': (85, 170),
    'reggae/ska/caribbean': (90, 160), 'waltz 3/4': (85, 200),
    'compound 6/8 12/8': (55, 120), 'march/polka 2/4': (90, 140),
    'country/folk': (80, 180), 'ballad': (55, 100), 'showtune': (80, 170),
    '5/4': (80, 180),
}

S = {}


def fam(family, metre, names, bpm=None):
    for n in names.split():
        S[n] = (family, metre, bpm)


fam('rock/pop', M44, '50srock.mma 60srock.mma 8beat.mma basicrock.mma bubblerock.mma '
    'folkrock.mma softrock.mma jazzrock.mma twist.mma desert.mma')
fam('funk/soul', M44, 'bvfunk.mma dsoul.mma rb.mma strut.mma lfusion.mma')
fam('dance/disco', M44, 'trance.mma boneym.mma')
fam('swing/jazz', M44, 'swing.mma bigband.mma easyswing.mma jazzcombo.mma jazzguitar.mma '
    'mellowjazz.mma modernjazz.mma nitejazz.mma descendingjazz.mma evansish.mma '
    'folkyjazz.mma gypsyjazz.mma dixie.mma charleston.mma foxtrot.mma softshoe.mma '
    'jive.mma bebop.mma')
fam('swing/jazz', M44, 'slowjazz.mma', (55, 90))
fam('swing/jazz', M24D, 'fastswing.mma quickstep.mma', (100, 160))
fam('blues/shuffle', M44, 'blues.mma fastblues.mma boggiewoggie.mma shuffleboggie.mma '
    'countryblues.mma bluefolk.mma')
fam('blues/shuffle', M44, 'slowblues.mma', (55, 85))
fam('latin', M44, 'bossanova.mma samba.mma rhumba.mma jazzrhumba.mma mambo.mma chacha.mma '
    'salsa.mma son.mma beguine.mma bolero.mma tango.mma lighttango.mma cubanguitar.mma')
fam('latin', M44, 'slowbolero.mma', (55, 90))
fam('latin', M24D, 'merengue.mma', (100, 150))
fam('reggae/ska/caribbean', M24D, 'ska.mma')
fam('reggae/ska/caribbean', M44, 'calypso.mma')
fam('waltz 3/4', M34, 'waltz.mma jazzwaltz.mma modernjazzwaltz.mma countrywaltz.mma '
    'frenchwaltz.mma latinwaltz.mma rockwaltz.mma broadwaywaltz.mma arpeggiowaltz.mma')
fam('waltz 3/4', M34, 'fastwaltz.mma fastjazzwaltz.mma vienesewaltz.mma', (150, 215))
fam('compound 6/8 12/8', M68E, '68swing.mma blues68.mma arpeggio68.mma')
fam('compound 6/8 12/8', M68M, '68march.mma', (90, 130))
fam('compound 6/8 12/8', M68A, 'afro-cuban.mma', (80, 130))
fam('compound 6/8 12/8', M128, 'ballad68.mma ballad128.mma blues128.mma rock-128.mma')
fam('march/polka 2/4', M24D, 'march.mma bwmarch.mma polka.mma ragtime.mma')
fam('march/polka 2/4', M44, 'dixiemarch.mma')
fam('march/polka 2/4', M24, 'corpus:polka24.mma corpus:march24.mma')
fam('country/folk', M44, 'bluegrass.mma countryswing.mma westernswing.mma folk.mma '
    'hillcountry.mma zydeco.mma')
fam('country/folk', M44, 'slowcountry.mma', (55, 90))
fam('ballad', M44, 'ballad.mma popballad.mma rockballad.mma pianoballad.mma guitarballad.mma '
    'stringballad.mma rb-ballad.mma folkballad.mma lullaby.mma hymn.mma spiritual.mma '
    'slowspiritual.mma popspiritual.mma arpeggio44.mma')
fam('showtune', M24D, 'broadway.mma', (90, 150))
fam('showtune', M44, 'showtune.mma')
fam('showtune', M44, 'slowbroadway.mma', (55, 90))
fam('5/4', M54, 'jazz-54.mma corpus:rock54.mma')

SKIP_GROOVE = re.compile(r'intro|end(sus)?\d*$|fill|break|drum', re.I)
ALREADY_SWUNG = {'swing/jazz', 'blues/shuffle', 'compound 6/8 12/8'}
PROG_BY_FAMILY = {
    'swing/jazz': ['jazz', 'turn', 'blues', 'pop'],
    'blues/shuffle': ['blues', 'blues', 'minor'],
    'latin': ['latin', 'minor', 'jazz', 'aeolian'],
    'march/polka 2/4': ['two', 'rock', 'pop'],
}
DEFAULT_PROGS = ['pop', 'axis', 'rock', 'minor', 'aeolian', 'turn']

FX_COMPAND = 'compand 0.005,0.15 -80,-80,-40,-30,-20,-16,0,-10 0 -20 0'

COLUMNS = ['id', 'split', 'family', 'style', 'groove', 'metre', 'beat_unit', 'beats_per_bar',
           'mma_time', 'bpm', 'tempo_curve', 'bpm_end', 'curve_at_s', 'curve_beats', 'swing',
           'soundfont', 'arrangement', 'fx', 'noise', 'peak_db', 'offset_s', 'length_s',
           'key', 'progression', 'seed']


def style_path(style):
    if style.startswith('corpus:'):
        return os.path.join(cl.STYLE_DIR, style[len('corpus:'):])
    return os.path.join(cl.STDLIB, style)


def grooves_of(style):
    names = []
    with open(style_path(style), errors='replace') as f:
        for line in f:
            m = re.match(r'\s*DefGroove\s+(\S+)', line, re.I)
            if m and not SKIP_GROOVE.search(m.group(1)) and m.group(1) not in names:
                names.append(m.group(1))
    return names


def groove_works(args):
    style, groove, mma_time = args
    row = {'style': style}
    with tempfile.TemporaryDirectory() as d:
        text = cl.style_text(row) + 'Groove %s\nTempo 120\n' % groove
        text += ''.join('%d C\n' % (i + 1) for i in range(4))
        try:
            mid = cl.run_mma(text, d)
        except cl.CorpusError:
            return None
        import mido
        m = mido.MidiFile(mid)
        kinds = set()
        for tr in m.tracks:
            if any(e.type == 'note_on' and e.velocity for e in tr):
                kinds.add(cl.track_type(tr))
        # A groove must keep the style's bar and have something pitched.
        if m.ticks_per_beat * mma_time * 3 > cl.midi_end_tick(m) or not kinds - {'drum'}:
            return None
        return sorted(kinds)


def pick_splits(rng, val_share):
    """Style file -> split. Styles are drawn per (family, metre, beat unit),
    so that each way of writing a metre that has two or more styles is in
    both splits; every family has a style in each split where it can."""
    groups = {}
    for style in sorted(S):
        family, metre, _ = S[style]
        groups.setdefault((family, metre[0], metre[1]), []).append(style)
    split = {}
    for key, styles in sorted(groups.items()):
        order = list(rng.permutation(styles))
        if len(styles) == 1:
            n_val = int(rng.random() < val_share)
        else:
            n_val = min(len(styles) - 1, max(1, int(round(len(styles) * val_share))))
        for i, s in enumerate(order):
            split[s] = 'validation' if i < n_val else 'training'
    for family in sorted({f for f, _, _ in S.values()}):
        styles = [s for s in sorted(S) if S[s][0] == family]
        for want in ('validation', 'training'):
            if len(styles) >= 2 and all(split[s] != want for s in styles):
                split[styles[int(rng.integers(len(styles)))]] = want
    return split


def tempo_plan(rng, bpm_range):
    lo, hi = bpm_range
    if rng.random() < 0.15:
        lo, hi = 55, 215
    bpm = float(np.exp(rng.uniform(np.log(lo), np.log(hi))))
    r = rng.random()
    if r < 0.55:
        return round(bpm, 1), 'constant', round(bpm, 1)
    if r < 0.7:
        curve, ratio = 'ritardando', rng.uniform(0.7, 0.88)
    elif r < 0.85:
        curve, ratio = 'accelerando', rng.uniform(1.15, 1.35)
    else:
        curve = 'sudden'
        ratio = rng.uniform(0.72, 0.85) if rng.random() < 0.5 else rng.uniform(1.18, 1.35)
    end = bpm * ratio
    if not 55 <= end <= 215:
        end = bpm / ratio
    end = min(215.0, max(55.0, end))
    return round(bpm, 1), curve, round(end, 1)


def arrangement_plan(rng, kinds):
    """Muted track types and levels; something pitched always stays."""
    r = rng.random()
    if r < 0.15:
        mute = {'drum'}
    elif r < 0.40:
        mute = {'arpeggio', 'scale', 'aria', 'solo', 'plectrum'}
    elif r < 0.55:
        mute = {'chord', 'arpeggio', 'scale', 'aria', 'solo'}
    else:
        mute = set()
    mute &= kinds
    if not (kinds - mute - {'drum'}):
        mute = set()
    mute = ','.join(sorted(mute))
    return 'mute=%s;drum=%.1f;bass=%.1f;other=%.1f' % (
        mute, rng.uniform(-9, 3), rng.uniform(-6, 4), rng.uniform(-6, 4))


def fx_plan(rng):
    fx = []
    r = rng.random()
    if r < 0.12:
        fx += ['highpass', str(int(rng.uniform(120, 400)))]
    elif r < 0.27:
        fx += ['lowpass', str(int(rng.uniform(2500, 8000)))]
    elif r < 0.35:
        fx += ['sinc', '300-3400']  # telephone band
    if rng.random() < 0.5:
        for _ in range(int(rng.integers(1, 4))):
            k = rng.integers(3)
            g = '%+.1f' % rng.uniform(-9, 9)
            if k == 0:
                fx += ['equalizer', str(int(np.exp(rng.uniform(np.log(80), np.log(8000))))),
                       '1q', g]
            elif k == 1:
                fx += ['bass', g]
            else:
                fx += ['treble', g]
    if rng.random() < 0.3:
        fx += FX_COMPAND.split()
    if rng.random() < 0.35:
        fx += ['reverb', str(int(rng.uniform(20, 80)))]
    return ' '.join(fx) or 'none'


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--seed', type=int, default=20240611)
    ap.add_argument('--out', default=os.path.join(cl.HERE, 'manifest.tsv'))
    ap.add_argument('--validation', type=int, default=350)
    ap.add_argument('--training', type=int, default=900)
    args = ap.parse_args()
    rng = np.random.default_rng(args.seed)

    checks = [(s, g, S[s][1][3]) for s in sorted(S) for g in grooves_of(s)]
    with concurrent.futures.ProcessPoolExecutor(os.cpu_count() or 2) as ex:
        ok = list(ex.map(groove_works, checks))
    grooves = {}
    kinds = {}
    for (s, g, _), good in zip(checks, ok):
        if good:
            grooves.setdefault(s, []).append(g)
            kinds[s, g] = set(good)
    dropped = sorted({s for s in S if s not in grooves})
    if dropped:
        print('plan: styles without a usable groove:', ' '.join(dropped), file=sys.stderr)
    for s in dropped:
        del S[s]

    split = pick_splits(rng, args.validation / (args.validation + args.training))
    sfs = sorted(cl.SOUNDFONTS)
    rows = []
    for which, total in (('validation', args.validation), ('training', args.training)):
        styles = [s for s in sorted(S) if split[s] == which]
        per = [total // len(styles) + (1 if i < total % len(styles) else 0)
               for i in range(len(styles))]
        for si, (style, n) in enumerate(zip(styles, per)):
            family, (metre, unit, bpb, mtime), bpm_range = S[style]
            gs = grooves[style]
            gorder = list(rng.permutation(len(gs)))
            for k in range(n):
                groove = gs[gorder[k % len(gs)]]
                bpm, curve, bpm_end = tempo_plan(rng, bpm_range or FAMILY_BPM[family])
                length = round(float(rng.uniform(30, 60)), 1)
                swing = 0
                if family not in ALREADY_SWUNG and unit == 1 and rng.random() < 0.2:
                    swing = int(rng.integers(58, 68))
                noise = 'none'
                if rng.random() < 0.3:
                    noise = '%s:%d' % ('pink' if rng.random() < 0.6 else 'white',
                                       int(rng.integers(10, 31)))
                progs = PROG_BY_FAMILY.get(family, DEFAULT_PROGS)
                rows.append({
                    'split': which, 'family': family, 'style': style,
                    'groove': groove, 'metre': metre, 'beat_unit': unit,
                    'beats_per_bar': bpb, 'mma_time': mtime, 'bpm': bpm,
                    'tempo_curve': curve, 'bpm_end': bpm_end,
                    'curve_at_s': round(float(rng.uniform(0.25, 0.6)) * length, 2),
                    'curve_beats': int(rng.integers(8, 25)) if curve in ('ritardando', 'accelerando') else 0,
                    'swing': swing, 'soundfont': sfs[(k + si) % len(sfs)],
                    'arrangement': arrangement_plan(rng, kinds[style, groove]), 'fx': fx_plan(rng), 'noise': noise,
                    'peak_db': round(float(rng.uniform(-12, -0.5)), 1),
                    'offset_s': 0.0 if rng.random() < 0.3 else round(float(rng.uniform(0.3, 12)), 3),
                    'length_s': length, 'key': cl.NOTE_NAMES[int(rng.integers(12))],
                    'progression': progs[int(rng.integers(len(progs)))],
                    'seed': int(rng.integers(1, 2 ** 31 - 1)),
                })
    for i, r in enumerate(rows):
        base = re.sub(r'[^a-z0-9]+', '', os.path.splitext(r['style'].split(':')[-1])[0].lower())
        r['id'] = '%s%04d-%s-%s' % (r['split'][0], i + 1, base, r['groove'].lower())
    with open(args.out, 'w', newline='') as f:
        w = csv.DictWriter(f, COLUMNS, delimiter='\t', lineterminator='\n')
        w.writeheader()
        for r in rows:
            w.writerow(r)
    print('plan: %d rows (%d validation) from %d styles -> %s'
          % (len(rows), sum(r['split'] == 'validation' for r in rows), len(S), args.out))


if __name__ == '__main__':
    main()
