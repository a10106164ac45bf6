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

// Harmonic k lies on bin 8k + 1 of a window of its own grid.
constexpr int periods_per_window = window_points / period_points;
constexpr int harmonic_bin(int k) {
    return periods_per_window * k + 1;
}

// Times are made this many at a time for a followed grid.
constexpr int time_chunk = 1024;

}  // namespace

double window_step(const report_grid& g, std::int64_t start, int points) {
    if (!g.track) return g.dt;
    return double((ext(point_time(g, start + points + 1)) - point_time(g, start + 1)) / points);
}

void grid_points(const double* x0, int nx0, double dt0, const report_grid& g, std::int64_t first,
                 std::int64_t last, double* x) {
    if (!g.track) {
        resample_cursor cur = cursor_for(nx0, dt0, g.dt, first);
        resample_points(x0, nx0, dt0, g.dt, first, last, cur, nullptr, x);
        return;
    }
    resample_cursor cur = cursor_at(nx0, dt0, point_time(g, first));
    double tr[time_chunk];
    for (std::int64_t r = first; r <= last; r += time_chunk) {
        const int n = int(std::min<std::int64_t>(time_chunk, last - r + 1));
        track_point_times(*g.track, g.scale, r, n, tr);
        resample_times(x0, nx0, dt0, tr, n, cur, x + (r - first));
    }
}

void detail::walk_windows(const double* x0, int nx0, double dt0, const report_grid* grids,
                          int grid_count, int points, int advance, std::int64_t windows,
                          worker_pool& pool, window_fn work, void* work_f, batch_fn done,
                          void* done_f) {
    // Each grid's points from..to (1-based), held at buffer[0 ..].
    struct held {
        std::unique_ptr<double[]> buffer;
        std::int64_t from = 1, to = 0;
    };
    std::vector<held> h(static_cast<std::size_t>(grid_count));
    for (int g = 0; g < grid_count; ++g) {
        const ext ratio = std::max<ext>(1, grids[g].ratio);
        const auto span =
            std::size_t(std::ceil(double(ext(advance) * (window_batch - 1) * ratio))) +
            std::size_t(points) + 2;
        // Work space only: every element is written before it is read.
        h[std::size_t(g)].buffer = std::make_unique_for_overwrite<double[]>(span);
    }
    const int workers = pool.size();
    // Each grid's points to make for a batch, and how many each worker makes.
    std::vector<std::int64_t> make_from(h.size()), make_to(h.size()), part(h.size());
    for (std::int64_t w0 = 0; w0 < windows; w0 += window_batch) {
        const int nb = int(std::min<std::int64_t>(window_batch, windows - w0));
        // The points the batch needs on each grid; those made before are moved to the front, the
        // new ones made in equal parts side by side: a point's value depends on its time alone.
        for (int g = 0; g < grid_count; ++g) {
            held& hg = h[std::size_t(g)];
            const std::int64_t a = window_start(grids[g], w0, advance) + 1;
            const std::int64_t b = window_start(grids[g], w0 + nb - 1, advance) + points;
            const std::int64_t kept_from = std::max(a, hg.from);
            if (hg.to >= kept_from)
                std::memmove(hg.buffer.get(), hg.buffer.get() + (kept_from - hg.from),
                             sizeof(double) * std::size_t(hg.to - kept_from + 1));
            const auto i = std::size_t(g);
            make_from[i] = std::max(a, hg.to + 1);
            make_to[i] = b;
            part[i] = (b - make_from[i] + workers) / workers;
            hg.from = a;
            hg.to = b;
        }
        pool.run_items(grid_count * workers, [&](int item, int) {
            const auto g = std::size_t(item / workers);
            const int q = item % workers;
            const std::int64_t a = make_from[g] + part[g] * q;
            const std::int64_t b = std::min(make_to[g], a + part[g] - 1);
            if (a <= b)
                grid_points(x0, nx0, dt0, grids[g], a, b, h[g].buffer.get() + (a - h[g].from));
        });
        pool.run_items(nb * grid_count, [&](int item, int worker) {
            const int q = item / grid_count, g = item % grid_count;
            const held& hg = h[std::size_t(g)];
            const std::int64_t start = window_start(grids[g], w0 + q, advance);
            work(work_f, w0 + q, g, hg.buffer.get() + (start + 1 - hg.from), worker);
        });
        if (!done(done_f, w0, nb)) break;
    }
}

std::vector<std::unique_ptr<window_space>> window_spaces(const worker_pool& pool) {
    std::vector<std::unique_ptr<window_space>> space(static_cast<std::size_t>(pool.size()));
    for (auto& s : space) s = std::make_unique_for_overwrite<window_space>();
    return space;
}

std::int64_t final_grid_points(int nx0, double dt0, double dt) {
    const ext m = (ext(nx0) * dt0) / dt;
    return m < 1 ? 0 : std::int64_t(m);
}

std::int64_t grid_points_within(const report_grid& g, int nx0, double dt0) {
    if (!g.track) return final_grid_points(nx0, dt0, g.dt);
    // The largest m whose point m + 1 still lies within the input: first from the track's
    // phase there, then checked against the points' own times.
    const double end = double(ext(nx0) * dt0);
    auto within = [&](std::int64_t m) { return point_time(g, m + 1) <= end; };
    std::int64_t m = std::max<std::int64_t>(
        0, std::int64_t(ext(track_phase(*g.track, end)) * period_points * g.scale));
    while (m > 0 && !within(m)) --m;
    while (within(m + 1)) ++m;
    return m;
}

int harmonic_bins(const double* frq, double f0, int bins[harmonics + 1]) {
    int found = 0;
    for (int i = 2, k = 1; i <= window_bins && k <= harmonics; ++i)
        if (std::fabs(ext(frq[i]) - ext(k) * f0) < harmonic_tol) bins[++found] = i, ++k;
    return found;
}

void window_times(std::int64_t w, double dt, double v[report_reals]) {
    const std::int64_t first = window_advance * w + 1;  // the window's first grid point
    v[t_first - 1] = grid_time(first, dt);
    v[t_middle - 1] = grid_time(first + middle_point, dt);
    v[t_last - 1] = grid_time(first + last_point, dt);
}

void bin_values(const double* pt, int i, double frq_i, double v[report_reals]) {
    // A bin outside 2 .. window_bins is never delivered and counts as 0 (harmonic k lies at bin
    // 8k + 1, so the floors never reach that far).
    auto pw = [&](int b) { return b >= 2 && b <= window_bins ? pt[b] : 0.0; };
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
    v[frequency - 1] = frq_i;
    v[power - 1] = pw(i);
    v[excess_sum - 1] = s;
    v[ratio - 1] = double(ext(pw(i)) / s);
}

void line_values(const double* pt, const double* frq, int i, std::int64_t w, double dt,
                 double v[report_reals]) {
    window_times(w, dt, v);
    bin_values(pt, i, frq[i], v);
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

namespace {

std::vector<double> fixed_frequencies(double dt) {
    std::vector<double> frq(window_bins + 1, 0.0);
    for (int i = 2; i <= window_bins; ++i)
        frq[std::size_t(i)] = bin_frequency(i, window_points, dt);
    return frq;
}

// Adds a grid that measures harmonics first .. first + count - 1.
void add_grid(report_plan& p, const report_grid& g, int first, int count) {
    p.grids.push_back(g);
    p.first_k.push_back(first);
    p.count.push_back(count);
    p.plans.push_back(window_plan(p.bin + first - 1, count));
    p.frq.push_back(g.track ? std::vector<double>() : fixed_frequencies(g.dt));
}

}  // namespace

report_plan plain_plan(double f0, double dt) {
    report_plan p;
    p.times = {dt};
    const std::vector<double> frq = fixed_frequencies(dt);
    const int found = harmonic_bins(frq.data(), f0, p.bin);
    if (found > 0) add_grid(p, p.times, 1, found);
    return p;
}

report_plan partial_plan(const double* freq, double dt, const pitch_track* track) {
    report_plan p;
    p.times = track ? report_grid{0, track} : report_grid{dt};
    for (int k = 1; k <= harmonics; ++k) {
        p.bin[k] = harmonic_bin(k);
        report_grid g;
        if (track) {
            g = {0, track, ext(freq[k]) / (k * ext(freq[1]))};
            g.ratio = g.scale;
        } else {
            g.dt = double(step_per_hertz / (ext(freq[k]) / k));
            g.ratio = ext(dt) / g.dt;
        }
        add_grid(p, g, k, 1);
    }
    return p;
}

report_plan followed_plan(const pitch_track& track) {
    report_plan p;
    p.times = {0, &track};
    for (int k = 1; k <= harmonics; ++k) p.bin[k] = harmonic_bin(k);
    add_grid(p, p.times, 1, harmonics);
    return p;
}

namespace {

// The windows of the plan's own grid: 0 when it holds less than one.
std::int64_t plan_windows(const report_plan& plan, int nx0, double dt0) {
    const std::int64_t m = grid_points_within(plan.times, nx0, dt0);
    if (m < window_points || plan.grids.empty()) return 0;
    return (m - window_points) / window_advance + 1;
}

// The lines of window w on grid g of the plan, from its points x: the reals of harmonic
// plan.first_k[g] + n in v[n], n = 0 .. plan.count[g] - 1.
void window_lines(const report_plan& plan, std::int64_t w, int g, const double* x, window_space& ws,
                  double (*v)[report_reals]) {
    const report_grid& grid = plan.grids[std::size_t(g)];
    const fft_plan& fp = plan.plans[std::size_t(g)];
    std::memcpy(ws.x1, x, sizeof ws.x1);
    const double step = window_step(grid, window_start(grid, w, window_advance), window_points);
    const double* r = fft_pruned(fp, ws.x1, ws.y);
    for (int i = fp.k0 + 1; i <= fp.k1 + 1; ++i) ws.pt[i] = pruned_bin_power(r, fp, i, step);
    double times[report_reals];
    if (plan.times.track) {
        const std::int64_t first = window_start(plan.times, w, window_advance) + 1;
        times[t_first - 1] = point_time(plan.times, first);
        times[t_middle - 1] = point_time(plan.times, first + middle_point);
        times[t_last - 1] = point_time(plan.times, first + last_point);
    } else {
        window_times(w, plan.times.dt, times);
    }
    const std::vector<double>& frq = plan.frq[std::size_t(g)];
    for (int n = 0; n < plan.count[std::size_t(g)]; ++n) {
        const int i = plan.bin[plan.first_k[std::size_t(g)] + n];
        std::memcpy(v[n], times, sizeof times);
        bin_values(ws.pt, i,
                   frq.empty() ? bin_frequency(i, window_points, step) : frq[std::size_t(i)], v[n]);
    }
}

// Walks the plan's windows: each window's lines on each grid go to put(item, k, v) in a worker,
// item = (w mod window_batch) grid_count + g; then done(w0, n) for each batch, in order.
template <class Put, class Done>
void walk_plan(const double* x0, int nx0, double dt0, const report_plan& plan, std::int64_t windows,
               worker_pool& pool, Put&& put, Done&& done) {
    const int grid_count = int(plan.grids.size());
    const auto space = window_spaces(pool);
    walk_windows(
        x0, nx0, dt0, plan.grids.data(), grid_count, window_points, window_advance, windows, pool,
        [&](std::int64_t w, int g, const double* x, int worker) {
            double v[harmonics][report_reals];
            window_lines(plan, w, g, x, *space[std::size_t(worker)], v);
            const std::size_t item =
                std::size_t(w % window_batch) * std::size_t(grid_count) + std::size_t(g);
            put(item, plan.first_k[std::size_t(g)], plan.count[std::size_t(g)], v);
        },
        done);
}

}  // namespace

void write_report(const double* x0, int nx0, double dt0, const report_plan& plan, output& out,
                  worker_pool& pool) {
    const std::int64_t windows = plan_windows(plan, nx0, dt0);
    if (windows == 0) return;
    const int grid_count = int(plan.grids.size());
    const int room =
        *std::max_element(plan.count.begin(), plan.count.end()) * (report_line_width + 1);
    const int items = window_batch * grid_count;
    // Work space only: every element is written before it is read.
    auto lines = std::make_unique_for_overwrite<char[]>(std::size_t(items) * std::size_t(room));
    std::vector<int> length(static_cast<std::size_t>(items));
    walk_plan(
        x0, nx0, dt0, plan, windows, pool,
        [&](std::size_t item, int first_k, int count, const double(*v)[report_reals]) {
            char* p = lines.get() + item * std::size_t(room);
            int len = 0;
            for (int n = 0; n < count; ++n) len += format_report_line(p + len, first_k + n, v[n]);
            length[item] = len;
        },
        [&](std::int64_t, int n) {
            for (std::size_t item = 0; item < std::size_t(n * grid_count); ++item)
                out.put(std::string_view(lines.get() + item * std::size_t(room),
                                         std::size_t(length[item])));
            return !out.failed();
        });
}

bool collect_report(const double* x0, int nx0, double dt0, const report_plan& plan,
                    worker_pool& pool, report_table& table) {
    table = {};
    const std::int64_t windows = plan_windows(plan, nx0, dt0);
    if (windows > max_report_windows) return false;
    if (windows == 0) return true;
    const int grid_count = int(plan.grids.size());
    const std::size_t items = std::size_t(window_batch) * std::size_t(grid_count);
    // Each item's lines as the report gives them; work space, written before it is read.
    auto values = std::make_unique_for_overwrite<double[][report_reals]>(items * harmonics);
    std::vector<int> first(items), count(items);
    table.t.reserve(std::size_t(windows));
    table.t_last.reserve(std::size_t(windows));
    walk_plan(
        x0, nx0, dt0, plan, windows, pool,
        [&](std::size_t item, int first_k, int n, const double(*v)[report_reals]) {
            double(*kept)[report_reals] = values.get() + item * harmonics;
            for (int j = 0; j < n; ++j) {
                std::memcpy(kept[j], v[j], sizeof v[j]);
                as_reported(first_k + j, kept[j]);
            }
            first[item] = first_k;
            count[item] = n;
        },
        [&](std::int64_t, int n) {
            for (std::size_t item = 0; item < std::size_t(n * grid_count); ++item) {
                const double(*kept)[report_reals] = values.get() + item * harmonics;
                for (int j = 0; j < count[item]; ++j) {
                    const int k = first[item] + j;
                    if (k == 1) add_window(table, kept[j]);
                    add_harmonic(table, k, kept[j]);
                }
            }
            return true;
        });
    return true;
}

void harmonic_report(const double* x0, int nx0, double dt0, double f0, double dt, output& out,
                     worker_pool& pool) {
    write_report(x0, nx0, dt0, plain_plan(f0, dt), out, pool);
}
