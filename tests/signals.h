#pragma once
// Test signals sampled at 44.1 kHz, rounded to integers as a 16-bit file holds them.
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
