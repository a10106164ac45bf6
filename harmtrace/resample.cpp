#include "resample.h"

#include <algorithm>

#include "constants.h"
#include "input.h"

namespace {

// The walk of every grid: point r's time from time_of(r), its value from the input samples that
// bracket it.
template <class TimeOf>
void walk(const double* x0, int nx0, double dt0, std::int64_t first, std::int64_t last,
          TimeOf time_of, resample_cursor& cur, double* t, double* x) {
    int j = cur.j;
    double tj = input_time(j, dt0);  // time of input sample j, kept while j stays
    // Slope and intercept belong to an interval, not to a grid point: keep
    // those of the last interval used.
    int cached = -1;
    double a = 0, b = 0;
    for (std::int64_t r = first; r <= last; ++r) {
        if (!t && j > nx0 - 1) {
            // The input is used up: every further point is 0.
            std::fill(x + (r - first), x + (last - first + 1), 0.0);
            break;
        }
        const double tr = time_of(r);
        double xr = 0;
        for (; j <= nx0 - 1; tj = input_time(++j, dt0)) {
            if (tj == tr) {
                xr = x0[j - 1];
                break;
            }
            if (tj > tr) {
                // tr lies strictly between samples j - 1 and j.
                if (j != cached) {
                    const double ta = input_time(j - 1, dt0);
                    const double xa = x0[j - 2], xb = x0[j - 1];
                    a = double((ext(xa) - xb) / (ext(ta) - tj));
                    b = double((ext(ta) * xb - ext(tj) * xa) / (ext(ta) - tj));
                    cached = j;
                }
                xr = double(ext(tr) * a + b);
                break;
            }
        }
        if (t) t[r - first] = tr;
        x[r - first] = xr;
    }
    cur.j = j;
}

}  // namespace

void resample_points(const double* x0, int nx0, double dt0, double dt, std::int64_t first,
                     std::int64_t last, resample_cursor& cur, double* t, double* x) {
    walk(
        x0, nx0, dt0, first, last, [dt](std::int64_t r) { return grid_time(r, dt); }, cur, t, x);
}

void resample_times(const double* x0, int nx0, double dt0, const double* tr, std::int64_t n,
                    resample_cursor& cur, double* x) {
    walk(
        x0, nx0, dt0, 1, n, [tr](std::int64_t r) { return tr[r - 1]; }, cur, nullptr, x);
}

resample_cursor cursor_at(int nx0, double dt0, double tr) {
    const int last = nx0 - 1;  // the search never looks past this sample
    if (last < 1) return {1};
    // The first sample at or after tr, or nx0 when there is none. (A time that is not a number
    // starts from sample 1.)
    const double at = tr / dt0;
    int j = at >= 1 ? (at <= last ? int(at) : last) : 1;
    while (j > 1 && input_time(j - 1, dt0) >= tr) --j;
    while (j <= last && input_time(j, dt0) < tr) ++j;
    return {j};
}

int resample(const double* x0, int nx0, double dt0, double dt, int n, double* t, double* x) {
    resample_cursor cur;
    if (n > 0) resample_points(x0, nx0, dt0, dt, 1, n, cur, t, x);
    return n;
}
