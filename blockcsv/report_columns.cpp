#include "report_columns.h"

#include <limits>

#include "record_reader.h"

namespace {

// First column (0-based) and width of the seven real fields.
struct field {
    std::size_t first, width;
};
constexpr field real_fields[7] = {{4, 10},  {14, 10}, {24, 10}, {34, 16},
                                  {50, 18}, {68, 18}, {86, 12}};

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

}  // namespace

bool read_report_columns(std::string_view line, std::int32_t& k, double v[7]) {
    if (line.size() != report_columns_width) return false;
    const std::string_view kf = field_text(line.substr(0, 4));
    const char* reason;
    if (kf.empty() || !parse_integer(kf, k, reason)) return false;
    for (int j = 0; j < 7; ++j)
        if (!read_real_field(line.substr(real_fields[j].first, real_fields[j].width), v[j]))
            return false;
    return true;
}
