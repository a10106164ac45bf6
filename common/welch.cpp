#include "welch.h"

#include <algorithm>
#include <cmath>
#include <numbers>

welch_plan make_welch_plan(int len) {
    welch_plan p;
    p.len = len;
    p.window.resize(std::size_t(len));
    for (int j = 0; j < len; ++j)
        p.window[std::size_t(j)] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * j / len);
    p.twiddle.resize(std::size_t(len / 2));
    for (int k = 0; k < len / 2; ++k) {
        const double angle = -2 * std::numbers::pi * k / len;
        p.twiddle[std::size_t(k)] = {std::cos(angle), std::sin(angle)};
    }
    return p;
}

void radix2_transform(const welch_plan& plan, std::vector<std::complex<double>>& a) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    // A stage's butterflies are independent: they are taken block by block, in memory order.
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::size_t half = len / 2, stride = n / len;  // twiddle k: the plan's k * stride
        for (std::size_t block = 0; block < n; block += len) {
            std::complex<double>* p = a.data() + block;
            for (std::size_t k = 0; k < half; ++k) {
                const std::complex<double> u = p[k], v = p[k + half] * plan.twiddle[k * stride];
                p[k] = u + v;
                p[k + half] = u - v;
            }
        }
    }
}

int frame_length(int rate, double seconds) {
    int len = 2;
    while (len < rate * seconds && len < (1 << 22)) len <<= 1;
    return len;
}

std::vector<double> welch_power(const welch_plan& plan, const double* x, long n, int max_frames) {
    const int len = plan.len;
    const std::size_t size = std::size_t(len);
    std::vector<double> power(size / 2 + 1, 0.0);
    const long spare = std::max(0L, n - len);
    const long frames = std::min<long>(max_frames, spare / (len / 2) + 1);
    std::vector<std::complex<double>> a(size);
    for (long f = 0; f < frames; ++f) {
        const long start = frames > 1 ? spare * f / (frames - 1) : 0;
        for (long j = 0; j < len; ++j) {
            const double v = start + j < n ? x[start + j] : 0.0;
            a[std::size_t(j)] = std::isfinite(v) ? v * plan.window[std::size_t(j)] : 0.0;
        }
        radix2_transform(plan, a);
        for (std::size_t k = 0; k < power.size(); ++k) power[k] += std::norm(a[k]);
    }
    for (double& p : power) p /= double(frames);
    return power;
}

std::vector<double> welch_power(const double* x, long n, int len, int max_frames) {
    return welch_power(make_welch_plan(len), x, n, max_frames);
}

std::size_t strongest_peak(const std::vector<double>& p, double df, double lo, double hi) {
    std::size_t best = 0;
    for (std::size_t i = std::max<std::size_t>(1, std::size_t(std::ceil(lo / df)));
         i + 1 < p.size() && double(i) * df <= hi; ++i)
        if (p[i] > p[i - 1] && p[i] >= p[i + 1] && (best == 0 || p[i] > p[best])) best = i;
    return best;
}

double peak_frequency(const std::vector<double>& p, std::size_t i, double df) {
    const double l = std::log(p[i - 1]), c = std::log(p[i]), r = std::log(p[i + 1]);
    const double d = l - 2 * c + r, offset = 0.5 * (l - r) / d;
    // A neighbour of no power makes the parabola's vertex no number: the bin itself then.
    return (double(i) + (d < 0 && std::isfinite(offset) ? std::clamp(offset, -0.5, 0.5) : 0.0)) *
           df;
}

double median_power(const std::vector<double>& p, std::size_t a, std::size_t b) {
    std::vector<double> v(p.begin() + std::ptrdiff_t(a), p.begin() + std::ptrdiff_t(b));
    auto mid = v.begin() + std::ptrdiff_t(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}
