#include "output_buffer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

bool flush_output(output_buffer& out) {
    std::size_t done = 0;
    while (done < out.used && !out.failed) {
        ssize_t n = ::write(out.fd, out.data + done, out.used - done);
        if (n > 0) {
            done += std::size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            out.failed = true;
            out.errno_value = n < 0 ? errno : EIO;
        }
    }
    // After a failure nothing more can reach the output; drop it so the
    // caller can stop at its next check without the buffer filling up.
    out.used = 0;
    return !out.failed;
}

void report_write_error(const output_buffer& out, const char* program, int statement) {
    std::fprintf(stderr, "%s: error writing standard output at statement %d: %s\n", program,
                 statement, std::strerror(out.errno_value));
}
