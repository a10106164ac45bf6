#include "reference.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "constants.h"
#include "full_transform.h"
#include "report.h"
#include "report_line.h"
#include "resample.h"

namespace {

struct work_space {
    double t[coarse_points];
    double x[coarse_points];
    double pt[max_nfft / 2 + 1];  // 1-based bins
    double frq[max_nfft / 2 + 1];
    spectrum_work w;
};

trial_score trial_in(work_space& ws, const double* x0, int nx0, double dt0, double ftry, double dt,
                     const trial_kind& kind) {
    trial_score s;
    const int count = resample(x0, nx0, dt0, dt, kind.points, ws.t, ws.x);
    const int nf = spectrum(count, dt, ws.x, ws.pt, ws.frq, ws.w);
    for (int r = 2; r <= nf; ++r)
        if (std::fabs(ext(ws.frq[r]) - ftry) < kind.tol) s = {true, ws.frq[r], ws.pt[r]};
    return s;
}

}  // namespace

trial_score reference_trial(const double* x0, int nx0, double dt0, double ftry, double dt,
                            const trial_kind& kind) {
    auto ws = std::make_unique<work_space>();
    return trial_in(*ws, x0, nx0, dt0, ftry, dt, kind);
}

search_result reference_search(const double* x0, int nx0, double dt0, double hint) {
    auto ws = std::make_unique<work_space>();
    // Tables indexed -50 .. 200; the search uses -15 .. 144, and with a hint beyond the scan up
    // to highest_step.
    double cfrq_store[251] = {}, cpt_store[251] = {};
    double* cfrq = cfrq_store + 50;
    double* cpt = cpt_store + 50;
    double ptmax = 0;
    double dt = 0;
    auto trial = [&](double ftry, const trial_kind& kind, int i) {
        dt = trial_step(ftry);
        const trial_score s = trial_in(*ws, x0, nx0, dt0, ftry, dt, kind);
        if (!s.found) return;
        cfrq[i] = s.frq;
        cpt[i] = s.pt;
        if (s.pt > ptmax) ptmax = s.pt;
    };

    int first, last;
    hinted_steps(hint, first, last);
    for (int k = first; k <= last; ++k) trial(coarse_frequency(k), coarse_trial(), k);
    int kbest = pick_step(cpt, ptmax, first, last);
    for (int lev = 1; lev <= refine_levels; ++lev) {
        ptmax = 0;
        for (int j = -refine_reach; j <= refine_reach; ++j)
            trial(refine_frequency(j, lev, cfrq[kbest]), refine_trial(), j);
        kbest = select_offset(cpt, ptmax, kbest);
    }
    return {cfrq[kbest], dt};
}

void reference_report(const double* x0, int nx0, double dt0, double f0, double dt, output& out) {
    const std::int64_t m = final_grid_points(nx0, dt0, dt);
    if (m < window_points) return;
    std::vector<double> t(static_cast<std::size_t>(m)), x(static_cast<std::size_t>(m));
    resample_cursor cur;
    resample_points(x0, nx0, dt0, dt, 1, m, cur, t.data(), x.data());

    auto ws = std::make_unique<work_space>();
    std::vector<double> x1(window_points);
    char lines[harmonics * (report_line_width + 1)];
    for (std::int64_t w = 0; window_advance * w + window_points <= m; ++w) {
        std::copy_n(x.begin() + window_advance * w, window_points, x1.begin());
        spectrum(window_points, dt, x1.data(), ws->pt, ws->frq, ws->w);
        int bins[harmonics + 1];
        const int found = harmonic_bins(ws->frq, f0, bins);
        out.put(std::string_view(
            lines, std::size_t(harmonic_lines(ws->pt, ws->frq, bins, found, w, dt, lines))));
    }
}
