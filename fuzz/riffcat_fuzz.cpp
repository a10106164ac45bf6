// Fuzz target for the dump routine: any bytes as a sound file. Besides the sanitizers' checks,
// the file is dumped twice, once from memory in one piece and once through a reader that gets
// a few bytes at a time, and both dumps must agree; standard output may only hold sample text:
// values that harmtrace reads, each followed by a tab or a newline; the report on standard error
// only printable ASCII in lines, so that no byte of a file reaches a terminal raw.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "riffcat.h"

namespace {

struct trickle {
    const std::uint8_t* data;
    std::size_t size, pos;
};

long read_trickle(void* ctx, unsigned char* buf, std::size_t n) {
    auto* t = static_cast<trickle*>(ctx);
    n = std::min(n, t->size - t->pos);
    if (n != 0) std::memcpy(buf, t->data + t->pos, n);
    t->pos += n;
    return long(n);
}

struct dump_text {
    dump_end end;
    std::string out, err;
};

dump_text dump(reader& f, std::int32_t frame_limit) {
    dump_text d{};
    output out(d.out, 256), err(d.err, 256);
    d.end = riffcat(f, out, err, frame_limit);
    out.flush();
    err.flush();
    return d;
}

// An integer, or a real as std::to_chars writes it, or NaN, Infinity, -Infinity.
bool sample_text(std::string_view v) {
    if (v == "NaN" || v == "Infinity" || v == "-Infinity") return true;
    if (v.empty() || v.find_first_not_of("-0123456789.e+") != std::string_view::npos) return false;
    double d;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
    return ec == std::errc() && end == v.data() + v.size();
}

bool sample_lines(const std::string& out) {
    std::size_t start = 0;
    for (std::size_t end; (end = out.find_first_of("\t\n", start)) != std::string::npos;
         start = end + 1)
        if (!sample_text(std::string_view(out).substr(start, end - start))) return false;
    return start == out.size();
}

bool printable_lines(const std::string& err) {
    return std::all_of(err.begin(), err.end(),
                       [](char c) { return c == '\n' || (c >= 0x20 && c < 0x7f); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The last byte picks a frame limit from -1 (all frames) to 6.
    std::int32_t frame_limit = size != 0 ? data[size - 1] % 8 - 1 : -1;

    reader whole(data, size);
    dump_text a = dump(whole, frame_limit);

    trickle t{data, size, 0};
    reader pieces(read_trickle, &t, 1 + size % 5);
    dump_text b = dump(pieces, frame_limit);

    if (a.end != b.end || a.out != b.out || a.err != b.err) std::abort();
    if (!sample_lines(a.out) || !printable_lines(a.err)) std::abort();
    return 0;
}
