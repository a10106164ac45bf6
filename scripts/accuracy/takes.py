#!/usr/bin/python3
"""harmplot on takes of several notes, against the truth they were made from.

    /usr/bin/python3 scripts/accuracy/takes.py [--verbose] [--harmplot PATH] [--build DIR]
                     [--out DIR] [--json FILE] [-- HARMPLOT OPTION...]

Two kinds of take, written into out/accuracy/takes/ (renders cached):
  rendered   MIDI written here, rendered by fluidsynth from Debian's two General MIDI banks: a
             C major scale detached (0.55 s a note, 0.15 s apart) and legato (0.6 s, each note
             on until the next begins), and one note repeated five times (0.8 s apart), for
             piano, nylon guitar, violin, flute, clarinet and voice; the MIDI gives each note's
             onset and key.
  written    with numpy: three harmonic notes with gaps; a legato line of four notes (the
             pitch steps, the phase runs on); one note with a vibrato of +-100 cents (one
             note); one note with a reverberant tail of 2 s (one note).
A note is found when harmplot gives a note whose start lies within 30 ms or two periods of the
truth's onset; its fundamental is checked against Praat's median over the note (To Pitch, half
to twice the key's frequency) and must lie within 10 cents. A note harmplot gives that matches
no truth is invented. The status is 0 whatever the counts.
"""
import json
import os
import subprocess
import sys
import time

import numpy as np
from scipy.io import wavfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import sampled  # noqa: E402
import toolkit  # noqa: E402

SCALE = [60, 62, 64, 65, 67, 69, 71, 72]
INSTRUMENTS = [('piano', 0, -12), ('nylon-guitar', 24, -12), ('violin', 40, 7),
               ('flute', 73, 12), ('clarinet', 71, -5), ('voice', 53, -5)]
RATE = 44100


def midi_take(program, notes):
    """A MIDI file of (start s, length s, key) notes, ending a second after the last."""
    return sampled.midi_notes(program, notes, 1.0)


def rendered_takes():
    takes = []
    for instrument, program, shift in INSTRUMENTS:
        keys = [k + shift for k in SCALE]
        for bank in sampled.BANKS:
            base = '%s-%s' % (bank, instrument)
            takes.append({'name': base + '-detached', 'bank': bank, 'program': program,
                          'notes': [(0.2 + 0.7 * i, 0.55, k) for i, k in enumerate(keys)]})
            takes.append({'name': base + '-legato', 'bank': bank, 'program': program,
                          'notes': [(0.2 + 0.6 * i, 0.6, k) for i, k in enumerate(keys)]})
            takes.append({'name': base + '-repeated', 'bank': bank, 'program': program,
                          'notes': [(0.2 + 0.8 * i, 0.6, keys[2]) for i in range(5)]})
    return takes


def render(take, path):
    mid = path[:-4] + '.mid'
    with open(mid, 'wb') as f:
        f.write(midi_take(take['program'], take['notes']))
    subprocess.run(['fluidsynth', '-ni', '-q', '-R', '0', '-C', '0', '-g', '1.0', '-r', str(RATE),
                    '-F', path, sampled.BANKS[take['bank']], mid], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.remove(mid)


def tone(f, seconds, amps, decay_db=0.0, phase=0.0):
    """Harmonics of a fundamental that may move (f: Hz per sample, or a number)."""
    n = int(seconds * RATE)
    f = np.full(n, f) if np.isscalar(f) else f
    ph = phase + 2 * np.pi * np.cumsum(f) / RATE
    t = np.arange(n) / RATE
    x = sum(a * np.sin(k * ph) for k, a in enumerate(amps, 1))
    return x * 10 ** (decay_db * t / 20), ph[-1] if n else phase


def written_takes(rng):
    amps = [1, 0.5, 0.35, 0.25, 0.15]
    takes = []
    # Three notes with gaps: E3, G3, C4, each dying at 8 dB/s.
    x, notes, at = [], [], 0.3
    x.append(np.zeros(int(0.3 * RATE)))
    for key in (52, 55, 60):
        y, _ = tone(sampled.nominal_hz(key), 1.0, amps, -8)
        x += [y, np.zeros(int(0.25 * RATE))]
        notes.append((at, 1.0, key))
        at += 1.25
    takes.append(('gaps', np.concatenate(x), notes))
    # A legato line: the pitch steps from note to note, the phase runs on.
    keys, seconds = (57, 59, 62, 64), 0.7
    f = np.concatenate([np.full(int(seconds * RATE), sampled.nominal_hz(k)) for k in keys])
    y, _ = tone(f, len(f) / RATE, amps)
    takes.append(('legato-line', y, [(i * seconds, seconds, k) for i, k in enumerate(keys)]))
    # One note with a vibrato of +-100 cents at 5.5 Hz, 3 s.
    t = np.arange(3 * RATE) / RATE
    f = sampled.nominal_hz(62) * 2 ** (100 * np.sin(2 * np.pi * 5.5 * t) / 1200)
    y, _ = tone(f, 3.0, amps)
    takes.append(('vibrato-100', y, [(0.0, 3.0, 62)]))
    # One note held 1 s, then a reverberant tail of 2 s: the level falls 30 dB a second.
    y, _ = tone(sampled.nominal_hz(64), 3.0, amps)
    t = np.arange(len(y)) / RATE
    y *= np.where(t < 1, 1, 10 ** (-30 * (t - 1) / 20))
    takes.append(('reverb-tail', y, [(0.0, 3.0, 64)]))
    out = []
    for name, y, notes in takes:
        y = 0.3 * y / np.max(np.abs(y)) + rng.normal(0, 1e-4, len(y))
        out.append({'name': 'numpy-' + name, 'signal': y, 'notes': notes})
    return out


def praat_median(path, start, length, key, scratch):
    """Praat's median pitch over one note of a take."""
    rate, x = wavfile.read(path)
    a, b = int((start + 0.05) * rate), int((start + length) * rate)
    part = os.path.join(scratch, 'part.wav')
    wavfile.write(part, rate, x[a:b])
    hz = sampled.nominal_hz(key)
    return sampled.praat_median(part, hz / 2, hz * 2)['median_hz']


def main():
    own, options = toolkit.split_options(sys.argv[1:])
    ap = toolkit.parser('harmplot on takes of several notes.', 'takes', 'every note')
    args = toolkit.parse_args(ap, own)
    began = time.monotonic()
    renders = os.path.join(args.out, 'renders')
    os.makedirs(renders, exist_ok=True)
    takes = []
    for take in rendered_takes():
        path = os.path.join(renders, take['name'] + '.wav')
        if not os.path.exists(path):
            render(take, path)
        takes.append(dict(take, path=path))
    for take in written_takes(np.random.default_rng(7)):
        path = os.path.join(renders, take['name'] + '.wav')
        wavfile.write(path, RATE, np.round(take['signal'] * 32767).astype(np.int16))
        takes.append({'name': take['name'], 'notes': take['notes'], 'path': path})
    cache_path = os.path.join(args.out, 'praat.json')
    cache = sampled.load(cache_path)
    for take in takes:
        key = take['name']
        if cache.get(key, {}).get('notes') != [list(n) for n in take['notes']]:
            cache[key] = {'notes': [list(n) for n in take['notes']],
                          'praat': [praat_median(take['path'], s, l, k, args.out)
                                    for s, l, k in take['notes']]}
    with open(cache_path, 'w') as f:
        json.dump(cache, f, indent=1)

    columns, rows, harmplot_s, stderr = toolkit.run_harmplot(
        [t['path'] for t in takes], os.path.join(args.out, 'harmplot'), args.harmplot, options,
        args.build)
    found = within = invented = total = 0
    results = []
    for take in takes:
        mine = {}
        for r in rows.get(take['name'] + '.wav', []):
            if r.get('harmonic') == '1' and r.get('note_from_s'):
                mine[r['note_index']] = r
        given = sorted(mine.values(), key=lambda r: float(r['note_from_s']))
        used = set()
        for (start, length, key), praat in zip(take['notes'], cache[take['name']]['praat']):
            total += 1
            reach = max(0.03, 2 / sampled.nominal_hz(key))
            match = [r for r in given if abs(float(r['note_from_s']) - start) <= reach]
            res = {'take': take['name'], 'onset': start, 'key': sampled.note_name(key),
                   'praat_hz': praat}
            if match:
                r = match[0]
                used.add(id(r))
                found += 1
                f0 = toolkit.number(r, 'f0_hz')
                res.update(found_s=float(r['note_from_s']), f0_hz=f0, check=r.get('check'))
                if f0 and praat:
                    res['cents'] = toolkit.cents(f0, praat)
                    within += abs(res['cents']) <= 10
            results.append(res)
        extra = [r for r in given if id(r) not in used]
        invented += len(extra)
        for r in extra:
            results.append({'take': take['name'], 'invented_s': float(r['note_from_s']),
                            'f0_hz': toolkit.number(r, 'f0_hz')})
    print('harmplot %s, options: %s; %d takes, %d notes (%.1f s for harmplot)' % (
        args.harmplot, ' '.join(options) or '(none)', len(takes), total, harmplot_s))
    print('found (onset within 30 ms or two periods): %d of %d' % (found, total))
    print('fundamental within 10 cents of Praat: %d of %d found' % (within, found))
    print('invented: %d' % invented)
    for r in results:
        bad = 'invented_s' in r or 'found_s' not in r or abs(r.get('cents', 0)) > 10
        if args.verbose or bad:
            print('  ', json.dumps(r))
    os.makedirs(os.path.dirname(os.path.abspath(args.json)), exist_ok=True)
    with open(args.json, 'w') as f:
        json.dump({'harmplot': args.harmplot, 'options': options, 'found': found,
                   'total': total, 'within_10_cents': within, 'invented': invented,
                   'seconds': round(time.monotonic() - began, 1), 'results': results}, f, indent=1)
    return 0


if __name__ == '__main__':
    sys.exit(main())
