#include "trial.h"

#include <cmath>

#include "resample.h"

static void add_match(trial_match& m, double frq, double pt) {
    if (m.count < 4) {
        m.frq[m.count] = frq;
        m.pt[m.count] = pt;
        ++m.count;
    } else {
        // Bins lie at least 27.5/64 Hz apart and the tolerance is 1e-5 Hz;
        // keep the last, which is the one the tables would hold.
        m.frq[3] = frq;
        m.pt[3] = pt;
    }
}

static bool matches(double frq, double ftry, double tol) {
    return std::fabs(ext(frq) - ftry) < tol;
}

trial_match run_trial_reference(const double* x0, int nx0, double ftry, double dt, int n,
                                double tol, trial_work& tw) {
    trial_match m;
    const int count = resample(x0, nx0, dt, n, tw.t, tw.x);
    const int nf = spectrum(count, dt, tw.x, tw.pt, tw.frq, tw.w);
    for (int r = 2; r <= nf; ++r)
        if (matches(tw.frq[r], ftry, tol)) add_match(m, tw.frq[r], tw.pt[r]);
    return m;
}

trial_match run_trial_fast(const double* x0, int nx0, double ftry, double dt, int n, double tol,
                           trial_work& tw) {
    return run_trial_reference(x0, nx0, ftry, dt, n, tol, tw);
}
