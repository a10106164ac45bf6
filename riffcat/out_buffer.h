#pragma once
// Output buffer: collects text in one big block and hands it on when the block is full or on
// flush(), so that a stream sees few large writes. Integers are formatted here by hand, which is
// what makes printing millions of sample values cheap.
//
// A failed write is remembered: failed() stays true, and from then on the text is dropped.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

// Writes n bytes (n > 0); returns false unless all of them were written.
using write_fn = bool (*)(void* ctx, const char* data, std::size_t n);

class out_buffer {
  public:
    static constexpr std::size_t default_capacity = 1 << 18;

    // Typical use: out_buffer out(stdout);
    explicit out_buffer(std::FILE* f, std::size_t capacity = default_capacity);
    // Appends to a string (for tests and fuzzing); flush() moves the text there.
    explicit out_buffer(std::string& s, std::size_t capacity = default_capacity);
    out_buffer(write_fn fn, void* ctx, std::size_t capacity = default_capacity);
    ~out_buffer() = default;
    out_buffer(const out_buffer&) = delete;
    out_buffer& operator=(const out_buffer&) = delete;

    // Room for n more characters (n <= 64, well below the capacity): returns where they go;
    // commit() with the end of what was written there.
    // Typical use: char* p = out.reserve(8); p = format_int(p, v); *p++ = '\n'; out.commit(p);
    char* reserve(std::size_t n) {
        if (std::size_t(cap_ - end_) < n) flush();
        return end_;
    }
    void commit(char* end) { end_ = end; }

    void put(char c) {
        char* p = reserve(1);
        *p = c;
        end_ = p + 1;
    }
    void put(std::string_view s);
    // A byte as two lowercase hexadecimal digits and a blank ("%02x ").
    void put_hex(unsigned char b);
    // printf-style text, for the report lines.
    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Hands on what is buffered; false when this or an earlier write failed.
    bool flush();
    bool failed() const { return failed_; }

  private:
    write_fn fn_;
    void* ctx_;
    std::unique_ptr<char[]> buf_;
    char* end_;
    char* cap_;
    bool failed_ = false;
};

// Writes v in decimal at p and returns the end: "%d" without a terminator.
inline char* format_int(char* p, std::int64_t v) {
    std::uint64_t u = static_cast<std::uint64_t>(v);
    if (v < 0) {
        *p++ = '-';
        u = 0 - u;
    }
    char digits[24];
    char* d = digits + sizeof digits;
    do {
        *--d = char('0' + u % 10);
        u /= 10;
    } while (u != 0);
    while (d != digits + sizeof digits) *p++ = *d++;
    return p;
}
