#!/usr/bin/python3
"""How close harmplot's summary comes to the truth of the notes notes.py writes.

    /usr/bin/python3 scripts/accuracy/evaluate.py [--verbose] [--harmplot PATH] [--build DIR]
                     [--notes DIR] [--out DIR] [--json FILE] [-- HARMPLOT OPTION...]

Writes the notes (unless DIR already holds exactly this set), runs harmplot --summary on them
with the options after '--' (e.g. -- --fixed), and checks every note against its truth:

  fundamental   f0_hz within 3 cents of the held pitch (for a bend the pitch it settles at,
                for vibrato the centre, for drift the median over the note)
  start level   for every harmonic that stands 20 dB or more above the noise in its band:
                start_dbfs within 1 dB of the truth's level at fit_from_s
  decay rate    for the same harmonics: decay_db_per_s within 0.5 dB/s or 5 % of the true
                rate, whichever is larger. A harmonic with no numbers fails both.
  vibrato       only when the CSV has vibrato_hz and vibrato_cents: on a note with vibrato,
                the rate within 0.3 Hz and the extent within 3 cents; on a note without, none
                reported (both empty or 0)
  ci95          only when decay_ci95_db_per_s is filled: the true rate inside
                [rate - ci95, rate + ci95]; the criterion holds when that is so for at least
                90 % of the harmonics with an interval

Columns are read by name, so today's 12 columns and the coming 20 both work. Prints one table
per family (passed / total, and the worst error with its note); --verbose adds every note.
The result goes to FILE as JSON (default out/accuracy/evaluate.json).
"""
import json
import os
import sys
import time

import notes as notes_py
import toolkit

FUNDAMENTAL_CENTS = 3.0
LEVEL_DB = 1.0
RATE_DB_PER_S = 0.5
RATE_SHARE = 0.05
VIBRATO_HZ = 0.3
VIBRATO_CENTS = 3.0
COVERAGE = 0.90

CRITERIA = ['fundamental', 'start level', 'decay rate', 'vibrato', 'ci95']
UNITS = {'fundamental': 'cents', 'start level': 'dB', 'decay rate': 'dB/s', 'vibrato': '',
         'ci95': 'dB/s'}


def ensure_notes(directory):
    """The notes' truth; writes the set first unless the directory already holds it."""
    wanted = notes_py.note_set()
    path = os.path.join(directory, 'truth.json')
    try:
        with open(path) as f:
            held = json.load(f)['notes']
        if held == json.loads(json.dumps(wanted)) and all(
                os.path.exists(os.path.join(directory, n['file'])) for n in wanted):
            return held
    except (OSError, ValueError, KeyError):
        pass
    notes_py.write_set(directory, wanted)
    with open(path) as f:
        return json.load(f)['notes']


def check(criterion, ok, error=None, **what):
    """One check's record: the criterion, whether it passed, the signed error, and context."""
    return dict(criterion=criterion, ok=bool(ok), error=error, **what)


def check_note(note, rows, columns):
    """Every check of one note against harmplot's rows for it (none if it gave no summary)."""
    out = []
    by_k = {int(r['harmonic']): r for r in rows}
    f0 = toolkit.number(rows[0], 'f0_hz') if rows else None
    if f0 is None:
        out.append(check('fundamental', False, note='no fundamental'))
    else:
        e = toolkit.cents(f0, note['held_hz'])
        out.append(check('fundamental', abs(e) <= FUNDAMENTAL_CENTS, e, measured=f0,
                         truth=note['held_hz']))

    for h in note['harmonics']:
        if not h['clear_of_noise']:
            continue
        k = h['k']
        r = by_k.get(k, {})
        start, rate = toolkit.number(r, 'start_dbfs'), toolkit.number(r, 'decay_db_per_s')
        at = toolkit.number(r, 'fit_from_s')
        why = r.get('reason') or ('no row' if not r else 'no numbers')
        if start is None or at is None:
            out.append(check('start level', False, harmonic=k, note=why))
        else:
            truth = float(notes_py.level_at(h, at))
            out.append(check('start level', abs(start - truth) <= LEVEL_DB, start - truth,
                             harmonic=k, measured=start, truth=round(truth, 3), at=at))
        true_rate = h['decay_db_per_s']
        if rate is None:
            out.append(check('decay rate', False, harmonic=k, note=why, truth=true_rate))
            continue
        allowed = max(RATE_DB_PER_S, RATE_SHARE * abs(true_rate))
        out.append(check('decay rate', abs(rate - true_rate) <= allowed, rate - true_rate,
                         harmonic=k, measured=rate, truth=true_rate))
        ci = toolkit.number(r, 'decay_ci95_db_per_s')
        if ci is not None:
            # The error here is how far the truth lies outside the interval (0 inside it).
            outside = max(0.0, abs(rate - true_rate) - ci)
            out.append(check('ci95', outside == 0, outside, harmonic=k, measured=rate, ci95=ci,
                             truth=true_rate))

    if 'vibrato_hz' in columns and 'vibrato_cents' in columns:
        hz = toolkit.number(rows[0], 'vibrato_hz') if rows else None
        ct = toolkit.number(rows[0], 'vibrato_cents') if rows else None
        p = note['pitch']
        if p['kind'] == 'vibrato':
            if hz is None or ct is None:
                out.append(check('vibrato', False, note='no vibrato reported'))
            else:
                ok = (abs(hz - p['vibrato_hz']) <= VIBRATO_HZ and
                      abs(ct - p['vibrato_cents']) <= VIBRATO_CENTS)
                out.append(check('vibrato', ok, ct - p['vibrato_cents'], measured_hz=hz,
                                 measured_cents=ct, rate_error=hz - p['vibrato_hz'],
                                 truth_hz=p['vibrato_hz'], truth_cents=p['vibrato_cents']))
        elif rows:
            none = not hz and not ct
            out.append(check('vibrato', none, None if none else ct, measured_hz=hz,
                             measured_cents=ct, note='' if none else 'vibrato on a note without'))
    return out


def tally(records):
    """Per criterion: passed, total, missing (no numbers) and the largest |error| with context;
    of the intervals, whether they hold the truth often enough."""
    result = toolkit.tally(records, CRITERIA, lambda r: r.get('error') is None and not r['ok'])
    if 'ci95' in result:
        result['ci95']['holds'] = result['ci95']['passed'] >= COVERAGE * result['ci95']['total']
    return result


def where(r):
    if r is None:
        return ''
    s = r['file']
    if r.get('harmonic'):
        s += ' h%d' % r['harmonic']
    if r['criterion'] in ('decay rate', 'ci95'):
        s += ', truth %+.1f' % r['truth']
    if r['criterion'] == 'vibrato' and 'truth_cents' in r:
        s += ', %.2f Hz %.1f c for %.2f Hz %.0f c' % (r['measured_hz'], r['measured_cents'],
                                                      r['truth_hz'], r['truth_cents'])
    return s


def print_table(families):
    toolkit.print_table(families, CRITERIA, UNITS, where, (8, 12, 12), 2, lambda t: t['holds'])


def print_note(note, records, rows):
    check_word = rows[0].get('check', '') if rows else 'no summary'
    print('\n%s (%s, %s, %g Hz, %s, noise %g dBFS): check %s' % (
        note['file'], note['family'], note['format'], note['held_hz'], note['pitch']['kind'],
        note['noise_dbfs'], check_word))
    for r in records:
        if r['criterion'] == 'fundamental' and r.get('error') is not None:
            print('  fundamental %.2f Hz for %.2f: %+.2f cents %s' % (
                r['measured'], r['truth'], r['error'], '' if r['ok'] else 'FAIL'))
    print('   k   truth dBFS  meas   err    truth dB/s  meas    err   from')
    level = {r['harmonic']: r for r in records if r['criterion'] == 'start level'}
    rate = {r['harmonic']: r for r in records if r['criterion'] == 'decay rate'}
    for k in sorted(level):
        a, b = level[k], rate[k]
        if a.get('error') is None:
            left = '%-26s' % ('- (%s)' % a.get('note', ''))
        else:
            left = '%8.2f %7.1f %+6.2f%s' % (a['truth'], a['measured'], a['error'],
                                             ' ' if a['ok'] else '*')
            left = '%-26s' % left
        if b.get('error') is None:
            right = '%8.1f       -' % b['truth']
        else:
            right = '%8.1f %7.1f %+6.2f%s' % (b['truth'], b['measured'], b['error'],
                                              ' ' if b['ok'] else '*')
        print('  %2d %s %s %s' % (k, left, right, a.get('at', '')))
    for r in records:
        if r['criterion'] == 'vibrato' and not r['ok']:
            print('  vibrato: %s' % (r.get('note') or where(r)))


def main():
    own, options = toolkit.split_options(sys.argv[1:])
    ap = toolkit.parser('Checks harmplot against notes of known truth.', 'evaluate',
                        'every note, harmonic by harmonic')
    ap.add_argument('--notes', default=notes_py.DEFAULT_OUT, help='[%(default)s]')
    args = toolkit.parse_args(ap, own)

    began = time.monotonic()
    truth = ensure_notes(args.notes)
    files = [os.path.join(args.notes, n['file']) for n in truth]
    columns, rows, harmplot_s, stderr = toolkit.run_harmplot(files, args.out, args.harmplot,
                                                             options, args.build)
    records, per_note = [], []
    for note in truth:
        mine = check_note(note, rows.get(note['file'], []), columns)
        for r in mine:
            r['file'], r['family'] = note['file'], note['family']
        records += mine
        per_note.append((note, mine))

    families = {}
    for fam in dict.fromkeys(n['family'] for n in truth):
        families[fam] = tally([r for r in records if r['family'] == fam])
    families['all'] = tally(records)

    print('harmplot %s, options: %s; %d notes, %d columns (%.1f s for harmplot)' % (
        args.harmplot, ' '.join(options) or '(none)', len(truth), len(columns), harmplot_s))
    absent = [c for c, n in (('vibrato', 'vibrato_hz'), ('ci95', 'decay_ci95_db_per_s'))
              if n not in columns]
    if absent:
        print('not in the CSV, not checked: %s' % ', '.join(absent))
    print_table(families)
    failed = [n['file'] for n in truth if n['file'] not in rows]
    if failed:
        print('no summary for: %s' % ', '.join(failed))
    if args.verbose:
        for note, mine in per_note:
            print_note(note, mine, rows.get(note['file'], []))
    seconds = time.monotonic() - began
    print('\n%.1f s in all; result in %s' % (seconds, args.json))

    os.makedirs(os.path.dirname(os.path.abspath(args.json)), exist_ok=True)
    with open(args.json, 'w') as f:
        json.dump({'harmplot': args.harmplot, 'options': options, 'columns': columns,
                   'seconds': round(seconds, 1), 'harmplot_seconds': round(harmplot_s, 1),
                   'harmplot_stderr': [l for l in stderr.splitlines() if not l.startswith('[')],
                   'families': families,
                   'notes': [{'file': n['file'], 'family': n['family'], 'checks': m}
                             for n, m in per_note]}, f, indent=1)
    return 0


if __name__ == '__main__':
    sys.exit(main())
