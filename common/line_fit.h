#pragma once
// The least-squares straight line y = a + b x through points (x[i], y[i]), i in 0 .. n-1, over
// those that `use(i)` keeps: harmsum's decay rates and the inharmonicity of a stiff string
// (harmtrace's partials, harmsum's B). Sums are taken about the means, so that long recordings
// (large x) lose no digits.
// Typical use: line_fit l = fit_line(t, level, n, [&](int i) { return clear[i]; });

struct line_fit {
    int n = 0;  // points used
    double mean_x = 0, mean_y = 0;
    double sxx = 0;    // sum of (x - mean_x)^2
    double slope = 0;  // 0 when sxx is 0
    double at(double x) const { return mean_y + slope * (x - mean_x); }
    double intercept() const { return at(0); }
};

template <class Use>
line_fit fit_line(const double* x, const double* y, int n, Use use) {
    line_fit l;
    for (int i = 0; i < n; ++i)
        if (use(i)) {
            ++l.n;
            l.mean_x += (x[i] - l.mean_x) / l.n;
            l.mean_y += (y[i] - l.mean_y) / l.n;
        }
    double sxy = 0;
    for (int i = 0; i < n; ++i)
        if (use(i)) {
            l.sxx += (x[i] - l.mean_x) * (x[i] - l.mean_x);
            sxy += (x[i] - l.mean_x) * (y[i] - l.mean_y);
        }
    if (l.sxx > 0) l.slope = sxy / l.sxx;
    return l;
}
