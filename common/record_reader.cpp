#include "record_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "error_report.h"

void open_reader(record_reader& in, int fd, std::size_t capacity) {
    in.fd_ = fd;
    // Room for two bytes at least: a carriage return is a line end only when
    // the byte after it is a line feed, so both must be seen together.
    in.cap_ = std::max<std::size_t>(capacity, 2);
    in.buf_ = std::make_unique<char[]>(in.cap_);
    in.p_ = in.end_ = in.buf_.get();
    in.dropped_ = 0;
    in.at_eof_ = in.io_failed_ = false;
    in.line_ = 1;
}

void open_reader(record_reader& in, std::string_view text) {
    in.fd_ = -1;
    in.cap_ = text.size() + 1;
    in.buf_ = std::make_unique<char[]>(in.cap_);
    std::memcpy(in.buf_.get(), text.data(), text.size());
    in.p_ = in.buf_.get();
    in.end_ = in.p_ + text.size();
    in.dropped_ = 0;
    in.at_eof_ = true;
    in.io_failed_ = false;
    in.line_ = 1;
}

// Keeps the unread bytes, moved to the front of the buffer, and reads more
// behind them. False when nothing more could be read.
bool record_reader::fill_more() {
    if (at_eof_) return false;
    char* b = buf_.get();
    if (p_ != b) {
        dropped_ += p_ - b;
        std::size_t keep = std::size_t(end_ - p_);
        std::memmove(b, p_, keep);
        p_ = b;
        end_ = b + keep;
    }
    std::size_t room = cap_ - std::size_t(end_ - b);
    if (room == 0) return false;
    for (;;) {
        ssize_t n = ::read(fd_, end_, room);
        if (n > 0) {
            end_ += n;
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            io_failed_ = true;
            io_errno_ = errno;
        }
        at_eof_ = true;
        return false;
    }
}

// The byte at p, or -1 at end of input.
int record_reader::peek() {
    if (p_ == end_ && !fill_more()) return -1;
    return static_cast<unsigned char>(*p_);
}

// True when the carriage return at p is the one before a line feed (or ends the input).
bool record_reader::cr_ends_line() {
    if (end_ - p_ < 2) fill_more();
    return end_ - p_ < 2 || p_[1] == '\n';
}

void skip_line(record_reader& in) {
    for (;;) {
        if (in.p_ == in.end_ && !in.fill_more()) return;
        void* nl = std::memchr(in.p_, '\n', std::size_t(in.end_ - in.p_));
        if (nl) {
            in.p_ = static_cast<char*>(nl) + 1;
            ++in.line_;
            return;
        }
        in.p_ = in.end_;
    }
}

static bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

static bool equal_nocase(std::string_view a, std::string_view word) {
    if (a.size() != word.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k)
        if ((a[k] | 0x20) != word[k]) return false;
    return true;
}

bool parse_integer(std::string_view s, std::int32_t& value, const char*& reason) {
    reason = "not an integer";
    std::size_t k = 0;
    bool neg = false;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) neg = s[k++] == '-';
    if (k == s.size()) return false;
    std::int64_t v = 0;
    for (; k < s.size(); ++k) {
        if (!is_digit(s[k])) return false;
        v = v * 10 + (s[k] - '0');
        if (v > std::int64_t(1) << 31) {
            reason = "integer out of range";
            return false;
        }
    }
    if (neg) v = -v;
    if (v > std::numeric_limits<std::int32_t>::max()) {
        reason = "integer out of range";
        return false;
    }
    value = std::int32_t(v);
    return true;
}

bool parse_real(std::string_view s, double& value, const char*& reason) {
    reason = "not a number";
    std::size_t k = 0;
    bool neg = false;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) neg = s[k++] == '-';
    std::string_view body = s.substr(k);
    if (equal_nocase(body, "nan")) {
        value = neg ? -std::numeric_limits<double>::quiet_NaN()
                    : std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (equal_nocase(body, "inf") || equal_nocase(body, "infinity")) {
        value = neg ? -HUGE_VAL : HUGE_VAL;
        return true;
    }

    // Plain digits: the common case of sample values, converted exactly.
    if (!body.empty() && body.size() <= 15) {
        std::int64_t v = 0;
        std::size_t d = 0;
        while (d < body.size() && is_digit(body[d])) v = v * 10 + (body[d++] - '0');
        if (d == body.size()) {
            value = neg ? -double(v) : double(v);
            return true;
        }
    }

    // Rewrite as "[-]digits[.digits][e[sign]digits]" for from_chars.
    char buf[record_reader::max_token + 8];
    std::size_t n = 0;
    if (neg) buf[n++] = '-';
    std::size_t digits = 0;
    bool point = false;
    for (; k < s.size(); ++k) {
        char c = s[k];
        if (is_digit(c)) {
            ++digits;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
        if (n >= sizeof buf - 4) return false;
        buf[n++] = c;
    }
    if (digits == 0) return false;
    if (k < s.size()) {
        char c = s[k];
        if (c == 'e' || c == 'E' || c == 'd' || c == 'D') {
            ++k;
        } else if (c != '+' && c != '-') {
            return false;
        }
        buf[n++] = 'e';
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) buf[n++] = s[k++];
        std::size_t exp_digits = 0;
        for (; k < s.size() && is_digit(s[k]); ++k, ++exp_digits) {
            if (n >= sizeof buf - 1) return false;
            buf[n++] = s[k];
        }
        if (exp_digits == 0 || k != s.size()) return false;
    }
    double v = 0;
    auto [ptr, ec] = std::from_chars(buf, buf + n, v);
    if (ptr != buf + n) return false;
    if (ec == std::errc::result_out_of_range) {
        // Underflow to zero or a subnormal is a fine value; overflow is not.
        buf[n] = '\0';
        v = std::strtod(buf, nullptr);
        if (std::isinf(v)) {
            reason = "real out of range";
            return false;
        }
    } else if (ec != std::errc()) {
        return false;
    }
    value = v;
    return true;
}

read_status record_reader::fail(read_status st, std::string_view text, const char* reason) {
    error_line_ = line_;
    error_text_.assign(text);
    error_reason_ = reason;
    return st;
}

read_status read_record(record_reader& in, record_value* values, int count) {
    int v = 0;
    bool expect = true;  // no value since the line began or since the last comma
    while (v < count) {
        int c = in.peek();
        if (c < 0) {
            if (in.io_failed_) return in.fail(read_status::io_error, "", "read error");
            return read_status::end_of_input;
        }
        if (c == ' ' || c == '\t') {
            ++in.p_;
            continue;
        }
        if (c == '\n' || (c == '\r' && in.cr_ends_line())) {
            skip_line(in);
            expect = true;
            continue;
        }
        if (c == ',') {
            ++in.p_;
            if (expect) ++v;  // empty item: the value stays as it was
            expect = true;
            continue;
        }
        if (c == '/') break;

        // A token runs to the next separator; only its first max_token bytes are kept.
        std::size_t len = 0;
        bool cut = false;
        for (;;) {
            int t = in.peek();
            if (t < 0 || t == ' ' || t == '\t' || t == ',' || t == '/' || t == '\n') break;
            if (t == '\r' && in.cr_ends_line()) break;
            if (len < record_reader::max_token)
                in.token_[len++] = char(t);
            else
                cut = true;
            ++in.p_;
        }
        std::string_view tok(in.token_, len);
        record_value& val = values[v];
        const char* reason = "number too long";
        if (cut) return in.fail(read_status::bad_value, tok, reason);
        if (val.integer ? !parse_integer(tok, val.i, reason) : !parse_real(tok, val.r, reason))
            return in.fail(read_status::bad_value, tok, reason);
        ++v;
        expect = false;
    }
    skip_line(in);
    return read_status::ok;
}

bool peek_line(record_reader& in, std::string_view& line, bool& complete) {
    for (;;) {
        if (in.p_ == in.end_ && !in.fill_more()) return false;
        char* nl = static_cast<char*>(std::memchr(in.p_, '\n', std::size_t(in.end_ - in.p_)));
        if (!nl && in.fill_more()) continue;
        complete = nl || in.at_eof_;
        char* stop = nl ? nl : in.end_;
        if (complete && stop > in.p_ && stop[-1] == '\r') --stop;
        line = std::string_view(in.p_, std::size_t(stop - in.p_));
        if (line.find_first_not_of(" \t") != std::string_view::npos || !complete) return true;
        skip_line(in);
    }
}

std::string describe_read_error(const record_reader& in, read_status status, const char* program,
                                int statement) {
    const std::string what =
        "fatal input error at statement " + std::to_string(statement) + " reading standard input";
    if (status == read_status::io_error)
        return error_message(program, what, std::strerror(in.io_errno()));
    // Show the item as text, cut to a sane length, with unprintable bytes escaped.
    constexpr std::size_t shown = 40;
    std::string item = "\"";
    item += printable(std::string_view(in.error_text()).substr(0, shown), "\"\\");
    if (in.error_text().size() > shown) item += "...";
    return error_message(program, what + ", line " + std::to_string(in.error_line()),
                         std::string(in.error_reason()) + ": " + item + "\"");
}
