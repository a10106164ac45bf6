#include "trial.h"

#include <cmath>

#include "resample.h"

namespace {

trial_kind make_trial_kind(int points, double tol) {
    const int nfft = spectrum_size(points).nfft;
    return {points, tol, make_fft_plan(nfft, scored_bin(nfft) - 1, scored_bin(nfft) - 1)};
}

}  // namespace

const trial_kind& coarse_trial() {
    static const trial_kind kind = make_trial_kind(coarse_points, coarse_tol);
    return kind;
}

const trial_kind& refine_trial() {
    static const trial_kind kind = make_trial_kind(refine_points, refine_tol);
    return kind;
}

trial_score run_trial(const double* x0, int nx0, double dt0, double ftry, double dt,
                      const trial_kind& kind, trial_work& tw) {
    const fft_plan& plan = kind.plan;
    const int r = plan.k0 + 1;
    trial_score s;
    s.frq = bin_frequency(r, plan.nfft, dt);
    if (!(std::fabs(ext(s.frq) - ftry) < kind.tol)) return {};
    // Grid points past the transform are never read.
    resample_cursor cur;
    resample_points(x0, nx0, dt0, dt, 1, plan.nfft, cur, nullptr, tw.x);
    s.pt = pruned_bin_power(fft_pruned(plan, tw.x, tw.y), plan, r, dt);
    s.found = true;
    return s;
}
