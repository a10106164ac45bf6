#pragma once
// Numbers as text for the toolkit's streams, written at p without a terminator; each returns
// the end of its text.
//
//   format_int   a signed decimal integer, as "%d" writes it          -32768
//   format_real  the shortest decimal that reads back to the same     0.5  1e-05  -1.5e+20
//                float or double; NaN, Infinity and -Infinity as the
//                words that harmtrace and blockcsv read back
//
// Typical use: char* p = out.reserve(max_number_text); p = format_real(p, v); out.commit(p);
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

// Room for the longest text of either: -1.7976931348623157e+308 or -9223372036854775808.
constexpr std::size_t max_number_text = 32;

inline char* format_int(char* p, std::int64_t v) {
    std::uint64_t u = static_cast<std::uint64_t>(v);
    if (v < 0) {
        *p++ = '-';
        u = 0 - u;
    }
    char digits[20];
    char* d = digits + sizeof digits;
    do {
        *--d = char('0' + u % 10);
        u /= 10;
    } while (u != 0);
    while (d != digits + sizeof digits) *p++ = *d++;
    return p;
}

template <class Real>
char* format_real(char* p, Real v) {
    const auto word = [p](const char* w) {
        const std::size_t n = std::strlen(w);
        std::memcpy(p, w, n);
        return p + n;
    };
    if (std::isnan(v)) return word("NaN");
    if (std::isinf(v)) return word(v < 0 ? "-Infinity" : "Infinity");
    return std::to_chars(p, p + max_number_text, v).ptr;
}
