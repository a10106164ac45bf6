#!/usr/bin/env python3
"""Expected values of tests/harmtrace_precision_test.cpp, computed independently of harmtrace.

Every operation of a formula is carried out exactly on rationals and rounded to the x87 extended
format (64-bit significand, to nearest, ties to even); the result is rounded to double where
harmtrace stores it. The same formula with every operation rounded to double gives another
result on these operands, which is why they were chosen. pow and sin are the C library's, as in
harmtrace. Run it to see both results of every case.
"""
import math
from fractions import Fraction as F


def rnd(x, bits):
    # Fraction op float gives a float: every operand must be a Fraction already.
    assert isinstance(x, (F, int)), 'rounding a float: %r' % x
    x = F(x)
    if x == 0:
        return x
    a = abs(x)
    e = a.numerator.bit_length() - a.denominator.bit_length()
    if F(2) ** e > a:
        e -= 1
    scale = F(2) ** (bits - 1 - e)
    q, r = divmod((a * scale).numerator, (a * scale).denominator)
    half = F(r, (a * scale).denominator)
    if half > F(1, 2) or (half == F(1, 2) and q % 2 == 1):
        q += 1
    return (1 if x > 0 else -1) * F(q) / scale


def ext(x):
    return rnd(x, 64)


def dbl(x):
    return rnd(x, 53)


def h(v):
    return float(v).hex()


def x(text):
    """A double given in hexadecimal, as an exact Fraction."""
    return F(float.fromhex(text))


def cases(R):
    """The formulas with every operation rounded by R (ext, or dbl for plain double)."""
    out = {}
    re, im, dt = x('0x1.1b008c0c112f8p+13'), x('-0x1.90d74a8c11c58p+14'), x('0x1.29e4129e4129ep-19')
    s = R(R(re * re) + R(im * im))
    out['bin_power'] = dbl(R(R(2 * s * dt) / 8191))

    dt = x('0x1.9f3515209cf75p-18')
    out['bin_frequency'] = dbl(R(R(1 / dt) * 372) / 8192)

    out['trial_step'] = dbl(R(F(2) ** -10 / x('0x1.c1f16061eda8fp+10')))

    y = float(dbl(R(R(F(-7) / 10) / 24)))
    out['refine_frequency'] = dbl(R(F(2.0 ** y) * x('0x1.4f4c74f8918cap+8')))

    dt0 = rnd(F(1, 44100), 24)
    out['final_grid_points'] = int(R(R(1389715 * dt0) / x('0x1.2a93298d0bb04p-13')))

    out['grid_time_4096'] = dbl(R(4095 * x('0x1.6fb226ea65801p-17')))

    for name, bins in LINE_INPUTS.items():
        p = [x(v) for v in bins]  # bins 6 .. 12; the harmonic at bin 9
        total = F(0)
        for v in (p[0], p[1], p[5], p[6]):
            total = R(total + v)
        floor = dbl(R(total / 4))
        e = [dbl(R(v - floor)) for v in p[2:5]]
        excess = dbl(R(R(e[0] + e[1]) + e[2]))
        out['line_' + name] = h(excess) + ' ' + h(dbl(R(p[3] / excess)))

    ptmax = x('0x1.6a53a6790203ep+19')
    score = dbl(ptmax / 5)  # passes only against the exact fifth
    out['pick_passes'] = score > R(ptmax / 5)

    f0, frq = x('0x1.b473b17cf92cdp+8'), x('0x1.10cb82214fbc0p+11')
    tol = rnd(F(1, 10), 24)
    out['harmonic_5_found'] = abs(R(frq - R(5 * f0))) < tol

    for name, v in FFT_INPUTS.items():
        out['fft8_' + name] = ' '.join(h(y) for y in fft8([x(w) for w in v], R))
    return out


# Powers of bins 6 .. 12 around a harmonic at bin 9, on which the floor, the excesses, their sum
# and the ratio, each computed in double, change the line's excess sum or ratio.
LINE_INPUTS = {
    'floor_ratio': ('0x1.74b690c2563c4p+17', '0x1.5acc196bdb90ep+3', '0x1.26c9db4af6854p-12',
                    '0x1.38f435d54bc97p-18', '0x1.ad8758db6d076p-16', '0x1.19a784b82de2ap+5',
                    '0x1.2dcafa3f90d3ap-13'),
    'sum_e1': ('0x1.f69d35586e628p-7', '0x1.5fb542412ae7bp+8', '0x1.d13bbb37c87ffp+6',
               '0x1.07f6b05f5afb6p+2', '0x1.ff25f5b5b97e8p-14', '0x1.0f5ad9e29bd75p+11',
               '0x1.366c2b0b08309p+20'),
    'e2': ('0x1.8fd834216fd6cp-19', '0x1.b2072f6f54f24p+3', '0x1.389d58bf699c8p+7',
           '0x1.e7b278aaab5dbp+19', '0x1.ea8c7e5e1b178p+0', '0x1.283610b581c74p-10',
           '0x1.f572435249f8cp-4'),
    'e3': ('0x1.1500a155afdacp+20', '0x1.d630b526303aap-8', '0x1.1fd3675f6ecb0p+0',
           '0x1.f2a10933a2b22p+18', '0x1.5fe62e003c0ecp-12', '0x1.32b8caa29cbd6p-10',
           '0x1.35ea57cfee04fp-17'),
}

# Eight-point inputs whose transform shows the rounding of the sums that join two transforms
# (stages 0 to 2) and of the sums after the rotation (stage 2), real and imaginary.
FFT_INPUTS = {
    'join': ('0x1.62a44ebfe98fap-7', '-0x1.5affe33a20788p-16', '-0x1.47247fb87f22cp-15',
             '0x1.8a2e054f0882fp-28', '0x1.a3b400736b6e4p+28', '0x1.98a1e8b8ea95cp+29',
             '-0x1.5c6b96519785ep-18', '0x1.352a6943a8c1cp+22'),
    'rotated': ('-0x1.402f38a55e288p+8', '0x1.a329c3f16a342p+29', '-0x1.615b6c8215e4bp-27',
                '0x1.3eed8ac073daap-25', '-0x1.788b9c4575dd9p-26', '-0x1.6130680c2e420p+7',
                '0x1.1f13f8d88ebdcp-20', '0x1.4f5d872af8672p-16'),
    'rotated_imaginary': ('-0x1.25fc16bb161b4p+2', '0x1.05e397b420877p-4', '-0x1.57b1835bbf220p-16',
                          '0x1.42521c8719218p+29', '-0x1.520d2679d98c3p+7', '-0x1.a11fa1217cd8dp+19',
                          '-0x1.1a662ffbb20ffp-13', '0x1.471dd0dac0eaep-29'),
}


def fft8(x, R):
    """The eight-point transform, stage by stage, in half-complex layout."""
    ftr = [dbl(R(x[j] + x[j + 4])) for j in range(4)]
    fti = [dbl(R(x[j] - x[j + 4])) for j in range(4)]
    x = [v for j in range(4) for v in (ftr[j], fti[j])]
    ftr, fti = [None] * 4, [None] * 4  # stage 1: transforms of length 2 joined in pairs
    for a in (0, 2):
        ftr[a], fti[a] = dbl(R(x[a] + x[4 + a])), dbl(R(x[a] - x[4 + a]))
        ftr[a + 1], fti[a + 1] = x[a + 1], x[5 + a]
    x = ftr[0:2] + fti[0:2] + ftr[2:4] + fti[2:4]
    a, b = x[0:4], x[4:8]  # stage 2: the rotation by pi / 4
    cs = sn = F(math.sin(float(dbl(R(2 * F(math.pi)) / 8))))
    u = dbl(R(R(cs * b[1]) - R(sn * b[3])))
    v = dbl(R(R(sn * b[1]) + R(cs * b[3])))
    ftr = [dbl(R(a[0] + b[0])), dbl(R(a[1] + u)), a[2], dbl(R(a[1] - u))]
    fti = [dbl(R(a[0] - b[0])), dbl(R(a[3] + v)), b[2], dbl(R(v - a[3]))]
    return ftr + fti


if __name__ == '__main__':
    for R, name in ((ext, 'extended'), (dbl, 'double')):
        print(name)
        for k, v in cases(R).items():
            print('  %-18s %s' % (k, v if isinstance(v, (int, str)) else h(v)))
