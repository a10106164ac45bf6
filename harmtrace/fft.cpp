#include "fft.h"

#include <cassert>
#include <cmath>

spectrum_sizes spectrum_size(int n) {
    spectrum_sizes z;
    // n = 0 gives ln 0.5 / ln 2, truncated to 0; negative n is never passed.
    z.m = n < 1 ? 0 : int(ext(std::log(double(ext(n) + 0.5L))) / ln2_single);
    z.nfft = 1 << z.m;
    z.nf = z.nfft / 2;
    z.nq = z.nfft / 4;
    return z;
}

void sine_table(int nfft, double* s) {
    const int nq = nfft / 4;
    for (int i = 1; i <= nq - 1; ++i) s[i] = std::sin(double((ext(i + i) * pi) / nfft));
}

fft_plan make_fft_plan(int nfft, int k0, int k1) {
    fft_plan plan;
    const spectrum_sizes z = spectrum_size(nfft);
    plan.m = z.m, plan.nfft = z.nfft, plan.nf = z.nf, plan.nq = z.nq;
    plan.k0 = k0, plan.k1 = k1;
    plan.s.assign(std::size_t(std::max(plan.nq, 1)), 0.0);
    sine_table(plan.nfft, plan.s.data());

    // Positions needed in the output of the current stage, walking back from
    // the last stage: Re X(k) at k, Im X(k) at nf + k.
    std::vector<char> need(std::size_t(plan.nfft), 0);
    for (int k = k0; k <= k1; ++k) {
        need[std::size_t(k)] = 1;
        if (k >= 1) need[std::size_t(plan.nf + k)] = 1;
    }
    const std::size_t stages = std::size_t(std::max(plan.m, 1));
    plan.first.assign(stages, 0);
    plan.middle.assign(stages, 0);
    plan.butterflies.resize(stages);
    for (int p = plan.m - 1; p >= 1; --p) {
        const int L = 1 << p, h = L / 2;
        std::vector<char> butterfly(std::size_t(h) + 1, 0);
        for (int q = 0; q < 2 * L; ++q) {
            if (!need[std::size_t(q)]) continue;
            int k = q < L ? q : q - L;  // position within its half
            if (k > h) k = L - k;       // Y(L - k) comes from the butterfly of k
            butterfly[std::size_t(k)] = 1;
        }
        // Every group of the stage before needs the same positions, in A and in B.
        std::vector<char> before(std::size_t(L), 0);
        for (int k = 0; k <= h; ++k) {
            if (!butterfly[std::size_t(k)]) continue;
            if (k == 0)
                plan.first[std::size_t(p)] = 1;
            else if (k == h)
                plan.middle[std::size_t(p)] = 1;
            else
                plan.butterflies[std::size_t(p)].push_back(k);
            before[std::size_t(k)] = 1;
            if (k != 0 && k != h) before[std::size_t(h + k)] = 1;
        }
        need = std::move(before);
    }
    plan.stage0[0] = need.size() > 0 && need[0];
    plan.stage0[1] = need.size() > 1 && need[1];
    return plan;
}

const double* fft_pruned(const fft_plan& plan, double* x, double* y) {
    const int nf = plan.nf, nq = plan.nq;
    const double* s = plan.s.data();
    if (nf < 1) return x;
    // Stage 0 writes straight into the layout the copy pass would give.
    if (plan.stage0[0])
        for (int j = 0; j < nf; ++j) y[2 * j] = join_sum(x[j], x[j + nf]);
    if (plan.stage0[1])
        for (int j = 0; j < nf; ++j) y[2 * j + 1] = join_difference(x[j], x[j + nf]);
    double* in = y;
    double* out = x;
    for (int p = 1; p <= plan.m - 1; ++p) {
        const int L = 1 << p, h = L / 2, G = nf >> p;
        // Group a joins A = in[a ..] and B = in[nf + a ..] into Y at out[2a ..]: its first half
        // (positions 0 .. L-1) then its second (L .. 2L-1), as the copy pass would leave it.
        if (plan.first[std::size_t(p)]) {
            for (int a = 0; a < G * L; a += L) {
                out[2 * a] = join_sum(in[a], in[nf + a]);
                out[2 * a + L] = join_difference(in[a], in[nf + a]);
            }
        }
        if (plan.middle[std::size_t(p)]) {
            for (int a = 0; a < G * L; a += L) {
                out[2 * a + h] = in[a + h];
                out[2 * a + L + h] = in[nf + a + h];
            }
        }
        const std::vector<int>& ks = plan.butterflies[std::size_t(p)];
        for (int a = 0; a < G * L; a += L)
            for (int k : ks)
                butterfly(s, nq, G, k, h, in + a, in + nf + a, out + 2 * a, out + 2 * a + L);
        std::swap(in, out);
    }
    return in;
}
