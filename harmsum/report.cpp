#include "report.h"

#include "report_columns.h"

bool read_report(record_reader& in, report_table& r, std::string& why) {
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
            if (r.windows() == max_report_windows) {
                why = "more than " + std::to_string(max_report_windows) + " windows";
                return false;
            }
            add_window(r, v);
        } else if (k != expect || k > harmonics) {
            why = "line " + std::to_string(in.line() - 1) + ": harmonic " + std::to_string(k) +
                  " out of order";
            return false;
        }
        add_harmonic(r, k, v);
        expect = k + 1;
    }
    if (in.io_failed()) {
        why = "read error";
        return false;
    }
    return true;
}
