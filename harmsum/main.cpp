// harmsum: harmplot's numbers. `prepare` turns riffcat's output into the samples harmtrace
// analyses; `summary` checks the fundamental harmtrace found and summarises its report.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "error_report.h"
#include "info.h"
#include "mono.h"
#include "note.h"
#include "options.h"
#include "output.h"
#include "record_reader.h"
#include "report.h"
#include "summary.h"
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

bool open_input(const std::string& path, record_reader& in) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    open_reader(in, fd);
    return true;
}

int fail(const std::string& what, const char* cause = "") {
    report_error(program, what, cause);
    return 2;
}

int prepare(const harmsum_options& o) {
    std::string header, why;
    analysis_info a;
    a.channel = o.stretch.channel;
    if (!read_file(o.files[0], header))
        return fail("cannot read " + o.files[0], std::strerror(errno));
    if (!read_wav_facts(header, a.facts, why)) return fail(o.files[0], why.c_str());
    if (a.channel > a.facts.channels) {
        report_error("", "no channel " + std::to_string(a.channel) + ": the file has " +
                             std::to_string(a.facts.channels));
        return 1;
    }
    record_reader in;
    if (!open_input(o.files[1], in)) return fail("cannot read " + o.files[1], std::strerror(errno));
    output out;
    if (!prepare_stretch(in, a.facts, o.stretch, out, a.stretch, why))
        return fail(o.files[1], why.c_str());
    if (!out.flush()) return fail("cannot write standard output", std::strerror(out.error()));
    const int fd = open(o.info.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return fail("cannot write " + o.info, std::strerror(errno));
    output info(fd);
    write_info(a, info);
    const bool written = info.flush();
    close(fd);
    if (!written) return fail("cannot write " + o.info, std::strerror(info.error()));
    if (a.stretch.count == 0) {
        report_error("", "nothing to analyse: the recording is " +
                             std::to_string(double(a.stretch.frames) / a.facts.rate).substr(0, 6) +
                             " s long");
        return 1;
    }
    return 0;
}

int summary(const harmsum_options& o) {
    std::string text, why;
    analysis_info a;
    if (!read_file(o.info, text)) return fail("cannot read " + o.info, std::strerror(errno));
    if (!read_info(text, a, why)) return fail(o.info, why.c_str());

    record_reader samples;
    if (!open_input(o.files[0], samples))
        return fail("cannot read " + o.files[0], std::strerror(errno));
    std::vector<double> x;
    record_value v[1] = {{false}};
    read_status s;
    while ((s = read_record(samples, v, 1)) == read_status::ok) x.push_back(v[0].r);
    if (s != read_status::end_of_input) return fail(describe_read_error(samples, s, program, 0));

    record_reader in;
    report_table report;
    if (!open_input(o.files[1], in)) return fail("cannot read " + o.files[1], std::strerror(errno));
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

    check_request q;
    q.f0 = report.freq[0];
    q.search_from = o.search_from;
    q.hint = o.hint;
    q.no_check = o.no_check;
    q.found_before = o.found;
    const check_result c = check_fundamental(x.data(), long(x.size()), rate, report, q);
    if (c.v == verdict::no_note) return no_note(c.why);
    output out;
    if (c.v == verdict::rerun) {
        out.print("%.6f %.8f\n", c.candidate, q.f0);
        return out.flush() ? 3 : 2;
    }
    int csv_fd = -1;
    if (!o.csv.empty() && (csv_fd = open(o.csv.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644)) < 0)
        return fail("cannot write " + o.csv, std::strerror(errno));
    output csv(csv_fd < 0 ? 1 : csv_fd);
    write_summary(report, {o.name, a, c, q.f0, o.partials, o.b}, out, csv_fd < 0 ? nullptr : &csv);
    const bool csv_written = csv_fd < 0 || csv.flush();
    if (csv_fd >= 0) close(csv_fd);
    if (!csv_written) return fail("cannot write " + o.csv, std::strerror(csv.error()));
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
    }
    return 2;
}
