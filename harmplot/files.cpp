#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "ending.h"
#include "picture.h"
#include "record_reader.h"

namespace {

constexpr char png_signature[] = "\x89PNG\r\n\x1a\n";
constexpr char mark_key[] = "Software";
constexpr char mark_value[] = "harmplot";

std::uint32_t be32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void put_be32(std::string& s, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) s += char((v >> shift) & 0xff);
}

std::uint32_t crc32(const std::string& bytes, std::size_t from) {
    std::uint32_t c = 0xffffffffu;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        c ^= static_cast<unsigned char>(bytes[i]);
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xffffffffu;
}

// Where each chunk of a whole PNG file begins, calling each(at, type, length) for each; the
// offset of the IEND chunk, or 0 when the file is not whole.
template <class Each>
std::size_t walk_png(std::string_view png, Each each) {
    if (png.substr(0, 8) != std::string_view(png_signature, 8)) return 0;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const auto* p = reinterpret_cast<const unsigned char*>(png.data() + at);
        const std::uint64_t length = be32(p);
        if (at + 12 + length > png.size()) return 0;
        const std::string_view type = png.substr(at + 4, 4);
        if (type == "IEND") return at + 12 == png.size() ? at : 0;
        each(at, type, std::size_t(length));
        at += std::size_t(12 + length);
    }
    return 0;
}

bool read_head(const std::string& path, std::string& head, std::size_t most) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    head.resize(most);
    std::size_t got = 0;
    ssize_t n;
    while (got < most && (n = read(fd, head.data() + got, most - got)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        got += std::size_t(n);
    }
    close(fd);
    head.resize(got);
    return true;
}

// A table's first line: " ," and then numbers, each with its comma, and "fundamental," at the
// end of a followed one's.
bool table_header(std::string_view line) {
    if (!line.starts_with(" ,")) return false;
    line.remove_prefix(2);
    int items = 0;
    while (!line.empty()) {
        const std::size_t comma = line.find(',');
        if (comma == std::string_view::npos) return false;
        const std::string_view item = line.substr(0, comma);
        double v;
        const char* reason;
        if (!(item == "fundamental" && comma + 1 == line.size()) && !parse_real(item, v, reason))
            return false;
        line.remove_prefix(comma + 1);
        ++items;
    }
    return items >= 1 && items <= 11;
}

bool marked(std::string_view png) {
    bool found = false;
    walk_png(png, [&](std::size_t at, std::string_view type, std::size_t length) {
        const std::string_view text = png.substr(at + 8, length);
        if (type == "tEXt" && text.size() == sizeof mark_key + sizeof mark_value - 1 &&
            text.substr(0, sizeof mark_key) == std::string_view(mark_key, sizeof mark_key) &&
            text.substr(sizeof mark_key) == mark_value)
            found = true;
    });
    return found;
}

std::atomic<unsigned> staged{0};

}  // namespace

target_kind target_at(const std::string& path, output_kind kind) {
    const bool picture = kind == output_kind::picture;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? target_kind::absent : target_kind::theirs;
    if (S_ISLNK(st.st_mode)) return target_kind::theirs;
    if (!S_ISREG(st.st_mode)) return target_kind::not_regular;
    std::string head;
    // A table's header line is short; a picture is read whole, to find the mark before IEND.
    const std::size_t most = picture ? std::size_t(std::min<off_t>(st.st_size, 64 << 20)) : 512;
    if (!read_head(path, head, most)) return target_kind::theirs;
    if (picture) return marked(head) ? target_kind::ours : target_kind::theirs;
    const std::size_t end = head.find('\n');
    const std::string_view line = std::string_view(head).substr(0, end);
    const bool ours = end != std::string::npos &&
                      (kind == output_kind::table ? table_header(line) : line == picture_heading);
    return ours ? target_kind::ours : target_kind::theirs;
}

bool stage_file(const std::string& path, staged_file& f, std::string& why) {
    f.path = path;
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        f.temp = dir + "." + base.substr(0, 200) + ".harmplot-" + std::to_string(getpid()) + "-" +
                 std::to_string(staged++);
        remember_temp(f.temp);
        f.fd = open(f.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (f.fd >= 0) return true;
        const int e = errno;
        forget_temp(f.temp);
        if (e != EEXIST) {
            why = std::strerror(e);
            return false;
        }
    }
    why = "no temporary name is free beside it";
    return false;
}

bool write_all(int fd, std::string_view bytes, std::string& why) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            why = std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

bool commit_file(staged_file& f, std::string& why) {
    const int fd = f.fd;
    f.fd = -1;
    if (close(fd) != 0 || rename(f.temp.c_str(), f.path.c_str()) != 0) {
        why = std::strerror(errno);
        unlink(f.temp.c_str());
        forget_temp(f.temp);
        return false;
    }
    forget_temp(f.temp);
    return true;
}

void discard_file(staged_file& f) {
    if (f.fd >= 0) close(f.fd);
    f.fd = -1;
    if (!f.temp.empty()) {
        unlink(f.temp.c_str());
        forget_temp(f.temp);
    }
}

bool mark_picture(std::string& png) {
    const std::size_t end = walk_png(png, [](std::size_t, std::string_view, std::size_t) {});
    if (end == 0) return false;
    const std::string iend = png.substr(end);
    png.resize(end);
    const std::size_t at = png.size();
    put_be32(png, std::uint32_t(sizeof mark_key + sizeof mark_value - 1));
    png += "tEXt";
    png.append(mark_key, sizeof mark_key);  // with its zero byte, the separator
    png += mark_value;
    put_be32(png, crc32(png, at + 4));
    png += iend;
    return true;
}

std::string canonical_target(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    char real[PATH_MAX];
    if (!realpath(dir.c_str(), real)) return {};
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string r = real;
    return (r == "/" ? "" : r) + "/" + base;
}
