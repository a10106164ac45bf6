#include "reader.h"

#include <algorithm>
#include <cstring>

namespace {

long read_stream(void* ctx, unsigned char* buf, std::size_t n) {
    auto* f = static_cast<std::FILE*>(ctx);
    std::size_t got = std::fread(buf, 1, n, f);
    // A read error is never taken for the end of the file, even after some bytes came in.
    if (std::ferror(f)) return -1;
    return long(got);
}

}  // namespace

reader::reader(const void* data, std::size_t size)
    : pos_(static_cast<const unsigned char*>(data)), end_(pos_ + size), base_(pos_), ended_(true) {}

reader::reader(std::FILE* f, std::size_t block) : reader(read_stream, f, block) {}

reader::reader(read_fn fn, void* ctx, std::size_t block)
    : fn_(fn),
      ctx_(ctx),
      block_(new unsigned char[std::max<std::size_t>(block, 1)]),
      block_size_(std::max<std::size_t>(block, 1)) {}

bool reader::refill() {
    if (ended_) return false;
    long n = fn_(ctx_, block_.get(), block_size_);
    if (n <= 0) {
        ended_ = true;
        failed_ = n < 0;
        return false;
    }
    before_ += std::uint64_t(end_ - base_);
    pos_ = base_ = block_.get();
    end_ = pos_ + n;
    return true;
}

std::size_t reader::read(unsigned char* dst, std::size_t n) {
    std::size_t done = 0;
    while (done < n && (pos_ != end_ || refill())) {
        std::size_t k = std::min(n - done, std::size_t(end_ - pos_));
        std::memcpy(dst + done, pos_, k);
        pos_ += k;
        done += k;
    }
    return done;
}
