#include "search.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "parallel.h"
#include "trial.h"

double coarse_frequency(int k) {
    return double(ext(coarse_first) * std::pow(2.0, double(ext(k) / steps_per_octave)));
}

double refine_frequency(int j, int lev, double base) {
    const double scale = std::pow(10.0, lev);
    return double(ext(std::pow(2.0, double((ext(j) / scale) / steps_per_octave))) * base);
}

void hinted_steps(double hint, int& first, int& last) {
    const ext semitone = std::pow(2.0L, 1.0L / 12);
    first = highest_step + 1, last = lowest_step - 1;
    for (int k = lowest_step; k <= highest_step && hint > 0; ++k) {
        const ext f = coarse_frequency(k);
        if (f >= hint / semitone && f <= hint * semitone) first = std::min(first, k), last = k;
    }
    if (first > last) first = 0, last = last_step;
}

int pick_step(const double* cpt, double ptmax, int first, int last) {
    for (int k = first; k < last; ++k)
        if (ext(cpt[k]) > ext(ptmax) / pick_share) return cpt[k + 1] > cpt[k] ? k + 1 : k;
    return last;
}

int select_offset(const double* cpt, double ptmax, int kbest) {
    for (int j = -refine_reach; j <= refine_reach; ++j)
        if (cpt[j] >= ptmax) kbest = j;
    return kbest;
}

namespace {

struct trial {
    double ftry, dt;
    trial_score score;
};

// Work spaces of `workers` threads; every element a trial reads it has written first.
std::vector<std::unique_ptr<trial_work>> trial_spaces(const worker_pool& pool) {
    std::vector<std::unique_ptr<trial_work>> work(static_cast<std::size_t>(pool.size()));
    for (auto& w : work) w = std::make_unique_for_overwrite<trial_work>();
    return work;
}

void run(trial& t, const double* x0, int nx0, double dt0, const trial_kind& kind,
         trial_work& work) {
    t.dt = trial_step(t.ftry);
    t.score = run_trial(x0, nx0, dt0, t.ftry, t.dt, kind, work);
}

// What a trial leaves in the tables, in the order the trials are numbered.
void record(const trial& t, int i, double* cfrq, double* cpt, double& ptmax) {
    if (!t.score.found) return;
    cfrq[i] = t.score.frq;
    cpt[i] = t.score.pt;
    if (t.score.pt > ptmax) ptmax = t.score.pt;
}

double scan(const double* x0, int nx0, double dt0, int first, int last, worker_pool& pool,
            const std::vector<std::unique_ptr<trial_work>>& work, double* cfrq, double* cpt) {
    // The coarse trials are independent of one another.
    trial coarse[highest_step - lowest_step + 1];
    trial* at = coarse - lowest_step;  // at[k] for step k
    pool.run_items(last - first + 1, [&](int q, int worker) {
        at[first + q].ftry = coarse_frequency(first + q);
        run(at[first + q], x0, nx0, dt0, coarse_trial(), *work[std::size_t(worker)]);
    });
    double ptmax = 0;
    for (int k = first; k <= last; ++k) record(at[k], k, cfrq, cpt, ptmax);
    return ptmax;
}

}  // namespace

double coarse_scan(const double* x0, int nx0, double dt0, int first, int last, worker_pool& pool,
                   double* cfrq, double* cpt) {
    return scan(x0, nx0, dt0, first, last, pool, trial_spaces(pool), cfrq, cpt);
}

search_result fundamental_search(const double* x0, int nx0, double dt0, double hint,
                                 worker_pool& pool) {
    // The tables, indexed -refine_reach .. highest_step through the pointers (a hint beyond the
    // scan reaches past last_step).
    double cfrq_store[refine_reach + highest_step + 1] = {},
                                                    cpt_store[refine_reach + highest_step + 1] = {};
    double* cfrq = cfrq_store + refine_reach;
    double* cpt = cpt_store + refine_reach;

    // Steps outside first..last are not tried and take no part in the pick.
    int first, last;
    hinted_steps(hint, first, last);
    const auto work = trial_spaces(pool);
    double ptmax = scan(x0, nx0, dt0, first, last, pool, work, cfrq, cpt);
    int kbest = pick_step(cpt, ptmax, first, last);

    search_result res;
    for (int lev = 1; lev <= refine_levels; ++lev) {
        // Each trial takes as base what cfrq(kbest) holds when it starts: the level's starting
        // value up to the trial at kbest, and from then on the frequency that trial recorded.
        // So that trial runs first, and the others side by side.
        trial level[refine_trials];
        const double start = cfrq[kbest];
        double later = start;
        const bool inside = kbest >= -refine_reach && kbest <= refine_reach;
        if (inside) {
            trial& t = level[kbest + refine_reach];
            t.ftry = refine_frequency(kbest, lev, start);
            run(t, x0, nx0, dt0, refine_trial(), *work[0]);
            if (t.score.found) later = t.score.frq;
        }
        pool.run_items(refine_trials, [&](int q, int worker) {
            const int j = q - refine_reach;
            if (inside && j == kbest) return;
            level[q].ftry = refine_frequency(j, lev, inside && j > kbest ? later : start);
            run(level[q], x0, nx0, dt0, refine_trial(), *work[std::size_t(worker)]);
        });
        ptmax = 0;
        for (int j = -refine_reach; j <= refine_reach; ++j)
            record(level[j + refine_reach], j, cfrq, cpt, ptmax);
        kbest = select_offset(cpt, ptmax, kbest);
        res.dt = level[refine_trials - 1].dt;
    }
    res.f0 = cfrq[kbest];
    return res;
}
