#!/usr/bin/python3
"""What harmplot says of chords and of bells and bars, whose truth is how they were made.

    /usr/bin/python3 scripts/accuracy/chords.py [--verbose] [--harmplot PATH] [--build DIR]
                     [--out DIR] [--json FILE] [-- HARMPLOT OPTION...]

Chords, MIDI written here and rendered by fluidsynth from Debian's two General MIDI banks
(nylon and steel guitar, piano, organ, strings, choir: triads, a fifth, open chords of five and
six notes), and written with numpy (two and three notes of eight harmonics, equally tempered and
just). Each must be said ("two or more pitches at once: ...") with its lowest sounding note's
numbers: the fundamental given must be within 50 cents of the lowest key. Bells and bars
(tubular bells, glockenspiel, xylophone, marimba, vibraphone from both banks; a numpy church
bell and a free bar) must be said as partials far from harmonic, or be given the key (a bar's
pitch is its lowest partial), and never a chord. harmplot runs with --one-note: a chord is one
sound. The status is 0 whatever the counts.
"""
import json
import os
import sys
import time

import numpy as np
from scipy.io import wavfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import sampled  # noqa: E402
import takes  # noqa: E402
import toolkit  # noqa: E402

RATE = takes.RATE
CHORDS = [('nylon-E', 24, [40, 47, 52, 56, 59, 64]), ('steel-Am', 25, [45, 52, 57, 60, 64]),
          ('piano-C', 0, [60, 64, 67]), ('piano-E2B2', 0, [40, 47]), ('piano-Dm', 0, [50, 53, 57]),
          ('organ-C', 19, [48, 55, 60, 64]), ('strings-G', 48, [43, 50, 55, 59]),
          ('choir-F', 52, [53, 57, 60])]
BELLS = [('tubular', 14, 60), ('glockenspiel', 9, 72), ('xylophone', 13, 72),
         ('marimba', 12, 60), ('vibraphone', 11, 65)]


def written(rng):
    t = np.arange(3 * RATE) / RATE

    def series(f, n=8):
        return sum(np.exp(-t) * np.sin(2 * np.pi * k * f * t + k) / k
                   for k in range(1, n + 1) if k * f < RATE / 2)
    hz = sampled.nominal_hz
    out = [('numpy-E2B2', series(hz(40)) + series(hz(47)), [40, 47]),
           ('numpy-C4E4', series(hz(60)) + series(hz(64)), [60, 64]),
           ('numpy-C4E4G4', series(hz(60)) + series(hz(64)) + series(hz(67)), [60, 64, 67]),
           ('numpy-just-fifth-C3', series(130.81) + series(130.81 * 1.5), [48, 55]),
           ('numpy-just-triad-A3', series(220) + series(275) + series(330), [57, 61, 64])]
    # A church bell tuned to A4 (hum, prime, tierce, quint, nominal and above), and a free bar.
    bell = [(0.5, 1, 0.5), (1, 0.8, 0.8), (1.19, 0.6, 1), (1.5, 0.4, 1.2), (2, 0.5, 1.5),
            (2.5, 0.3, 2), (2.66, 0.2, 2.2), (3, 0.2, 2.5), (4, 0.1, 3)]
    bells = [('numpy-bell-A4', sum(a * np.exp(-d * t) * np.sin(2 * np.pi * r * 440 * t + r)
                                   for r, a, d in bell), 69),
             ('numpy-free-bar-C6', sum(a * np.exp(-d * t) * np.sin(2 * np.pi * r * 1046.5 * t)
                                       for r, a, d in ((1, 1, 1), (2.756, 0.6, 3),
                                                       (5.404, 0.4, 6))), 84)]
    scale = lambda x: 0.4 * x / np.max(np.abs(x)) + rng.normal(0, 1e-5, len(x))
    return ([(n, scale(x), k) for n, x, k in out], [(n, scale(x), k) for n, x, k in bells])


def main():
    own, options = toolkit.split_options(sys.argv[1:])
    ap = toolkit.parser('harmplot on chords, bells and bars.', 'chords', 'every sound')
    args = toolkit.parse_args(ap, own)
    began = time.monotonic()
    renders = os.path.join(args.out, 'renders')
    os.makedirs(renders, exist_ok=True)
    sounds = []  # (name, path, keys, kind)

    def rendered(name, program, keys, kind):
        for bank in sampled.BANKS:
            path = os.path.join(renders, '%s-%s.wav' % (bank, name))
            if not os.path.exists(path):
                takes.render({'program': program, 'bank': bank,
                              'notes': [(0.1, 2.5, k) for k in keys]}, path)
            sounds.append(('%s-%s' % (bank, name), path, keys, kind))
    for name, program, keys in CHORDS:
        rendered(name, program, keys, 'chord')
    for name, program, key in BELLS:
        rendered(name, program, [key], 'bell')
    chords, bells = written(np.random.default_rng(3))
    for name, x, keys in chords + bells:
        path = os.path.join(renders, name + '.wav')
        wavfile.write(path, RATE, np.round(x * 32767).astype(np.int16))
        sounds.append((name, path, keys if isinstance(keys, list) else [keys],
                       'chord' if isinstance(keys, list) else 'bell'))

    _, rows, seconds, stderr = toolkit.run_harmplot(
        [s[1] for s in sounds], os.path.join(args.out, 'harmplot'), args.harmplot,
        ['--one-note'] + options, args.build)
    said = {'chord': 0, 'bell': 0}
    total = {'chord': 0, 'bell': 0}
    results = []
    for name, path, keys, kind in sounds:
        total[kind] += 1
        r = (rows.get(os.path.basename(path)) or [{}])[0]
        reason, f0 = r.get('reason', ''), toolkit.number(r, 'f0_hz')
        off = toolkit.cents(f0, sampled.nominal_hz(min(keys))) if f0 else None
        chord_said = 'two or more pitches at once' in reason
        if kind == 'chord':
            ok = chord_said and off is not None and abs(off) <= 50
        else:
            ok = not chord_said and ('far from harmonic' in reason or
                                     (off is not None and abs(off) <= 50))
        said[kind] += ok
        results.append({'sound': name, 'kind': kind, 'keys': [sampled.note_name(k) for k in keys],
                        'f0_hz': f0, 'cents_from_lowest_key': off, 'check': r.get('check'),
                        'reason': reason, 'ok': ok})
    print('harmplot %s, options: --one-note %s; %d sounds (%.1f s for harmplot)' % (
        args.harmplot, ' '.join(options), len(sounds), seconds))
    print('chords said, with the lowest note\'s numbers: %d of %d' % (said['chord'],
                                                                      total['chord']))
    print('bells and bars said as such (or at their key), never a chord: %d of %d' % (
        said['bell'], total['bell']))
    for r in results:
        if args.verbose or not r['ok']:
            print('  %-26s %-6s %-24s %9s %+8.1f %-9s %s' % (
                r['sound'], r['kind'], ' '.join(r['keys']), r['f0_hz'],
                r['cents_from_lowest_key'] or 0, r['check'], r['reason'][:90]))
    os.makedirs(os.path.dirname(os.path.abspath(args.json)), exist_ok=True)
    with open(args.json, 'w') as f:
        json.dump({'said': said, 'total': total, 'seconds': round(time.monotonic() - began, 1),
                   'results': results, 'stderr': stderr}, f, indent=1)
    return 0


if __name__ == '__main__':
    sys.exit(main())
