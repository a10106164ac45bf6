#include "search.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "constants.h"
#include "fft.h"
#include "parallel.h"
#include "resample.h"
#include "trial.h"

int pick_step(const double* cpt, double ptmax, int first, int last) {
    for (int k = first; k < last; ++k)
        if (ext(cpt[k]) > ext(ptmax) / 5) return cpt[k + 1] > cpt[k] ? k + 1 : k;
    return last;
}

static double coarse_frequency(int k) {
    return double(27.5L * std::pow(2.0, double(ext(k) / 24)));
}

void coarse_steps(double hint, int& first, int& last) {
    const ext semitone = std::pow(2.0L, 1.0L / 12);
    first = 145, last = -1;
    for (int k = 0; k <= 144 && hint > 0; ++k) {
        const ext f = coarse_frequency(k);
        if (f >= hint / semitone && f <= hint * semitone) first = std::min(first, k), last = k;
    }
    if (first > last) first = 0, last = 144;
}

int select_offset(const double* cpt, double ptmax, int kbest) {
    for (int j = -15; j <= 15; ++j)
        if (cpt[j] >= ptmax) kbest = j;
    return kbest;
}

search_result fundamental_search(const double* x0, int nx0, double dt0, double hint, bool fast,
                                 int threads) {
    // Work space only: every element a trial reads it has written first.
    std::unique_ptr<trial_work> work[2] = {
        std::make_unique_for_overwrite<trial_work>(),
        threads > 1 ? std::make_unique_for_overwrite<trial_work>() : nullptr};
    // Trial tables, indexed -50..150 through the pointers below.
    double cfrq_store[201] = {}, cpt_store[201] = {};
    double* cfrq = cfrq_store + 50;
    double* cpt = cpt_store + 50;
    double ptmax = 0;
    search_result res;

    struct trial {
        double ftry, dt;
        trial_match m;
    };
    auto run = [&](trial& t, int n, double tol, int worker) {
        t.dt = double(0.0009765625L / t.ftry);
        t.m = fast ? run_trial_fast(x0, nx0, dt0, t.ftry, t.dt, n, tol, *work[worker])
                   : run_trial_reference(x0, nx0, dt0, t.ftry, t.dt, n, tol, *work[worker]);
    };
    // What a trial leaves in the tables, in the order the trials are numbered.
    auto record = [&](const trial& t, int i) {
        res.dt = t.dt;
        for (int q = 0; q < t.m.count; ++q) {
            cfrq[i] = t.m.frq[q];
            cpt[i] = t.m.pt[q];
            if (t.m.pt[q] > ptmax) ptmax = t.m.pt[q];
        }
    };

    // The coarse trials are independent of one another. Steps outside
    // first..last are not tried and take no part in the pick.
    int first, last;
    coarse_steps(hint, first, last);
    trial coarse[145];
    run_items(last - first + 1, threads, [&](int q, int worker) {
        coarse[first + q].ftry = coarse_frequency(first + q);
        run(coarse[first + q], coarse_points, coarse_tol, worker);
    });
    for (int k = first; k <= last; ++k) {
        record(coarse[k], k);
        res.coarse[k] = cpt[k];
    }
    int kbest = res.pick = pick_step(cpt, ptmax, first, last);

    for (int lev = 1; lev <= 5; ++lev) {
        ptmax = 0;
        const double scale = std::pow(10.0, lev);
        auto frequency = [&](int j, double base) {
            return double(ext(std::pow(2.0, double((ext(j) / scale) / 24))) * base);
        };
        // Each trial takes as base what cfrq(kbest) holds when it starts: the
        // level's starting value up to the trial at kbest, and from then on
        // the frequency that trial recorded.
        trial level[31];
        const double start = cfrq[kbest];
        double later = start;
        const bool inside = kbest >= -15 && kbest <= 15;
        if (inside) {
            trial& t = level[kbest + 15];
            t.ftry = frequency(kbest, start);
            run(t, refine_points, refine_tol, 0);
            if (t.m.count > 0) later = t.m.frq[t.m.count - 1];
        }
        run_items(31, threads, [&](int q, int worker) {
            const int j = q - 15;
            if (inside && j == kbest) return;
            level[q].ftry = frequency(j, inside && j > kbest ? later : start);
            run(level[q], refine_points, refine_tol, worker);
        });
        for (int j = -15; j <= 15; ++j) record(level[j + 15], j);
        kbest = res.kbest[lev - 1] = select_offset(cpt, ptmax, kbest);
    }
    res.f0 = cfrq[kbest];
    return res;
}
