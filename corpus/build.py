#!/usr/bin/python3
"""Builds the generated music corpus from corpus/manifest.tsv.

  /usr/bin/python3 corpus/build.py --out DIR [--jobs 2]
      [--split validation|training|all] [--limit N] [--verify N]
      [--update-checksums]

Writes DIR/wav/<id>.wav (mono, 16-bit, 44.1 kHz), DIR/gt/<id>.beats
(time<TAB>beat in bar) and DIR/corpus.json. A few excerpts per build
(and --verify N of them on demand) are checked against a wood block
rendered on every labelled beat of the same MIDI.
"""

import argparse
import csv
import hashlib
import json
import multiprocessing
import os
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corpuslib as cl  # noqa: E402

MANIFEST = os.path.join(cl.HERE, 'manifest.tsv')
LABEL_SUMS = os.path.join(cl.HERE, 'checksums.sha256')
AUDIO_SUMS = os.path.join(cl.HERE, 'audio_checksums.sha256')
DEFAULT_OUT = os.path.join(os.path.expanduser('~'), '.cache', 'tesk-corpus')
TOLERANCE_S = 0.005
ALWAYS_CHECK_ONE_IN = 50


def read_manifest(path=MANIFEST):
    with open(path, newline='') as f:
        return list(csv.DictReader(f, delimiter='\t'))


def id_hash(row_id):
    return int(hashlib.sha256(row_id.encode()).hexdigest()[:12], 16)


def prepare(row, workdir):
    """MIDI of the row and its labels within the excerpt: (MIDI, ticks, times, positions)."""
    # A row may bring its own chart (the tests' click grooves).
    mid = cl.run_mma(row.get('chart') or cl.chart(row), workdir)
    arranged = os.path.join(workdir, 'arranged.mid')
    cl.arrange(mid, arranged, row['arrangement'])
    ticks, secs, pos = cl.beat_grid(arranged, float(row['beat_unit']), int(row['beats_per_bar']))
    # The cut starts on a whole sample; labels count from that sample.
    t0 = round(float(row['offset_s']) * cl.SR) / cl.SR
    rel = secs - t0
    keep = (rel >= 0) & (rel < float(row['length_s']))
    return arranged, ticks[keep], rel[keep], pos[keep]


def click_errors(row, arranged, ticks, rel, workdir):
    err, stray = cl.click_check(row, arranged, ticks, rel, workdir)
    return {'id': row['id'], 'n': int(len(err)), 'stray': int(stray),
            'errors_ms': [round(float(e) * 1000, 3) for e in err]}


def build_one(job):
    try:
        return build_excerpt(*job)
    except (cl.CorpusError, OSError, ValueError) as e:
        return {'id': job[0]['id'], 'error': str(e)}


def build_excerpt(row, out, check):
    with cl.tmpdir() as d:
        arranged, ticks, rel, pos = prepare(row, d)
        raw = os.path.join(d, 'raw.wav')
        fxw = os.path.join(d, 'fx.wav')
        cl.fluidsynth(arranged, row['soundfont'], raw)
        cl.sox_chain(raw, fxw, row['fx'])
        y, _ = cl.finish(cl.read_wav(fxw), row, int(row['seed']))
        wav = os.path.join(out, 'wav', row['id'] + '.wav')
        gt = os.path.join(out, 'gt', row['id'] + '.beats')
        cl.write_wav16(wav, y)
        with open(gt, 'w') as f:
            f.write(cl.labels_text(rel, pos))
        result = {'id': row['id'], 'times': rel.tolist(), 'check': None}
        if check:
            result['check'] = click_errors(row, arranged, ticks, rel, d)
    return result


def verify_one(job):
    row, out = job
    with cl.tmpdir() as d:
        arranged, ticks, rel, pos = prepare(row, d)
        res = click_errors(row, arranged, ticks, rel, d)
    gt = os.path.join(out, 'gt', row['id'] + '.beats')
    if os.path.exists(gt):
        with open(gt) as f:
            res['same_labels'] = f.read() == cl.labels_text(rel, pos)
    return res


def piece(row, times):
    ibi = np.diff(times)
    local = 60.0 / ibi if len(ibi) else np.array([float(row['bpm'])])
    curve = row['tempo_curve']
    if curve == 'constant':
        tempo = '%s BPM, %s' % (row['bpm'], row['metre'])
    else:
        tempo = '%s->%s BPM (%s), %s' % (row['bpm'], row['bpm_end'], curve, row['metre'])
    style = row['style'].split(':')[-1]
    return {
        'id': row['id'], 'set': 'public',
        'source': 'generated (mma %s %s)' % (style, row['groove']),
        'license': 'same as this project', 'style': row['family'], 'tempo': tempo,
        'duration_s': float(row['length_s']), 'n_beats': int(len(times)),
        'meter': row['metre'], 'bpm_ref': round(float(np.median(local)), 2),
        'bpm_min': round(float(np.min(local)), 2), 'bpm_max': round(float(np.max(local)), 2),
        'tempo_varies': curve != 'constant', 'wav': 'wav/%s.wav' % row['id'],
        'gt': 'gt/%s.beats' % row['id'], 'split': row['split'], 'family': row['family'],
        'soundfont': row['soundfont'], 'soundfont_package': cl.SOUNDFONTS[row['soundfont']][1],
        'mma_style': style, 'groove': row['groove'], 'tempo_curve': curve,
        'swing': int(row['swing']), 'arrangement': row['arrangement'], 'fx': row['fx'],
        'noise': row['noise'], 'offset_s': float(row['offset_s']),
    }


def read_sums(path):
    sums = {}
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                h, name = line.rstrip('\n').split('  ', 1)
                sums[name] = h
    return sums


def write_sums(path, sums):
    with open(path, 'w') as f:
        for name in sorted(sums):
            f.write('%s  %s\n' % (sums[name], name))


def report_checks(checks):
    errs = np.array([e for c in checks for e in c['errors_ms']])
    bad = [c['id'] for c in checks
           if c['stray'] or not c['n'] or max(abs(e) for e in c['errors_ms']) > TOLERANCE_S * 1000]
    if len(errs):
        print('click check: %d excerpts, %d beats, |error| median %.2f ms, max %.2f ms, '
              'mean %+.2f ms' % (len(checks), len(errs), np.median(np.abs(errs)),
                                 np.max(np.abs(errs)), np.mean(errs)))
    for c in checks:
        if c['id'] in bad:
            e = np.abs(c['errors_ms']) if c['n'] else [np.inf]
            print('click check FAILED: %s: %d beats, max %.2f ms, %d stray clicks'
                  % (c['id'], c['n'], np.max(e), c['stray']))
    return not bad


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--out', default=DEFAULT_OUT)
    ap.add_argument('--jobs', type=int, default=2)
    ap.add_argument('--split', choices=('validation', 'training', 'all'), default='all')
    ap.add_argument('--limit', type=int, default=0, help='only the first N rows of the split')
    ap.add_argument('--manifest', default=MANIFEST)
    ap.add_argument('--verify', type=int, default=0, metavar='N',
                    help='only check N excerpts (a fixed sample) against rendered clicks')
    ap.add_argument('--update-checksums', action='store_true',
                    help='record the built files in corpus/*checksums.sha256')
    args = ap.parse_args()
    missing = cl.tools_missing()
    if missing:
        sys.exit('build: missing %s (scripts/install-deps.sh installs them)' % ' '.join(missing))

    rows = [r for r in read_manifest(args.manifest) if args.split in ('all', r['split'])]
    if args.limit:
        rows = rows[:args.limit]
    pool = multiprocessing.Pool(args.jobs)
    start = time.time()

    if args.verify:
        sample = sorted(rows, key=lambda r: id_hash(r['id']))[:args.verify]
        checks = list(pool.imap_unordered(verify_one, [(r, args.out) for r in sample]))
        ok = report_checks(checks)
        changed = [c['id'] for c in checks if c.get('same_labels') is False]
        for i in changed:
            print('verify: %s: labels differ from %s' % (i, os.path.join(args.out, 'gt')))
        print('verify: %.0f s' % (time.time() - start))
        sys.exit(0 if ok and not changed else 1)

    os.makedirs(os.path.join(args.out, 'wav'), exist_ok=True)
    os.makedirs(os.path.join(args.out, 'gt'), exist_ok=True)
    jobs = [(r, args.out, id_hash(r['id']) % ALWAYS_CHECK_ONE_IN == 0) for r in rows]
    if rows and not any(j[2] for j in jobs):
        jobs[0] = (jobs[0][0], args.out, True)
    results = {}
    for i, res in enumerate(pool.imap_unordered(build_one, jobs, chunksize=1)):
        results[res['id']] = res
        if 'error' in res:
            print('build: FAILED %s: %s' % (res['id'], res['error']), flush=True)
        if (i + 1) % 25 == 0 or i + 1 == len(jobs):
            print('build: %d/%d excerpts, %.0f s' % (i + 1, len(jobs), time.time() - start),
                  flush=True)
    pool.close()
    elapsed = time.time() - start
    failed = [r for r in rows if 'error' in results[r['id']]]
    if failed:
        sys.exit('build: %d excerpts failed, e.g. %s' % (len(failed), failed[0]['id']))

    pieces = [piece(r, np.array(results[r['id']]['times'])) for r in rows]
    with open(os.path.join(args.out, 'corpus.json'), 'w') as f:
        json.dump({'trim_s': 5.0, 'pieces': pieces}, f, indent=1)
        f.write('\n')

    label_sums = {'gt/%s.beats' % r['id']: cl.sha256_file(
        os.path.join(args.out, 'gt', r['id'] + '.beats')) for r in rows}
    audio_sums = {'wav/%s.wav' % r['id']: cl.sha256_file(
        os.path.join(args.out, 'wav', r['id'] + '.wav')) for r in rows}
    write_sums(os.path.join(args.out, 'checksums.sha256'), label_sums)
    write_sums(os.path.join(args.out, 'audio_checksums.sha256'), audio_sums)
    known_labels, known_audio = read_sums(LABEL_SUMS), read_sums(AUDIO_SUMS)
    label_diff = [n for n in label_sums if n in known_labels and known_labels[n] != label_sums[n]]
    audio_diff = [n for n in audio_sums if n in known_audio and known_audio[n] != audio_sums[n]]
    unknown = [n for n in label_sums if n not in known_labels]
    for n in label_diff:
        print('checksum ERROR: %s differs from corpus/checksums.sha256' % n)
    if audio_diff:
        print('checksum warning: %d of %d WAVs differ from corpus/audio_checksums.sha256 '
              '(another fluidsynth or sox build?), e.g. %s'
              % (len(audio_diff), len(audio_sums), audio_diff[0]))
    if unknown and not args.update_checksums:
        print('checksum note: %d label files have no recorded checksum' % len(unknown))
    if args.update_checksums:
        known_labels.update(label_sums)
        known_audio.update(audio_sums)
        write_sums(LABEL_SUMS, known_labels)
        write_sums(AUDIO_SUMS, known_audio)

    checks = [r['check'] for r in results.values() if r['check']]
    ok = report_checks(checks)
    audio_s = sum(float(r['length_s']) for r in rows)
    print('build: %d excerpts, %.0f s of audio, in %.0f s with %d jobs -> %s'
          % (len(rows), audio_s, elapsed, args.jobs, args.out))
    sys.exit(0 if ok and not label_diff else 1)


if __name__ == '__main__':
    main()
