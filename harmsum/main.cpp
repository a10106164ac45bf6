// harmsum: harmplot's numbers. `prepare` turns riffcat's output into the samples harmtrace
// analyses; `summary` checks the fundamental harmtrace found and summarises its report.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "error_report.h"
#include "held.h"
#include "info.h"
#include "mono.h"
#include "note.h"
#include "options.h"
#include "output.h"
#include "picture.h"
#include "record_reader.h"
#include "report.h"
#include "summary.h"
#include "summary_columns.h"
#include "usage.h"

namespace {

constexpr char program[] = "harmsum";

bool read_file(const std::string& path, std::string& text) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    char buf[65536];
    ssize_t got;
    while ((got = read(fd, buf, sizeof buf)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0) text.append(buf, std::size_t(got));
    const int saved = errno;
    close(fd);
    errno = saved;
    return got == 0;
}

// The file's descriptor, read through `in`; -1 when it cannot be opened.
int open_input(const std::string& path, record_reader& in) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd >= 0) open_reader(in, fd);
    return fd;
}

int fail(const std::string& what, const char* cause = "") {
    report_error(program, what, cause);
    return 2;
}

// A file opened for appending rows; false, with the cause in errno, when it cannot be.
bool open_append(const std::string& path, int& fd) {
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    return fd >= 0;
}

// Writes what `out` holds into the file it was made for and closes it.
bool close_written(output& out, int fd) {
    const bool written = out.flush();
    const int saved = out.error();
    const bool closed = close(fd) == 0;
    errno = written ? errno : saved;
    return written && closed;
}

int prepare(const harmsum_options& o) {
    std::string header, why;
    analysis_info a;
    a.channel = o.stretch.channel;
    if (!read_file(o.files[0], header))
        return fail("cannot read " + o.files[0], std::strerror(errno));
    if (!read_wav_facts(header, a.facts, why)) return fail(o.files[0], why.c_str());
    if (!channel_exists(a.facts, a.channel, why)) {
        report_error("", why);
        return 1;
    }
    stretch_request want = o.stretch;
    if (want.channel == 0 && a.facts.channels > 1) {
        record_reader first;
        channel_choice c;
        const int fd = open_input(o.files[1], first);
        if (fd < 0) return fail("cannot read " + o.files[1], std::strerror(errno));
        const bool weighed = weigh_channels(first, a.facts, want, c, why);
        close(fd);
        if (!weighed) return fail(o.files[1], why.c_str());
        want.use = c.use;
        a.silent_channels = c.silent;
        a.cancel = c.cancel;
        // One channel left: analysed as -c names it.
        if (int(std::count(c.use.begin(), c.use.end(), true)) == 1)
            a.channel = int(std::find(c.use.begin(), c.use.end(), true) - c.use.begin()) + 1;
    }
    record_reader in;
    if (open_input(o.files[1], in) < 0)
        return fail("cannot read " + o.files[1], std::strerror(errno));
    output out;
    if (!prepare_stretch(in, a.facts, want, out, a.stretch, why))
        return fail(o.files[1], why.c_str());
    if (!out.flush()) return fail("cannot write standard output", std::strerror(out.error()));
    const int fd = open(o.info.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return fail("cannot write " + o.info, std::strerror(errno));
    output info(fd);
    write_info(a, info);
    if (!close_written(info, fd)) return fail("cannot write " + o.info, std::strerror(errno));
    if (a.stretch.count == 0) {
        report_error("", "nothing to analyse: the recording is " +
                             std::to_string(double(a.stretch.frames) / a.facts.rate).substr(0, 6) +
                             " s long");
        return 1;
    }
    return 0;
}

// The samples of a file, one per line; false with the message on a bad one.
bool read_samples(const std::string& path, std::vector<double>& x, std::string& message) {
    record_reader samples;
    const int fd = open_input(path, samples);
    if (fd < 0) {
        message = error_message(program, "cannot read " + path, std::strerror(errno));
        return false;
    }
    record_value v[1] = {{false}};
    read_status s;
    while ((s = read_record(samples, v, 1)) == read_status::ok) x.push_back(v[0].r);
    close(fd);
    if (s == read_status::end_of_input) return true;
    // The reader's message names standard input; this one was a named file.
    message = describe_read_error(samples, s, "", 0);
    const std::string stdin_text = "fatal input error at statement 0 reading standard input";
    const std::size_t at = message.find(stdin_text);
    if (at != std::string::npos) message.replace(at, stdin_text.size(), "bad sample in " + path);
    message = std::string(program) + ": " + message;
    return false;
}

int summary(const harmsum_options& o) {
    std::string text, why;
    analysis_info a;
    if (!read_file(o.info, text)) return fail("cannot read " + o.info, std::strerror(errno));
    if (!read_info(text, a, why)) return fail(o.info, why.c_str());

    std::vector<double> x;
    if (!read_samples(o.files[0], x, why)) {
        write_error(why);
        return 2;
    }

    record_reader in;
    report_table report;
    if (open_input(o.files[1], in) < 0)
        return fail("cannot read " + o.files[1], std::strerror(errno));
    if (!read_report(in, report, why)) return fail(o.files[1], why.c_str());

    const int rate = a.facts.rate;
    auto no_note = [&](const std::string& reason) {
        report_error("", "no note: " + reason);
        return 1;
    };
    if (a.stretch.silent) return no_note("silence");
    if (o.search_from * rate >= double(x.size()))
        return no_note("nothing left after -s " + fixed_text(o.search_from, 2) +
                       ": the stretch is " + fixed_text(double(x.size()) / rate, 2) + " s long");
    if (report.windows() == 0)
        return no_note("shorter than eight periods of the fundamental found");
    // A report harmtrace made gives its fundamental within the search's range.
    if (!(report.freq[0] >= lowest_note / 2 && report.freq[0] <= highest_note * 2))
        return fail(o.files[1], ("harmonic 1 at " + sig_text(report.freq[0], 6) +
                                 " Hz: not a fundamental harmtrace finds")
                                    .c_str());

    // A report that follows the pitch: its fundamental is the pitch the note is held at.
    check_request q;
    q.f0 = report.freq[0];
    pitch_reading pitch;
    if (o.follow) {
        pitch = read_pitch(report.t, note_windows(report, rate));
        if (pitch.held_hz > 0) q.f0 = pitch.held_hz;
    }
    q.followed = o.follow;
    q.search_from = o.search_from;
    q.hint = o.hint;
    q.no_check = o.no_check;
    q.found_before = o.found;
    q.partials = o.partials;
    check_result c = check_fundamental(x.data(), long(x.size()), rate, report, q);
    // A pitch that moves (vibrato, drift) widens the averaged spectrum's peaks and moves them:
    // they tell nothing of a stiff string then, and strings that are stiff hold their pitch.
    if (o.follow && pitch.swing_cents > steady_cents) c.sharp_b = 0;
    if (c.v == verdict::no_note) return no_note(c.why);
    output out;
    if (c.v == verdict::rerun) {
        out.print("%.6f %.8f\n", c.candidate, q.f0);
        return out.flush() ? 3 : 2;
    }
    int csv_fd = -1;
    if (!o.csv.empty() && !open_append(o.csv, csv_fd))
        return fail("cannot write " + o.csv, std::strerror(errno));
    output csv(csv_fd < 0 ? 1 : csv_fd);
    const summary_request request{o.name, a, c, q.f0, o.partials, o.follow ? &pitch : nullptr};
    write_summary(report, request, out, csv_fd < 0 ? nullptr : &csv);
    if (csv_fd >= 0 && !close_written(csv, csv_fd))
        return fail("cannot write " + o.csv, std::strerror(errno));
    if (!o.levels.empty()) {
        const int fd = open(o.levels.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) return fail("cannot write " + o.levels, std::strerror(errno));
        output levels(fd);
        write_picture(report, request, levels);
        if (!close_written(levels, fd))
            return fail("cannot write " + o.levels, std::strerror(errno));
    }
    return out.flush() ? 0 : fail("cannot write standard output", std::strerror(out.error()));
}

int failed(const harmsum_options& o) {
    analysis_info a;
    std::string text, why;
    const bool known = !o.info.empty() && read_file(o.info, text) && read_info(text, a, why);
    int fd;
    if (!open_append(o.csv, fd)) return fail("cannot write " + o.csv, std::strerror(errno));
    output csv(fd);
    write_failed_row(o.name, known ? &a : nullptr, o.reason, csv);
    return close_written(csv, fd) ? 0 : fail("cannot write " + o.csv, std::strerror(errno));
}

// The rows of --summary tables of many runs under one header line. From files, each must begin
// with the header (none is written when one does not); from standard input (tables one after
// another, as cat gives them) it must begin with the header, and every other header line is
// passed over.
int join(const harmsum_options& o) {
    const std::string header = std::string(summary_columns) + "\n";
    for (const std::string& path : o.files) {
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
    std::vector<std::string> paths = o.files;
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
    const parsed_options p = parse_options(std::vector<std::string>(argv + 1, argv + argc));
    if (!p.error.empty()) return usage_error(program, p.error, harmsum_usage_line);
    output out;
    switch (p.o.command) {
        case harmsum_options::help:
            out.put(harmsum_usage);
            return out.flush() ? 0 : 2;
        case harmsum_options::version:
            out.put(version_line(program));
            return out.flush() ? 0 : 2;
        case harmsum_options::prepare:
            return prepare(p.o);
        case harmsum_options::summary:
            return summary(p.o);
        case harmsum_options::failed:
            return failed(p.o);
        case harmsum_options::join:
            return join(p.o);
        case harmsum_options::columns:
            out.put(std::string(summary_columns) + "\n");
            return out.flush() ? 0 : 2;
        case harmsum_options::check_args:
            return 0;
        case harmsum_options::show_name:
            out.put(printable_name(p.o.files[0]) + "\n");
            return out.flush() ? 0 : 2;
    }
    return 2;
}
