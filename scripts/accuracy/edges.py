#!/usr/bin/python3
"""harmplot's fundamental at the edges of the method, against truth.

    /usr/bin/python3 scripts/accuracy/edges.py [--verbose] [--harmplot PATH] [--build DIR]
                     [--out DIR] [--json FILE] [-- HARMPLOT OPTION...]

Written with numpy (the truth is the partials' common fundamental, by construction):
  weak       a fundamental 30 to 40 dB under its strong second harmonic (the search finds the
             octave): A1, E2, G1, D2, A3
  missing    no fundamental at all (harmonics 2 to 8): 110, 220 Hz
  odd        odd harmonics only (a square wave, a clarinet's low register): D3, G2
  bar        a tuned bar's partials 1 : 3.0 : 6.1 and a free bar's 1 : 2.76 : 5.40 (the fundamental
             the lowest partial): C5, C6
  high       notes above the search's scan: C7, E7, C8 at 44.1, 48 and 96 kHz
  a0         A0 tuned 40 cents flat (27.12 Hz), a piano's stiff partials
  vibrato    F4 with a vibrato of +-90 cents and strong upper harmonics (a tenor's forte)
  short      20 ms of 440 Hz: too short to tell
  spike      a clean A3 in 64-bit float with one sample of 1e300
Rendered by fluidsynth from Debian's two General MIDI banks (the truth: Praat's median pitch
and a long FFT of the sustained part, the partials near k times Praat's pitch fitted to a stiff
string, f1 = F sqrt(1 + B), or partial 1 itself where it is within 20 dB of the strongest): the
lowest and highest notes of the piano (A0, C8), flute C7,
violin E7, xylophone C5 and C6, contrabass E2, harp D2, tuba F1, piano A1 and E1, cello A3.

A note passes when harmplot's fundamental lies within 5 cents of the truth, or for a rendered one
of Praat's median (the two references part by up to 30 cents on a piano's lowest and highest
notes, and on a violin's vibrato at E7); `short` must get a reason, `spike` the note. The table
gives harmplot's fundamental, check and reason.
"""
import json
import math
import os
import subprocess
import sys

import numpy as np
from scipy.io import wavfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import notes as notes_py  # noqa: E402
import sampled  # noqa: E402
import takes  # noqa: E402
import toolkit  # noqa: E402


def partials(f0, ratios, amps, seconds, rate, decays=None, vibrato=None, noise=1e-5, seed=1):
    n = int(seconds * rate)
    t = np.arange(n) / rate
    cents = vibrato[0] * np.sin(2 * np.pi * vibrato[1] * t) if vibrato else 0 * t
    phase = 2 * np.pi * np.cumsum(f0 * 2 ** (cents / 1200)) / rate
    x = np.zeros(n)
    for i, (r, a) in enumerate(zip(ratios, amps)):
        d = decays[i] if decays else 0
        x += a * np.exp(-d * t) * np.sin(r * phase + i)
    x *= 0.5 / np.max(np.abs(x))
    return x + np.random.default_rng(seed).normal(0, noise, n)


def written(out):
    """The numpy notes: (name, path, truth_hz)."""
    made = []

    def put(name, x, rate, truth, fmt='pcm24'):
        path = os.path.join(out, name + '.wav')
        notes_py.write_wav(path, x, rate, fmt)
        made.append((name, path, truth, None))

    rate = 44100
    harm = list(range(1, 11))
    for key in (33, 40, 31, 38, 57):  # A1, E2, G1, D2, A3
        f = sampled.nominal_hz(key) * 2 ** (7 / 1200)  # a little off the note, as played
        amps = [10 ** (-35 / 20)] + [1 / k for k in harm[1:]]
        put('weak-' + sampled.note_name(key), partials(f, harm, amps, 3, rate, [1] * 10), rate, f)
    for f in (110.0, 220.0):
        amps = [0] + [1 / k for k in harm[1:8]]
        put('missing-%d' % f, partials(f, harm[:8], amps, 3, rate), rate, f)
    for key in (50, 43):  # D3, G2
        f = sampled.nominal_hz(key)
        put('odd-' + sampled.note_name(key), partials(f, [1, 3, 5, 7, 9], [1, 1/3, 1/5, 1/7, 1/9], 3,
                                                       rate), rate, f)
    for key, ratios, name in ((72, [1, 3.0, 6.1], 'tuned'), (84, [1, 2.76, 5.40], 'free')):
        f = sampled.nominal_hz(key)
        put('bar-%s-%s' % (name, sampled.note_name(key)),
            partials(f, ratios, [1, 0.5, 0.3], 2, rate, [2, 6, 12]), rate, f)
    for key in (96, 100, 108):  # C7, E7, C8
        f = sampled.nominal_hz(key)
        for r in (44100, 48000, 96000):
            k = [i for i in harm if i * f < r / 2]
            put('high-%s-%d' % (sampled.note_name(key), r // 1000),
                partials(f, k, [1 / i for i in k], 2, r, [1] * len(k)), r, f)
    # A0 tuned 40 cents flat, stiff: B = 3e-4.
    f1 = 27.5 * 2 ** (-40 / 1200)
    b = 3e-4
    ks = list(range(1, 41))
    ratios = [k * math.sqrt(1 + b * k * k) / math.sqrt(1 + b) for k in ks]
    put('a0-flat', partials(f1, ratios, [0.3] + [1 / math.sqrt(k) for k in ks[1:]], 4, rate,
                            [0.5 + 0.05 * k for k in ks]), rate, f1)
    f = sampled.nominal_hz(65) * 2 ** (-3 / 1200)
    put('vibrato-F4', partials(f, harm, [0.4, 1, 0.9, 0.8, 0.6, 0.5, 0.4, 0.3, 0.2, 0.1], 3, rate,
                               vibrato=(90, 5.5)), rate, f)
    put('short-20ms', partials(440, harm[:5], [1, 0.5, 0.3, 0.2, 0.1], 0.02, rate), rate, 440)
    x = partials(220, harm[:6], [1, 0.5, 0.4, 0.3, 0.2, 0.1], 2, rate)
    x[44100] = 1e300
    put('spike-A3', x, rate, 220, 'float64')
    return made


RENDERED = [('piano', 0, 21), ('piano', 0, 108), ('flute', 73, 96), ('violin', 40, 100),
            ('xylophone', 13, 72), ('xylophone', 13, 84), ('contrabass', 43, 40), ('harp', 46, 38),
            ('tuba', 58, 29), ('piano', 0, 33), ('piano', 0, 28), ('cello', 42, 57)]


def long_fft_f1(path, nominal):
    """The partials' common fundamental from a long FFT of the sustained part."""
    rate, x = wavfile.read(path)
    x = x.astype(float)
    if x.ndim > 1:
        x = x.mean(axis=1)
    n = 1 << 18
    seg = x[int(0.2 * rate):int(0.2 * rate) + n]
    seg = np.pad(seg, (0, n - len(seg))) * np.hanning(n)
    p = np.abs(np.fft.rfft(seg)) ** 2
    df = rate / n
    found = []
    for k in range(1, 11):
        c = k * nominal
        if c > rate / 2 * 0.95:
            break
        lo, hi = int(c * 0.97 / df), int(c * 1.03 / df) + 1
        if hi >= len(p) - 1:
            break
        i = lo + int(np.argmax(p[lo:hi]))
        if p[i] < p.max() * 1e-6:
            continue
        a, b, cc = np.log(p[i - 1] + 1e-300), np.log(p[i]), np.log(p[i + 1] + 1e-300)
        off = 0.5 * (a - cc) / (a - 2 * b + cc) if a - 2 * b + cc < 0 else 0
        found.append((k, (i + off) * df))
    if not found:
        return None
    # A strong partial 1 is the fundamental itself; else the string's fit gives it.
    strongest = max(p[int(f / df)] for _, f in found)
    if found[0][0] == 1 and p[int(found[0][1] / df)] >= strongest * 0.01:
        return found[0][1]
    # (f_k / k)^2 = F^2 + F^2 B k^2, least squares; f1 = F sqrt(1 + B).
    ks = np.array([k for k, _ in found], float)
    y = np.array([(f / k) ** 2 for k, f in found])
    if len(found) >= 3:
        A = np.vstack([np.ones_like(ks), ks ** 2]).T
        (c0, c1), *_ = np.linalg.lstsq(A, y, rcond=None)
        if c0 > 0 and c1 >= 0:
            return math.sqrt(c0 + c1)
    return found[0][1] / found[0][0]


def main():
    own, options = toolkit.split_options(sys.argv[1:])
    ap = toolkit.parser("harmplot's fundamental at the edges.", 'edges', 'every note')
    args = toolkit.parse_args(ap, own)
    out = os.path.join(args.out, 'notes')
    os.makedirs(out, exist_ok=True)
    cases = written(out)
    cache = sampled.load(os.path.join(args.out, 'rendered.json'))
    for instrument, program, key in RENDERED:
        for bank in sampled.BANKS:
            name = '%s-%s-%s' % (bank, instrument, sampled.note_name(key).replace('#', 's'))
            path = os.path.join(out, name + '.wav')
            if name not in cache or not os.path.exists(path):
                take = {'bank': bank, 'program': program, 'notes': [(0.1, 2.5, key)]}
                takes.render(take, path)
                hz = sampled.nominal_hz(key)
                praat = sampled.praat_median(path, hz / 2, hz * 2)['median_hz']
                near = praat if praat and abs(toolkit.cents(praat, hz)) < 60 else hz
                cache[name] = {'praat': praat, 'fft': long_fft_f1(path, near)}
            cases.append((name, path, cache[name]['fft'] or cache[name]['praat'],
                          cache[name]['praat']))
    with open(os.path.join(args.out, 'rendered.json'), 'w') as f:
        json.dump(cache, f, indent=1)
    columns, rows, seconds, stderr = toolkit.run_harmplot(
        [c[1] for c in cases], os.path.join(args.out, 'harmplot'), args.harmplot, options,
        args.build)
    reasons = {}
    for line in stderr.splitlines():
        if line.startswith('harmplot: ') and '.wav: ' in line:
            path, reason = line[len('harmplot: '):].split('.wav: ', 1)
            reasons[os.path.basename(path) + '.wav'] = reason
    passed = 0
    results = []
    for name, path, truth, praat in cases:
        mine = rows.get(name + '.wav', [])
        first = mine[0] if mine else {}
        f0 = toolkit.number(first, 'f0_hz') if mine else None
        c = toolkit.cents(f0, truth) if f0 and truth else None
        by_praat = toolkit.cents(f0, praat) if f0 and praat else None
        within = 50 if name.startswith(('short', 'spike')) else 5
        ok = ((c is not None and abs(c) <= within) or
              (by_praat is not None and abs(by_praat) <= within) or
              (name.startswith('short') and f0 is None))
        passed += ok
        results.append({'name': name, 'truth_hz': truth, 'f0_hz': f0, 'cents': c,
                        'check': first.get('check'), 'ok': ok,
                        'reason': reasons.get(name + '.wav') or first.get('reason', '')[:160]})
    print('harmplot %s, options: %s; %d notes (%.1f s)' % (args.harmplot, ' '.join(options) or
                                                           '(none)', len(cases), seconds))
    print('within 5 cents of the truth (a reason for the short one): %d of %d' % (passed,
                                                                                 len(cases)))
    for r in results:
        if args.verbose or not r['ok']:
            print('  %-26s %9s %9s %8s %-9s %s' % (
                r['name'], '%.2f' % r['truth_hz'] if r['truth_hz'] else '-',
                '%.2f' % r['f0_hz'] if r['f0_hz'] else '-',
                '%+.1f' % r['cents'] if r['cents'] is not None else '-', r['check'] or '',
                r['reason']))
    with open(args.json, 'w') as f:
        json.dump({'harmplot': args.harmplot, 'passed': passed, 'notes': len(cases),
                   'results': results}, f, indent=1)
    return 0


if __name__ == '__main__':
    sys.exit(main())
