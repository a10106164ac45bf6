#include "table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "number_text.h"
#include "report_columns.h"

namespace {

// Positions of the reals that the table uses among the seven of a line.
constexpr int time_real = t_first - 1;         // time of the window's first grid point
constexpr int frequency_real = frequency - 1;  // frequency of the matched bin
constexpr int power_real = power - 1;          // spectral power of the matched bin

// The longest real (-1.7976931348623157e+308) and its comma, twelve times (with the
// fundamental), the blank and the line end.
constexpr std::size_t max_row_length = 1 + 12 * (24 + 1) + 1;
static_assert(max_row_length <= output::min_capacity, "a row must fit in the smallest buffer");

// One row: " lead," (" ," without a lead), then real `col` of lines 1..n and an empty item
// for each line after n, each followed by a comma; then `last` and a comma, when given.
void put_row(output& out, const double* lead, const double (*harmval)[report_reals], int n, int col,
             const std::string_view* last = nullptr) {
    char* p = out.reserve(max_row_length);
    *p++ = ' ';
    if (lead) p = format_real(p, *lead);
    *p++ = ',';
    for (int r = 0; r < block_lines; ++r) {
        if (r < n) p = format_real(p, harmval[r][col]);
        *p++ = ',';
    }
    if (last) {
        std::memcpy(p, last->data(), last->size());
        p += last->size();
        *p++ = ',';
    }
    *p++ = '\n';
    out.commit(p);
}

// The block's fundamental: the frequency of its first line, as text.
std::string_view fundamental_text(const double (*harmval)[report_reals], char* buf) {
    return {buf, std::size_t(format_real(buf, harmval[0][frequency_real]) - buf)};
}

// Reads the next line of a block into row. A report line of harmonic 1 that would not be the
// block's first line is left unread and opens_block is set: it begins the next block.
// by_columns tells whether the line was a report line.
read_status read_line(record_reader& in, double* row, bool first_line, bool& opens_block,
                      bool& by_columns) {
    opens_block = by_columns = false;
    std::string_view line;
    bool complete;
    if (!peek_line(in, line, complete))
        return in.io_failed() ? read_status::io_error : read_status::end_of_input;

    std::int32_t k;
    double v[report_reals];
    if (complete && read_report_columns(line, k, v)) {
        by_columns = true;
        if (k == 1 && !first_line) {
            opens_block = true;
            return read_status::ok;
        }
        skip_line(in);
        std::memcpy(row, v, sizeof v);
        return read_status::ok;
    }

    // Values that the read leaves unchanged (empty items, those after a slash) keep the row's.
    record_value rec[1 + report_reals];
    rec[0].integer = true;
    for (int j = 0; j < report_reals; ++j) rec[j + 1].r = row[j];
    const read_status st = read_record(in, rec, 1 + report_reals);
    if (st == read_status::ok)
        for (int j = 0; j < report_reals; ++j) row[j] = rec[j + 1].r;
    return st;
}

}  // namespace

table_result write_table(record_reader& in, output& out, bool fundamental) {
    // harmval[r - 1][j - 1] is the j-th real of line r of the block being read. Each block
    // overwrites the rows of the lines it has; the very first block starts from zeros.
    double harmval[block_lines][report_reals] = {};
    table_result res;
    // harmtrace finds the same harmonics in every window of a run, so its blocks all have the
    // same length: a block of report lines that ends with the input after as many lines as the
    // last block that a harmonic 1 ended is complete, not cut off.
    int short_length = 0;
    for (int block = 1; block <= max_blocks; ++block) {
        int n = 0;  // lines of the block read so far
        bool all_columns = true;
        while (n < block_lines) {
            bool opens_block, by_columns;
            const read_status st = read_line(in, harmval[n], n == 0, opens_block, by_columns);
            if (st == read_status::end_of_input && n > 0 && n == short_length && all_columns) break;
            if (st != read_status::ok) {
                res.end =
                    st == read_status::end_of_input ? table_end::input_ended : table_end::bad_input;
                res.read = st;
                if (!out.flush()) {
                    res.end = table_end::write_failed;
                    res.statement = row_statement;
                }
                return res;
            }
            if (opens_block) {
                short_length = n;
                break;
            }
            all_columns = all_columns && by_columns;
            ++n;
        }

        if (block == 1) {
            const std::string_view word = "fundamental";
            put_row(out, nullptr, harmval, n, frequency_real, fundamental ? &word : nullptr);
            // Out on its own, so that a failure is told apart from that of a data row.
            if (!out.flush()) {
                res.end = table_end::write_failed;
                res.statement = header_statement;
                return res;
            }
        }
        char buf[max_number_text];
        const std::string_view f0 = fundamental_text(harmval, buf);  // a block has a line
        put_row(out, &harmval[n > 1 ? 1 : 0][time_real], harmval, n, power_real,
                fundamental ? &f0 : nullptr);
        if (out.failed()) {
            res.end = table_end::write_failed;
            res.statement = row_statement;
            return res;
        }
        ++res.rows;
    }
    res.end = table_end::block_limit;
    if (!out.flush()) {
        res.end = table_end::write_failed;
        res.statement = row_statement;
    }
    return res;
}

bool write_report_table(const report_table& report, output& out, bool fundamental) {
    double harmval[block_lines][report_reals] = {};
    const int windows = std::min(report.windows(), max_blocks);
    const std::string_view word = "fundamental";
    bool headed = false;
    for (int w = 0; w < windows; ++w) {
        int n = 0;
        while (n < block_lines && n < harmonics && !std::isnan(report.frequency[report.at(w, n)])) {
            harmval[n][time_real] = report.t[std::size_t(w)];
            harmval[n][frequency_real] = report.frequency[report.at(w, n)];
            harmval[n][power_real] = report.power[report.at(w, n)];
            ++n;
        }
        if (n == 0) continue;  // no block: harmtrace writes no window without harmonic 1
        if (!headed)
            put_row(out, nullptr, harmval, n, frequency_real, fundamental ? &word : nullptr);
        headed = true;
        char buf[max_number_text];
        const std::string_view f0 = fundamental_text(harmval, buf);
        put_row(out, &harmval[0][time_real], harmval, n, power_real, fundamental ? &f0 : nullptr);
    }
    return out.flush();
}
