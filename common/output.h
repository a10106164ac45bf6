#pragma once
// Buffered output: text collects in one block and goes to its sink in large writes, when the
// block is full or on flush(). The sink is a file descriptor (standard output by default) or,
// for tests, a string.
//
// A failed write is remembered: failed() stays true, error() keeps the write's errno, and from
// then on the text is dropped, so a caller can go on and check once when it is done.
//
// Typical use:
//     output out;                       // standard output
//     char* p = out.reserve(32);        // room for up to 32 characters
//     p = std::to_chars(p, p + 32, v).ptr;
//     *p++ = '\n';
//     out.commit(p);
//     if (!out.flush()) report_error("prog", "error writing standard output", out.error());

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class output {
  public:
    static constexpr std::size_t default_capacity = std::size_t(1) << 18;
    // The smallest block: a smaller capacity asked for gets this. Room for the longest line a
    // program reserves in one piece (each checks its own against it when compiling).
    static constexpr std::size_t min_capacity = 512;

    explicit output(int fd = 1, std::size_t capacity = default_capacity);
    // Appends to `sink`, which must outlive the buffer; flush() moves the text there.
    explicit output(std::string& sink, std::size_t capacity = default_capacity);
    output(const output&) = delete;
    output& operator=(const output&) = delete;

    std::size_t capacity() const { return std::size_t(limit_ - start_.get()); }

    // Room for n more characters: where they go. commit() takes the end of what was written
    // there. More than capacity() grows the block (rarely worth it: keep n within min_capacity).
    char* reserve(std::size_t n) {
        if (std::size_t(limit_ - end_) < n) make_room(n);
        return end_;
    }
    void commit(char* end) { end_ = end; }

    void put(char c) {
        char* p = reserve(1);
        *p = c;
        end_ = p + 1;
    }
    void put(std::string_view s);
    // printf-style text, for report lines.
    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Hands on what is buffered; false when this or an earlier write failed.
    bool flush();
    bool failed() const { return failed_; }
    // errno of the failed write (EIO when the sink took nothing without saying why).
    int error() const { return error_; }

  private:
    void make_room(std::size_t n);

    int fd_ = -1;
    std::string* sink_ = nullptr;
    std::unique_ptr<char[]> start_;
    char* end_;
    char* limit_;
    bool failed_ = false;
    int error_ = 0;
};
