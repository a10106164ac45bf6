#include "out_buffer.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <vector>

namespace {

bool write_stream(void* ctx, const char* data, std::size_t n) {
    auto* f = static_cast<std::FILE*>(ctx);
    return std::fwrite(data, 1, n, f) == n && std::fflush(f) == 0;
}

bool append_string(void* ctx, const char* data, std::size_t n) {
    static_cast<std::string*>(ctx)->append(data, n);
    return true;
}

}  // namespace

out_buffer::out_buffer(write_fn fn, void* ctx, std::size_t capacity)
    : fn_(fn), ctx_(ctx), buf_(new char[std::max<std::size_t>(capacity, 256)]) {
    end_ = buf_.get();
    cap_ = end_ + std::max<std::size_t>(capacity, 256);
}

out_buffer::out_buffer(std::FILE* f, std::size_t capacity)
    : out_buffer(write_stream, f, capacity) {}

out_buffer::out_buffer(std::string& s, std::size_t capacity)
    : out_buffer(append_string, &s, capacity) {}

bool out_buffer::flush() {
    std::size_t n = std::size_t(end_ - buf_.get());
    end_ = buf_.get();
    if (n != 0 && !failed_ && !fn_(ctx_, buf_.get(), n)) failed_ = true;
    return !failed_;
}

void out_buffer::put(std::string_view s) {
    while (!s.empty()) {
        if (end_ == cap_) flush();
        std::size_t k = std::min(s.size(), std::size_t(cap_ - end_));
        std::memcpy(end_, s.data(), k);
        end_ += k;
        s.remove_prefix(k);
    }
}

void out_buffer::put_hex(unsigned char b) {
    static const char digits[] = "0123456789abcdef";
    char* p = reserve(3);
    p[0] = digits[b >> 4];
    p[1] = digits[b & 15];
    p[2] = ' ';
    end_ = p + 3;
}

void out_buffer::print(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    std::size_t room = std::size_t(cap_ - end_);
    int n = std::vsnprintf(end_, room, format, args);
    va_end(args);
    if (n >= 0 && std::size_t(n) < room) {
        end_ += n;
    } else if (n >= 0) {
        // Too long for what is left of the block (a long file name, say): format it apart.
        std::vector<char> text(std::size_t(n) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        put(std::string_view(text.data(), std::size_t(n)));
    }
    va_end(again);
}
