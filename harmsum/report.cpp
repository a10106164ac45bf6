#include "report.h"

#include <limits>

#include "report_columns.h"

namespace {

// harmtrace writes one window per window_advance grid points of at most max_samples inputs:
// about 10000 for a 1 kHz note, a million only for a fundamental far above any it finds. A
// report beyond this is not one of its own.
constexpr int max_windows = 1 << 20;

}  // namespace

bool read_report(record_reader& in, report_table& r, std::string& why) {
    constexpr double none = std::numeric_limits<double>::quiet_NaN();
    std::string_view line;
    bool complete;
    int expect = 1;  // the harmonic the next line must carry, or 1
    while (peek_line(in, line, complete)) {
        std::int32_t k;
        double v[report_reals];
        if (!complete || !read_report_columns(line, k, v)) {
            why = "line " + std::to_string(in.line()) + " is not a harmtrace report line";
            return false;
        }
        skip_line(in);
        if (k == 1) {
            if (r.windows() == max_windows) {
                why = "more than " + std::to_string(max_windows) + " windows";
                return false;
            }
            r.t.push_back(v[t_first - 1]);
            r.t_last.push_back(v[t_last - 1]);
            r.frequency.resize(r.frequency.size() + harmonics, none);
            r.power.resize(r.power.size() + harmonics, none);
            r.ratio.resize(r.ratio.size() + harmonics, none);
        } else if (k != expect || k > harmonics) {
            why = "line " + std::to_string(in.line() - 1) + ": harmonic " + std::to_string(k) +
                  " out of order";
            return false;
        }
        const std::size_t at = r.at(r.windows() - 1, k - 1);
        r.frequency[at] = v[frequency - 1];
        r.power[at] = v[power - 1];
        r.ratio[at] = v[ratio - 1];
        if (r.freq[k - 1] == 0) r.freq[k - 1] = v[frequency - 1];
        expect = k + 1;
    }
    if (in.io_failed()) {
        why = "read error";
        return false;
    }
    return true;
}
