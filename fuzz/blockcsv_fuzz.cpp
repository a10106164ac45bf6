// Fuzz target for the block table on arbitrary text, grown from report lines, short blocks and
// free-form records. Checks that
// - the run ends at the end of input or at a bad value, never elsewhere;
// - every row opens with one blank, holds twelve items (thirteen with --fundamental, which odd
//   sizes take, the header's last one "fundamental") and ends with a comma, the header's first
//   item is empty, and each real reads back to a value that writes the same;
// - a line read by columns whose fields do not touch gives, read free-form, the same values.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "report_columns.h"
#include "table.h"

namespace {

[[noreturn]] void fail(const char* what, std::string_view text) {
    std::fprintf(stderr, "%s: [%.*s]\n", what, int(text.size()), text.data());
    std::abort();
}

void check_item(std::string_view item) {
    if (item.empty() || item == "NaN" || item == "Infinity" || item == "-Infinity") return;
    double v;
    auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), v);
    char again[32];
    const auto w = std::to_chars(again, again + sizeof again, v);
    if (ec != std::errc() || end != item.data() + item.size() ||
        std::string_view(again, std::size_t(w.ptr - again)) != item)
        fail("item does not read back", item);
}

void check_rows(std::string_view csv, long rows, bool fundamental) {
    long lines = 0;
    while (!csv.empty()) {
        const std::size_t nl = csv.find('\n');
        if (nl == std::string_view::npos) fail("row without a line end", csv);
        const std::string_view row = csv.substr(0, nl);
        csv.remove_prefix(nl + 1);
        if (row.size() < 2 || row[0] != ' ' || row.back() != ',') fail("row shape", row);
        if (lines == 0 && row[1] != ',') fail("header opens with an item", row);
        int items = 0;
        for (std::size_t p = 1, c; (c = row.find(',', p)) != std::string_view::npos; p = c + 1) {
            ++items;
            const std::string_view item = row.substr(p, c - p);
            if (!(lines == 0 && items == 12 && item == "fundamental")) check_item(item);
        }
        if (items != (fundamental ? 12 : 11)) fail("row does not hold its items", row);
        ++lines;
    }
    if (lines != (rows > 0 ? rows + 1 : 0)) std::abort();
}

// Compares the two readings of a line that holds the report layout with blanks between fields.
void check_columns(std::string_view line) {
    std::int32_t k;
    double v[report_reals];
    if (!read_report_columns(line, k, v) || line.find('*') != std::string_view::npos) return;
    for (int f = t_first; f < report_field_count; ++f)
        if (line[std::size_t(report_fields[f].first)] != ' ') return;
    record_reader in;
    open_reader(in, line);
    record_value rec[1 + report_reals];
    rec[0].integer = true;
    if (read_record(in, rec, 1 + report_reals) != read_status::ok || rec[0].i != k)
        fail("free-form k", line);
    for (int j = 0; j < report_reals; ++j)
        if (std::memcmp(&rec[j + 1].r, &v[j], sizeof(double)) != 0) fail("free-form real", line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string csv;
    output out(csv);
    record_reader in;
    open_reader(in, text);
    const bool fundamental = size % 2 == 1;
    const table_result r = write_table(in, out, fundamental);
    if (r.end != table_end::input_ended && r.end != table_end::bad_input) std::abort();
    check_rows(csv, r.rows, fundamental);

    for (std::size_t p = 0; p < text.size();) {
        std::size_t nl = text.find('\n', p);
        if (nl == std::string_view::npos) nl = text.size();
        std::string_view line = text.substr(p, nl - p);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        check_columns(line);
        p = nl + 1;
    }
    return 0;
}
