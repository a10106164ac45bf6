#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "parallel.h"
#include "report_line.h"
#include "resample.h"

namespace {

// The window's grid points whose times each line carries (0-based within the window): its first,
// its middle one (the 4096th point, not the exact middle, which lies between two points) and its
// last.
constexpr int middle_point = window_points / 2 - 1;
constexpr int last_point = window_points - 1;

// The transform indices that the lines of harmonics at bins first .. last read: each bin's and
// those of its floor, within the bins a window delivers.
struct index_range {
    int k0, k1;
};
constexpr index_range window_indices(int first, int last) {
    return {std::max(1, first - 1 - floor_reach),
            std::min(window_bins - 1, last - 1 + floor_reach)};
}
// Harmonics 1 .. 10 of a fundamental on bin 9 (eight periods to a window).
static_assert(window_indices(9, 81).k0 == 5 && window_indices(9, 81).k1 == 83);

}  // namespace

std::vector<std::unique_ptr<window_space>> window_spaces(const worker_pool& pool) {
    std::vector<std::unique_ptr<window_space>> space(static_cast<std::size_t>(pool.size()));
    for (auto& s : space) s = std::make_unique_for_overwrite<window_space>();
    return space;
}

std::int64_t final_grid_points(int nx0, double dt0, double dt) {
    const ext m = (ext(nx0) * dt0) / dt;
    return m < 1 ? 0 : std::int64_t(m);
}

int harmonic_bins(const double* frq, double f0, int bins[harmonics + 1]) {
    int found = 0;
    for (int i = 2, k = 1; i <= window_bins && k <= harmonics; ++i)
        if (std::fabs(ext(frq[i]) - ext(k) * f0) < harmonic_tol) bins[++found] = i, ++k;
    return found;
}

void line_values(const double* pt, const double* frq, int i, std::int64_t w, double dt,
                 double v[report_reals]) {
    // A bin outside 2 .. window_bins is never delivered and counts as 0 (harmonic k lies at bin
    // 8k + 1, so the floors never reach that far).
    auto pw = [&](int b) { return b >= 2 && b <= window_bins ? pt[b] : 0.0; };
    const std::int64_t first = window_advance * w + 1;  // the window's first grid point
    v[t_first - 1] = grid_time(first, dt);
    v[t_middle - 1] = grid_time(first + middle_point, dt);
    v[t_last - 1] = grid_time(first + last_point, dt);
    // The floor leaves out the bins next to i, which a harmonic between two bins spreads into,
    // and takes the mean of those at distance 2 .. floor_reach, from left to right.
    ext sum = 0;
    for (int d = floor_reach; d >= 2; --d) sum += pw(i - d);
    for (int d = 2; d <= floor_reach; ++d) sum += pw(i + d);
    const double floor = double(sum / (2 * (floor_reach - 1)));
    const double e1 = double(ext(pw(i - 1)) - floor);
    const double e2 = double(ext(pw(i)) - floor);
    const double e3 = double(ext(pw(i + 1)) - floor);
    const double s = double((ext(e1) + e2) + e3);
    v[frequency - 1] = frq[i];
    v[power - 1] = pw(i);
    v[excess_sum - 1] = s;
    v[ratio - 1] = double(ext(pw(i)) / s);
}

int harmonic_lines(const double* pt, const double* frq, const int* bins, int found, std::int64_t w,
                   double dt, char* out) {
    int len = 0;
    for (int k = 1; k <= found; ++k) {
        double v[report_reals];
        line_values(pt, frq, bins[k], w, dt, v);
        len += format_report_line(out + len, k, v);
    }
    return len;
}

fft_plan window_plan(const int* bins, int found) {
    const index_range r = window_indices(bins[1], bins[found]);
    return make_fft_plan(window_points, r.k0, r.k1);
}

void harmonic_report(const double* x0, int nx0, double dt0, double f0, double dt, output& out,
                     worker_pool& pool) {
    const std::int64_t m = final_grid_points(nx0, dt0, dt);
    if (m < window_points) return;
    const std::int64_t windows = (m - window_points) / window_advance + 1;

    // Which bins hold the harmonics depends on f0 and dt alone: the same in every window.
    auto frq = std::make_unique_for_overwrite<double[]>(window_bins + 1);
    for (int i = 2; i <= window_bins; ++i) frq[i] = bin_frequency(i, window_points, dt);
    int bins[harmonics + 1];
    const int found = harmonic_bins(frq.get(), f0, bins);
    if (found == 0) return;
    const fft_plan plan = window_plan(bins, found);

    constexpr int batch = window_batch;
    constexpr int span = (batch - 1) * window_advance + window_points;
    constexpr int line_room = harmonics * (report_line_width + 1);
    // Work space only: every element is written before it is read.
    auto grid = std::make_unique_for_overwrite<double[]>(span);
    auto lines = std::make_unique_for_overwrite<char[]>(std::size_t(batch) * line_room);
    int length[batch];
    const int workers = pool.size();
    const auto space = window_spaces(pool);

    std::int64_t have = 0;  // grid points made so far
    for (std::int64_t w0 = 0; w0 < windows && !out.failed(); w0 += batch) {
        const int nb = int(std::min<std::int64_t>(batch, windows - w0));
        // grid[0] is grid point 2048 w0 + 1; the points made before that this batch still needs
        // are moved to the front.
        const std::int64_t base = window_advance * w0;
        const std::int64_t kept = have - base;
        if (kept > 0) std::memmove(grid.get(), grid.get() + (span - kept), sizeof(double) * kept);
        const std::int64_t last = base + window_advance * (nb - 1) + window_points;
        // The new points in equal parts side by side: a point's value depends on its time alone.
        const std::int64_t from = have + 1, part = (last - have + workers - 1) / workers;
        pool.run_items(workers, [&](int q, int) {
            const std::int64_t a = from + part * q, b = std::min(last, a + part - 1);
            if (a > b) return;
            resample_cursor cur = cursor_for(nx0, dt0, dt, a);
            resample_points(x0, nx0, dt0, dt, a, b, cur, nullptr, grid.get() + kept + (a - from));
        });
        have = last;

        pool.run_items(nb, [&](int q, int worker) {
            window_space& ws = *space[std::size_t(worker)];
            std::memcpy(ws.x1, grid.get() + window_advance * q, sizeof ws.x1);
            const double* r = fft_pruned(plan, ws.x1, ws.y);
            for (int i = plan.k0 + 1; i <= plan.k1 + 1; ++i)
                ws.pt[i] = pruned_bin_power(r, plan, i, dt);
            length[q] = harmonic_lines(ws.pt, frq.get(), bins, found, w0 + q, dt,
                                       lines.get() + std::size_t(q) * line_room);
        });
        for (int q = 0; q < nb; ++q)
            out.put(
                std::string_view(lines.get() + std::size_t(q) * line_room, std::size_t(length[q])));
    }
}
