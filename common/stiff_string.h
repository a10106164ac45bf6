#pragma once
// The partials of a stiff string, f_k = k F sqrt(1 + B k^2) (F the frequency a perfectly flexible
// string would have, B the inharmonicity), and intervals in cents: shared by harmtrace, which
// locates the partials, and harmsum, which fits B to the report's partial frequencies and checks
// the note.

#include <cmath>

#include "line_fit.h"

// The interval from b up to a, in cents.
inline double cents(double a, double b) {
    return 1200 * std::log2(a / b);
}

// Partial k of a string of inharmonicity b and flexible-string frequency f.
inline double stiff_partial(int k, double b, double f) {
    return k * f * std::sqrt(1 + b * k * k);
}

// The least-squares B and F over the partials k = 1 .. kmax with use[k] (1-based arrays):
// (f_k / k)^2 = F^2 + F^2 B k^2 is a straight line in k^2, B its slope over its intercept. Any
// common scale of the frequencies leaves B as it is, so ratios to partial 1 do as well. False
// when fewer than two partials are used, or the line's intercept is not positive (no string).
inline bool fit_inharmonicity(const double* freq, const bool* use, int kmax, double& b, double& f) {
    double x[64], y[64];
    if (kmax >= 64) return false;
    for (int k = 1; k <= kmax; ++k) {
        x[k] = double(k) * k;
        y[k] = (freq[k] / k) * (freq[k] / k);
    }
    const line_fit l = fit_line(x + 1, y + 1, kmax, [&](int i) { return use[i + 1]; });
    const double intercept = l.intercept();
    if (l.n < 2 || !(l.sxx > 0) || !(intercept > 0) || !std::isfinite(l.slope)) return false;
    b = l.slope / intercept;
    f = std::sqrt(intercept);
    return true;
}
