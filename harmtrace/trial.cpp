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

trial_match run_trial_reference(const double* x0, int nx0, double dt0, double ftry, double dt,
                                int n, double tol, trial_work& tw) {
    trial_match m;
    const int count = resample(x0, nx0, dt0, dt, n, tw.t, tw.x);
    const int nf = spectrum(count, dt, tw.x, tw.pt, tw.frq, tw.w);
    for (int r = 2; r <= nf; ++r)
        if (matches(tw.frq[r], ftry, tol)) add_match(m, tw.frq[r], tw.pt[r]);
    return m;
}

// The transforms the trials take, each needing only the bin at the trial
// frequency: bin 65 of 65536 points (coarse), bin 33 of 32768 (refinement).
static const fft_plan* plan_for(int nfft, int k) {
    static const fft_plan coarse = make_fft_plan(65536, 64, 64);
    static const fft_plan refine = make_fft_plan(32768, 32, 32);
    for (const fft_plan* p : {&coarse, &refine})
        if (p->nfft == nfft && p->k0 == k) return p;
    return nullptr;
}

trial_match run_trial_fast(const double* x0, int nx0, double dt0, double ftry, double dt, int n,
                           double tol, trial_work& tw) {
    const spectrum_sizes z = spectrum_size(n);
    // Bin frequencies grow with the bin number, so when the bins on either
    // side of r lie beyond the tolerance, r is the only bin that can match.
    const int r = 1 + int(std::lround(double(ext(ftry) * dt * z.nfft)));
    const fft_plan* plan = plan_for(z.nfft, r - 1);
    if (!plan || r - 1 < 2 || r + 1 > z.nf)
        return run_trial_reference(x0, nx0, dt0, ftry, dt, n, tol, tw);
    const double below = bin_frequency(r - 1, z.nfft, dt), above = bin_frequency(r + 1, z.nfft, dt);
    if (!(below < ftry && !matches(below, ftry, tol) && above > ftry && !matches(above, ftry, tol)))
        return run_trial_reference(x0, nx0, dt0, ftry, dt, n, tol, tw);

    trial_match m;
    const double f = bin_frequency(r, z.nfft, dt);
    if (!matches(f, ftry, tol)) return m;
    // Grid points past the transform are never observed.
    resample_cursor cur;
    resample_points(x0, nx0, dt0, dt, 1, z.nfft, cur, nullptr, tw.x);
    const double* res = fft_pruned(*plan, tw.x, tw.y);
    add_match(m, f, pruned_bin_power(res, *plan, r, dt));
    return m;
}
