#pragma once
// Block reader: hands out a sound file's bytes from one big block at a time, or straight from a
// buffer in memory, so that the sample loop can work on whole frames without a call per byte.
//
// End of file and a failed read both end the bytes; failed() tells them apart. Both are final:
// once either is met the reader asks its source for nothing more.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

// Fills buf with up to n bytes (n > 0) and returns their count: 0 at end of file, -1 when the
// read failed.
using read_fn = long (*)(void* ctx, unsigned char* buf, std::size_t n);

class reader {
  public:
    static constexpr std::size_t default_block = 1 << 18;

    // The bytes of a buffer in memory; nothing is copied, so data must outlive the reader.
    // Typical use: reader f(bytes.data(), bytes.size());
    reader(const void* data, std::size_t size);
    // A stream opened for reading in binary mode.
    // Typical use: reader f(std::fopen(name, "rb"));
    explicit reader(std::FILE* f, std::size_t block = default_block);
    // Any source, read in blocks of `block` bytes (at least 1).
    reader(read_fn fn, void* ctx, std::size_t block = default_block);

    // Copies up to n bytes to dst and returns their count; fewer than n only at the end.
    std::size_t read(unsigned char* dst, std::size_t n);
    // The next byte, or -1 at the end.
    int get() { return pos_ != end_ || refill() ? *pos_++ : -1; }

    // The bytes buffered now, at least one unless the end is reached; skip(n) consumes n of
    // them (n <= available()).
    std::size_t available() {
        if (pos_ == end_) refill();
        return std::size_t(end_ - pos_);
    }
    const unsigned char* data() const { return pos_; }
    void skip(std::size_t n) { pos_ += n; }

    // True when the bytes ended on a failed read rather than at the end of the file.
    bool failed() const { return failed_; }

    // Bytes consumed so far: the offset in the file of the next byte.
    std::uint64_t offset() const { return before_ + std::uint64_t(pos_ - base_); }

  private:
    bool refill();

    const unsigned char* pos_ = nullptr;
    const unsigned char* end_ = nullptr;
    const unsigned char* base_ = nullptr;  // where the bytes held now begin
    std::uint64_t before_ = 0;             // bytes held before them
    read_fn fn_ = nullptr;                 // null for a buffer in memory
    void* ctx_ = nullptr;
    std::unique_ptr<unsigned char[]> block_;
    std::size_t block_size_ = 0;
    bool ended_ = false;
    bool failed_ = false;
};
