#!/usr/bin/python3
"""Single notes whose every number is known, written without the toolkit, and their truth.

    /usr/bin/python3 scripts/accuracy/notes.py [--out DIR]     (default out/accuracy/notes)

Writes DIR/*.wav and DIR/truth.json. Each note is a sum of harmonics k = 1 .. 10 of one
fundamental f(t), with white noise under them:

    x(t) = sum_k a_k(t) sin(phi_k + 2 pi k integral_0^t f(s) ds) + noise
    f(t) = held_hz * 2 ** (cents(t) / 1200)
    a_k(t) = 10 ** (level_k(t) / 20),  level_k(t) = start_dbfs_k + decay_db_per_s_k * t

so a harmonic's level is in dBFS, a full-scale sine reading 0 dB, as harmplot gives it. t is
in seconds from the first sample. cents(t) is the pitch's offset from the held pitch:

    steady   0
    vibrato  extent * sin(2 pi rate t + phase)       extent: half the peak-to-peak swing
    bend     start_cents * g(t / settle_s) until settle_s, then 0;
             linear g(u) = 1 - u, exponential g(u) = (e^(-4u) - e^(-4)) / (1 - e^(-4))
    drift    cents_per_s * (t - seconds / 2)         so the median pitch is held_hz

The integral is taken by the trapezoid rule at 8 times the sampling rate: within 2e-8 cycles
of the closed forms at harmonic 10 on every note here (test_accuracy.py checks it).

Noise is Gaussian, white, at noise_dbfs: its RMS against a full-scale sine's (1/sqrt(2)).
Whether a harmonic stands 20 dB or more above the noise is decided in the band harmtrace
measures it in: one bin of a rectangular window of 8 periods of the held pitch, f0 / 8 Hz
wide. White noise of variance s2 puts s2 * (f0 / 8) / (rate / 2) of its power in that band;
against a full-scale sine's power 1/2 that is

    band_noise_dbfs = 10 log10(s2 * f0 / (2 rate))

(the same for every harmonic, the noise being white; the rounding of PCM samples, of variance
(1 / 2^(bits-1))^2 / 12, is counted in s2). A harmonic is clear of the noise when its start
level lies 20 dB or more above band_noise_dbfs.

Samples are scaled so that 1 is full scale: PCM of B bits stores round(x * 2^(B-1)), as
harmplot reads it. Levels are set so that no sample can clip: the sum of the harmonics'
largest amplitudes and five standard deviations of the noise stays under 0.9.

Every random choice (levels, rates, phases, noise) comes from a generator seeded by the
family and the note's number, so the set is the same on every run.
"""
import argparse
import json
import math
import os
import struct
import sys

import numpy as np

HARMONICS = 10
OVERSAMPLE = 8
SEED = 20250101
CLEAR_DB = 20  # a harmonic this far above the noise in its band must be measured
PERIODS_PER_WINDOW = 8  # harmtrace's window, which sets the band a harmonic is measured in
REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))
DEFAULT_OUT = os.path.join(REPO, 'out', 'accuracy', 'notes')


# --- The pitch, the levels and the noise band: the truth as functions ---

def cents_at(note, t):
    """The fundamental's offset from the held pitch, in cents, at times t (seconds)."""
    t = np.asarray(t, dtype=float)
    p = note['pitch']
    kind = p['kind']
    if kind == 'steady':
        return np.zeros_like(t)
    if kind == 'vibrato':
        return p['vibrato_cents'] * np.sin(2 * np.pi * p['vibrato_hz'] * t + p['vibrato_phase'])
    if kind == 'bend':
        u = np.clip(t / p['settle_s'], 0, 1)
        if p['shape'] == 'linear':
            g = 1 - u
        else:
            g = (np.exp(-4 * u) - math.exp(-4)) / (1 - math.exp(-4))
        return p['start_cents'] * g
    if kind == 'drift':
        return p['cents_per_s'] * (t - note['seconds'] / 2)
    raise ValueError('unknown pitch kind %r' % kind)


def pitch_hz(note, t):
    return note['held_hz'] * 2 ** (cents_at(note, t) / 1200)


def level_at(harmonic, t):
    """A harmonic's level in dBFS at time t (seconds from the first sample)."""
    return harmonic['start_dbfs'] + harmonic['decay_db_per_s'] * np.asarray(t, dtype=float)


def noise_variance(noise_dbfs, fmt):
    """The variance of the white noise and of the rounding of the stored samples together."""
    s2 = 10 ** (noise_dbfs / 10) / 2 if noise_dbfs is not None else 0.0
    if fmt == 'float32':
        return s2  # a float's rounding is relative, some 140 dB under the sample: nothing
    bits = 16 if fmt == 'pcm16' else 24
    return s2 + (1.0 / 2 ** (bits - 1)) ** 2 / 12


def band_noise_dbfs(note):
    """The noise's level in one bin of an 8-period window at the held pitch (see above)."""
    s2 = noise_variance(note['noise_dbfs'], note['format'])
    width = note['held_hz'] / PERIODS_PER_WINDOW
    return 10 * math.log10(s2 * width / (note['rate'] / 2) / 0.5)


# --- Synthesis ---

def cycles(note, n):
    """Cycles of the fundamental from t = 0 to each of the n samples: the integral of f(t).

    held_hz * t exactly, plus the integral of f(t) - held_hz by the trapezoid rule, so that
    the rounding of a long running sum grows with the pitch's deviation only.
    """
    rate = note['rate']
    fine = np.arange((n - 1) * OVERSAMPLE + 1) / (rate * OVERSAMPLE)
    d = pitch_hz(note, fine) - note['held_hz']
    steps = (d[1:] + d[:-1]) / 2 / (rate * OVERSAMPLE)
    deviation = np.concatenate(([0.0], np.cumsum(steps)))[::OVERSAMPLE]
    return note['held_hz'] * np.arange(n) / rate + deviation


def synthesize(note):
    """The note's samples as floats, full scale 1, before they are stored."""
    n = int(round(note['seconds'] * note['rate']))
    t = np.arange(n) / note['rate']
    c = cycles(note, n)
    x = np.zeros(n)
    for h in note['harmonics']:
        # Whole cycles are dropped before the multiplication by 2 pi to keep the phase exact.
        turns = np.mod(h['k'] * c, 1.0)
        x += 10 ** (level_at(h, t) / 20) * np.sin(h['phase'] + 2 * np.pi * turns)
    if note['noise_dbfs'] is not None:
        rng = np.random.default_rng(note['noise_seed'])
        x += rng.standard_normal(n) * math.sqrt(10 ** (note['noise_dbfs'] / 10) / 2)
    return x


def write_wav(path, x, rate, fmt):
    """A RIFF/WAVE file: PCM of 16 or 24 bits (round(x * 2^(bits-1)), clipped), or 32- or 64-bit
    float."""
    if fmt in ('float32', 'float64'):
        bits = 32 if fmt == 'float32' else 64
        data = x.astype('<f4' if bits == 32 else '<f8').tobytes()
        tag = 3
    else:
        bits = 16 if fmt == 'pcm16' else 24
        full = 2 ** (bits - 1)
        q = np.clip(np.round(x * full), -full, full - 1).astype('<i4')
        if bits == 16:
            data = q.astype('<i2').tobytes()
        else:
            data = q.view(np.uint8).reshape(-1, 4)[:, :3].tobytes()  # little-endian: low 3 bytes
        tag = 1
    block = bits // 8
    fmt_chunk = struct.pack('<HHIIHH', tag, 1, rate, rate * block, block, bits)
    chunks = b'fmt ' + struct.pack('<I', len(fmt_chunk)) + fmt_chunk
    if tag == 3:
        chunks += b'fact' + struct.pack('<II', 4, len(x))
    chunks += b'data' + struct.pack('<I', len(data)) + data
    with open(path, 'wb') as f:
        f.write(b'RIFF' + struct.pack('<I', 4 + len(chunks)) + b'WAVE' + chunks)


# --- The set ---

FORMATS = ['pcm16', 'pcm24', 'float32']
RATES = [44100, 48000]


def levels(rng, style, held_hz, weak_fundamental=False):
    """Start levels (dBFS) and decay rates (dB/s) of harmonics 1 .. 10.

    steady: every rate 0. slow: -0.3 to about -5 dB/s, a few harmonics held at 0. pluck: the
    upper harmonics die faster, up to about -25 dB/s, less on low notes (as on strings).
    """
    tilt = rng.uniform(2.0, 5.5)
    start = [-12 - tilt * (k - 1) + rng.uniform(-5, 5) for k in range(1, HARMONICS + 1)]
    if weak_fundamental:
        start[0] = start[1] - 12
    if style == 'steady':
        rates = [0.0] * HARMONICS
    elif style == 'slow':
        base = rng.uniform(0.3, 1.5)
        rates = [-base * (1 + 0.3 * (k - 1)) for k in range(1, HARMONICS + 1)]
        for k in rng.choice(HARMONICS, size=3, replace=False):
            rates[k] = 0.0
    else:
        b, c = rng.uniform(2, 6), rng.uniform(0.5, 2)
        scale = min(1.5, max(0.5, math.sqrt(held_hz / 220)))
        rates = [-(b + c * (k - 1)) * scale for k in range(1, HARMONICS + 1)]
    return start, rates


def make_note(family, i, name, held_hz, seconds, pitch, style, noise_dbfs, weak_fundamental=False):
    rng = np.random.default_rng([SEED, ['vibrato', 'bend', 'drift', 'steady'].index(family), i])
    start, rates = levels(rng, style, held_hz, weak_fundamental)
    rate = RATES[i % len(RATES)]
    fmt = FORMATS[i % len(FORMATS)]
    # No sample may clip: the harmonics' largest amplitudes (at t = 0, none rises) and five
    # noise deviations stay under 0.9 of full scale.
    noise_peak = 5 * math.sqrt(10 ** (noise_dbfs / 10) / 2)
    peak = sum(10 ** (s / 20) for s in start) + noise_peak
    if peak > 0.9:
        shift = 20 * math.log10((0.9 - noise_peak) / (peak - noise_peak))
        start = [s + shift for s in start]
    note = {
        'file': name + '.wav',
        'family': family,
        'rate': rate,
        'format': fmt,
        'seconds': seconds,
        'held_hz': held_hz,
        'pitch': pitch,
        'noise_dbfs': noise_dbfs,
        'noise_seed': int(rng.integers(2 ** 31)),
        'decay_style': style,
        'harmonics': [],
    }
    noise_band = band_noise_dbfs(note)
    note['band_noise_dbfs'] = round(noise_band, 3)
    for k in range(1, HARMONICS + 1):
        s = round(start[k - 1], 3)
        note['harmonics'].append({
            'k': k,
            'freq_hz': held_hz * k,
            'start_dbfs': s,
            'decay_db_per_s': round(rates[k - 1], 3),
            'phase': round(float(rng.uniform(0, 2 * np.pi)), 6),
            'clear_of_noise': bool(s - noise_band >= CLEAR_DB),
        })
    return note


# Noise levels (dBFS) taken in turn: from far under every harmonic to loud enough that the
# weaker upper harmonics of some notes stand less than 20 dB above it in their band.
NOISE = [-75, -45, -60, -36, -70, -50, -33, -65, -42, -55]


def note_set():
    """Every note of the set, with its truth. Parameters spread over the ranges asked for."""
    notes = []
    # Vibrato: 10 to 50 cents, 4.5 to 6.5 Hz, on steady and slowly decaying harmonics.
    vib = [(66.0, 20, 5.0), (97.3, 25, 5.5), (141.0, 10, 6.5), (203.5, 35, 4.5), (262.0, 50, 6.0),
           (351.7, 15, 5.2), (446.0, 30, 5.8), (587.0, 40, 4.8), (734.0, 12, 6.2), (893.0, 45, 5.5)]
    for i, (f0, extent, rate) in enumerate(vib):
        phase = round(2 * np.pi * i / len(vib), 6)
        pitch = {'kind': 'vibrato', 'vibrato_hz': rate, 'vibrato_cents': extent,
                 'vibrato_phase': phase}
        notes.append(make_note('vibrato', i, 'vibrato-%02d' % (i + 1), f0, 3.0 + 0.1 * i,
                               pitch, ['steady', 'slow'][i % 2], NOISE[i]))
    # Bent attacks: +-20 to 50 cents, settled within 0.05 to 0.2 s, then held.
    bends = [(65.4, 20, 0.2), (98.0, -25, 0.15), (146.8, 30, 0.05), (196.0, -35, 0.1),
             (261.6, 40, 0.2), (330.0, -45, 0.08), (440.0, 40, 0.1), (523.3, -20, 0.12),
             (660.0, 50, 0.06), (880.0, -30, 0.15)]
    for i, (f0, offset, settle) in enumerate(bends):
        pitch = {'kind': 'bend', 'start_cents': offset, 'settle_s': settle,
                 'shape': ['exponential', 'linear'][i % 2]}
        notes.append(make_note('bend', i, 'bend-%02d' % (i + 1), f0, 2.0 + 0.2 * i, pitch,
                               ['steady', 'slow', 'pluck'][i % 3], NOISE[(i + 3) % 10]))
    # Slow drift: a few cents a second.
    drifts = [(73.4, 2.0), (110.0, -3.0), (185.0, 4.0), (311.1, -5.0), (493.9, 6.0), (830.6, -2.5)]
    for i, (f0, per_s) in enumerate(drifts):
        pitch = {'kind': 'drift', 'cents_per_s': per_s}
        notes.append(make_note('drift', i, 'drift-%02d' % (i + 1), f0, 3.0 + 0.2 * i, pitch,
                               ['steady', 'slow'][i % 2], NOISE[(i + 6) % 10]))
    # Steady notes: no vibrato, no bend; one with a weak fundamental, one in loud noise.
    steady = [(65.0, 'pluck'), (87.3, 'slow'), (130.8, 'steady'), (220.0, 'pluck'),
              (392.0, 'slow'), (440.0, 'steady'), (622.3, 'pluck'), (900.0, 'slow')]
    for i, (f0, style) in enumerate(steady):
        noise = NOISE[(i + 1) % 10]
        notes.append(make_note('steady', i, 'steady-%02d' % (i + 1), f0, 2.5 + 0.2 * i,
                               {'kind': 'steady'}, style, noise, weak_fundamental=(i == 3)))
    return notes


def write_set(out, notes=None):
    """Writes every note's file and truth.json into out; returns the notes."""
    notes = note_set() if notes is None else notes
    os.makedirs(out, exist_ok=True)
    for note in notes:
        write_wav(os.path.join(out, note['file']), synthesize(note), note['rate'], note['format'])
    truth = {
        'about': 'notes.py: level_k(t) = start_dbfs + decay_db_per_s * t (t in s from the first '
                 'sample); pitch(t) = held_hz * 2^(cents(t) / 1200), cents(t) by pitch.kind '
                 '(see notes.py); clear_of_noise: start_dbfs >= band_noise_dbfs + 20',
        'notes': notes,
    }
    with open(os.path.join(out, 'truth.json'), 'w') as f:
        json.dump(truth, f, indent=1)
    return notes


def main():
    ap = argparse.ArgumentParser(description='Writes the notes whose truth is known.')
    ap.add_argument('--out', default=DEFAULT_OUT, help='directory [%(default)s]')
    args = ap.parse_args()
    notes = write_set(args.out)
    print('notes.py: %d notes and truth.json in %s' % (len(notes), args.out))


if __name__ == '__main__':
    sys.exit(main())
