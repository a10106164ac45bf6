#!/usr/bin/python3
"""Notes whose envelope is known, written without the toolkit: held, struck and single decays.

    /usr/bin/python3 scripts/accuracy/envelopes.py [--out DIR]   (default out/accuracy/envelopes)

Writes DIR/*.wav and DIR/truth.json. Each note is a sum of harmonics k = 1 .. 10 of one
fundamental (steady, or with a vibrato as notes.py makes it), each with an amplitude envelope
a_k(t), over white noise:

    x(t) = sum_k a_k(t) sin(phi_k + 2 pi k integral_0^t f(s) ds) + noise

t is in seconds from the first sample; the note begins at its onset t0, after a lead-in of noise
alone. Three families:

  held     rises, holds and is released. a_k(t) = 10^(L_k(t) / 20) (1 - exp(-(t - t0) / tau_k))
           for t >= t0, with tau_k the rise's time constant (10 to 150 ms; on some notes the
           upper harmonics rise more slowly), and the level in dB
               L_k(t) = held_k + fade (u - t0) + w_k(u) + v_k(u) - release_k max(0, t - t_r)
           where u = min(t, t_r): the wander w_k (a sum of three slow sines, the note's own,
           scaled to about +-1.5 dB and a little per harmonic) and, on vibrato notes, the
           vibrato's level swing v_k (0.3 to 1.2 dB either side, at the vibrato's rate) stop
           where the release begins at t_r; the release falls at 25 to 80 dB/s.
  struck   two exponentials per harmonic, the prompt sound and the aftersound, of one frequency
           a phase phi apart (0 to 90 degrees, so that their sum has the amplitude
           sqrt(A^2 + B^2 + 2 A B cos phi)):
               A_k(t) = 10^((start_k - prompt_k (t - t0)) / 20)
               B_k(t) = 10^((start_k - apart_k - after_k (t - t0)) / 20)
           prompt 15 to 60 dB/s, aftersound 1.5 to 10 dB/s and at most half the prompt's rate,
           25 to 30 dB apart at the onset; the knee, where the two are equal, lies
           apart / (prompt - after) after the onset. The onset rises in 1 to 3 ms. On some notes a
           damper stops the string at t_d: both fall from there at 60 to 100 dB/s more.
  single   one exponential per harmonic from t = 0 (0 to 40 dB/s, a third of them ten times
           slower, but those within 20 dB of the strongest 4 to 40 dB/s), in noise that the upper harmonics sink
           into, as scripts/decay-coverage makes them: a second stage must not be found in them.

The truth of each harmonic (truth.json, 'truth'), from its level on a grid of 0.1 ms:

  attack_s       from t0 until the level first comes within 3 dB of the held level (held) or
                 of the peak (struck, single)
  peak_dbfs      the highest level
  held_dbfs      the median of the level over the held part, from twice the attack's time after
                 the onset to t_r; held_sd_db its standard deviation; held_slope the
                 least-squares slope of the level there (dB/s)
  release_db_per_s, release_from_s   -release_k and t_r (held); -damper and t_d (struck)
  prompt_db_per_s, aftersound_db_per_s, knee_s, start_dbfs   (struck; single: prompt only)

and whether the harmonic stands clear of the noise for each check (the noise in the band
harmtrace measures it in, notes.band_noise_dbfs): held and attack when the held level lies
20 dB over it (the attack also when the harmonic's peak lies within 40 dB of the loudest's: the
onset of the loud harmonics spreads over the bins of those far under them); the release when the held level lies 30 dB over it; the prompt when the start
does, the aftersound when its level a second after the knee lies 20 dB over it and that second
lies in the note (before a damper). A release is
checked only on harmonics within 30 dB of the loudest where it begins: a fast fall spreads each
harmonic's power over the bins around it, and the loud ones bury the soft.

Samples are scaled so that 1 is full scale, and set so that no sample clips. Every random
choice comes from a generator seeded by the family and the note's number.
"""
import argparse
import json
import math
import os
import sys

import numpy as np

import notes

SEED = 20250126
HARMONICS = 10
GRID = 1e-4  # s: the grid the truth is read on
DEFAULT_OUT = os.path.join(notes.REPO, 'out', 'accuracy', 'envelopes')
FAMILIES = ['held', 'struck', 'single']


# --- The envelopes as functions of time ---

def wander(note, h, t):
    """The held note's slow wander of harmonic h, in dB, at times t."""
    w = note['wander']
    total = np.zeros_like(t)
    for hz, phase in zip(w['hz'], w['phase']):
        total += np.sin(2 * np.pi * hz * t + phase)
    return w['scale'] * h['wander_share'] * total


def level_db(note, h, t):
    """Harmonic h's level in dBFS at times t, without the onset's rise (held, struck: the sum
    of the two sounds; single: the one)."""
    t = np.asarray(t, dtype=float)
    e = h['envelope']
    t0 = note['onset_s']
    if note['family'] == 'held':
        u = np.minimum(t, e['release_from_s'])
        level = e['held_dbfs'] + note['fade_db_per_s'] * (u - t0) + wander(note, h, u)
        if note['pitch']['kind'] == 'vibrato':
            p = note['pitch']
            level += e['swing_db'] * np.sin(2 * np.pi * p['vibrato_hz'] * u + p['vibrato_phase'] +
                                            e['swing_phase'])
        return level - e['release_db_per_s'] * np.maximum(0, t - e['release_from_s'])
    if note['family'] == 'single':
        return e['start_dbfs'] - e['prompt_db_per_s'] * (t - t0)
    a = 10 ** ((e['start_dbfs'] - e['prompt_db_per_s'] * (t - t0)) / 20)
    b = 10 ** ((e['start_dbfs'] - e['apart_db'] - e['after_db_per_s'] * (t - t0)) / 20)
    level = 10 * np.log10(a * a + b * b + 2 * a * b * math.cos(e['phase_apart']))
    if 'damper_from_s' in e:
        level -= e['damper_db_per_s'] * np.maximum(0, t - e['damper_from_s'])
    return level


def rise(note, h, t):
    """The onset's rise, a factor on the amplitude: 0 before the onset."""
    t = np.asarray(t, dtype=float) - note['onset_s']
    return np.where(t > 0, 1 - np.exp(-np.maximum(t, 0) / h['envelope']['rise_s']), 0.0)


def amplitude(note, h, t):
    return 10 ** (level_db(note, h, t) / 20) * rise(note, h, t)


def sound(note, h, turns):
    """Harmonic h's samples, from its phase in cycles: a struck harmonic is two sounds of one
    frequency a phase apart."""
    t = np.arange(len(turns)) / note['rate']
    phase = h['phase'] + 2 * np.pi * turns
    if note['family'] != 'struck':
        return amplitude(note, h, t) * np.sin(phase)
    e = h['envelope']
    t0 = note['onset_s']
    r = rise(note, h, t)
    if 'damper_from_s' in e:
        r = r * 10 ** (-e['damper_db_per_s'] * np.maximum(0, t - e['damper_from_s']) / 20)
    a = 10 ** ((e['start_dbfs'] - e['prompt_db_per_s'] * (t - t0)) / 20)
    b = 10 ** ((e['start_dbfs'] - e['apart_db'] - e['after_db_per_s'] * (t - t0)) / 20)
    return r * (a * np.sin(phase) + b * np.sin(phase + e['phase_apart']))


def synthesize(note):
    n = int(round(note['seconds'] * note['rate']))
    c = notes.cycles(note, n)
    x = np.zeros(n)
    for h in note['harmonics']:
        x += sound(note, h, np.mod(h['k'] * c, 1.0))
    rng = np.random.default_rng(note['noise_seed'])
    x += rng.standard_normal(n) * math.sqrt(10 ** (note['noise_dbfs'] / 10) / 2)
    return x


# --- The truth read from the envelopes ---

def truth_of(note, h):
    e = h['envelope']
    t0 = note['onset_s']
    t = np.arange(0, note['seconds'], GRID)
    level = level_db(note, h, t) + 20 * np.log10(np.maximum(rise(note, h, t), 1e-300))
    noise = note['band_noise_dbfs']
    out = {'peak_dbfs': float(level.max())}
    after = t >= t0
    if note['family'] == 'held':
        # The held part begins once the note has sounded twice as long as its attack took, the
        # attack ending where the rise first comes within 3 dB of the held level (a median over
        # the held part: found again from 5 rise times on, where the rise is within 0.06 dB).
        begins = t0 + 5 * e['rise_s']
        for _ in range(3):
            span = (t >= begins) & (t <= e['release_from_s'])
            held = float(np.median(level[span]))
            attack = float(t[np.nonzero(after & (level >= held - 3))[0][0]]) - t0
            begins = t0 + 2 * attack
        span = (t >= begins) & (t <= e['release_from_s'])
        held = float(np.median(level[span]))
        out.update(held_dbfs=held, held_sd_db=float(np.std(level[span])),
                   held_slope=float(np.polyfit(t[span], level[span], 1)[0]),
                   release_db_per_s=-e['release_db_per_s'], release_from_s=e['release_from_s'])
        reference = held
        out['clear'] = {'held': held - noise >= 20, 'release': held - noise >= 30}
    else:
        reference = out['peak_dbfs']
        out.update(start_dbfs=e['start_dbfs'], prompt_db_per_s=-e['prompt_db_per_s'])
        clear = {'prompt': e['start_dbfs'] - noise >= 20}
        if note['family'] == 'struck':
            knee = e['apart_db'] / (e['prompt_db_per_s'] - e['after_db_per_s'])
            out.update(aftersound_db_per_s=-e['after_db_per_s'], knee_s=t0 + knee)
            later = e['start_dbfs'] - e['apart_db'] - e['after_db_per_s'] * (knee + 1)
            ends = e.get('damper_from_s', note['seconds'])
            clear['aftersound'] = later - noise >= 20 and t0 + knee + 1 <= ends
            if 'damper_from_s' in e:
                # After the damper the sound that dominates there falls the faster.
                ringing = e['after_db_per_s'] if e['damper_from_s'] - t0 > knee else \
                    e['prompt_db_per_s']
                out.update(release_db_per_s=-e['damper_db_per_s'] - ringing,
                           release_from_s=e['damper_from_s'])
                at = float(level_db(note, h, e['damper_from_s']))
                clear['release'] = at - noise >= 30
        out['clear'] = clear
    out['clear']['attack'] = reference - noise >= 20
    within = np.nonzero(after & (level >= reference - 3))[0]
    out['attack_s'] = float(t[within[0]] - t0) if len(within) else None
    return out


# --- The set ---

def tilt_levels(rng, top):
    tilt = rng.uniform(2.0, 5.0)
    return [top - tilt * (k - 1) + rng.uniform(-4, 4) for k in range(1, HARMONICS + 1)]


def base_note(family, i, f0, seconds, onset, noise, rng):
    return {
        'file': '%s-%02d.wav' % (family, i + 1),
        'family': family,
        'kind': 'held' if family == 'held' else 'decaying',
        'rate': notes.RATES[i % 2],
        'format': notes.FORMATS[i % 3],
        'seconds': seconds,
        'held_hz': f0,
        'onset_s': onset,
        'noise_dbfs': noise,
        'noise_seed': int(rng.integers(2 ** 31)),
        'pitch': {'kind': 'steady'},
        'harmonics': [],
    }


def held_note(i):
    rng = np.random.default_rng([SEED, 0, i])
    f0 = [65.4, 82.4, 98.0, 110.0, 130.8, 146.8, 164.8, 196.0, 220.0, 246.9, 261.6, 293.7,
          329.6, 349.2, 392.0, 440.0, 493.9, 523.3, 587.3, 659.3, 698.5, 784.0, 830.6, 880.0][i]
    onset = round(rng.uniform(0.05, 0.3), 3)
    held_s = rng.uniform(1.5, 3.0)
    release_from = round(onset + held_s, 3)
    note = base_note('held', i, f0, round(release_from + rng.uniform(0.8, 1.4), 2), onset,
                     float(rng.choice([-90, -80, -70, -60])), rng)
    # A vibrato on every third note from 150 Hz up: an eight-period window averages the level's
    # swing away on lower notes (at 65 Hz it keeps 40 % of a 5.5 Hz swing).
    if i % 3 == 1 and f0 >= 150:
        note['pitch'] = {'kind': 'vibrato', 'vibrato_hz': round(rng.uniform(4.5, 6.5), 2),
                         'vibrato_cents': round(rng.uniform(10, 40), 1),
                         'vibrato_phase': round(rng.uniform(0, 2 * np.pi), 6)}
    note['fade_db_per_s'] = round(-rng.uniform(0.5, 2.0), 3) if i % 4 == 3 else 0.0
    hz = rng.uniform(0.15, 0.7, 3)
    phase = rng.uniform(0, 2 * np.pi, 3)
    t = np.arange(onset, release_from, 0.001)
    peak = np.max(np.abs(sum(np.sin(2 * np.pi * a * t + b) for a, b in zip(hz, phase))))
    note['wander'] = {'hz': [round(float(v), 4) for v in hz],
                      'phase': [round(float(v), 6) for v in phase],
                      'scale': round(float(rng.uniform(1.0, 1.5) / peak), 6)}
    base_tau = rng.uniform(0.01, 0.15)
    slower = i % 2 == 1  # the upper harmonics rise more slowly
    release = rng.uniform(25, 80)
    for k, held in enumerate(tilt_levels(rng, -12), start=1):
        tau = min(0.15, base_tau * (1 + 0.12 * (k - 1))) if slower else base_tau
        note['harmonics'].append({
            'k': k, 'phase': round(float(rng.uniform(0, 2 * np.pi)), 6),
            'wander_share': round(float(rng.uniform(0.8, 1.2)), 4),
            'envelope': {
                'held_dbfs': round(held, 3), 'rise_s': round(float(tau), 4),
                'release_from_s': release_from,
                'release_db_per_s': round(float(release * rng.uniform(0.85, 1.15)), 2),
                'swing_db': round(float(rng.uniform(0.3, 1.2)), 3),
                'swing_phase': round(float(rng.uniform(-0.5, 0.5)), 4)}})
    return note


def struck_note(i):
    rng = np.random.default_rng([SEED, 1, i])
    f0 = [55.0, 65.4, 73.4, 87.3, 98.0, 110.0, 123.5, 130.8, 146.8, 164.8, 174.6, 196.0,
          220.0, 246.9, 261.6, 293.7, 329.6, 392.0, 440.0, 523.3, 587.3, 659.3, 784.0, 880.0][i]
    onset = round(rng.uniform(0.05, 0.3), 3)
    note = base_note('struck', i, f0, 0, onset, float(rng.choice([-110, -100, -90])), rng)
    knees = []
    for k, start in enumerate(tilt_levels(rng, -14), start=1):
        prompt = rng.uniform(15, 60)
        after = rng.uniform(1.5, min(10, prompt / 2))
        apart = rng.uniform(25, 30)
        knees.append(apart / (prompt - after))
        note['harmonics'].append({
            'k': k, 'phase': round(float(rng.uniform(0, 2 * np.pi)), 6),
            'envelope': {'start_dbfs': round(start, 3), 'rise_s': round(rng.uniform(0.001, 0.003), 4),
                         'prompt_db_per_s': round(float(prompt), 3),
                         'after_db_per_s': round(float(after), 3),
                         'apart_db': round(float(apart), 3),
                         'phase_apart': round(float(rng.uniform(0, np.pi / 2)), 4)}})
    # Long enough that the latest knee of the first four harmonics has 1.5 s of aftersound.
    seconds = onset + max(knees[:4]) + 1.5
    if i % 3 == 2:  # a damper stops the string
        damper = round(seconds, 3)
        for h in note['harmonics']:
            h['envelope'].update(damper_from_s=damper,
                                 damper_db_per_s=round(float(rng.uniform(60, 100)), 2))
        seconds += 1.0
    note['seconds'] = round(seconds + 0.2, 2)
    return note


def single_note(i):
    rng = np.random.default_rng([SEED, 2, i])
    f0 = float(round(55 * 2 ** rng.uniform(0, 4), 2))
    note = base_note('single', i, f0, round(float(rng.uniform(2, 4)), 2), 0.0,
                     float(round(rng.uniform(*{'pcm16': (-95, -60), 'pcm24': (-120, -70),
                                                'float32': (-130, -60)}[notes.FORMATS[i % 3]]),
                                 1)), rng)
    starts = [-6 - rng.uniform(0, 30) - 3 * (k - 1) for k in range(1, HARMONICS + 1)]
    for k in range(1, HARMONICS + 1):
        start = starts[k - 1]
        # Those within 20 dB of the strongest die away at 4 dB/s or more: a note whose loudest
        # harmonics hold is no decay.
        rate = rng.uniform(4, 40) if start >= max(starts) - 20 else \
            rng.uniform(0, 40) * rng.choice([0.1, 1])
        note['harmonics'].append({
            'k': k, 'phase': round(float(rng.uniform(0, 2 * np.pi)), 6),
            'envelope': {'start_dbfs': round(start, 3), 'prompt_db_per_s': round(float(rate), 3),
                         'rise_s': 1e-9}})
    return note


def scale_to_fit(note):
    """No sample may clip: the harmonics' largest amplitudes and five noise deviations stay
    under 0.9 of full scale."""
    peak_noise = 5 * math.sqrt(10 ** (note['noise_dbfs'] / 10) / 2)
    t = np.arange(0, note['seconds'], 0.002)
    peak = sum(float(np.max(amplitude(note, h, t))) * (2 if note['family'] == 'struck' else 1)
               for h in note['harmonics'])
    if peak + peak_noise > 0.9:
        shift = 20 * math.log10((0.9 - peak_noise) / peak)
        for h in note['harmonics']:
            e = h['envelope']
            for key in ('held_dbfs', 'start_dbfs'):
                if key in e:
                    e[key] = round(e[key] + shift, 3)


def note_set():
    made = [held_note(i) for i in range(24)] + [struck_note(i) for i in range(24)] + \
           [single_note(i) for i in range(30)]
    for note in made:
        # Harmonics at or above the Nyquist frequency are left out.
        note['harmonics'] = [h for h in note['harmonics'] if h['k'] * note['held_hz'] <
                             0.45 * note['rate']]
        scale_to_fit(note)
        note['band_noise_dbfs'] = round(notes.band_noise_dbfs(note), 3)
        for h in note['harmonics']:
            h['truth'] = truth_of(note, h)
        # The onset of the loud harmonics spreads over the bins of those far under them.
        loudest = max(h['truth']['peak_dbfs'] for h in note['harmonics'])
        for h in note['harmonics']:
            h['truth']['clear']['attack'] &= h['truth']['peak_dbfs'] >= loudest - 40
        # A fast release spreads each harmonic's power over the bins around it: one more than
        # 30 dB under the loudest at the release's start is buried in their spread.
        at = {h['k']: float(level_db(note, h, h['truth']['release_from_s']))
              for h in note['harmonics'] if 'release_from_s' in h['truth']}
        for h in note['harmonics']:
            if h['k'] in at:
                h['truth']['clear']['release'] &= at[h['k']] >= max(at.values()) - 30
    return made


def write_set(out, made=None):
    made = note_set() if made is None else made
    os.makedirs(out, exist_ok=True)
    for note in made:
        notes.write_wav(os.path.join(out, note['file']), synthesize(note), note['rate'],
                        note['format'])
    with open(os.path.join(out, 'truth.json'), 'w') as f:
        json.dump({'about': 'envelopes.py: the envelopes and their truth', 'notes': made}, f,
                  indent=1)
    return made


def main():
    ap = argparse.ArgumentParser(description='Writes notes whose envelope is known.')
    ap.add_argument('--out', default=DEFAULT_OUT, help='directory [%(default)s]')
    args = ap.parse_args()
    made = write_set(args.out)
    print('envelopes.py: %d notes and truth.json in %s' % (len(made), args.out))


if __name__ == '__main__':
    sys.exit(main())
