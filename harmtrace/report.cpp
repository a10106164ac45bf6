#include "report.h"

#include <cmath>
#include <cstring>
#include <memory>

#include "constants.h"
#include "report_line.h"
#include "resample.h"

std::int64_t final_grid_points(int nx0, double dt) {
    const ext m = (ext(nx0) * dt0) / dt;
    return m < 1 ? 0 : std::int64_t(m);
}

void window_frequencies(double dt, double* frq) {
    for (int i = 2; i <= window_points / 2; ++i) frq[i] = bin_frequency(i, window_points, dt);
}

int window_report(double* x1, std::int64_t w, double f0, double dt, const double* frq, char* out,
                  spectrum_work& work, bool fast) {
    (void)fast;
    double pt[window_points / 2 + 1];
    double unused_frq[window_points / 2 + 1];
    spectrum(window_points, dt, x1, pt, unused_frq, work);
    // Bins below 2 are never delivered; a match there cannot happen (harmonic
    // k lies at bin 8k + 1), but its floor would read them as 0.
    auto power = [&](int i) { return i >= 2 && i <= window_points / 2 ? pt[i] : 0.0; };

    const std::int64_t first = window_advance * w;  // grid points before the window
    double v[7];
    v[0] = double(ext(first) * dt);
    v[1] = double(ext(first + 4095) * dt);
    v[2] = double(ext(first + 8191) * dt);
    int len = 0;
    int k = 1;
    for (int i = 2; i <= window_points / 2; ++i) {
        if (!(std::fabs(ext(frq[i]) - ext(k) * f0) < harmonic_tol)) continue;
        // The floor leaves out the bins next to i and uses those at distance 2 and 3.
        const double floor =
            double((((ext(power(i - 3)) + power(i - 2)) + power(i + 2)) + power(i + 3)) / 4);
        const double e1 = double(ext(power(i - 1)) - floor);
        const double e2 = double(ext(power(i)) - floor);
        const double e3 = double(ext(power(i + 1)) - floor);
        const double s = double((ext(e1) + e2) + e3);
        v[3] = frq[i];
        v[4] = power(i);
        v[5] = s;
        v[6] = double(ext(v[4]) / s);
        len += format_report_line(out + len, k, v);
        if (k == 10) break;
        ++k;
    }
    return len;
}

void harmonic_report(const double* x0, int nx0, double f0, double dt, output_buffer& out, bool fast,
                     int threads) {
    (void)threads;
    const std::int64_t m = final_grid_points(nx0, dt);
    if (m < window_points) return;
    const std::int64_t windows = (m - window_points) / window_advance + 1;

    auto work = std::make_unique<spectrum_work>();
    double frq[window_points / 2 + 1];
    window_frequencies(dt, frq);
    double grid[window_points], times[window_points], x1[window_points];
    resample_cursor cur;
    resample_points(x0, nx0, dt, 1, window_points, cur, times, grid);
    for (std::int64_t w = 0; w < windows && !out.failed; ++w) {
        if (w > 0) {
            const std::int64_t last = window_advance * w + window_points;
            std::memmove(grid, grid + window_advance,
                         sizeof(double) * (window_points - window_advance));
            resample_points(x0, nx0, dt, last - window_advance + 1, last, cur, times,
                            grid + window_points - window_advance);
        }
        std::memcpy(x1, grid, sizeof x1);
        char* line = reserve_output(out, 10 * (report_line_width + 1));
        out.used += std::size_t(window_report(x1, w, f0, dt, frq, line, *work, fast));
    }
}
