// Fuzz target for the free-form record reader: any bytes as standard input, read the ways the
// programs read it: harmtrace's one real per record, blockcsv's one integer and seven reals per
// record, and blockcsv's peek at each line before it reads (or skips) it.
//
// Every reading is done twice, once from memory in one piece and once from a file through a
// buffer of a few bytes (2 to 64, from the input's size), and both must give the same values,
// statuses, error details and stream positions. Every token of the input is also parsed on its
// own and checked against a reference built on strtod, and every error message must be short
// and printable.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "record_reader.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "record_fuzz: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

// The file behind the buffered reader: one memory file, rewritten for every input.
int input_file(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("record_fuzz", 0);
    check(fd >= 0, "memfd_create failed");
    check(ftruncate(fd, 0) == 0, "ftruncate failed");
    check(pwrite(fd, data, size, 0) == ssize_t(size), "pwrite failed");
    check(lseek(fd, 0, SEEK_SET) == 0, "lseek failed");
    return fd;
}

struct reader_pair {
    record_reader mem, file;
    reader_pair(std::string_view text, const std::uint8_t* data, std::size_t capacity) {
        open_reader(mem, text);
        open_reader(file, input_file(data, text.size()), capacity);
    }
};

void check_same_place(const reader_pair& r, const char* what) {
    check(r.mem.position() == r.file.position(), what);
    check(r.mem.line() == r.file.line(), what);
}

bool same_real(double a, double b) {
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The message of a failed read: one line of printable ASCII with its position tag, the item
// cut to a few dozen characters.
void check_message(const record_reader& in, read_status st) {
    const std::string m = describe_read_error(in, st, "blockcsv", 6);
    const std::string head = "blockcsv: fatal input error at statement 6 reading standard input";
    check(m.compare(0, head.size(), head) == 0, "message lacks its position tag");
    check(m.size() < 320, "message too long");
    check(m.back() == '\n', "message does not end its line");
    for (std::size_t k = 0; k + 1 < m.size(); ++k)
        check(m[k] >= 0x20 && m[k] < 0x7f, "unprintable byte in message");
    if (st == read_status::bad_value) {
        check(in.error_text().size() <= record_reader::max_token, "error item too long");
        check(in.error_line() >= 1 && in.error_line() <= in.line(), "error line out of range");
        check(m.size() >= 2 && m[m.size() - 2] == '"', "message does not end with the item");
    }
}

// Both readers ended a read with st; compares what they say about it.
void check_same_status(const reader_pair& r, read_status a, read_status b) {
    check(a == b, "statuses differ");
    check(a != read_status::io_error, "read error on a memory file");
    if (a == read_status::bad_value) {
        check(r.mem.error_line() == r.file.error_line(), "error lines differ");
        check(r.mem.error_text() == r.file.error_text(), "error items differ");
        check(std::strcmp(r.mem.error_reason(), r.file.error_reason()) == 0,
              "error reasons differ");
        check_message(r.mem, a);
    }
}

// harmtrace: one real per record, an empty item or a slash reading as 0, until the input ends
// or `limit` values are read.
void read_as_samples(reader_pair& r, int limit) {
    for (int n = 0; n < limit; ++n) {
        record_value a, b;
        const read_status st = read_record(r.mem, &a, 1);
        check_same_status(r, st, read_record(r.file, &b, 1));
        if (st != read_status::ok) return;
        check(same_real(a.r, b.r), "samples differ");
        check_same_place(r, "positions differ after a sample");
    }
}

// blockcsv: 1 integer and 7 reals per record; values the read leaves alone keep the last ones.
// With peek set, every record is looked at first: a line beginning with '#' is skipped whole
// (also when the small buffer shows only its beginning), any other is read.
void read_as_blocks(reader_pair& r, bool peek) {
    record_value v[2][8];
    for (auto& row : v) row[0].integer = true;
    for (;;) {
        if (peek) {
            std::string_view line[2];
            bool complete[2] = {};
            const bool has0 = peek_line(r.mem, line[0], complete[0]);
            const bool has1 = peek_line(r.file, line[1], complete[1]);
            if (has0) check(complete[0], "a line in memory came back cut");
            if (has1 && complete[1]) {
                check(has0 && line[0] == line[1], "peeked lines differ");
                check_same_place(r, "positions differ after a peek");
            } else if (has1) {
                // A line longer than the buffer comes back as the buffer's first bytes; one
                // of blanks only may be a run that the whole reading passes over.
                check(line[1].size() == r.file.capacity(), "cut line not as long as the buffer");
                std::string_view shown = line[1];
                if (shown.back() == '\r') shown.remove_suffix(1);
                if (shown.find_first_not_of(" \t") != std::string_view::npos) {
                    check(has0 && line[0].size() >= shown.size() &&
                              line[0].substr(0, shown.size()) == shown,
                          "cut line is not the beginning of the whole one");
                }
            } else {
                check(!has0, "only the memory reader found a line");
                return;
            }
            if (line[1].front() == '#') {
                skip_line(r.mem);
                skip_line(r.file);
                check_same_place(r, "positions differ after skipping a line");
                continue;
            }
        }
        const read_status a = read_record(r.mem, v[0], 8);
        const read_status b = read_record(r.file, v[1], 8);
        check_same_status(r, a, b);
        if (a != read_status::ok) return;
        check(v[0][0].i == v[1][0].i, "integers differ");
        for (int k = 1; k < 8; ++k) check(same_real(v[0][k].r, v[1][k].r), "reals differ");
        check_same_place(r, "positions differ after a record");
    }
}

// Reference conversions: the token's form checked by hand, the value from strtod.
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool word_is(std::string_view s, const char* word) {
    if (s.size() != std::strlen(word)) return false;
    for (std::size_t k = 0; k < s.size(); ++k)
        if ((s[k] | 0x20) != word[k]) return false;
    return true;
}

bool reference_real(std::string_view s, double& value) {
    std::string t;
    std::size_t k = 0;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) t += s[k++];
    const bool neg = t == "-";
    const std::string_view body = s.substr(k);
    if (word_is(body, "nan")) {
        value = neg ? -NAN : NAN;
        return true;
    }
    if (word_is(body, "inf") || word_is(body, "infinity")) {
        value = neg ? -INFINITY : INFINITY;
        return true;
    }
    const std::size_t mantissa = k;
    std::size_t digits = 0, points = 0;
    for (; k < s.size() && (is_digit(s[k]) || s[k] == '.'); ++k) {
        digits += is_digit(s[k]);
        points += s[k] == '.';
    }
    if (digits == 0 || points > 1) return false;
    t += s.substr(mantissa, k - mantissa);
    if (k < s.size()) {
        // An exponent: E or D in either case, or a bare sign.
        if (s[k] == 'e' || s[k] == 'E' || s[k] == 'd' || s[k] == 'D')
            ++k;
        else if (s[k] != '+' && s[k] != '-')
            return false;
        t += 'e';
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) t += s[k++];
        if (k == s.size()) return false;
        for (; k < s.size(); ++k) {
            if (!is_digit(s[k])) return false;
            t += s[k];
        }
    }
    value = std::strtod(t.c_str(), nullptr);
    return !std::isinf(value);
}

bool reference_integer(std::string_view s, std::int32_t& value) {
    bool neg = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        neg = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return false;
    for (char c : s)
        if (!is_digit(c)) return false;
    while (s.size() > 1 && s[0] == '0') s.remove_prefix(1);
    if (s.size() > 10) return false;
    long long v = std::stoll(std::string(s));
    if (neg) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    value = std::int32_t(v);
    return true;
}

// Every item of the text, split at the separators, as long as the reader keeps one.
void check_tokens(std::string_view text) {
    std::size_t k = 0;
    while (k < text.size()) {
        const std::size_t stop = std::min(text.find_first_of(" \t,/\n\r", k), text.size());
        const std::string_view tok = text.substr(k, stop - k);
        k = stop + 1;
        if (tok.empty() || tok.size() > record_reader::max_token) continue;

        const char* reason;
        double got = 0, want = 0;
        const bool ok = parse_real(tok, got, reason);
        check(ok == reference_real(tok, want), "real accepted or rejected wrongly");
        if (ok) check(same_real(got, want), "real read wrongly");

        std::int32_t i = 0, j = 0;
        const bool iok = parse_integer(tok, i, reason);
        check(iok == reference_integer(tok, j), "integer accepted or rejected wrongly");
        if (iok) check(i == j, "integer read wrongly");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The buffer size comes from the input's size, so that the fuzzer's changes of length move
    // the buffer boundaries over the text.
    const std::size_t capacity = 1 + size % 64;

    check_tokens(text);
    {
        // As harmtrace reads, sometimes stopping at a small cap with input left over.
        reader_pair r(text, data, capacity);
        read_as_samples(r, size % 4 == 0 ? int(size / 4 % 9) : 1 << 20);
    }
    {
        reader_pair r(text, data, capacity);
        read_as_blocks(r, false);
    }
    {
        reader_pair r(text, data, capacity);
        read_as_blocks(r, true);
    }
    return 0;
}
