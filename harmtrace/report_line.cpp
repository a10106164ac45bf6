#include "report_line.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "number_text.h"
#include "report_columns.h"

// The reals are converted by std::to_chars, which rounds the exact binary value to nearest,
// ties to even, digit for digit as printf's "%.*f" and "%.*e" do, and is several times faster.
// It writes at the start of the field; the text is then moved to the right end.

namespace {

void fill_stars(char* out, int w) {
    std::memset(out, '*', static_cast<std::size_t>(w));
}

// Moves the n characters at the start of the field to its end and blanks the rest.
void justify(char* out, int w, int n) {
    std::memmove(out + (w - n), out, static_cast<std::size_t>(n));
    std::memset(out, ' ', static_cast<std::size_t>(w - n));
}

void put_word(char* out, int w, const char* word) {
    const int n = static_cast<int>(std::strlen(word));
    if (n > w) return fill_stars(out, w);
    std::memset(out, ' ', static_cast<std::size_t>(w - n));
    std::memcpy(out + (w - n), word, static_cast<std::size_t>(n));
}

void put_nonfinite(char* out, int w, double v) {
    if (std::isnan(v)) return put_word(out, w, "NaN");
    if (v > 0) return put_word(out, w, w >= 8 ? "Infinity" : "Inf");
    put_word(out, w, w >= 9 ? "-Infinity" : "-Inf");
}

}  // namespace

void format_i(char* out, int w, long long v) {
    if (w <= 0) return;
    char text[max_number_text + 1];
    *format_int(text, v) = '\0';
    put_word(out, w, text);
}

void format_f(char* out, int w, int d, double v) {
    if (w <= 0) return;
    if (!std::isfinite(v)) return put_nonfinite(out, w, v);
    if (d < 0) return fill_stars(out, w);
    const auto r = std::to_chars(out, out + w, v, std::chars_format::fixed, d);
    int n = static_cast<int>(r.ptr - out);
    if (r.ec != std::errc() || (d == 0 && n == w)) return fill_stars(out, w);
    if (d == 0) out[n++] = '.';
    justify(out, w, n);
}

void format_e(char* out, int w, int d, double v) {
    if (w <= 0) return;
    if (!std::isfinite(v)) return put_nonfinite(out, w, v);
    const int neg = std::signbit(v) ? 1 : 0;
    const int n = neg + 2 + d + 4;  // [-]0.d1...dd and E+ee or +eee
    if (d < 1 || n > w) return fill_stars(out, w);

    // The library writes [-]d1.d2...dde+xx, rounded to d digits with any carry already taken
    // (9.99999999e5 comes out as 1.0000000e+06), and shorter than n.
    const auto r = std::to_chars(out, out + w, v, std::chars_format::scientific, d - 1);
    const char* e = out + neg + (d > 1 ? d + 1 : 1);
    int x = 0;
    for (const char* p = e + 2; p < r.ptr; ++p) x = 10 * x + (*p - '0');
    if (e[1] == '-') x = -x;
    if (v != 0) ++x;  // d1.d2... x 10^x is 0.d1d2... x 10^(x+1); zero keeps E+00

    // Move the digits to their places; every destination lies to the right of its source.
    char* digits = out + (w - 4 - d);
    const char d1 = out[neg];
    std::memmove(digits + 1, out + neg + 2, static_cast<std::size_t>(d - 1));
    digits[0] = d1;
    digits[-1] = '.';
    digits[-2] = '0';
    if (neg) digits[-3] = '-';
    std::memset(out, ' ', static_cast<std::size_t>(w - n));

    char* q = out + (w - 4);
    const char sign = x < 0 ? '-' : '+';
    const int a = std::abs(x);
    if (a < 100) {
        *q++ = 'E';
        *q++ = sign;
    } else {
        *q++ = sign;
        *q++ = static_cast<char>('0' + a / 100);
    }
    *q++ = static_cast<char>('0' + a / 10 % 10);
    *q = static_cast<char>('0' + a % 10);
}

int format_report_line(char* out, int k, const double v[report_reals]) {
    format_i(out, report_fields[harmonic].width, k);
    for (int f = t_first; f < report_field_count; ++f) {
        const report_field& fd = report_fields[f];
        if (fd.form == field_form::exponent)
            format_e(out + fd.first, fd.width, fd.digits, v[f - 1]);
        else
            format_f(out + fd.first, fd.width, fd.digits, v[f - 1]);
    }
    out[report_line_width] = '\n';
    return report_line_width + 1;
}

void as_reported(int k, double v[report_reals]) {
    char line[report_line_width + 1];
    format_report_line(line, k, v);
    std::int32_t read_k;
    read_report_columns(std::string_view(line, report_line_width), read_k, v);
}
