#include "search.h"

#include <cmath>
#include <memory>

#include "constants.h"
#include "resample.h"
#include "spectrum.h"
#include "trial.h"

int pick_step(const double* cpt, double ptmax) {
    for (int k = 0; k <= 143; ++k)
        if (ext(cpt[k]) > ext(ptmax) / 5) return cpt[k + 1] > cpt[k] ? k + 1 : k;
    return 144;
}

int select_offset(const double* cpt, double ptmax, int kbest) {
    for (int j = -15; j <= 15; ++j)
        if (cpt[j] >= ptmax) kbest = j;
    return kbest;
}

search_result fundamental_search(const double* x0, int nx0, bool fast) {
    auto work = std::make_unique<trial_work>();
    // Trial tables, indexed -50..150 through the pointers below.
    double cfrq_store[201] = {}, cpt_store[201] = {};
    double* cfrq = cfrq_store + 50;
    double* cpt = cpt_store + 50;
    double ptmax = 0;
    search_result res;

    auto trial = [&](double ftry, int n, double tol, int i) {
        res.dt = double(0.0009765625L / ftry);
        trial_match m = fast ? run_trial_fast(x0, nx0, ftry, res.dt, n, tol, *work)
                             : run_trial_reference(x0, nx0, ftry, res.dt, n, tol, *work);
        for (int q = 0; q < m.count; ++q) {
            cfrq[i] = m.frq[q];
            cpt[i] = m.pt[q];
            if (m.pt[q] > ptmax) ptmax = m.pt[q];
        }
    };

    for (int k = 0; k <= 144; ++k) {
        const double ftry = double(27.5L * std::pow(2.0, double(ext(k) / 24)));
        trial(ftry, coarse_points, coarse_tol, k);
        res.coarse[k] = cpt[k];
    }
    int kbest = res.pick = pick_step(cpt, ptmax);

    for (int lev = 1; lev <= 5; ++lev) {
        ptmax = 0;
        const double scale = std::pow(10.0, lev);
        for (int j = -15; j <= 15; ++j) {
            // The base is read anew for each trial: once the trial at kbest has
            // run, the trials above it start from the frequency it recorded.
            const double base = cfrq[kbest];
            const double ftry = double(ext(std::pow(2.0, double((ext(j) / scale) / 24))) * base);
            trial(ftry, refine_points, refine_tol, j);
        }
        kbest = res.kbest[lev - 1] = select_offset(cpt, ptmax, kbest);
    }
    res.f0 = cfrq[kbest];
    return res;
}
