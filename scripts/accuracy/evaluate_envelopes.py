#!/usr/bin/python3
"""How close harmplot's envelope comes to the truth of the notes envelopes.py writes.

    /usr/bin/python3 scripts/accuracy/evaluate_envelopes.py [--verbose] [--harmplot PATH]
                     [--build DIR] [--notes DIR] [--out DIR] [--json FILE] [--before PATH]
                     [-- HARMPLOT OPTION...]

Writes the notes (unless DIR already holds exactly this set), runs harmplot --summary on them
and checks each against its truth (envelopes.py tells it), harmonic by harmonic where the
harmonic stands clear of the noise for the check:

  kind          the note's kind, on every note
  attack        attack_s within 0.03 s, 25 % or four periods of the truth
  held level    held_dbfs within 0.5 dB;  swing: held_sd_db within 0.35 dB
  release       release_db_per_s within 10 % or 2 dB/s, release_from_s within 0.05 s
  prompt        decay_db_per_s within 15 % (single decays: 5 % or 0.5 dB/s, as evaluate.py)
  aftersound    decay2_db_per_s within 15 % or 0.5 dB/s; knee: knee_s within 25 % of its time
                from the onset, or 0.2 s
  one stage     a single decay has no second stage: no decay2_db_per_s, no release
  ci95          the truth inside rate +- its interval (held part: the least-squares slope of
                the true level over the held part), on 90 % of the rates

A check whose value is missing fails. With --before OLD, a harmplot from before the envelope
runs on the same notes: the table gives its counts on the criteria it has columns for (the
second rate of its knee, said in the reason, standing for the release), and the largest
differences of its start_dbfs and decay_db_per_s from today's on the single decays.
The result goes to FILE as JSON (default out/accuracy/evaluate_envelopes.json).
"""
import json
import os
import re
import sys
import time

import envelopes
import toolkit

CRITERIA = ['kind', 'attack', 'held level', 'swing', 'release', 'release start', 'prompt',
            'aftersound', 'knee', 'one stage', 'ci95']
UNITS = {'attack': 's', 'held level': 'dB', 'swing': 'dB', 'release': 'dB/s',
         'release start': 's', 'prompt': 'dB/s', 'aftersound': 'dB/s', 'knee': 's', 'ci95': 'dB/s'}
COVERAGE = 0.90


def ensure_notes(directory):
    wanted = json.loads(json.dumps(envelopes.note_set()))
    path = os.path.join(directory, 'truth.json')
    try:
        with open(path) as f:
            held = json.load(f)['notes']
        if held == wanted and all(os.path.exists(os.path.join(directory, n['file']))
                                  for n in wanted):
            return held
    except (OSError, ValueError, KeyError):
        pass
    envelopes.write_set(directory)
    with open(path) as f:
        return json.load(f)['notes']


def check(criterion, ok, error=None, **what):
    return dict(criterion=criterion, ok=bool(ok), error=error, **what)


def near(criterion, measured, truth, allowed, **what):
    if measured is None:
        return check(criterion, False, note='missing', truth=truth, **what)
    return check(criterion, abs(measured - truth) <= allowed, measured - truth, measured=measured,
                 truth=truth, **what)


def covers(rate, ci, truth, **what):
    if rate is None or ci is None:
        return None
    outside = max(0.0, abs(rate - truth) - ci)
    return check('ci95', outside == 0, outside, measured=rate, ci95=ci, truth=truth, **what)


KNEE = re.compile(r'fitted up to a knee: then (-?[0-9.]+) dB/s from ([0-9.]+) s')


def release_before(r):
    """A summary from before the envelope: the second rate of its knee, said in the reason, stands
    for the release (its rate and start; whole dB/s and hundredths of a second)."""
    m = KNEE.search(r.get('reason', ''))
    if m and 'release_db_per_s' not in r:
        r = dict(r, release_db_per_s=m.group(1), release_from_s=m.group(2))
    return r


def check_note(note, rows):
    out = []
    by_k = {int(r['harmonic']): release_before(r) for r in rows if r.get('harmonic')}
    kind = rows[0].get('kind') if rows else None
    out.append(check('kind', kind == note['kind'], note=kind or 'missing'))
    f0, onset = note['held_hz'], note['onset_s']
    for h in note['harmonics']:
        k, t, clear = h['k'], h['truth'], h['truth']['clear']
        r = by_k.get(k, {})
        num = lambda c: toolkit.number(r, c)
        if clear['attack'] and t['attack_s'] is not None:
            out.append(near('attack', num('attack_s'), t['attack_s'],
                            max(0.03, 0.25 * t['attack_s'], 4 / f0), harmonic=k))
        if note['family'] == 'held':
            if clear['held']:
                out.append(near('held level', num('held_dbfs'), t['held_dbfs'], 0.5, harmonic=k))
                out.append(near('swing', num('held_sd_db'), t['held_sd_db'], 0.35, harmonic=k))
                c = covers(num('decay_db_per_s'), num('decay_ci95_db_per_s'), t['held_slope'],
                           harmonic=k, stage='held')
                if c:
                    out.append(c)
        else:
            if clear['prompt']:
                truth = t['prompt_db_per_s']
                allowed = max(0.05 * abs(truth), 0.5) if note['family'] == 'single' else \
                    0.15 * abs(truth)
                out.append(near('prompt', num('decay_db_per_s'), truth, allowed, harmonic=k))
                c = covers(num('decay_db_per_s'), num('decay_ci95_db_per_s'), truth, harmonic=k,
                           stage='prompt')
                if c:
                    out.append(c)
                if note['family'] == 'single' and num('decay_db_per_s') is not None:
                    more = [c for c in ('decay2_db_per_s', 'release_db_per_s') if num(c) is not None]
                    more += ['a release too brief'] if 'release too brief' in r['reason'] else []
                    out.append(check('one stage', not more, harmonic=k, note=', '.join(more)))
            if clear.get('aftersound'):
                truth = t['aftersound_db_per_s']
                out.append(near('aftersound', num('decay2_db_per_s'), truth,
                                max(0.15 * abs(truth), 0.5), harmonic=k))
                out.append(near('knee', num('knee_s'), t['knee_s'],
                                max(0.25 * (t['knee_s'] - onset), 0.2), harmonic=k))
                c = covers(num('decay2_db_per_s'), num('decay2_ci95_db_per_s'), truth, harmonic=k,
                           stage='aftersound')
                if c:
                    out.append(c)
        if clear.get('release') and 'release_db_per_s' in t:
            truth = t['release_db_per_s']
            out.append(near('release', num('release_db_per_s'), truth,
                            max(0.1 * abs(truth), 2), harmonic=k))
            out.append(near('release start', num('release_from_s'), t['release_from_s'], 0.05,
                            harmonic=k))
            c = covers(num('release_db_per_s'), num('release_ci95_db_per_s'), truth, harmonic=k,
                       stage='release')
            if c:
                out.append(c)
    return out


def tally(records):
    return toolkit.tally(records, CRITERIA, lambda r: r.get('note') == 'missing')


def where(r):
    if r is None:
        return ''
    s = r['file'] + (' h%d' % r['harmonic'] if r.get('harmonic') else '')
    if 'truth' in r and isinstance(r['truth'], float):
        s += ', truth %+.3g' % r['truth']
    if r.get('stage'):
        s += ' (%s)' % r['stage']
    return s


def print_table(families):
    toolkit.print_table(families, CRITERIA, UNITS, where, (7, 14, 13), 3,
                        lambda t: t['passed'] >= COVERAGE * t['total'], ('kind', 'one stage'))


def evaluate(truth, rows):
    records, per_note = [], []
    for note in truth:
        mine = check_note(note, rows.get(note['file'], []))
        for r in mine:
            r['file'], r['family'] = note['file'], note['family']
        records += mine
        per_note.append((note, mine))
    families = {f: tally([r for r in records if r['family'] == f]) for f in envelopes.FAMILIES}
    families['all'] = tally(records)
    return families, per_note


def compare_singles(truth, rows, before):
    """The largest differences of start level and first rate between two runs, single decays."""
    worst = {'start_dbfs': (0, ''), 'decay_db_per_s': (0, '')}
    for note in truth:
        if note['family'] != 'single':
            continue
        a = {r['harmonic']: r for r in rows.get(note['file'], [])}
        b = {r['harmonic']: r for r in before.get(note['file'], [])}
        for k in a:
            for c in worst:
                x, y = toolkit.number(a[k], c), toolkit.number(b.get(k, {}), c)
                if x is not None and y is not None and abs(x - y) > abs(worst[c][0]):
                    worst[c] = (x - y, '%s h%s' % (note['file'], k))
    return worst


def main():
    own, options = toolkit.split_options(sys.argv[1:])
    ap = toolkit.parser('Checks harmplot against notes of known envelope.', 'evaluate_envelopes',
                        'every note, check by check')
    ap.add_argument('--notes', default=envelopes.DEFAULT_OUT, help='[%(default)s]')
    ap.add_argument('--before', help='a harmplot from before the envelope, to compare')
    args = toolkit.parse_args(ap, own)

    began = time.monotonic()
    truth = ensure_notes(args.notes)
    files = [os.path.join(args.notes, n['file']) for n in truth]
    columns, rows, harmplot_s, _ = toolkit.run_harmplot(files, args.out, args.harmplot, options,
                                                        args.build)
    families, per_note = evaluate(truth, rows)
    print('harmplot %s, options: %s; %d notes (%.1f s for harmplot)' % (
        args.harmplot, ' '.join(options) or '(none)', len(truth), harmplot_s))
    print_table(families)
    result = {'harmplot': args.harmplot, 'options': options, 'families': families}
    if args.before:
        _, old_rows, _, _ = toolkit.run_harmplot(files, args.out + '-before', args.before,
                                                 options, args.build)
        old_families, _ = evaluate(truth, old_rows)
        print('\nbefore (%s):' % args.before)
        print_table(old_families)
        worst = compare_singles(truth, rows, old_rows)
        print('\nsingle decays, today against before: start_dbfs %+.3f dB (%s), decay_db_per_s '
              '%+.3f dB/s (%s)' % (worst['start_dbfs'][0], worst['start_dbfs'][1],
                                   worst['decay_db_per_s'][0], worst['decay_db_per_s'][1]))
        result.update(before=args.before, before_families=old_families, singles_changed=worst)
    if args.verbose:
        for note, mine in per_note:
            bad = [r for r in mine if not r['ok']]
            print('\n%s (%s, %g Hz, %s): %d of %d checks pass' % (
                note['file'], note['family'], note['held_hz'], note['format'],
                len(mine) - len(bad), len(mine)))
            for r in bad:
                print('  %-13s %s: %s' % (r['criterion'], where(r), r.get('note') or
                                           '%+.3f (measured %s)' % (r['error'], r.get('measured'))))
    seconds = time.monotonic() - began
    print('\n%.1f s in all; result in %s' % (seconds, args.json))
    os.makedirs(os.path.dirname(os.path.abspath(args.json)), exist_ok=True)
    result['notes'] = [{'file': n['file'], 'family': n['family'], 'checks': m}
                       for n, m in per_note]
    with open(args.json, 'w') as f:
        json.dump(result, f, indent=1)
    return 0


if __name__ == '__main__':
    sys.exit(main())
