#include "command_line.h"

#include <charconv>

#include "harmtrace/options.h"
#include "usage.h"

const char harmplot_usage_line[] =
    "usage: harmplot [-f HZ|NOTE] [-s SECONDS] [-t FROM:TO] [-c N] [-o DIR] [-j N] [--no-check] "
    "[--partials] [--fixed] [--force] [--levels] [--one-note] [--summary FILE] FILE ...\n";

const char harmplot_help[] =
    "Usage: harmplot [OPTION]... FILE...\n"
    "Analyses recordings of notes; a take of several is cut into its notes, each analysed on its\n"
    "own. For each note writes NAME.csv (the power of harmonics 1 to 10 and the fundamental,\n"
    "window by window) and NAME.png (with gnuplot: their levels over time with the stages\n"
    "fitted, and the pitch), and prints the fundamental, the nearest note, what kind of note it\n"
    "is (held or decaying) and, for each harmonic, its attack, held level or decay (dB/s with\n"
    "its 95 % interval, and T60) and release, fitted over the windows in which it stands clear\n"
    "of its floor. The pitch is followed window by window (vibrato, a bent attack, drift): the\n"
    "fundamental is the pitch the note is held at. The fundamental is checked against the\n"
    "harmonics, A0 to C8: one an octave or a twelfth too high, far too low or beyond the\n"
    "search's scan is replaced by the one they point to; a chord, a bar or a bell and an absent\n"
    "fundamental are said.\n"
    "\n"
    "  -f HZ|NOTE      the fundamental is near HZ or NOTE (A4, C#3, Bb2; A0 to C8)\n"
    "  -s SECONDS      look for the fundamental from this time on (in the stretch)\n"
    "  -t FROM:TO      analyse only this stretch of each recording, in seconds (either end may\n"
    "                  be left out: -t 1.5: from 1.5 s to the end)\n"
    "  -c N            analyse channel N [the mean of the channels that hold the note]\n"
    "  -o DIR          write the tables and pictures into DIR [beside each FILE]\n"
    "  -j N            analyse N recordings at once, 1 to 1024 [one per core]; the output\n"
    "                  keeps the order of the files\n"
    "  --no-check      keep the fundamental the search finds\n"
    "  --partials      measure each partial where it lies (stiff strings: pianos, guitars),\n"
    "                  and give its deviation from k times partial 1 and the string's\n"
    "                  inharmonicity B\n"
    "  --fixed         measure every window at one fundamental, found at the note's start,\n"
    "                  rather than following the pitch\n"
    "  --force         replace a file where a table or picture goes that harmplot did not\n"
    "                  write [such a file is kept, and its recording is not analysed]\n"
    "  --levels        also write NAME.levels, the picture's numbers, which\n"
    "                  gnuplot -c plot.gp NAME.levels NAME.png draws\n"
    "  --one-note      analyse each recording as one note [a take of several notes is cut\n"
    "                  into its notes, NAME-1.csv, NAME-2.csv, ...; so is no -t stretch]\n"
    "  --summary FILE  also write one CSV row per note and harmonic into FILE (one row with\n"
    "                  the reason for a file that gave no summary); FILE must be new, empty\n"
    "                  or such a table\n"
    "  -h, --help      show this text\n"
    "  --version       show the version\n"
    "\n"
    "Reads RIFF/WAVE files, and what libsndfile reads: FLAC, Ogg Vorbis and Opus, MP3, AIFF,\n"
    "CAF, W64, RF64 and more. Every file is written whole or not at all.\n"
    "Exit status: 0 every file analysed, 1 a file gave no summary (the others are still\n"
    "analysed) or the summary table could not be written, 2 bad arguments, 128 + N when\n"
    "signal N ended the run (130 interrupted, 141 standard output closed, 143 terminated).\n";

bool parse_stretch(const std::string& s, stretch_request& r) {
    const std::size_t colon = s.find(':');
    if (colon == std::string::npos) return false;
    const std::string a = s.substr(0, colon), b = s.substr(colon + 1);
    if ((!a.empty() && !option_real(a, r.from)) || (!b.empty() && !option_real(b, r.to)))
        return false;
    return r.from >= 0 && r.from < max_seconds &&
           (b.empty() || (r.to > r.from && r.to <= max_seconds));
}

namespace {

// A whole number from low to high, digits only; 0 otherwise.
int whole_number(const std::string& s, int low, int high) {
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    const bool digits = !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
    return digits && ec == std::errc() && end == s.data() + s.size() && v >= low && v <= high ? v
                                                                                              : 0;
}

}  // namespace

parsed_command parse_command(const std::vector<std::string>& args) {
    parsed_command c;
    plot_options& o = c.o;
    auto fail = [&](std::string why) {
        c.what = parsed_command::usage_error;
        c.error = std::move(why);
        return c;
    };
    // The values of -f, -s, -c and -t, judged once every option is read, in this order.
    std::string hint, start, channel, stretch;
    bool version = false, has[4] = {};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            c.what = parsed_command::help;
            return c;
        }
        if (a == "--version") {
            version = true;
            continue;
        }
        if (a == "--no-check" || a == "--partials" || a == "--fixed" || a == "--force" ||
            a == "--levels" || a == "--one-note") {
            (a == "--no-check"   ? o.no_check
             : a == "--partials" ? o.partials
             : a == "--force"    ? o.force
             : a == "--levels"   ? o.levels
             : a == "--one-note" ? o.one_note
                                 : o.follow) = a != "--fixed";
            continue;
        }
        if (a == "--") {
            o.files.insert(o.files.end(), args.begin() + std::ptrdiff_t(i) + 1, args.end());
            break;
        }
        std::string opt, value;
        if (a == "--summary" || (a.size() == 2 && a[0] == '-' &&
                                 std::string("fsotcj").find(a[1]) != std::string::npos)) {
            if (i + 1 >= args.size())
                return fail(a + (a == "--summary" ? " needs a file" : " needs a value"));
            opt = a;
            value = args[++i];
        } else if (a.starts_with("--summary=")) {
            opt = "--summary";
            value = a.substr(10);
        } else if (a.size() > 2 && a[0] == '-' &&
                   std::string("fsotcj").find(a[1]) != std::string::npos) {
            opt = a.substr(0, 2);
            value = a.substr(2);
        } else if (a.size() > 1 && a[0] == '-') {
            return fail("unknown option " + a);
        } else {
            o.files.push_back(a);
            continue;
        }
        if (opt == "-f") hint = value, has[0] = true;
        if (opt == "-s") start = value, has[1] = true;
        if (opt == "-c") channel = value, has[2] = true;
        if (opt == "-t") stretch = value, has[3] = true;
        if (opt == "-o") {
            if (value.empty()) return fail("-o needs a directory");
            o.outdir = value;
        }
        if (opt == "-j" && !(o.jobs = whole_number(value, 1, 1024)))
            return fail("-j needs a number of recordings from 1 to 1024");
        if (opt == "--summary") {
            if (value.empty()) return fail("--summary needs a file");
            o.summary = value;
        }
    }
    if (version) {
        c.what = parsed_command::version;
        return c;
    }
    if (has[0] && !(o.hint = parse_hint(hint))) return fail(hint_error);
    if (has[1] && (o.start = parse_decimal(start)) < 0) return fail(start_error);
    if (has[2] && !(o.stretch.channel = whole_number(channel, 1, 65535)))
        return fail("bad channel for -c: " + channel);
    if (has[3] && !parse_stretch(stretch, o.stretch))
        return fail("bad stretch for -t (FROM:TO in seconds, FROM before TO, at most " +
                    std::to_string(int(max_seconds)) + "): " + stretch);
    o.one_note = o.one_note || has[3];
    if (o.files.empty()) return fail("no FILE given");
    return c;
}
