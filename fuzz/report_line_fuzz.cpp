// Fuzz target for the report line writer: report lines and single fields of arbitrary doubles
// (NaN, infinities, subnormals, negative zero, exact decimal ties), each compared with a
// reference built the long way from printf's conversions.
//
// Input layout: k (4 bytes), then seven values, then any number of single-field cases.
// A value is a mode byte and 8 bytes; a field case is kind, width, decimals and a value.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "report_line.h"

namespace {

struct bytes {
    const std::uint8_t* p;
    std::size_t n;
    bool empty() const { return n == 0; }
    std::uint64_t take(int count) {
        std::uint64_t v = 0;
        for (int i = 0; i < count; ++i) {
            v |= static_cast<std::uint64_t>(n > 0 ? *p : 0) << (8 * i);
            if (n > 0) ++p, --n;
        }
        return v;
    }
};

// The mode picks how the 8 bytes become a double: raw bits; an integer over a power of two
// (exact decimal ties); an integer times a power of ten (values next to a carry such as
// 999999.999); raw bits with the exponent limited to 2^-40..2^40, where report values live.
double take_value(bytes& in) {
    const unsigned mode = static_cast<unsigned>(in.take(1)) % 4;
    const std::uint64_t b = in.take(8);
    double v = 0;
    switch (mode) {
        case 0:
            std::memcpy(&v, &b, sizeof v);
            break;
        case 1:
            v = std::ldexp(static_cast<double>(static_cast<std::int64_t>(b << 24) >> 24),
                           -static_cast<int>((b >> 40) % 48));
            break;
        case 2: {
            const int p = static_cast<int>((b >> 32) % 41) - 20;
            const double m = static_cast<double>(static_cast<std::int32_t>(b));
            v = p < 0 ? m / std::pow(10.0, -p) : m * std::pow(10.0, p);
            break;
        }
        default: {
            const std::uint64_t exponent = 1023 - 40 + (b >> 52) % 81;
            const std::uint64_t bits = (b & 0x800FFFFFFFFFFFFFull) | (exponent << 52);
            std::memcpy(&v, &bits, sizeof v);
        }
    }
    return v;
}

// Right-justifies s in w columns, or fills them with asterisks.
void ref_justify(char* out, int w, const char* s) {
    const int n = static_cast<int>(std::strlen(s));
    if (n > w)
        std::memset(out, '*', static_cast<std::size_t>(w));
    else
        std::snprintf(out, static_cast<std::size_t>(w) + 1, "%*s", w, s);
}

const char* ref_nonfinite(int w, double v) {
    if (std::isnan(v)) return "NaN";
    if (v > 0) return w >= 8 ? "Infinity" : "Inf";
    return w >= 9 ? "-Infinity" : "-Inf";
}

void ref_i(char* out, int w, long long v) {
    char s[32];
    std::snprintf(s, sizeof s, "%lld", v);
    ref_justify(out, w, s);
}

void ref_f(char* out, int w, int d, double v) {
    char s[400];  // 309 integer digits, the point and up to 64 decimals
    if (std::isfinite(v))
        std::snprintf(s, sizeof s, "%#.*f", d, v);  // '#' keeps the point when d = 0
    else
        std::snprintf(s, sizeof s, "%s", ref_nonfinite(w, v));
    ref_justify(out, w, s);
}

void ref_e(char* out, int w, int d, double v) {
    if (d < 1 && std::isfinite(v)) {
        std::memset(out, '*', static_cast<std::size_t>(w));
        return;
    }
    char s[128];
    if (!std::isfinite(v)) {
        std::snprintf(s, sizeof s, "%s", ref_nonfinite(w, v));
    } else {
        // "%+.*e" gives sign, d digits around a point, 'e' and the exponent of d1.d2...
        char c[96];
        std::snprintf(c, sizeof c, "%+.*e", d - 1, v);
        char digits[80];
        int nd = 0;
        bool nonzero = false;
        const char* p = c + 1;
        for (; *p != 'e'; ++p) {
            if (*p == '.') continue;
            digits[nd++] = *p;
            nonzero = nonzero || *p != '0';
        }
        digits[nd] = '\0';
        const int x = std::atoi(p + 1) + (nonzero ? 1 : 0);
        char exponent[8];
        std::snprintf(exponent, sizeof exponent, std::abs(x) <= 99 ? "E%+03d" : "%+04d", x);
        std::snprintf(s, sizeof s, "%s0.%s%s", c[0] == '-' ? "-" : "", digits, exponent);
    }
    ref_justify(out, w, s);
}

bool allowed(char c) {
    return (c >= '0' && c <= '9') || std::strchr(" .-+E*NaIfinty", c) != nullptr;
}

[[noreturn]] void mismatch(const char* what, const char* got, const char* want, int n) {
    std::fprintf(stderr, "%s mismatch\n got: [%.*s]\nwant: [%.*s]\n", what, n, got, n, want);
    std::abort();
}

// Writes one field between guard bytes with `write`, the reference with `ref`, and compares.
template <class Write, class Ref>
void check_field(const char* what, int w, Write write, Ref ref) {
    char got[80], want[80];
    std::memset(got, '#', sizeof got);
    write(got + 1);
    ref(want);
    if (got[0] != '#' || got[w + 1] != '#') mismatch(what, got, want, w + 2);
    for (int i = 0; i < w; ++i)
        if (!allowed(got[1 + i])) mismatch(what, got + 1, want, w);
    if (std::memcmp(got + 1, want, static_cast<std::size_t>(w)) != 0)
        mismatch(what, got + 1, want, w);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    bytes in{data, size};

    const int k = static_cast<std::int32_t>(in.take(4));
    double v[7];
    for (double& x : v) x = take_value(in);

    char got[report_line_width + 2];
    std::memset(got, '#', sizeof got);
    if (format_report_line(got, k, v) != report_line_width + 1 || got[report_line_width] != '\n' ||
        got[report_line_width + 1] != '#')
        mismatch("line end", got, got, report_line_width + 2);

    char want[report_line_width + 80];
    for (int f = 0; f < report_field_count; ++f) {
        const report_field& fd = report_fields[f];
        char* p = want + fd.first;
        if (fd.form == field_form::integer)
            ref_i(p, fd.width, k);
        else if (fd.form == field_form::exponent)
            ref_e(p, fd.width, fd.digits, v[f - 1]);
        else
            ref_f(p, fd.width, fd.digits, v[f - 1]);
    }
    for (int i = 0; i < report_line_width; ++i)
        if (!allowed(got[i])) mismatch("line character", got, want, report_line_width);
    if (std::memcmp(got, want, report_line_width) != 0)
        mismatch("line", got, want, report_line_width);

    // Single fields of any width up to 40 and up to 20 decimals.
    while (!in.empty()) {
        const unsigned kind = static_cast<unsigned>(in.take(1)) % 3;
        const int fw = 1 + static_cast<int>(in.take(1) % 40);
        const int fd = static_cast<int>(in.take(1) % 21);
        if (kind == 0) {
            const long long n = static_cast<long long>(in.take(8));
            check_field(
                "I", fw, [&](char* out) { format_i(out, fw, n); },
                [&](char* out) { ref_i(out, fw, n); });
        } else if (kind == 1) {
            const double x = take_value(in);
            check_field(
                "F", fw, [&](char* out) { format_f(out, fw, fd, x); },
                [&](char* out) { ref_f(out, fw, fd, x); });
        } else {
            const double x = take_value(in);
            check_field(
                "E", fw, [&](char* out) { format_e(out, fw, fd, x); },
                [&](char* out) { ref_e(out, fw, fd, x); });
        }
    }
    return 0;
}
