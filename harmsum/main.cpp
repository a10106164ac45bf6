// harmsum: the --summary tables of harmplot runs on many machines under one header line
// (harmsum join); harmplot's summary itself is made by the library of this folder.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "error_report.h"
#include "output.h"
#include "summary_columns.h"
#include "usage.h"

namespace {

constexpr char program[] = "harmsum";

const char usage_line[] = "usage: harmsum join [TABLE...] (harmsum --help tells more)\n";

const char help_text[] =
    "Usage: harmsum join [TABLE...]\n"
    "Writes the rows of harmplot --summary tables of many runs (on many machines, say) under one\n"
    "header line: of the TABLEs named, each of which must begin with the header, or of standard\n"
    "input holding such tables one after another, whose header lines after the first are passed\n"
    "over.\n"
    "\n"
    "  -h, --help   show this text\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 done, 2 a bad argument, a file that is no summary table, or a failed read\n"
    "or write.\n";

int fail(const std::string& what, const char* cause = "") {
    report_error(program, what, cause);
    return 2;
}

// The rows of --summary tables of many runs under one header line. From files, each must begin
// with the header (none is written when one does not); from standard input (tables one after
// another, as cat gives them) it must begin with the header, and every other header line is
// passed over.
int join(const std::vector<std::string>& files) {
    const std::string header = std::string(summary_columns) + "\n";
    for (const std::string& path : files) {
        const int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) return fail("cannot read " + path, std::strerror(errno));
        std::string head(header.size(), '\0');
        const ssize_t got = read(fd, head.data(), head.size());
        close(fd);
        if (got != ssize_t(head.size()) || head != header)
            return fail(path, "not a harmplot --summary table (its first line is not the header)");
    }
    output out;
    out.put(header);
    std::vector<std::string> paths = files;
    if (paths.empty()) paths.push_back("");  // standard input
    for (const std::string& path : paths) {
        const int fd = path.empty() ? 0 : open(path.c_str(), O_RDONLY);
        if (fd < 0) return fail("cannot read " + path, std::strerror(errno));
        // Whole lines, each passed over when it is the header.
        std::string line;
        bool first = true;
        char buf[65536];
        ssize_t got;
        while ((got = read(fd, buf, sizeof buf)) > 0 || (got < 0 && errno == EINTR)) {
            for (ssize_t i = 0; i < got; ++i) {
                line += buf[i];
                if (buf[i] != '\n') continue;
                if (first && line != header) {
                    close(fd);
                    return fail(
                        "standard input",
                        "not a harmplot --summary table (its first line is not the header)");
                }
                if (line != header) out.put(line);
                first = false;
                line.clear();
            }
        }
        const int saved = errno;
        if (fd != 0) close(fd);
        if (got < 0)
            return fail("cannot read " + (path.empty() ? "standard input" : path),
                        std::strerror(saved));
        if (!line.empty()) out.put(line + "\n");  // a last row without its line end
    }
    return out.flush() ? 0 : fail("cannot write standard output", std::strerror(out.error()));
}

}  // namespace

int main(int argc, char** argv) {
    if (auto status = answer_help_or_version(argc, argv, program, help_text, true)) return *status;
    if (argc < 2 || std::strcmp(argv[1], "join") != 0)
        return usage_error(program,
                           argc < 2 ? "no command" : "unknown command " + std::string(argv[1]),
                           usage_line);
    return join(std::vector<std::string>(argv + 2, argv + argc));
}
