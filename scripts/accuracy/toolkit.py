"""Runs a harmplot on a set of files and reads back its --summary CSV (evaluate.py, sampled.py).

harmplot is the build directory's (build/harmplot/harmplot) unless --harmplot names another; the
build directory's programs are put first on PATH too, for a harmplot that runs them.
"""
import argparse
import csv
import math
import os
import subprocess
import time

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))
BUILD = os.path.join(REPO, 'build')
PROGRAMS = ['riffcat', 'harmtrace', 'blockcsv', 'harmsum']


def cents(f, ref):
    return 1200 * math.log2(f / ref)


def number(row, column):
    """A CSV field as a float; None where the column is missing or the field empty."""
    v = row.get(column)
    if v is None or v.strip() == '':
        return None
    return float(v)


def split_options(argv):
    """The script's own arguments, and those after '--' that go to harmplot as they are."""
    if '--' in argv:
        i = argv.index('--')
        return argv[:i], argv[i + 1:]
    return argv, []


def parser(description, name, verbose_help):
    """The options both runners take: --harmplot, --build, --out (out/accuracy/NAME), --json
    (out/accuracy/NAME.json) and --verbose; the caller adds its own."""
    ap = argparse.ArgumentParser(description=description)
    ap.add_argument('--harmplot', default=None, help='[BUILD/harmplot/harmplot]')
    ap.add_argument('--build', default=BUILD, help='where the programs were built [%(default)s]')
    ap.add_argument('--out', default=os.path.join(REPO, 'out', 'accuracy', name),
                    help='what the run writes [%(default)s]')
    ap.add_argument('--json', default=os.path.join(REPO, 'out', 'accuracy', name + '.json'),
                    help='[%(default)s]')
    ap.add_argument('--verbose', action='store_true', help=verbose_help)
    return ap


def parse_args(ap, argv):
    """ap's options from argv, --harmplot the one under --build when not given."""
    args = ap.parse_args(argv)
    args.harmplot = args.harmplot or os.path.join(args.build, 'harmplot', 'harmplot')
    return args


def run_harmplot(files, outdir, harmplot=None, options=(), build=BUILD):
    """Runs harmplot -o OUTDIR --summary OUTDIR/summary.csv OPTIONS FILES.

    Returns (columns, rows by the file's base name, seconds taken, harmplot's stderr). A file
    harmplot gave no summary for has no rows; its reason is on stderr.
    """
    harmplot = harmplot or os.path.join(build, 'harmplot', 'harmplot')
    os.makedirs(outdir, exist_ok=True)
    summary = os.path.join(outdir, 'summary.csv')
    if os.path.exists(summary):
        os.remove(summary)
    env = dict(os.environ)
    env['PATH'] = os.pathsep.join([os.path.join(build, p) for p in PROGRAMS] + [env['PATH']])
    cmd = [harmplot, '-o', outdir, '--summary', summary] + list(options) + list(files)
    began = time.monotonic()
    done = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    seconds = time.monotonic() - began
    # Status 1 means some file gave no summary, which is a result; anything else is not.
    if done.returncode not in (0, 1) or not os.path.exists(summary):
        raise SystemExit('harmplot failed (status %d): %s' % (done.returncode, done.stderr.strip()))
    with open(summary, newline='') as f:
        reader = csv.DictReader(f)
        columns = reader.fieldnames or []
        rows = {}
        for r in reader:
            rows.setdefault(os.path.basename(r['file']), []).append(r)
    with open(os.path.join(outdir, 'harmplot.txt'), 'w') as f:
        f.write(done.stdout)
    return columns, rows, seconds, done.stderr


def print_table(families, criteria, units, where, widths, digits, ci_ok, counted=()):
    """The table the evaluators print: per family and criterion, passed of total, how many are
    missing, the worst error and where. widths: of the family, criterion and error columns;
    digits: of the error; ci_ok(tally): whether the intervals hold the truth often enough;
    counted: criteria that are counts alone (no error)."""
    line = '%%-%ds %%-%ds %%9s %%8s  %%-%ds %%s' % widths
    print(line % ('family', 'criterion', 'passed', 'missing', 'worst error', 'where'))
    for fam, result in families.items():
        name = fam
        for c in criteria:
            if c not in result:
                continue
            t = result[c]
            w = t['worst']
            err = '' if w is None or c in counted else '%+.*f %s' % (digits, w['error'], units[c])
            passed = '%d/%d' % (t['passed'], t['total'])
            if c == 'ci95':
                passed += ' ' + ('ok' if ci_ok(t) else 'FAILS')
            print(line % (name, c, passed, t['missing'] or '', err,
                          '' if c == 'kind' else where(w)))
            name = ''


def tally(records, criteria, missing):
    """Per criterion: passed, total, how many are missing (missing(record) says) and the record
    of the largest |error|."""
    result = {}
    for c in criteria:
        mine = [r for r in records if r['criterion'] == c]
        if not mine:
            continue
        measured = [r for r in mine if r.get('error') is not None]
        worst = max(measured, key=lambda r: abs(r['error']), default=None)
        result[c] = {'passed': sum(r['ok'] for r in mine), 'total': len(mine),
                     'missing': sum(bool(missing(r)) for r in mine), 'worst': worst}
    return result
