#pragma once
// Test signals sampled at 44.1 kHz, rounded to integers as a 16-bit file holds them.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

struct partial {
    double freq, amp;
};

inline std::vector<double> tone(const std::vector<partial>& parts, double seconds,
                                double scale = 10000) {
    std::vector<double> x(std::size_t(seconds * 44100 + 0.5));
    for (std::size_t i = 0; i < x.size(); ++i) {
        double v = 0;
        for (const partial& p : parts) v += p.amp * std::sin(2 * M_PI * p.freq * double(i) / 44100);
        x[i] = std::round(scale * v);
    }
    return x;
}

// A note whose pitch moves: f0 2^(cents(t) / 1200), cents(t) a sine swing plus an attack that
// starts bend_cents off and settles exponentially. Its harmonic k has amplitude amps[k - 1]
// times exp(-decays[k - 1] t).
struct moving_note {
    double f0;
    double vibrato_cents = 0, vibrato_hz = 0;
    double bend_cents = 0, bend_seconds = 1;
    std::vector<double> amps = {1}, decays = {};
};

// The periods the note runs through from time a to b: the integral of its pitch, by Simpson's
// rule on a grid of about 20 microseconds.
inline double periods(const moving_note& n, double a, double b) {
    auto f = [&](double s) {
        const double c = n.vibrato_cents * std::sin(2 * M_PI * n.vibrato_hz * s) +
                         n.bend_cents * std::exp(-s / n.bend_seconds);
        return n.f0 * std::exp2(c / 1200);
    };
    const int steps = 2 * std::max(1, int((b - a) * 25000));
    const double h = (b - a) / steps;
    double sum = f(a) + f(b);
    for (int i = 1; i < steps; ++i) sum += (i % 2 ? 4 : 2) * f(a + i * h);
    return sum * h / 3;
}

// The note sampled at `rate`, its peak `peak`; *scale, when asked, receives the factor by which
// the amplitudes were multiplied to get there.
inline std::vector<double> moving_samples(const moving_note& n, double seconds, double peak,
                                          double rate = 44100, double* scale = nullptr) {
    std::vector<double> x(std::size_t(seconds * rate));
    double phase = 0, top = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = double(i) / rate;
        if (i > 0) phase += periods(n, double(i - 1) / rate, t);
        double v = 0;
        for (std::size_t k = 0; k < n.amps.size(); ++k)
            v += n.amps[k] * std::exp(-(k < n.decays.size() ? n.decays[k] : 0) * t) *
                 std::sin(2 * M_PI * double(k + 1) * phase);
        x[i] = v;
        top = std::max(top, std::abs(v));
    }
    for (double& v : x) v *= peak / top;
    if (scale) *scale = peak / top;
    return x;
}

// The text sample stream: one value per line.
inline std::string as_text(const std::vector<double>& x) {
    std::string s;
    s.reserve(x.size() * 8);
    char b[32];
    for (double v : x) {
        std::snprintf(b, sizeof b, "%.17g\n", v);
        s += b;
    }
    return s;
}
