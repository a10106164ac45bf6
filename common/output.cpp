#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

output::output(int fd, std::size_t capacity)
    : fd_(fd), start_(new char[std::max(capacity, min_capacity)]) {
    end_ = start_.get();
    limit_ = end_ + std::max(capacity, min_capacity);
}

output::output(std::string& sink, std::size_t capacity) : output(-1, capacity) {
    sink_ = &sink;
}

bool output::flush() {
    const char* p = start_.get();
    const std::size_t n = std::size_t(end_ - p);
    // After a failure nothing more can reach the sink; the text is dropped so that the buffer
    // never fills up.
    end_ = start_.get();
    if (failed_ || n == 0) return !failed_;
    if (sink_) {
        sink_->append(p, n);
        return true;
    }
    for (std::size_t done = 0; done < n;) {
        const ssize_t w = ::write(fd_, p + done, n - done);
        if (w > 0) {
            done += std::size_t(w);
        } else if (w < 0 && errno == EINTR) {
            continue;
        } else {
            failed_ = true;
            error_ = w < 0 ? errno : EIO;
            break;
        }
    }
    return !failed_;
}

void output::make_room(std::size_t n) {
    flush();
    if (capacity() >= n) return;
    start_ = std::make_unique<char[]>(n);
    end_ = start_.get();
    limit_ = end_ + n;
}

void output::put(std::string_view s) {
    while (!s.empty()) {
        if (end_ == limit_) flush();
        const std::size_t k = std::min(s.size(), std::size_t(limit_ - end_));
        std::memcpy(end_, s.data(), k);
        end_ += k;
        s.remove_prefix(k);
    }
}

void output::print(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const std::size_t room = std::size_t(limit_ - end_);
    const int n = std::vsnprintf(end_, room, format, args);
    va_end(args);
    if (n >= 0 && std::size_t(n) < room) {
        end_ += n;
    } else if (n >= 0) {
        // Too long for what is left of the block (a long file name, say): formatted apart.
        std::vector<char> text(std::size_t(n) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        put(std::string_view(text.data(), std::size_t(n)));
    }
    va_end(again);
}
