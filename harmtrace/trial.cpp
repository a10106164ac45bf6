#include "trial.h"

#include <cmath>

#include "resample.h"

const fft_plan& trial_plan(int nfft) {
    static const fft_plan coarse =
        make_fft_plan(coarse_nfft, scored_bin(coarse_nfft) - 1, scored_bin(coarse_nfft) - 1);
    static const fft_plan refine =
        make_fft_plan(refine_nfft, scored_bin(refine_nfft) - 1, scored_bin(refine_nfft) - 1);
    return nfft == coarse_nfft ? coarse : refine;
}

trial_score run_trial(const double* x0, int nx0, double dt0, double ftry, double dt, int n,
                      double tol, trial_work& tw) {
    const int nfft = spectrum_size(n).nfft;
    const int r = scored_bin(nfft);
    trial_score s;
    s.frq = bin_frequency(r, nfft, dt);
    if (!(std::fabs(ext(s.frq) - ftry) < tol)) return {};
    // Grid points past the transform are never read.
    resample_cursor cur;
    resample_points(x0, nx0, dt0, dt, 1, nfft, cur, nullptr, tw.x);
    const fft_plan& plan = trial_plan(nfft);
    s.pt = pruned_bin_power(fft_pruned(plan, tw.x, tw.y), plan, r, dt);
    s.found = true;
    return s;
}
