// Fuzz target for harmtrace from end to end: any bytes as the text sample stream, read, searched
// and reported as the program does it, every sample the program reads. The input's size picks
// the sampling rate (any the program takes, from the bytes' hash), a hint and a start for the
// search, one input in four taking the defaults; one in sixteen is made as long as the program
// takes it (its samples over and over, up to a length from the hash, at most max_samples), and
// its report, which may run to many windows, is written until a quarter of a megabyte of lines
// has gone to a sink that then fails, as a closed pipe would. The same bytes, cut at blanks, are
// also given to the option parser.
//
// Besides the sanitizers' checks: a bad sample must give a short printable message tagged with
// statement 20; the fundamental must lie within the refinement's reach of the (hinted) scan; the
// report must be whole report lines, the same number for every window, harmonics counted up from
// 1, and one input in four also goes through --partials (check_partials), one in four through
// --follow and one in eight through both (check_follow). The program's
// computation is checked bit for bit against the straightforward one: a trial at the coarse step
// nearest the fundamental and one at the fundamental, and for short inputs (or one input in
// eight) the whole report.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "constants.h"
#include "follow.h"
#include "input.h"
#include "options.h"
#include "output.h"
#include "partials.h"
#include "record_reader.h"
#include "reference.h"
#include "report.h"
#include "report_columns.h"
#include "report_line.h"
#include "search.h"
#include "trial.h"

namespace {

// Reports of more windows than this are cut short (above).
constexpr std::int64_t checked_windows = 20000;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "harmtrace_fuzz: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void check_message(const record_reader& in, read_status st) {
    const std::string m = describe_read_error(in, st, "harmtrace", read_statement);
    const std::string head = "harmtrace: fatal input error at statement 20 reading standard input";
    check(m.compare(0, head.size(), head) == 0, "message lacks its position tag");
    check(m.size() < 320 && m.back() == '\n', "message too long or not one line");
    for (std::size_t k = 0; k + 1 < m.size(); ++k)
        check(m[k] >= 0x20 && m[k] < 0x7f, "unprintable byte in message");
}

// Pools of one and two threads, started once for all the inputs.
worker_pool& pool_of(int threads) {
    static worker_pool one(1), two(2);
    return threads == 1 ? one : two;
}

// The report for x0[0 .. nx0-1] as the program writes it, or computed the straightforward way.
std::string report(const double* x0, int nx0, double dt0, const search_result& s, bool program) {
    std::string text;
    output out(text);
    if (program)
        harmonic_report(x0, nx0, dt0, s.f0, s.dt, out, pool_of(2));
    else
        reference_report(x0, nx0, dt0, s.f0, s.dt, out);
    check(out.flush(), "writing the report failed");
    return text;
}

// --partials: every partial where it lies is a positive finite frequency, and the report holds
// ten lines a window, harmonics 1 .. 10, with the times of the plain report's windows.
void check_partials(const double* x0, int nx0, double dt0, int s0, const search_result& s,
                    const std::string& plain) {
    const partial_set p = locate_partials(x0 + s0, nx0 - s0, dt0, s.f0);
    for (int k = 1; k <= harmonics; ++k)
        check(std::isfinite(p.freq[k]) && p.freq[k] > 0, "a partial out of range");
    check(std::isfinite(p.b), "inharmonicity not a number");
    std::string text;
    output out(text);
    partial_report(x0, nx0, dt0, s.dt, p, out, pool_of(2));
    check(out.flush(), "writing the partials failed");
    const std::size_t width = report_line_width + 1;
    const std::int64_t m = final_grid_points(nx0, dt0, s.dt);
    const std::size_t windows =
        m < window_points ? 0 : std::size_t((m - window_points) / window_advance + 1);
    check(text.size() == windows * harmonics * width, "partials: not ten lines a window");
    const std::size_t per_window = windows ? plain.size() / width / windows : 0;
    const std::size_t times = std::size_t(report_fields[frequency].first);
    for (std::size_t n = 0; n < windows * harmonics; ++n) {
        char want[16];
        std::snprintf(want, sizeof want, "%4d", int(n % harmonics + 1));
        check(text.compare(n * width, 4, want) == 0, "partials: harmonics not counted up from 1");
        if (per_window > 0)
            check(text.compare(n * width + 4, times - 4, plain,
                               n / harmonics * per_window * width + 4, times - 4) == 0,
                  "partials: times differ from the report's");
    }
}

// --follow: the track's times are finite and rise; its report holds ten lines a window,
// harmonics counted up from 1, harmonic k at k times the window's fundamental, the windows'
// times rising; one and two threads give the same bytes.
void check_follow(const double* x0, int nx0, double dt0, int s0, const search_result& s,
                  bool partials) {
    const pitch_track track = follow_pitch(x0, nx0, dt0, s.dt, pool_of(2));
    for (std::size_t i = 1; i < track.t.size(); ++i)
        check(std::isfinite(track.t[i]) && track.t[i] > track.t[i - 1], "the track does not rise");
    check(track.t.back() >= nx0 * dt0, "the track ends before the input");
    report_plan plan = followed_plan(track);
    if (partials)
        plan = partial_plan(locate_partials(x0 + s0, nx0 - s0, dt0, s.f0).freq, s.dt, &track);
    std::string text[2];
    for (int threads = 1; threads <= 2; ++threads) {
        output out(text[threads - 1]);
        write_report(x0, nx0, dt0, plan, out, pool_of(threads));
        check(out.flush(), "writing the followed report failed");
    }
    check(text[0] == text[1], "the followed report depends on the threads");
    const std::size_t width = report_line_width + 1;
    check(text[0].size() % (width * harmonics) == 0, "followed: not ten whole lines a window");
    double last_time = -1, first_frequency = 0;
    for (std::size_t n = 0; n < text[0].size() / width; ++n) {
        const std::string_view line(text[0].data() + n * width, report_line_width);
        std::int32_t k;
        double v[report_reals];
        check(read_report_columns(line, k, v) && k == int(n % harmonics + 1),
              "followed: harmonics not counted up from 1");
        if (k == 1) {
            check(v[t_first - 1] > last_time || n == 0, "followed: windows' times do not rise");
            last_time = v[t_first - 1];
            first_frequency = v[frequency - 1];
        } else if (!partials) {
            check(std::abs(v[frequency - 1] - k * first_frequency) <=
                      1e-7 * k * first_frequency + 1e-7,
                  "followed: harmonic k not at k times the fundamental");
        }
    }
}

// Whole lines of report_line_width columns; in each window the harmonics 1, 2, ..., the same
// count in every window.
void check_report(const std::string& text, int nx0, double dt0, const search_result& s) {
    const std::size_t width = report_line_width + 1;
    check(text.size() % width == 0, "report is not whole lines");
    const std::size_t lines = text.size() / width;
    const std::int64_t m = final_grid_points(nx0, dt0, s.dt);
    const std::int64_t windows = m < window_points ? 0 : (m - window_points) / window_advance + 1;
    if (windows == 0) {
        check(lines == 0, "report without a window");
        return;
    }
    check(lines % std::size_t(windows) == 0 && lines / std::size_t(windows) <= 10,
          "harmonic count differs between windows");
    const std::size_t per_window = lines / std::size_t(windows);
    for (std::size_t n = 0; n < lines; ++n) {
        const std::string_view line(text.data() + n * width, width);
        check(line.back() == '\n', "report line of the wrong length");
        const int k_width = report_fields[harmonic].width;
        char want[16];
        std::snprintf(want, sizeof want, "%*d", k_width, int(n % per_window + 1));
        check(line.substr(0, std::size_t(k_width)) == want, "harmonics not counted up from 1");
        for (char c : line.substr(std::size_t(k_width), std::size_t(report_line_width - k_width)))
            check((c >= '0' && c <= '9') || std::strchr(" .-+E*NaIfinty", c) != nullptr,
                  "unexpected character in a report line");
    }
}

// One trial, as the program and as the straightforward computation makes it, must give the same
// doubles.
void check_trial(const double* x0, int nx0, double dt0, double ftry, const trial_kind& kind) {
    static const auto work = std::make_unique<trial_work>();
    if (!(ftry > 0) || !std::isfinite(ftry)) return;
    const double dt = trial_step(ftry);
    const trial_score fast = run_trial(x0, nx0, dt0, ftry, dt, kind, *work);
    const trial_score full = reference_trial(x0, nx0, dt0, ftry, dt, kind);
    check(fast.found == full.found, "the program's trial matches another bin");
    check(same_bits(fast.frq, full.frq) && same_bits(fast.pt, full.pt),
          "the program's trial differs from the straightforward one");
}

// Up to 16 arguments cut from the bytes at blanks and line ends: whatever the parser makes of
// them, a usage error says why and anything else stays in range.
void check_options(const std::uint8_t* data, std::size_t size) {
    std::string words[16];
    const char* argv[17] = {"harmtrace"};
    int argc = 1;
    for (std::size_t i = 0; i < size && i < 256; ++i) {
        const char c = char(data[i]);
        if (c == ' ' || c == '\n') {
            if (!words[argc - 1].empty() && argc < 16) ++argc;
        } else if (c != 0) {
            words[argc - 1] += c;
        }
    }
    for (int i = 1; i <= argc; ++i) argv[i] = words[i - 1].c_str();
    const options o = parse_options(argc + 1, argv);
    if (o.what == options::action::usage_error) {
        check(!o.error.empty(), "usage error without a reason");
        return;
    }
    check(o.rate >= 1000 && o.rate <= 1000000, "rate out of range");
    check(o.hint == 0 || (o.hint >= 27.5 && o.hint <= 1760), "hint out of range");
    check(o.start_seconds >= 0, "negative start");
    for (int nx0 : {0, 1, max_samples}) {
        const int s0 = search_start(o, nx0);
        check(s0 >= 0 && s0 <= nx0, "search start out of range");
    }
}

// A hash of the bytes, for the choices the size does not make.
std::uint64_t hash_of(const std::uint8_t* data, std::size_t size) {
    std::uint64_t h = 1469598103934665603u;
    for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211u;
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto x0 = std::make_unique<double[]>(max_samples);
    record_reader in;
    open_reader(in, std::string_view(reinterpret_cast<const char*>(data), size));
    read_status st;
    int nx0 = read_samples(in, x0.get(), max_samples, st);
    check(nx0 >= 0 && nx0 <= max_samples, "sample count out of range");
    check(st != read_status::ok || nx0 == max_samples, "reading stopped early");
    if (st == read_status::bad_value || st == read_status::io_error) {
        check_message(in, st);
        return 0;
    }

    check_options(data, size);

    // One input in four at the defaults; the others at another rate, with a hint and a start.
    const std::uint64_t hash = hash_of(data, size);
    const int variant = int(size / 8 % 4);
    const int rate = variant ? 1000 + int(hash % 999001) : default_rate;
    const double dt0 = sampling_step(rate);
    const double hint = variant ? double(27.5L * std::pow(2.0L, ext(size % 145) / 24)) : 0;
    if (size % 16 == 15 && nx0 > 0) {
        const int length = 1 + int(hash / 999001 % max_samples);
        for (int i = nx0; i < length; ++i) x0[i] = x0[i % nx0];
        nx0 = std::max(nx0, length);
    }
    const int s0 = variant ? std::min(nx0, int(size % 7) * 1000) : 0;
    const search_result s =
        fundamental_search(x0.get() + s0, nx0 - s0, dt0, hint, pool_of(1 + int(size % 2)));
    // The refinement moves at most 2 * 15 of each level's steps away from the picked step.
    int first, last;
    hinted_steps(hint, first, last);
    const double reach = std::exp2(2 * 15 * (0.1 + 0.01 + 0.001 + 0.0001 + 0.00001) / 24);
    check(s.f0 >= coarse_frequency(first) / reach && s.f0 <= coarse_frequency(last) * reach,
          "fundamental out of the scan's reach");
    check(s.dt > 0 && 1024 * s.dt * s.f0 <= 1 && 1024 * s.dt * s.f0 >= 1 - 1.3e-5,
          "step of the last trial out of range");

    const std::int64_t windows =
        (final_grid_points(nx0, dt0, s.dt) - window_points) / window_advance;
    if (windows >= checked_windows) {
        // A long report, written until its sink fails.
        output cut(-1);
        harmonic_report(x0.get(), nx0, dt0, s.f0, s.dt, cut, pool_of(2));
        check(!cut.flush(), "a failing sink took the report");
        return 0;
    }
    const std::string text = report(x0.get(), nx0, dt0, s, true);
    check_report(text, nx0, dt0, s);
    // The slower checks on reports of a few thousand windows.
    const bool few = windows < checked_windows / 8;
    if (size % 4 == 3 && few) check_partials(x0.get(), nx0, dt0, s0, s, text);
    if (size % 4 == 1 && few) check_follow(x0.get(), nx0, dt0, s0, s, size % 8 == 5);

    const int nearest = std::clamp(int(std::lround(24 * std::log2(s.f0 / 27.5))), 0, last_step);
    check_trial(x0.get() + s0, nx0 - s0, dt0, coarse_frequency(nearest), coarse_trial());
    check_trial(x0.get(), nx0, dt0, s.f0, refine_trial());
    if (nx0 < 3000 || (size % 8 == 0 && few))
        check(report(x0.get(), nx0, dt0, s, false) == text,
              "the program's report differs from the straightforward one");
    return 0;
}
