#include "report_columns.h"

#include <limits>

#include "record_reader.h"

namespace {

// The field's text after its leading blanks; empty when it is all blanks or has a blank inside.
std::string_view field_text(std::string_view f) {
    const std::size_t b = f.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    f.remove_prefix(b);
    if (f.find(' ') != std::string_view::npos) return {};
    return f;
}

bool read_real_field(std::string_view f, double& v) {
    f = field_text(f);
    if (f.empty()) return false;
    // A value too wide for its field is written as asterisks; its value is lost.
    if (f.find_first_not_of('*') == std::string_view::npos) {
        v = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    const char* reason;
    return parse_real(f, v, reason);
}

// The text of field f of a line in the report layout.
std::string_view field_of(std::string_view line, int f) {
    return line.substr(std::size_t(report_fields[f].first), std::size_t(report_fields[f].width));
}

}  // namespace

bool read_report_columns(std::string_view line, std::int32_t& k, double v[report_reals]) {
    if (line.size() != std::size_t(report_line_width)) return false;
    const std::string_view kf = field_text(field_of(line, harmonic));
    const char* reason;
    if (kf.empty() || !parse_integer(kf, k, reason)) return false;
    for (int f = t_first; f < report_field_count; ++f)
        if (!read_real_field(field_of(line, f), v[f - 1])) return false;
    return true;
}
