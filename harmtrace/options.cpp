#include "options.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "usage.h"

const char* const usage_line =
    "usage: harmtrace [-r RATE] [-f HZ|NOTE] [-s SECONDS] [-j THREADS] [--partials] [--follow] < "
    "samples > report\n";

const char* const help_text =
    "Usage: harmtrace [-r RATE] [-f HZ|NOTE] [-s SECONDS] [-j THREADS] [--partials] [--follow] < "
    "samples > report\n"
    "Finds the fundamental of one recorded note, read as text (one sample per line, the first\n"
    "value of each line), and writes for every window of eight periods one report line per\n"
    "harmonic 1 to 10 found.\n"
    "\n"
    "  -r RATE      samples per second of the input, 1000 to 1000000 [44100]\n"
    "  -f HZ|NOTE   the fundamental is near HZ (26 to 4435) or NOTE (A0 to C8, such as A4,\n"
    "               C#3, Bb2; A4 = 440 Hz): only the quarter tones within a semitone of it\n"
    "               are searched, beyond the scan's 27.5 to 1760 Hz too\n"
    "  -s SECONDS   the search looks at the input from this time on, past the attack; the\n"
    "               report still covers the whole input [0]\n"
    "  -j THREADS   threads to use, 1 to 1024, at most one per core; the output is the\n"
    "               same for any number [one per core]\n"
    "  --partials   measure each partial where it lies rather than at k times the\n"
    "               fundamental (stiff strings: pianos, guitars), and give the string's\n"
    "               inharmonicity B on standard error\n"
    "  --follow     follow the pitch (vibrato, a bent attack, drift): each window holds\n"
    "               eight periods of the note's own pitch and is measured at k times its\n"
    "               own fundamental, which the frequency field gives\n"
    "  -h, --help   show this text\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 done, 2 a bad option, a malformed sample or a failed write.\n";

const char* const hint_error =
    "-f needs a frequency from 26 to 4435 Hz or a note from A0 to C8, such as A4, C#3 or Bb2";
const char* const start_error = "-s needs a number of seconds, 0 or more, such as 0.5";

double parse_decimal(const std::string& s) {
    const std::size_t digits = std::strspn(s.c_str(), "0123456789.");
    if (s.empty() || digits != s.size() || s.find('.') != s.rfind('.') || s == ".") return -1;
    return std::strtod(s.c_str(), nullptr);
}

// Digits only, a value from low to high; 0 otherwise.
static int parse_count(const std::string& s, int low, int high) {
    if (s.empty() || s.size() > 7 || std::strspn(s.c_str(), "0123456789") != s.size()) return 0;
    const int r = std::atoi(s.c_str());
    return r >= low && r <= high ? r : 0;
}

double note_frequency(const std::string& s) {
    static const int semitone[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G above C
    if (s.size() < 2 || s.size() > 3) return 0;
    const char letter = char(s[0] | 0x20);
    if (letter < 'a' || letter > 'g') return 0;
    int n = semitone[letter - 'a'];
    if (s.size() == 3) {
        if (s[1] != '#' && s[1] != 'b') return 0;
        n += s[1] == '#' ? 1 : -1;
    }
    const char octave = s.back();
    if (octave < '0' || octave > '9') return 0;
    n += 12 * (octave - '0');
    // A4 is note 57 counted in semitones from C0.
    return double(440.0L * std::pow(2.0L, ext(n - 57) / 12));
}

double parse_hint(const std::string& s) {
    const char c = char(s.empty() ? 0 : s[0] | 0x20);
    const double f = c >= 'a' && c <= 'g' ? note_frequency(s) : parse_decimal(s);
    return f >= lowest_hint && f <= highest_hint ? f : 0;
}

options parse_options(int argc, const char* const* argv) {
    options o;
    auto fail = [&](std::string why) {
        o.what = options::action::usage_error;
        o.error = std::move(why);
        return o;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h" || a == "--version") {
            o.what = a == "--version" ? options::action::version : options::action::help;
            return o;
        }
        if (a == "--partials" || a == "--follow") {
            (a == "--partials" ? o.partials : o.follow) = true;
            continue;
        }
        if (a.size() < 2 || a[0] != '-' || !std::strchr("rfsj", a[1]))
            return fail(unexpected_argument(a));
        // The value follows in the same argument or is the next one.
        std::string v;
        if (a.size() > 2)
            v = a.substr(2);
        else if (i + 1 < argc)
            v = argv[++i];
        if (a[1] == 'r' && !(o.rate = parse_count(v, 1000, 1000000)))
            return fail("-r needs an integer from 1000 to 1000000");
        if (a[1] == 'f' && !(o.hint = parse_hint(v))) return fail(hint_error);
        if (a[1] == 's' && (o.start_seconds = parse_decimal(v)) < 0) return fail(start_error);
        if (a[1] == 'j' && !(o.threads = parse_count(v, 1, 1024)))
            return fail("-j needs a number of threads from 1 to 1024");
    }
    return o;
}

int search_start(const options& o, int nx0) {
    const ext s0 = ext(o.start_seconds) * o.rate;
    return s0 < nx0 ? int(std::llround(s0)) : nx0;
}
