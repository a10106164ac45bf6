#include "resample.h"

#include <algorithm>

#include "constants.h"
#include "input.h"

void resample_points(const double* x0, int nx0, double dt, std::int64_t first, std::int64_t last,
                     resample_cursor& cur, double* t, double* x) {
    int j = cur.j;
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
        const double tr = double(ext(r - 1) * dt);
        double xr = 0;
        int jj = j;
        while (jj <= nx0 - 1) {
            const double tj = input_time(jj);
            if (tj == tr) {
                xr = x0[jj - 1];
                break;
            }
            if (tj > tr) {
                // tr lies strictly between samples jj - 1 and jj.
                if (jj != cached) {
                    const double ta = input_time(jj - 1);
                    const double xa = x0[jj - 2], xb = x0[jj - 1];
                    a = double((ext(xa) - xb) / (ext(ta) - tj));
                    b = double((ext(ta) * xb - ext(tj) * xa) / (ext(ta) - tj));
                    cached = jj;
                }
                xr = double(ext(tr) * a + b);
                break;
            }
            ++jj;
        }
        j = jj;
        if (t) t[r - first] = tr;
        x[r - first] = xr;
    }
    cur.j = j;
}

int resample(const double* x0, int nx0, double dt, int n, double* t, double* x) {
    resample_cursor cur;
    if (n > 0) resample_points(x0, nx0, dt, 1, n, cur, t, x);
    return n;
}
