#!/usr/bin/python3
"""harmplot's fundamental on sampled instrument notes, against Praat's median pitch, and its
envelope against the instrument's family.

    /usr/bin/python3 scripts/accuracy/sampled.py [--verbose] [--harmplot PATH] [--build DIR]
                     [--out DIR] [--json FILE] [-- HARMPLOT OPTION...]

80 notes: 20 instruments, two notes each from Debian's two General MIDI banks (TimGM6mb and
MuseScore General Lite), E1 to E6 where the instrument has them. Each note is a MIDI file
(program change, note on at velocity 100, held 2.5 to 4 s, note off, 1 s of release)
rendered by fluidsynth at 44.1 kHz without reverb or chorus, and cut to the held note and its
release: stereo, 16 bits, as rendered.

The reference is Praat's (median_pitch.praat): To Pitch with a floor of half and a ceiling of
twice the note's nominal frequency, the median pitch in Hz over the voiced frames. It is a
measurement, not a truth: the banks' samples are not tuned exactly, some carry vibrato.

harmplot (with the options after '--') runs on every note; the script counts the notes whose
f0_hz lies within 10 and within 5 cents of Praat's median and lists the others. With the
envelope's columns in the CSV it also counts the notes whose kind is their family's (piano,
guitars, harp and vibraphone decay; the others are held) and the first-stage rates, those from
a sliver (a span under 0.25 s that falls under 6 dB) and those from under a quarter of the
note. Renders and
Praat's results are kept in DIR (default out/accuracy/sampled) and made again only when what
they were made from changes, so a second run costs harmplot's time alone.
"""
import concurrent.futures
import json
import os
import struct
import subprocess
import sys
import time

import numpy as np
from scipy.io import wavfile

import toolkit

HERE = os.path.dirname(os.path.abspath(__file__))
PRAAT_SCRIPT = os.path.join(HERE, 'median_pitch.praat')
BANKS = {
    'gm6': '/usr/share/sounds/sf2/TimGM6mb.sf2',
    'msg': '/usr/share/sounds/sf3/MuseScore_General_Lite.sf3',
}
# The instruments whose notes die away from the attack on; every other one is held (bowed, blown,
# sung, an organ).
DECAYING = {'piano', 'nylon-guitar', 'steel-guitar', 'harp', 'vibraphone'}
SLIVER_S, SLIVER_DB = 0.25, 6  # a rate from a shorter span that falls less is from a sliver
RATE = 44100
GAIN = 1.0  # fluidsynth's master gain: every note here peaks between about -22 and -7 dBFS
RELEASE_S = 1.0
WITHIN = (10, 5)  # cents

# General MIDI program (from 0) and four MIDI notes within the instrument's range: the first
# bank renders the first and third, the second bank the second and fourth.
INSTRUMENTS = [
    ('piano', 0, [28, 45, 64, 88]),
    ('nylon-guitar', 24, [40, 52, 59, 71]),
    ('steel-guitar', 25, [45, 55, 64, 76]),
    ('violin', 40, [55, 67, 76, 88]),
    ('viola', 41, [48, 57, 62, 72]),
    ('cello', 42, [36, 43, 50, 60]),
    ('contrabass', 43, [28, 33, 38, 43]),
    ('flute', 73, [60, 67, 76, 84]),
    ('oboe', 68, [58, 65, 72, 79]),
    ('clarinet', 71, [50, 57, 64, 74]),
    ('bassoon', 70, [34, 41, 48, 55]),
    ('trumpet', 56, [55, 62, 67, 74]),
    ('horn', 60, [41, 50, 57, 65]),
    ('alto-sax', 65, [49, 56, 63, 70]),
    ('tenor-sax', 66, [44, 51, 58, 65]),
    ('church-organ', 19, [36, 48, 60, 72]),
    ('choir', 52, [48, 55, 62, 69]),
    ('voice', 53, [45, 52, 60, 67]),
    ('harp', 46, [35, 47, 59, 76]),
    ('vibraphone', 11, [53, 60, 69, 77]),
]

NAMES = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B']


def note_name(midi):
    return '%s%d' % (NAMES[midi % 12], midi // 12 - 1)


def nominal_hz(midi):
    return 440 * 2 ** ((midi - 69) / 12)


def note_list():
    """Every note to render: its file name and what it is rendered from."""
    notes = []
    for i, (instrument, program, midis) in enumerate(INSTRUMENTS):
        for b, bank in enumerate(BANKS):
            for midi in midis[b::2]:
                notes.append({
                    'name': '%s-%s-%s' % (bank, instrument, note_name(midi).replace('#', 's')),
                    'bank': bank, 'soundfont': BANKS[bank], 'instrument': instrument,
                    'program': program, 'midi': midi, 'held_s': 2.5 + 0.5 * (i % 4),
                    'release_s': RELEASE_S, 'rate': RATE, 'gain': GAIN,
                })
    return notes


def midi_notes(program, notes, tail_s):
    """A type-0 standard MIDI file of (start s, length s, key) notes on channel 1, velocity 100,
    ending tail_s after the last event. 480 ticks a beat at 120 beats a minute make 960 ticks a
    second; at one tick a note's end comes before another's start."""
    events = []
    for start, length, key in notes:
        events.append((round(start * 960), 0x90, key, 100))
        events.append((round((start + length) * 960), 0x80, key, 0))
    events.sort(key=lambda e: (e[0], e[1] == 0x90))

    def delta(n):
        out = [n & 0x7F]
        n >>= 7
        while n:
            out.insert(0, (n & 0x7F) | 0x80)
            n >>= 7
        return bytes(out)
    track, now = delta(0) + bytes([0xC0, program]), 0
    for tick, kind, key, vel in events:
        track += delta(tick - now) + bytes([kind, key, vel])
        now = tick
    track += delta(round(tail_s * 960)) + bytes([0xFF, 0x2F, 0])
    return (b'MThd' + struct.pack('>IHHH', 6, 0, 1, 480) +
            b'MTrk' + struct.pack('>I', len(track)) + track)


def midi_file(program, midi, held_s, release_s):
    """One note, held held_s, the file ending release_s after it."""
    return midi_notes(program, [(0, held_s, midi)], release_s)


def render(note, path):
    """fluidsynth renders the note; the file is cut to the held note and its release."""
    mid = path[:-4] + '.mid'
    with open(mid, 'wb') as f:
        f.write(midi_file(note['program'], note['midi'], note['held_s'], note['release_s']))
    subprocess.run(['fluidsynth', '-ni', '-q', '-R', '0', '-C', '0', '-g', str(note['gain']),
                    '-r', str(note['rate']), '-F', path, note['soundfont'], mid],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.remove(mid)
    rate, x = wavfile.read(path)
    x = x[:round((note['held_s'] + note['release_s']) * rate)]
    wavfile.write(path, rate, x)
    return int(np.max(np.abs(x.astype(np.int32))))


def praat_median(path, floor, ceiling):
    out = subprocess.run(['praat', '--run', PRAAT_SCRIPT, path, repr(floor), repr(ceiling)],
                         check=True, stdout=subprocess.PIPE, text=True).stdout.split()
    median = None if out[0].startswith('--undefined') else float(out[0])
    return {'median_hz': median, 'voiced': int(out[1]), 'frames': int(out[2])}


def load(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


def prepare(notes, directory):
    """Renders and measures with Praat what the cache lacks; returns Praat's result per note."""
    renders = os.path.join(directory, 'renders')
    os.makedirs(renders, exist_ok=True)
    cache_path = os.path.join(directory, 'cache.json')
    cache = load(cache_path)

    def one(note):
        path = os.path.join(renders, note['name'] + '.wav')
        floor, ceiling = nominal_hz(note['midi']) / 2, nominal_hz(note['midi']) * 2
        known = cache.get(note['name'], {})
        if (known.get('made_from') == note and known.get('floor') == floor and
                known.get('ceiling') == ceiling and os.path.exists(path)):
            return known
        peak = render(note, path)
        return {'made_from': note, 'peak': peak, 'floor': floor, 'ceiling': ceiling,
                **praat_median(path, floor, ceiling)}

    # Two at a time: fluidsynth and Praat each use one core.
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        results = list(pool.map(one, notes))
    cache = {n['name']: r for n, r in zip(notes, results)}
    with open(cache_path, 'w') as f:
        json.dump(cache, f, indent=1)
    return cache


def envelope_of(note, rows):
    """The note's kind against its family's, and its first-stage rates: how many, how many from a
    sliver (a span under 0.25 s that falls under 6 dB), how many from under a quarter of the
    note."""
    want = 'decaying' if note['instrument'] in DECAYING else 'held'
    kind = rows[0].get('kind') if rows else None
    seconds = note['held_s'] + note['release_s']
    rates = slivers = short = 0
    for r in rows:
        rate = toolkit.number(r, 'decay_db_per_s')
        a, b = toolkit.number(r, 'fit_from_s'), toolkit.number(r, 'fit_to_s')
        if rate is None or a is None or b is None:
            continue
        rates += 1
        slivers += b - a < SLIVER_S and abs(rate) * (b - a) < SLIVER_DB
        short += b - a < seconds / 4
    return {'kind': kind, 'family_kind': want, 'rates': rates, 'slivers': slivers,
            'under_a_quarter': short}


def main():
    own, options = toolkit.split_options(sys.argv[1:])
    ap = toolkit.parser("harmplot's fundamental against Praat's.", 'sampled', 'every note')
    args = toolkit.parse_args(ap, own)

    began = time.monotonic()
    notes = note_list()
    praat = prepare(notes, args.out)
    prepared_s = time.monotonic() - began
    files = [os.path.join(args.out, 'renders', n['name'] + '.wav') for n in notes]
    columns, rows, harmplot_s, stderr = toolkit.run_harmplot(
        files, os.path.join(args.out, 'harmplot'), args.harmplot, options, args.build)
    reasons = {}
    for line in stderr.splitlines():
        # harmplot: PATH: REASON, for a file that gave no summary
        if line.startswith('harmplot: ') and '.wav: ' in line:
            path, reason = line[len('harmplot: '):].split('.wav: ', 1)
            reasons[os.path.basename(path) + '.wav'] = reason

    results = []
    for n in notes:
        p = praat[n['name']]
        mine = rows.get(n['name'] + '.wav', [])
        f0 = toolkit.number(mine[0], 'f0_hz') if mine else None
        r = {'name': n['name'], 'note': note_name(n['midi']), 'nominal_hz': nominal_hz(n['midi']),
             'praat_hz': p['median_hz'], 'voiced': p['voiced'], 'frames': p['frames'],
             'peak': p['peak'], 'harmplot_hz': f0, 'check': mine[0].get('check') if mine else None,
             'reason': reasons.get(n['name'] + '.wav')}
        if f0 is not None and p['median_hz']:
            r['cents'] = toolkit.cents(f0, p['median_hz'])
        if p['median_hz']:
            r['praat_from_nominal_cents'] = toolkit.cents(p['median_hz'], r['nominal_hz'])
        if 'kind' in columns:
            r['envelope'] = envelope_of(n, mine)
        results.append(r)

    measured = [r for r in results if r['praat_hz']]
    print('harmplot %s, options: %s; %d notes (%.1f s to render and measure with Praat, '
          '%.1f s for harmplot)' % (args.harmplot, ' '.join(options) or '(none)', len(notes),
                                    prepared_s, harmplot_s))
    unvoiced = [r['name'] for r in results if not r['praat_hz']]
    if unvoiced:
        print('Praat found no voiced frame in: %s' % ', '.join(unvoiced))
    counts = {}
    for c in WITHIN:
        counts[c] = sum(1 for r in measured if 'cents' in r and abs(r['cents']) <= c)
        print('within %2d cents of Praat: %d of %d' % (c, counts[c], len(measured)))
    misses = [r for r in measured if 'cents' not in r or abs(r['cents']) > WITHIN[0]]
    shown = results if args.verbose else misses
    print('\n%s:' % ('every note' if args.verbose else 'more than %d cents off' % WITHIN[0]))
    print('  %-28s %-4s %9s %9s %8s  %-9s %s' % ('note', '', 'Praat Hz', 'harmplot', 'cents',
                                                 'check', 'Praat vs nominal'))
    for r in sorted(shown, key=lambda r: -abs(r.get('cents', 1e9))):
        hz = '-' if r['harmplot_hz'] is None else '%.4g' % r['harmplot_hz']
        ce = '-' if 'cents' not in r else '%+.1f' % r['cents']
        praat_hz = '-' if not r['praat_hz'] else '%.2f' % r['praat_hz']
        nominal = '' if 'praat_from_nominal_cents' not in r else '%+.1f' % r[
            'praat_from_nominal_cents']
        print('  %-28s %-4s %9s %9s %8s  %-9s %s %s' % (r['name'], r['note'], praat_hz, hz, ce,
                                                        r['check'] or '', nominal,
                                                        r['reason'] or ''))
    enveloped = [r for r in results if 'envelope' in r]
    if enveloped:
        e = [r['envelope'] for r in enveloped]
        wrong = [r for r in enveloped if r['envelope']['kind'] != r['envelope']['family_kind']]
        print('\nkind as the family: %d of %d%s' % (
            len(e) - len(wrong), len(e), ''.join('\n  %-28s %s, its family %s' % (
                r['name'], r['envelope']['kind'], r['envelope']['family_kind']) for r in wrong)))
        print('first-stage rates: %d, from a sliver (under %.2f s and %d dB): %d, from under a '
              'quarter of the note: %d' % (sum(x['rates'] for x in e), SLIVER_S, SLIVER_DB,
                                           sum(x['slivers'] for x in e),
                                           sum(x['under_a_quarter'] for x in e)))
    doubtful = [r['name'] for r in measured if abs(r['praat_from_nominal_cents']) > 100]
    if doubtful:
        print('\nPraat more than a semitone from the nominal note (the reference itself is in '
              'doubt): %s' % ', '.join(doubtful))
    seconds = time.monotonic() - began
    print('\n%.1f s in all; result in %s' % (seconds, args.json))
    os.makedirs(os.path.dirname(os.path.abspath(args.json)), exist_ok=True)
    with open(args.json, 'w') as f:
        json.dump({'harmplot': args.harmplot, 'options': options, 'seconds': round(seconds, 1),
                   'harmplot_seconds': round(harmplot_s, 1), 'notes': len(notes),
                   'measured_by_praat': len(measured),
                   'within_cents': {str(c): counts[c] for c in WITHIN}, 'results': results},
                  f, indent=1)
    return 0


if __name__ == '__main__':
    sys.exit(main())
