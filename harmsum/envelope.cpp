#include "envelope.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double none = std::numeric_limits<double>::quiet_NaN();
// The cosine's least: the two sounds' phases a quarter turn apart at most. A sharp break between
// two lines (a sampled note's loop, with a volume envelope of its own) is no sum of two sounds;
// allowed to cancel, the sum bent both lines 3 dB over the levels they stand for.
constexpr double blend_low = 0;
constexpr int blend_iterations = 100;
constexpr int corner_passes = 10;
constexpr double plunge_seconds = 0.5;
constexpr double release_with_s = 0.05;  // a harmonic's release begins with the note's
constexpr double floor_held_db = 3;      // the level before a note, held within this of its lowest

double median(std::vector<double> v) {
    if (v.empty()) return none;
    auto mid = v.begin() + std::ptrdiff_t(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// The windows' ends: a window's centre lies halfway between its start and its end.
double end_of(const double* start, const double* centre, int w) {
    return 2 * centre[w] - start[w];
}

// --- The split into straight pieces that gives the lines to start from ---

// Sums over the first i windows of `at`, about the first window's time and level, so that long
// recordings lose no digits.
struct sums {
    double n = 0, x = 0, y = 0, xx = 0, xy = 0, yy = 0;
};

struct piece {
    level_line line;
    double rss = 0;
};

piece piece_of(const std::vector<sums>& pre, std::size_t a, std::size_t b, double x0, double y0) {
    const sums& p = pre[b];
    const sums& q = pre[a];
    const double n = p.n - q.n, sx = p.x - q.x, sy = p.y - q.y;
    const double sxx = p.xx - q.xx - sx * sx / n, sxy = p.xy - q.xy - sx * sy / n;
    const double syy = p.yy - q.yy - sy * sy / n;
    piece r;
    r.line = {x0 + sx / n, y0 + sy / n, sxx > 0 ? sxy / sxx : 0};
    r.rss = std::max(0.0, sxx > 0 ? syy - sxy * sxy / sxx : syy);
    return r;
}

// The best split of the windows `at` into `count` (2 or 3) pieces of at least min_stage_windows
// each, the breaks on a grid of at most split_grid places; empty when there is no room.
std::vector<piece> best_split(const double* t, const double* level, const std::vector<int>& at,
                              int count) {
    const std::size_t m = at.size(), least = std::size_t(min_stage_windows);
    if (m < std::size_t(count) * least) return {};
    const double x0 = t[at[0]], y0 = level[at[0]];
    std::vector<sums> pre(m + 1);
    for (std::size_t i = 0; i < m; ++i) {
        const double x = t[at[i]] - x0, y = level[at[i]] - y0;
        const sums& a = pre[i];
        pre[i + 1] = {a.n + 1, a.x + x, a.y + y, a.xx + x * x, a.xy + x * y, a.yy + y * y};
    }
    const std::size_t step = std::max<std::size_t>(1, (m + split_grid - 1) / split_grid);
    double least_rss = INFINITY;
    std::size_t b1 = 0, b2 = 0;
    for (std::size_t i = least; i + (std::size_t(count) - 1) * least <= m; i += step) {
        if (count == 2) {
            const double r = piece_of(pre, 0, i, x0, y0).rss + piece_of(pre, i, m, x0, y0).rss;
            if (r < least_rss) least_rss = r, b1 = i;
            continue;
        }
        const double first = piece_of(pre, 0, i, x0, y0).rss;
        for (std::size_t j = i + least; j + least <= m; j += step) {
            const double r =
                first + piece_of(pre, i, j, x0, y0).rss + piece_of(pre, j, m, x0, y0).rss;
            if (r < least_rss) least_rss = r, b1 = i, b2 = j;
        }
    }
    if (b1 == 0) return {};
    if (count == 2) return {piece_of(pre, 0, b1, x0, y0), piece_of(pre, b1, m, x0, y0)};
    return {piece_of(pre, 0, b1, x0, y0), piece_of(pre, b1, b2, x0, y0),
            piece_of(pre, b2, m, x0, y0)};
}

// --- The sum of a prompt sound and an aftersound ---

// Solves a x = b for x (into b), m unknowns, by elimination with partial pivoting; false when
// a is singular.
constexpr int most_unknowns = 5;
bool solve(double a[most_unknowns][most_unknowns], double* b, int m) {
    for (int c = 0; c < m; ++c) {
        int p = c;
        for (int r = c + 1; r < m; ++r)
            if (std::abs(a[r][c]) > std::abs(a[p][c])) p = r;
        if (!(std::abs(a[p][c]) > 0)) return false;
        std::swap(a[c], a[p]);
        std::swap(b[c], b[p]);
        for (int r = c + 1; r < m; ++r) {
            const double q = a[r][c] / a[c][c];
            for (int k = c; k < m; ++k) a[r][k] -= q * a[c][k];
            b[r] -= q * b[c];
        }
    }
    for (int c = m - 1; c >= 0; --c) {
        for (int k = c + 1; k < m; ++k) b[c] -= a[c][k] * b[k];
        b[c] /= a[c][c];
    }
    return true;
}

// The level of two sounds of levels l1 and l2 (dB) whose phases lie apart by an angle of cosine
// c: 10 log10(A^2 + B^2 + 2 c A B), and its derivatives by l1, l2 and c.
double sum_level(double l1, double l2, double c, double* d) {
    const bool first = l1 >= l2;
    const double r = std::pow(10.0, -std::abs(l1 - l2) / 20);  // the softer to the louder
    const double s = 1 + r * r + 2 * c * r;
    const double louder = (1 + c * r) / s, softer = (r * r + c * r) / s;
    d[0] = first ? louder : softer;
    d[1] = first ? softer : louder;
    d[2] = 20 / std::numbers::ln10 * r / s;
    return std::max(l1, l2) + 10 * std::log10(s);
}

// q: prompt level and slope, aftersound level and slope (at t0), the cosine.
struct blend_fit {
    double q[most_unknowns] = {};
    double t0 = 0;
    double rss = INFINITY;
    double se[2] = {};  // the two slopes' standard errors, not widened
    level_line prompt() const { return {t0, q[0], q[1]}; }
    level_line after() const { return {t0, q[2], q[3]}; }
    double at(double t) const {
        double d[3];
        return sum_level(q[0] + q[1] * (t - t0), q[2] + q[3] * (t - t0), q[4], d);
    }
};

double blend_rss(const double* t, const double* level, const std::vector<int>& w,
                 const blend_fit& b) {
    double rss = 0;
    for (int i : w) {
        const double e = level[i] - b.at(t[i]);
        rss += e * e;
    }
    return rss;
}

// Least squares of the sum over the windows w, from b as it is given (Levenberg and Marquardt).
void fit_blend(const double* t, const double* level, const std::vector<int>& w, blend_fit& b) {
    const int p = most_unknowns;
    b.rss = blend_rss(t, level, w, b);
    double lambda = 1e-3;
    double jtj[p][p], jtr[p];
    auto normal_equations = [&] {
        for (int r = 0; r < p; ++r) {
            jtr[r] = 0;
            for (int c = 0; c < p; ++c) jtj[r][c] = 0;
        }
        for (int i : w) {
            const double x = t[i] - b.t0;
            double d[3];
            const double e =
                level[i] - sum_level(b.q[0] + b.q[1] * x, b.q[2] + b.q[3] * x, b.q[4], d);
            const double g[p] = {d[0], d[0] * x, d[1], d[1] * x, d[2]};
            for (int r = 0; r < p; ++r) {
                jtr[r] += g[r] * e;
                for (int c = 0; c < p; ++c) jtj[r][c] += g[r] * g[c];
            }
        }
    };
    bool done = false;
    for (int it = 0; it < blend_iterations && !done; ++it) {
        normal_equations();
        bool better = false;
        while (!better && lambda < 1e12) {
            double a[p][p], step[p];
            for (int r = 0; r < p; ++r) {
                for (int c = 0; c < p; ++c) a[r][c] = jtj[r][c];
                a[r][r] += lambda * std::max(jtj[r][r], 1e-12);
                step[r] = jtr[r];
            }
            blend_fit next = b;
            if (solve(a, step, p))
                for (int r = 0; r < p; ++r) next.q[r] += step[r];
            next.q[4] = std::clamp(next.q[4], blend_low, 1.0);
            next.rss = blend_rss(t, level, w, next);
            if (next.rss < b.rss) {
                done = b.rss - next.rss <= 1e-10 * b.rss;
                b = next;
                better = true;
                lambda = std::max(lambda / 10, 1e-12);
            } else {
                lambda *= 10;
            }
        }
        done = done || !better;
    }
    // The slopes' standard errors: the diagonal of rss / (n - p) (J^T J)^-1.
    normal_equations();
    const double s2 = b.rss / std::max(1.0, double(w.size()) - p);
    for (int k = 0; k < 2; ++k) {
        double a[p][p], e[p] = {};
        for (int r = 0; r < p; ++r)
            for (int c = 0; c < p; ++c) a[r][c] = jtj[r][c];
        e[1 + 2 * k] = 1;
        b.se[k] = solve(a, e, p) && e[1 + 2 * k] > 0 ? std::sqrt(s2 * e[1 + 2 * k]) : INFINITY;
    }
}

// --- The models ---

enum model_kind { one_line, with_after, with_release, with_both };

bool has_after(model_kind k) {
    return k == with_after || k == with_both;
}
bool has_release(model_kind k) {
    return k == with_release || k == with_both;
}

// A model of a span's windows. The aftersound adds to the prompt sound (their sum, blend), or,
// `broken`, takes over at a break (two lines meeting at the knee: a sampled note's loop under a
// volume envelope of its own).
struct model {
    model_kind kind = one_line;
    bool broken = false;
    bool fitted = false;
    level_line main, after, release;  // after: of a break
    blend_fit blend;                  // the sum
    double corner = INFINITY;         // where the release begins
    // By window of the span: 0 left out (it straddles a break or the release's start), 1 the
    // first stage (the sum of the two sounds, for a blend), 3 the aftersound after a break, 2 the
    // release.
    std::vector<int> part;
    double rss = 0;
    int n = 0;
    std::vector<double> e;  // the residuals of the windows used, in order
    double se_main = 0, se_after = 0, se_release = 0;  // the lines' slopes', not widened
};

int parameters(const model& m) {
    return 2 + (has_after(m.kind) ? (m.broken ? 2 : 3) : 0) + (has_release(m.kind) ? 2 : 0);
}

level_line prompt_line(const model& m) {
    return has_after(m.kind) && !m.broken ? m.blend.prompt() : m.main;
}
level_line after_line(const model& m) {
    return m.broken ? m.after : m.blend.after();
}

// The knee: where the aftersound's line crosses the prompt's.
double knee_of(const model& m) {
    const level_line p = prompt_line(m), a = after_line(m);
    const double d = p.slope - a.slope;
    return d < 0 ? (a.at(0) - p.at(0)) / d : none;
}

// A line through the windows of `at` whose part is `which`; its slope's standard error.
level_line line_over(const double* t, const double* level, const std::vector<int>& at,
                     const std::vector<int>& part, int which, double& se) {
    std::vector<char> use(at.empty() ? 0 : std::size_t(at.back() + 1), 0);
    for (std::size_t i = 0; i < at.size(); ++i) use[std::size_t(at[i])] = part[i] == which;
    const line_fit l =
        fit_line(t, level, int(use.size()), [&](int w) { return use[std::size_t(w)] != 0; });
    double rss = 0;
    for (std::size_t i = 0; i < at.size(); ++i)
        if (part[i] == which) {
            const double e = level[at[i]] - l.at(t[at[i]]);
            rss += e * e;
        }
    se = l.n > 2 && l.sxx > 0 ? std::sqrt(rss / (l.n - 2) / l.sxx) : INFINITY;
    return {l.mean_x, l.mean_y, l.slope};
}

// The level before the release, as the model has it.
double before_release(const model& m, double t) {
    if (!has_after(m.kind)) return m.main.at(t);
    return m.broken ? std::max(m.main.at(t), m.after.at(t)) : m.blend.at(t);
}

// The model's level in a window of part `part`, at its centre t.
double model_at(const model& m, int part, double t) {
    return part == 2 ? m.release.at(t) : part == 3 ? m.after.at(t) : before_release(m, t);
}

// Where the release line first lies under the level before it for good: between the last
// window's centre at which it does not and the next, by a straight line. NaN when it never or
// always does.
double corner_of(const model& m, const double* centre, const std::vector<int>& at) {
    auto below = [&](double t) { return m.release.at(t) - before_release(m, t); };
    std::size_t i = at.size();
    while (i > 0 && below(centre[at[i - 1]]) < 0) --i;
    if (i == 0 || i == at.size()) return none;
    const double a = centre[at[i - 1]], b = centre[at[i]];
    const double fa = below(a), fb = below(b);
    return a + (b - a) * fa / (fa - fb);
}

// Fills rss, n and the residuals of a fitted model.
void score(model& m, const double* centre, const double* level, const std::vector<int>& at) {
    m.rss = 0;
    m.e.clear();
    for (std::size_t i = 0; i < at.size(); ++i) {
        if (m.part[i] == 0) continue;
        m.e.push_back(level[at[i]] - model_at(m, m.part[i], centre[at[i]]));
        m.rss += m.e.back() * m.e.back();
    }
    m.n = int(m.e.size());
}

// The windows' parts from the model's lines: the release from its corner on, the aftersound
// from a break's knee, those that straddle either left out; false when a part has too few.
bool partition(model& m, const double* start, const double* centre, const std::vector<int>& at) {
    const double corner = has_release(m.kind) ? corner_of(m, centre, at) : INFINITY;
    const double knee = m.broken ? knee_of(m) : none;
    if (std::isnan(corner) || (m.broken && !std::isfinite(knee))) return false;
    m.corner = corner;
    int count[4] = {};
    m.part.resize(at.size());
    for (std::size_t i = 0; i < at.size(); ++i) {
        const double a = start[at[i]], b = end_of(start, centre, at[i]);
        int& p = m.part[i];
        p = a >= corner ? 2 : b > corner ? 0 : !m.broken || b <= knee ? 1 : a >= knee ? 3 : 0;
        ++count[p];
    }
    return count[1] >= min_stage_windows &&
           (!has_release(m.kind) || count[2] >= min_stage_windows) &&
           (!m.broken || count[3] >= min_stage_windows);
}

// The model's lines (or sum) fitted again to the windows of their parts.
void refit(model& m, const double* centre, const double* level, const std::vector<int>& at) {
    if (has_release(m.kind)) m.release = line_over(centre, level, at, m.part, 2, m.se_release);
    if (m.broken) m.after = line_over(centre, level, at, m.part, 3, m.se_after);
    if (!has_after(m.kind) || m.broken) {
        m.main = line_over(centre, level, at, m.part, 1, m.se_main);
        return;
    }
    std::vector<int> w;
    for (std::size_t i = 0; i < at.size(); ++i)
        if (m.part[i] == 1) w.push_back(at[i]);
    fit_blend(centre, level, w, m.blend);
}

blend_fit blend_from(const level_line& a, const level_line& b, double t0) {
    blend_fit f;
    f.t0 = t0;
    f.q[0] = a.at(t0), f.q[1] = a.slope, f.q[2] = b.at(t0), f.q[3] = b.slope, f.q[4] = 0.5;
    return f;
}

// The model of `kind` from lines to start with (a, b: the prompt's and the aftersound's; r: the
// release's): the parts and the lines found again in turn until the parts hold.
model fit_model(model_kind kind, bool broken, const level_line& a, const level_line& b,
                const level_line& r, const double* start, const double* centre, const double* level,
                const std::vector<int>& at) {
    model m;
    m.kind = kind;
    m.broken = broken && has_after(kind);
    m.main = a, m.after = b, m.release = r;
    if (has_after(kind) && !m.broken) m.blend = blend_from(a, b, centre[at[0]]);
    if (has_release(kind) || m.broken) {
        for (int pass = 0; pass < corner_passes; ++pass) {
            const std::vector<int> was = m.part;
            if (!partition(m, start, centre, at)) return m;
            if (m.part == was) break;
            refit(m, centre, level, at);
        }
    } else {
        m.part.assign(at.size(), 1);
        refit(m, centre, level, at);
    }
    m.fitted = true;
    score(m, centre, level, at);
    return m;
}

// Whether the stages of a fitted model are real (envelope.h).
bool holds(const model& m, const double* start, const double* centre, const std::vector<int>& at,
           double released) {
    if (!m.fitted) return false;
    if (has_after(m.kind)) {
        const double p = prompt_line(m).slope, s = after_line(m).slope, knee = knee_of(m);
        if (!(s < 0 && s - p >= knee_db_per_s && s - p >= std::abs(p) / 3 && std::isfinite(knee)))
            return false;
        // Windows on either side of the knee, and neither sound a sliver (over the starts of
        // their first and last windows, as their rates are given).
        int count[2] = {};
        double from[2] = {INFINITY, INFINITY}, to[2] = {-INFINITY, -INFINITY};
        for (std::size_t i = 0; i < at.size(); ++i) {
            const int part = m.part[i];
            if (part != 1 && part != 3) continue;
            const int k = part == 3 || (!m.broken && centre[at[i]] >= knee);
            ++count[k];
            from[k] = std::min(from[k], start[at[i]]);
            to[k] = std::max(to[k], start[at[i]]);
        }
        for (int k = 0; k < 2; ++k) {
            const double length = to[k] - from[k], fall = -(k ? s : p) * length;
            if (count[k] < min_stage_windows || !(fall >= sliver_db || length >= sliver_seconds))
                return false;
        }
        if (has_release(m.kind) && !(knee < m.corner)) return false;
    }
    if (has_release(m.kind)) {
        // The slope just before the release: the louder of the lines there.
        const double c = m.corner;
        const double was = !has_after(m.kind)                            ? m.main.slope
                           : prompt_line(m).at(c) >= after_line(m).at(c) ? prompt_line(m).slope
                                                                         : after_line(m).slope;
        if (!(m.release.slope <= was - knee_db_per_s && m.release.slope <= -release_least_db_per_s))
            return false;
        // A release that is no sliver (a noise floor's chance dips make those), unless it begins
        // with the note's own: a soft harmonic soon sinks into its floor.
        double first = INFINITY, last = -INFINITY;
        for (std::size_t i = 0; i < at.size(); ++i)
            if (m.part[i] == 2) first = std::min(first, centre[at[i]]), last = centre[at[i]];
        if (!(-m.release.slope * (last - first) >= sliver_db || last - first >= sliver_seconds ||
              std::abs(c - released) <= release_with_s))
            return false;
    }
    return true;
}

// The model of the windows `at` (all of one span) with the least BIC among those that hold;
// a held note has no aftersound.
model best_model(const double* start, const double* centre, const double* level,
                 const std::vector<int>& at, const note_shape& note) {
    std::vector<model> tried;
    model line;
    line.part.assign(at.size(), 1);
    refit(line, centre, level, at);
    line.fitted = true;
    score(line, centre, level, at);
    tried.push_back(line);

    const bool after_too = note.kind == note_kind::decaying;
    const std::vector<piece> two = best_split(centre, level, at, 2);
    const std::vector<piece> three = best_split(centre, level, at, 3);
    auto slope = [](const piece& p) { return p.line.slope; };
    // An aftersound both as a sum and at a break.
    auto add = [&](model_kind k, const level_line& a, const level_line& b, const level_line& r) {
        if (!has_after(k)) {
            tried.push_back(fit_model(k, false, a, b, r, start, centre, level, at));
        } else if (after_too) {
            for (const bool broken : {false, true})
                tried.push_back(fit_model(k, broken, a, b, r, start, centre, level, at));
        }
    };
    // A release: where the level falls clearly faster from a break on.
    struct release_start {
        level_line before, release;
    };
    std::vector<release_start> releases;
    if (two.size() == 2 && slope(two[1]) <= slope(two[0]) - knee_db_per_s)
        releases.push_back({two[0].line, two[1].line});
    if (three.size() == 3 && slope(three[2]) <= slope(three[1]) - knee_db_per_s) {
        // Before it, the line through the middles of the first two pieces.
        const level_line& p0 = three[0].line;
        const level_line& p1 = three[1].line;
        releases.push_back(
            {{p0.t, p0.level, (p1.level - p0.level) / (p1.t - p0.t)}, three[2].line});
    }
    // An aftersound: the level falls more slowly from a break on (the middle piece of three may
    // be where the two sounds blend), before a release when there is one. The pieces' slopes
    // lie closer than the two sounds' where these blend long: any slowing is tried.
    const double slower = knee_db_per_s / 2;
    if (two.size() == 2 && slope(two[1]) >= slope(two[0]) + slower)
        add(with_after, two[0].line, two[1].line, {});
    if (three.size() == 3 && slope(three[2]) >= slope(three[0]) + slower &&
        slope(three[1]) >= slope(three[0]))
        add(with_after, three[0].line, three[2].line, {});
    if (three.size() == 3 && slope(three[1]) >= slope(three[0]) + slower &&
        slope(three[2]) <= slope(three[1]) - knee_db_per_s)
        add(with_both, three[0].line, three[1].line, three[2].line);
    for (const release_start& r : releases) {
        add(with_release, r.before, {}, r.release);
        // The windows before the release, where the line before it meets it, split in two.
        const double meets =
            (r.release.at(0) - r.before.at(0)) / (r.before.slope - r.release.slope);
        std::vector<int> before;
        for (std::size_t i = 0; i < at.size(); ++i)
            if (end_of(start, centre, at[i]) <= meets) before.push_back(at[i]);
        const std::vector<piece> b = best_split(centre, level, before, 2);
        if (b.size() == 2 && slope(b[1]) >= slope(b[0]) + slower)
            add(with_both, b[0].line, b[1].line, r.release);
    }

    // What the residuals of the most flexible fit are worth, for every model alike.
    const model* loosest = &tried[0];
    for (const model& m : tried)
        if (m.fitted && m.n > 0 && m.rss / m.n < loosest->rss / loosest->n) loosest = &m;
    const double share = loosest->n > 0 ? effective_count(loosest->e) / loosest->n : 1;
    auto bic = [&](const model& m) {
        const double n_eff = std::max(1.0, share * m.n);
        return n_eff * std::log(std::max(m.rss, 1e-300) / m.n) + parameters(m) * std::log(n_eff);
    };
    std::size_t best = 0;
    for (std::size_t i = 1; i < tried.size(); ++i)
        if (holds(tried[i], start, centre, at, note.released) && bic(tried[i]) < bic(tried[best]))
            best = i;
    return tried[best];
}

// --- From the model to the stages ---

// A stage over the windows of `at` that `take` keeps, on `line`.
template <class Take>
stage stage_of(const std::vector<int>& at, Take take, const level_line& line, const double* start) {
    stage s;
    for (std::size_t i = 0; i < at.size(); ++i)
        if (take(i)) {
            if (s.first < 0) s.first = at[i];
            s.last = at[i];
            ++s.windows;
        }
    s.line = line;
    if (s.first >= 0) s.from = start[s.first], s.to = start[s.last];
    return s;
}

// Whether a stage's rate holds: `least` windows or more, and no sliver (envelope.h);
// `note_length` is the note's own stage's, 0 when the stage is the harmonic's own.
bool rate_holds(const stage& s, int least, double note_length) {
    const double length = s.to - s.from;
    return s.windows >= least && (std::abs(s.rate()) * length >= sliver_db ||
                                  (length >= sliver_seconds && length >= fair_share * note_length));
}

double interval_of(const stage& s, double se, double n, double n_eff, int p, const double* centre) {
    return interval95(s.rate(), se, n, n_eff, p, centre[s.last] - centre[s.first]);
}

// The envelope's stages from the chosen model over the span's windows `at`.
void stages_of(const model& m, const double* start, const double* centre, const double* level,
               const std::vector<int>& at, harmonic_envelope& h) {
    // A stage of the windows of `part`, on `line`, its interval from its own residuals.
    auto line_stage = [&](int part, const level_line& line, double se) {
        stage s = stage_of(
            at, [&](std::size_t i) { return m.part[i] == part; }, line, start);
        std::vector<double> e;
        for (std::size_t i = 0; i < at.size(); ++i)
            if (m.part[i] == part) e.push_back(level[at[i]] - line.at(centre[at[i]]));
        if (s.found()) s.ci95 = interval_of(s, se, double(e.size()), effective_count(e), 2, centre);
        return s;
    };
    if (!has_after(m.kind)) {
        h.main = line_stage(1, m.main, m.se_main);
    } else if (m.broken) {
        h.knee = knee_of(m);
        h.main = line_stage(1, m.main, m.se_main);
        h.after = line_stage(3, m.after, m.se_after);
    } else {
        // The two sounds' rates and intervals from their sum's fit over both stages.
        const double knee = h.knee = knee_of(m);
        h.main = stage_of(
            at, [&](std::size_t i) { return m.part[i] == 1 && centre[at[i]] < knee; },
            m.blend.prompt(), start);
        h.after = stage_of(
            at, [&](std::size_t i) { return m.part[i] == 1 && centre[at[i]] >= knee; },
            m.blend.after(), start);
        std::vector<double> e;
        for (std::size_t i = 0; i < at.size(); ++i)
            if (m.part[i] == 1) e.push_back(level[at[i]] - m.blend.at(centre[at[i]]));
        const double n = double(e.size()), n_eff = effective_count(e);
        h.main.ci95 = interval_of(h.main, m.blend.se[0], n, n_eff, 5, centre);
        h.after.ci95 = interval_of(h.after, m.blend.se[1], n, n_eff, 5, centre);
    }
    if (has_release(m.kind)) {
        h.release = line_stage(2, m.release, m.se_release);
        h.released = m.corner;
    }
}

// The usable windows of first .. last.
std::vector<int> usable_windows(const double* level, const double* ratio, int first, int last) {
    std::vector<int> at;
    for (int w = first; w <= last; ++w)
        if (usable(level[w], ratio[w])) at.push_back(w);
    return at;
}

// Whether the level over the usable windows of first .. last still falls at its end: the median
// of its last quarter lies 1 dB or more under that of the quarter before.
bool still_falling(const double* level, const double* ratio, int first, int last) {
    const std::vector<int> at = usable_windows(level, ratio, first, last);
    const std::size_t q = at.size() / 4;
    if (q < std::size_t(min_stage_windows)) return false;
    std::vector<double> before, end;
    for (std::size_t i = at.size() - 2 * q; i < at.size(); ++i)
        (i < at.size() - q ? before : end).push_back(level[at[i]]);
    return median(end) <= median(before) - 1;
}

// Whether a run that ends at `last` ends at the harmonic's floor (decay.h: the fit then stops
// short of it). Not when the recording ends first with the level still falling, and the noise
// (its ratio) more than floor_margin under it (a long aftersound), nor when the level after the
// run, smoothed by a median of five windows, plunges within plunge_seconds to floor_margin under
// the run's lowest (a release whose windows the loud harmonics' spread leaves unclear): those
// levels reach no floor. Noise holds the level after a run some 7 dB under its lowest.
bool floor_reached(const double* centre, const double* level, const double* ratio, int first,
                   int last, int n) {
    if (last >= n - 1 - max_gap) {
        // The ratio, 1 + N / P, tells the noise under the last windows (which scatters it either
        // way).
        const std::vector<int> at = usable_windows(level, ratio, first, last);
        std::vector<double> noise;
        for (std::size_t i = at.size() > std::size_t(min_stage_windows)
                                 ? at.size() - std::size_t(min_stage_windows)
                                 : 0;
             i < at.size(); ++i)
            noise.push_back(std::abs(ratio[at[i]] - 1));
        return median(noise) >= std::pow(10, -floor_margin / 10) ||
               !still_falling(level, ratio, first, last);
    }
    double lowest = INFINITY;
    for (int w = first; w <= last; ++w)
        if (usable(level[w], ratio[w])) lowest = std::min(lowest, level[w]);
    std::vector<double> after;
    for (int w = last + 1; w < n && centre[w] <= centre[last] + plunge_seconds; ++w)
        if (std::isfinite(level[w])) after.push_back(level[w]);
    for (std::size_t i = 0; i + 5 <= after.size(); ++i)
        if (median({after.begin() + std::ptrdiff_t(i), after.begin() + std::ptrdiff_t(i + 5)}) <=
            lowest - floor_margin)
            return false;
    return true;
}

// Where a held part starts: in the first usable window whose centre lies twice the attack's time
// after the onset (the rise then lies within about 1 dB of the held level, whatever the held
// part's own swing); when the attack overshoots (its peak, within four times the attack's time
// of the onset, lies more than overshoot_db over the held level), after the peak where the level
// has come within attack_db of the held level.
int held_start(const double* centre, const double* level, const double* ratio, const clear_run& run,
               int peak, double held, double onset, double attack) {
    attack = std::isfinite(attack) ? attack : 0;
    const bool over = level[peak] > held + overshoot_db && centre[peak] <= onset + 4 * attack;
    for (int w = over ? peak : run.first; w <= run.last; ++w)
        if (usable(level[w], ratio[w]) && centre[w] >= onset + 2 * attack &&
            (!over || level[w] <= held + attack_db))
            return w;
    return run.first;
}

// The time from the onset at which the level first comes within attack_within_db of `ref`, in a
// window where the harmonic stands clear (in the windows before, the onset of its louder
// neighbours spreads over its bin), between it and the window before when that one is clear too.
double attack_time(const double* start, const double* centre, const double* level,
                   const double* ratio, int n, double onset, double ref) {
    const double within = ref - attack_within_db;
    bool first = true;
    for (int w = 0; w < n; ++w) {
        if (end_of(start, centre, w) < onset || !std::isfinite(level[w])) continue;
        if (usable(level[w], ratio[w]) && level[w] >= within) {
            if (first) return std::max(0.0, start[w] - onset);
            const double a = centre[w - 1], b = centre[w];
            const double at =
                usable(level[w - 1], ratio[w - 1]) && level[w - 1] < within
                    ? a + (b - a) * (within - level[w - 1]) / (level[w] - level[w - 1])
                    : b;
            return std::max(0.0, at - onset);
        }
        first = false;
    }
    return none;
}

}  // namespace

note_shape read_note(const double* start, const double* centre, const double* total,
                     const double* total_ratio, int n) {
    note_shape s;
    std::vector<int> at = usable_windows(total, total_ratio, 0, n - 1);
    if (at.empty()) return s;
    int top = at[0];
    for (int w : at)
        if (total[w] > total[top]) top = w;
    // The onset: the end of the first window within onset_range_db of the highest and
    // onset_floor_db over the floor before the note; a floor is a level held by two windows at
    // least (noise, or silence), or under the range. A note that rises from the recording's first
    // window, with no floor before it, begins with that window.
    double floor = total[top];
    int flat = 0;
    for (int w = 0; w < top; ++w)  // a window without power is digital silence
        floor = std::min(floor, std::isnan(total[w]) ? -INFINITY : total[w]);
    for (int w = 0; w < top; ++w) flat += !(total[w] > floor + floor_held_db);
    const double threshold = std::max(total[top] - onset_range_db,
                                      std::min(floor + onset_floor_db, total[top] - attack_db));
    const bool rises = flat < 2 && total[0] >= total[top] - onset_range_db;
    for (int w = 0; w <= top; ++w)
        if (total[w] >= threshold) {
            // The share of the note's power the window holds is about the share of the window
            // that the note fills.
            const double end = end_of(start, centre, w),
                         fills = std::pow(10, (total[w] - total[top]) / 10);
            s.onset =
                w == 0 || rises ? start[0] : std::max(start[w], end - fills * (end - start[w]));
            break;
        }
    // The kind: the medians of the first and last thirds of the note near its highest.
    std::vector<double> smooth(at.size());
    for (std::size_t i = 0; i < at.size(); ++i) {
        std::vector<double> near;
        for (std::size_t j = i >= 2 ? i - 2 : 0; j < at.size() && j <= i + 2; ++j)
            near.push_back(total[at[j]]);
        smooth[i] = median(near);
    }
    const double high = *std::max_element(smooth.begin(), smooth.end());
    std::size_t a = 0, b = at.size() - 1;
    while (smooth[a] < high - 6) ++a;
    while (smooth[b] < high - 10) --b;
    const std::size_t third = (b - a + 1) / 3;
    if (third >= 2) {
        std::vector<double> l1, l3, t1, t3;
        for (std::size_t i = a; i < a + third; ++i)
            l1.push_back(smooth[i]), t1.push_back(centre[at[i]]);
        for (std::size_t i = b + 1 - third; i <= b; ++i)
            l3.push_back(smooth[i]), t3.push_back(centre[at[i]]);
        const double gap = median(t3) - median(t1);
        s.kind = gap > 0 && median(l3) - median(l1) >= -held_fade_db_per_s * gap
                     ? note_kind::held
                     : note_kind::decaying;
    }
    // The note's own stages.
    const harmonic_envelope e = fit_envelope(start, centre, total, total_ratio, n, s);
    if (e.main.found()) s.main_from = e.main.from, s.main_to = e.main.to;
    if (e.release.found()) {
        s.release_from = e.released, s.release_to = e.release.to;
        s.released = e.released, s.release_rate = e.release.rate();
    }
    return s;
}

harmonic_envelope fit_envelope(const double* start, const double* centre, const double* level,
                               const double* ratio, int n, const note_shape& note) {
    harmonic_envelope h;
    const clear_run run = longest_run(level, ratio, n);
    if (run.count < min_level_windows) return h;
    h.windows = run.count;
    int peak = run.first;
    for (int w = run.first; w <= run.last; ++w)
        if (usable(level[w], ratio[w]) && level[w] > level[peak]) peak = w;
    h.top_db = level[peak];

    const bool held = note.kind == note_kind::held;
    double ref = h.top_db;
    if (held) {
        // The held level to start from: over the note's held part, else near the peak.
        std::vector<double> v;
        for (int w = run.first; w <= run.last; ++w)
            if (usable(level[w], ratio[w]) && start[w] >= note.main_from &&
                start[w] <= note.main_to)
                v.push_back(level[w]);
        if (v.size() < std::size_t(min_level_windows)) {
            v.clear();
            for (int w = run.first; w <= run.last; ++w)
                if (usable(level[w], ratio[w]) && level[w] >= h.top_db - 6) v.push_back(level[w]);
        }
        ref = median(v);
    }
    model m;
    std::vector<int> at;
    int first = run.first, cut = run.last;
    for (int pass = 0; pass < (held ? 2 : 1); ++pass) {
        first = run.first;
        if (held)
            first = held_start(centre, level, ratio, run, peak, ref, note.onset,
                               attack_time(start, centre, level, ratio, n, note.onset, ref));
        else
            while (!(usable(level[first], ratio[first]) && level[first] >= ref - attack_db))
                ++first;
        cut = floor_end(level, ratio, first, run.last);
        at = usable_windows(
            level, ratio, first,
            floor_reached(centre, level, ratio, first, run.last, n) ? cut : run.last);
        h.first_db = level[first];
        m = best_model(start, centre, level, at, note);
        if (held) {
            std::vector<double> v;
            for (std::size_t i = 0; i < at.size(); ++i)
                if (m.part[i] == 1) v.push_back(level[at[i]]);
            if (!v.empty()) ref = median(v);
        }
    }
    if (m.kind == one_line) {
        // One stage: the line of decay.h over its span, window for window.
        at = usable_windows(level, ratio, first, cut);
        const rate_line r =
            fit_rate(centre, level, first, cut, [&](int w) { return usable(level[w], ratio[w]); });
        h.main = stage_of(
            at, [](std::size_t) { return true; }, {}, start);
        h.main.line = {r.line.mean_x, r.line.mean_y, r.line.slope};
        h.main.ci95 = r.ci95;
        h.main.windows = r.line.n;
    } else {
        stages_of(m, start, centre, level, at, h);
    }
    // A held part that covers too little of the note's own is none: clear only here and there
    // (a soft harmonic that a vibrato takes in and out of the clear), or after the note. One
    // that falls by sliver_db or more from its first quarter on is the harmonic's own decay.
    if (held && h.main.found() && note.main_to > note.main_from) {
        h.held_over = std::max(
            0.0, std::min(h.main.to, note.main_to) - std::max(h.main.from, note.main_from));
        const double share = fair_share * (note.main_to - note.main_from);
        const bool decays = h.held_over > 0 && h.main.from <= note.main_from + share &&
                            -h.main.rate() * (h.main.to - h.main.from) >= sliver_db;
        if (h.held_over < share && !decays) {
            h.held_too_little = true;
            h.main.has_rate = false;
            return h;
        }
    }
    if (held && h.main.found()) {
        std::vector<double> v;
        for (int w = h.main.first; w <= h.main.last; ++w)
            if (usable(level[w], ratio[w])) v.push_back(level[w]);
        double mean = 0, sq = 0;
        for (double x : v) mean += x / double(v.size());
        for (double x : v) sq += (x - mean) * (x - mean);
        h.held_db = median(v);
        h.held_sd = std::sqrt(sq / double(v.size()));
    }
    // A stage of a model of several has shown that it is one (best_model).
    const int least = m.kind == one_line ? min_fit_windows : min_stage_windows;
    h.main.needs = h.after.needs = h.release.needs = least;
    h.main.has_rate = rate_holds(h.main, least, held ? note.main_to - note.main_from : 0);
    if (h.after.found()) h.after.has_rate = rate_holds(h.after, least, 0);
    if (h.release.found())
        h.release.has_rate = rate_holds(h.release, least, note.release_to - note.release_from);
    h.attack_s =
        attack_time(start, centre, level, ratio, n, note.onset, held ? h.held_db : h.top_db);
    return h;
}
