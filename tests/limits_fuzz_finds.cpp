// Inputs that the fuzz targets found, kept as regression tests.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "record_reader.h"

namespace {

// The samples of text read one per record as harmtrace reads them, with the final status,
// from memory or through a buffer of `capacity` bytes.
std::string samples(const std::string& text, std::size_t capacity = 0) {
    record_reader in;
    const int fd = capacity == 0 ? -1 : memfd_create("limits", 0);
    if (fd < 0) {
        open_reader(in, text);
    } else {
        EXPECT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
        lseek(fd, 0, SEEK_SET);
        open_reader(in, fd, capacity);
    }
    std::string out;
    record_value v;
    read_status st;
    while ((st = read_record(in, &v, 1)) == read_status::ok) out += std::to_string(v.r) + " ";
    if (fd >= 0) close(fd);
    return out + "status " + std::to_string(int(st));
}

TEST(LimitsFuzzFinds, CarriageReturnInsideALineThroughTheSmallestBuffer) {
    // record_fuzz: 31 0d 32 0a 33 0d 6f ... (a carriage return not before a line feed). With a
    // one-byte buffer the reader cannot see the byte after the carriage return and took it for
    // a line end.
    const std::string text = "1\r2\n3\r\r\n4\n";
    const std::string whole = samples(text);
    for (std::size_t capacity : {1, 2, 3, 5}) EXPECT_EQ(samples(text, capacity), whole) << capacity;
}

}  // namespace
