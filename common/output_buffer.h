#pragma once
// Standard output in large writes. A failed write is remembered; the caller
// checks `failed` (and errno_value) when it is done, or after each flush.

#include <cstddef>
#include <cstring>

struct output_buffer {
    int fd = 1;
    static constexpr std::size_t capacity = std::size_t(1) << 18;
    std::size_t used = 0;
    bool failed = false;
    int errno_value = 0;
    char data[capacity];
};

// Writes out everything buffered; false when the write failed (now or before).
bool flush_output(output_buffer& out);

// Room for at least n more bytes at the end of the buffer (n <= capacity).
inline char* reserve_output(output_buffer& out, std::size_t n) {
    if (out.capacity - out.used < n) flush_output(out);
    return out.data + out.used;
}

inline void append_output(output_buffer& out, const char* s, std::size_t n) {
    while (n > 0) {
        if (out.used == out.capacity) flush_output(out);
        std::size_t k = out.capacity - out.used < n ? out.capacity - out.used : n;
        std::memcpy(out.data + out.used, s, k);
        out.used += k;
        s += k;
        n -= k;
    }
}

// "prog: error writing standard output at statement N: reason\n"
void report_write_error(const output_buffer& out, const char* program, int statement);
