#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "constants.h"
#include "parallel.h"
#include "report_line.h"
#include "resample.h"

std::int64_t final_grid_points(int nx0, double dt0, double dt) {
    const ext m = (ext(nx0) * dt0) / dt;
    return m < 1 ? 0 : std::int64_t(m);
}

void window_frequencies(double dt, double* frq) {
    for (int i = 2; i <= window_points / 2; ++i) frq[i] = bin_frequency(i, window_points, dt);
}

int window_report(double* x1, std::int64_t w, double f0, double dt, const double* frq, char* out,
                  spectrum_work& work, bool fast) {
    // The matches depend on the frequencies alone, which are the same for
    // every window: find them before the transform.
    int bins[11];
    int found = 0;
    for (int i = 2, k = 1; i <= window_points / 2 && k <= 10; ++i)
        if (std::fabs(ext(frq[i]) - ext(k) * f0) < harmonic_tol) bins[++found] = i, ++k;
    if (found == 0) return 0;

    // Harmonic k lies at bin 8k + 1, so the lines read bins 6 to 84 only, and
    // the pruned transform delivers just those.
    static const fft_plan plan = make_fft_plan(window_points, 5, 83);
    const bool pruned = fast && bins[1] - 3 >= plan.k0 + 1 && bins[found] + 3 <= plan.k1 + 1;
    double pt[window_points / 2 + 1];
    if (pruned) {
        double* y = work.ftr;  // as work space: nfft doubles over ftr and fti
        static_assert(sizeof work.ftr + sizeof work.fti >= window_points * sizeof(double));
        const double* res = fft_pruned(plan, x1, y);
        for (int i = bins[1] - 3; i <= bins[found] + 3; ++i)
            pt[i] = pruned_bin_power(res, plan, i, dt);
    } else {
        double unused_frq[window_points / 2 + 1];
        spectrum(window_points, dt, x1, pt, unused_frq, work);
    }
    // Bins below 2 are never delivered; a match there cannot happen (harmonic
    // k lies at bin 8k + 1), but its floor would read them as 0.
    auto power = [&](int i) { return i >= 2 && i <= window_points / 2 ? pt[i] : 0.0; };

    const std::int64_t first = window_advance * w;  // grid points before the window
    double v[7];
    v[0] = double(ext(first) * dt);
    v[1] = double(ext(first + 4095) * dt);
    v[2] = double(ext(first + 8191) * dt);
    int len = 0;
    for (int k = 1; k <= found; ++k) {
        const int i = bins[k];
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
    }
    return len;
}

void harmonic_report(const double* x0, int nx0, double dt0, double f0, double dt,
                     output_buffer& out, bool fast, int threads) {
    const std::int64_t m = final_grid_points(nx0, dt0, dt);
    if (m < window_points) return;
    const std::int64_t windows = (m - window_points) / window_advance + 1;

    // The grid is made a batch of windows at a time: the batch's points, then
    // its windows side by side, then their lines in order.
    constexpr int batch = 128;
    constexpr int span = (batch - 1) * window_advance + window_points;
    constexpr int line_room = 10 * (report_line_width + 1);
    struct worker_space {
        spectrum_work work;
        double x1[window_points];
    };
    // Work space only: every element is written before it is read.
    auto grid = std::make_unique_for_overwrite<double[]>(span);
    auto lines = std::make_unique_for_overwrite<char[]>(std::size_t(batch) * line_room);
    int length[batch];
    std::unique_ptr<worker_space> space[2] = {
        std::make_unique_for_overwrite<worker_space>(),
        threads > 1 ? std::make_unique_for_overwrite<worker_space>() : nullptr};
    auto frq = std::make_unique_for_overwrite<double[]>(window_points / 2 + 1);
    window_frequencies(dt, frq.get());

    std::int64_t have = 0;  // grid points made so far
    for (std::int64_t w0 = 0; w0 < windows && !out.failed; w0 += batch) {
        const int nb = int(std::min<std::int64_t>(batch, windows - w0));
        // grid[0] is grid point 2048 w0 + 1; the points of the batch before
        // that this batch still needs are moved to the front.
        const std::int64_t base = window_advance * w0;
        const std::int64_t kept = have - base;
        if (kept > 0) std::memmove(grid.get(), grid.get() + (span - kept), sizeof(double) * kept);
        const std::int64_t last = base + window_advance * (nb - 1) + window_points;
        // The new points in two halves, side by side.
        const std::int64_t from = have + 1, half = (last - have) / 2;
        run_items(2, threads, [&](int q, int) {
            const std::int64_t a = q == 0 ? from : from + half, b = q == 0 ? from + half - 1 : last;
            resample_cursor cur = cursor_for(nx0, dt0, dt, a);
            if (a <= b)
                resample_points(x0, nx0, dt0, dt, a, b, cur, nullptr,
                                grid.get() + kept + (a - from));
        });
        have = last;

        run_items(nb, threads, [&](int q, int worker) {
            worker_space& ws = *space[worker];
            std::memcpy(ws.x1, grid.get() + window_advance * q, sizeof ws.x1);
            length[q] = window_report(ws.x1, w0 + q, f0, dt, frq.get(),
                                      lines.get() + std::size_t(q) * line_room, ws.work, fast);
        });
        for (int q = 0; q < nb; ++q)
            append_output(out, lines.get() + std::size_t(q) * line_room, std::size_t(length[q]));
    }
}
